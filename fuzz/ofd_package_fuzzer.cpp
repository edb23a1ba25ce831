// An OFD package from outside: the fuzz input is the ZIP file. It is opened,
// its layout, signature list and signatures are read, every file entry is
// read back and parsed as XML, and the signature list entry is added to its
// OFD.xml, as sign-ofd and verify-ofd do. Every refusal must be a clean
// one; nothing may crash, hang or read or write out of bounds.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_temp_dir.h"
#include "varo/ofd_signature.h"
#include "varo/ofd_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static varo::fuzz::TempDir dir("ofd-fuzz");
  if (!dir.ok()) return 0;
  const std::string path = dir.file("input.ofd");
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  namespace ofd = varo::ofd;
  std::string why;
  // Small limits, so that a bomb is refused before it costs the run's memory.
  ofd::PackageLimits limits;
  limits.maxEntrySize = 4 << 20;
  limits.maxTotalSize = 16 << 20;
  auto package = ofd::Package::open(path, &why, limits);
  if (!package) return 0;
  for (const ofd::PackageEntry& e : package->entries()) {
    if (e.directory) continue;
    if (auto bytes = package->read(e.name, &why)) ofd::parseXml(*bytes, &why);
  }
  auto layout = ofd::readLayout(*package, &why);
  if (!layout) return 0;
  if (auto ofdXml = package->read(ofd::kOfdXml, &why))
    ofd::withSignatureList(*ofdXml, QStringLiteral("/Doc_0/Signs/Signatures.xml"), &why);
  if (!layout->signatures) return 0;
  auto list = ofd::readSignatureList(*package, *layout->signatures, &why);
  if (!list) return 0;
  for (const ofd::SignatureEntry& s : list->signatures)
    if (auto file = ofd::readSignatureFile(*package, s.signatureXml, &why))
      for (const ofd::Reference& r : file->references) ofd::resolveLocation(s.signatureXml, r.fileRef);
  return 0;
}
