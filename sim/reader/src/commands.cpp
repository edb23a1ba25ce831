#include "commands.h"

#include <iterator>

namespace reader {

namespace {
const Command kCommands[] = {
    {"info", "", "provider name, company, version and extension", runInfo},
    {"digest", "FILE", "SM3 digest of a file through the provider", runDigest},
    {"error", "[--driver | --skf] CODE", "text of a provider, key driver or GM/T 0016 code",
     runError},
    {"seals", "", "the seal list from the local signing service", runSeals},
    {"seal", "ID [OUT]", "a seal's DER, fetched through the provider, into OUT (ID.der)", runSeal},
    {"seal-info", "FILE", "the fields of the seal (DER) in FILE", runSealInfo},
    {"seal-image", "FILE OUT", "the picture of the seal in FILE, written to OUT", runSealImage},
    {"verify", "SEAL DOCUMENT SIGNATURE", "verify a signature of DOCUMENT with SEAL", runVerify},
    {"sign", "ID DOCUMENT OUT", "sign DOCUMENT with seal ID; signature DER to OUT", runSign},
    {"inspect", "SIGNATURE [PICTURE]", "fields of a signature; its seal picture to PICTURE",
     runInspect},
    {"make-ofd", "OUT.ofd [--pages N] [--text T]", "make a small OFD document", runMakeOfd,
     false},
    {"sign-ofd", "IN.ofd SEALID OUT.ofd [--page N] [--at X,Y] [--size W,H]",
     "seal an OFD document with seal SEALID (millimetres; stamp size: the seal's)", runSignOfd},
    {"verify-ofd", "FILE.ofd", "check every signature of an OFD document and what it covers",
     runVerifyOfd},
    {"cancel", "SIGNATURE", "may the signature be removed (its signer's key attached)", runCancel},
    {"key-info", "[UKTYPE] [STANDARD]", "the attached key's id and certificate (key-info plug-in)",
     runKeyInfo, false},
    {"key-seals", "", "the seals on the attached keys (offline seal-list plug-in)", runKeySeals,
     false},
    {"online-seals", "TOKEN [IP] [MAC]", "the seals a seal server offers (online plug-in)",
     runOnlineSeals, false},
};
}  // namespace

const Command* commandsBegin() {
  return std::begin(kCommands);
}
const Command* commandsEnd() {
  return std::end(kCommands);
}

const Command* findCommand(const std::string& name) {
  for (const Command* c = commandsBegin(); c != commandsEnd(); ++c)
    if (name == c->name) return c;
  return nullptr;
}

}  // namespace reader
