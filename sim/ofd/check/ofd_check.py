#!/usr/bin/env python3
"""Checks the seal signatures of an OFD document independently of the
system's own code: the package through Python's zipfile, the XML through
ElementTree, SM3 through hashlib, the signature structures through a DER
reader of its own, and SM2 through the openssl command.

For every signature of the list named in OFD.xml: each reference's SM3, the
seal (Seal.esl is the seal inside SignedValue.dat), the signed digest (the
SM3 of Signature.xml) and the SM2 signature over the signed content with the
signer's certificate (default identity "1234567812345678").

usage: ofd_check.py FILE.ofd    exit 0 when every signature holds, 1 when one
                                does not, 2 when the file cannot be read
"""
import base64
import hashlib
import os
import posixpath
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

OFD = "{http://www.ofdspec.org/2016}"


def sm3(data):
    return hashlib.new("sm3", data).digest()


def tlv(data, at=0):
    """(tag, content start, end) of the DER element at `at`."""
    tag, first = data[at], data[at + 1]
    at += 2
    if first < 0x80:
        length = first
    else:
        count = first & 0x7F
        if count == 0 or count > 4:
            raise ValueError("unsupported DER length")
        length = int.from_bytes(data[at:at + count], "big")
        at += count
    if at + length > len(data):
        raise ValueError("DER element runs past its end")
    return tag, at, at + length


def children(data, start, end):
    out = []
    while start < end:
        tag, content, stop = tlv(data, start)
        out.append((tag, start, content, stop))
        start = stop
    return out


def signature_parts(der):
    """toSign (DER), the seal (DER), the signed digest, the certificate and
    the 64-byte r || s of a seal signature."""
    tag, start, end = tlv(der)
    (t1, s1, c1, e1), (t2, s2, c2, e2) = children(der, start, end)
    if tag != 0x30 or t1 != 0x30 or t2 != 0x03:
        raise ValueError("not a seal signature")
    fields = children(der, c1, e1)
    if len(fields) != 7:
        raise ValueError("the signed content has %d fields" % len(fields))
    seal = der[fields[1][1]:fields[1][3]]
    digest = der[fields[3][2] + 1:fields[3][3]]  # BIT STRING: unused-bits octet first
    cert = der[fields[5][2]:fields[5][3]]
    return der[s1:e1], seal, digest, cert, der[c2 + 1:e2]


def der_integer(value):
    value = value.lstrip(b"\0") or b"\0"
    if value[0] & 0x80:
        value = b"\0" + value
    return b"\x02" + bytes([len(value)]) + value


def sm2_holds(signed, cert, rs):
    if len(rs) != 64:
        return False
    body = der_integer(rs[:32]) + der_integer(rs[32:])
    with tempfile.TemporaryDirectory() as tmp:
        paths = {n: os.path.join(tmp, n) for n in ("cert.der", "pub.pem", "tbs", "sig")}
        for name, data in (("cert.der", cert), ("tbs", signed),
                           ("sig", b"\x30" + bytes([len(body)]) + body)):
            with open(paths[name], "wb") as f:
                f.write(data)
        key = subprocess.run(["openssl", "x509", "-inform", "DER", "-in", paths["cert.der"],
                              "-pubkey", "-noout", "-out", paths["pub.pem"]],
                             capture_output=True)
        if key.returncode != 0:
            return False
        check = subprocess.run(["openssl", "pkeyutl", "-verify", "-pubin", "-inkey",
                                paths["pub.pem"], "-rawin", "-digest", "sm3", "-pkeyopt",
                                "distid:1234567812345678", "-in", paths["tbs"], "-sigfile",
                                paths["sig"]], capture_output=True)
        return check.returncode == 0


def entry_of(base, loc):
    loc = loc.strip()
    name = loc[1:] if loc.startswith("/") else posixpath.join(posixpath.dirname(base), loc)
    return posixpath.normpath(name)


def check(path):
    package = zipfile.ZipFile(path)
    names = set(package.namelist())
    body = ET.fromstring(package.read("OFD.xml")).find(OFD + "DocBody")
    listed = body.find(OFD + "Signatures")
    if listed is None:
        print("no signature list")
        return False
    list_entry = entry_of("OFD.xml", listed.text)
    signatures = ET.fromstring(package.read(list_entry)).findall(OFD + "Signature")
    whole = bool(signatures)
    for s in signatures:
        xml_entry = entry_of(list_entry, s.get("BaseLoc"))
        problems = []
        xml_bytes = package.read(xml_entry)
        root = ET.fromstring(xml_bytes)
        info = root.find(OFD + "SignedInfo")
        for ref in info.find(OFD + "References").findall(OFD + "Reference"):
            name = entry_of(xml_entry, ref.get("FileRef"))
            value = ref.find(OFD + "CheckValue").text.strip()
            if name not in names:
                problems.append("missing " + ref.get("FileRef"))
            elif base64.b64encode(sm3(package.read(name))).decode() != value:
                problems.append("changed " + ref.get("FileRef"))
        seal = package.read(entry_of(xml_entry, info.find(OFD + "Seal").find(OFD + "BaseLoc").text))
        value = package.read(entry_of(xml_entry, root.find(OFD + "SignedValue").text))
        try:
            signed, inner_seal, digest, cert, rs = signature_parts(value)
        except (ValueError, IndexError) as e:
            problems.append("signed value: %s" % e)
        else:
            if inner_seal != seal:
                problems.append("Seal.esl is not the signature's seal")
            if digest != sm3(xml_bytes):
                problems.append("the signature does not sign Signature.xml")
            if not sm2_holds(signed, cert, rs):
                problems.append("the SM2 signature does not hold")
        print("signature %s (%s): %s" % (s.get("ID"), xml_entry,
                                         "; ".join(problems) if problems else "holds"))
        whole = whole and not problems
    return whole


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-3], file=sys.stderr)
        return 2
    try:
        return 0 if check(sys.argv[1]) else 1
    except (OSError, KeyError, zipfile.BadZipFile, ET.ParseError, AttributeError) as e:
        print("cannot check %s: %s" % (sys.argv[1], e), file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
