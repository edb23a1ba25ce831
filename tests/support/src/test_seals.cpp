#include "varo/test_seals.h"

#include "varo/pki.h"
#include "varo/tool_library.h"

namespace varo::testing {

TestParty makeParty(const std::string& subjectDn) {
  TestParty p;
  p.key = pki::generateSm2Key();
  p.cert = pki::issueCertificate(p.key.get(), subjectDn);
  if (p.cert) p.certDer = pki::toDer(p.cert.get());
  return p;
}

sealmaker::SealSpec sealSpec(const TestPki& pki, const std::string& esID, const std::string& name) {
  sealmaker::SealSpec spec;
  spec.name = name;
  spec.esID = esID;
  spec.vid = "VARO-TEST";
  spec.createTime = "250101000000Z";
  spec.validStart = "250101000000Z";
  spec.validEnd = "350101000000Z";
  spec.signerCerts = {pki.signer.certDer};
  spec.makerCert = pki.maker.certDer;
  spec.makerKey = pki.maker.key.get();
  return spec;
}

Bytes makeTestSeal(const sealmaker::SealSpec& spec) {
  return sealmaker::makeSeal(spec);
}

Bytes signedContent(BasicSealInfo* codec, const SignatureInput& in) {
  Bytes seal = in.seal, digest = in.digest;
  std::string property = in.property, time = in.time, method = "1.2.156.10197.1.501";
  unsigned char* values[4] = {reinterpret_cast<unsigned char*>(property.data()), digest.data(),
                              reinterpret_cast<unsigned char*>(method.data()),
                              reinterpret_cast<unsigned char*>(time.data())};
  int lengths[4] = {int(property.size()), int(digest.size()), int(method.size()), int(time.size())};
  int* lengthPointers[4] = {&lengths[0], &lengths[1], &lengths[2], &lengths[3]};
  int size = 0;
  if (!codec->GetTbsSignData(seal.data(), int(seal.size()), values, lengthPointers, 4, nullptr,
                             &size) ||
      size <= 0)
    return {};
  Bytes out(static_cast<size_t>(size));
  if (!codec->GetTbsSignData(seal.data(), int(seal.size()), values, lengthPointers, 4, out.data(),
                             &size))
    return {};
  out.resize(size_t(size));
  return out;
}

Bytes wrapSignature(BasicSealInfo* codec, const Bytes& content, const Bytes& value) {
  Bytes tbs = content, rs = value;
  unsigned char* values[1] = {rs.data()};
  int rsLength = int(rs.size());
  int* lengths[1] = {&rsLength};
  int size = 0;
  if (!codec->GetSignatureData(tbs.data(), int(tbs.size()), values, lengths, nullptr, &size) ||
      size <= 0)
    return {};
  Bytes out(static_cast<size_t>(size));
  if (!codec->GetSignatureData(tbs.data(), int(tbs.size()), values, lengths, out.data(), &size))
    return {};
  out.resize(size_t(size));
  return out;
}

Bytes makeSignature(BasicSealInfo* codec, const SignatureInput& in, EVP_PKEY* signerKey,
                    Bytes* value, int flipBit) {
  Bytes content = signedContent(codec, in);
  if (content.empty()) return {};
  Bytes rs = pki::signMessage(signerKey, ByteSpan(content.data(), content.size()));
  if (rs.size() != 64) return {};
  if (flipBit >= 0) rs[size_t(flipBit / 8) % 64] ^= uint8_t(1u << (flipBit % 8));
  if (value) *value = rs;
  return wrapSignature(codec, content, rs);
}

std::string decryptSealRecord(const std::string& record) {
  LoadedLibrary lib(toolLibraryPath());
  PluginObject<ToolObject> tool(lib);
  if (!tool) return "";
  std::string in = record, out(record.size() + 1, 0);
  int length = int(out.size());
  char key[] = "q8vtkz2#@#lmpwre73xc&bns";  // the driver's record key
  tool->DecryptData(reinterpret_cast<unsigned char*>(in.data()), int(in.size()),
                    reinterpret_cast<unsigned char*>(out.data()), &length, key);
  return out.substr(0, size_t(length > 0 ? length : 0));
}

}  // namespace varo::testing
