// OES_CancelSeal: a signature may be removed when one of the attached keys
// holds its signer's certificate. The certificate comes from the codec; every
// driver plug-in of the installation is asked in turn whether its key holds
// it, and the first that says so decides.
//
// The codec writes decoded fields without a bound. A field is never longer
// than the signature it came from, so every working buffer has room for the
// whole signature (and at least the size the flow has always used).
#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "VaroDeviceBase.h"
#include "codec_session.h"
#include "oes_api.h"
#include "oes_codes.h"
#include "varo/byte_span.h"
#include "varo/driver_plugins.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/openssl_ptr.h"

using namespace varo::oes;

namespace varo::provider {

namespace {

using Bytes = std::vector<unsigned char>;

// Longest driver path accepted, in characters.
constexpr size_t kMaxDriverPathLength = 299;

// One whole DER certificate and nothing after it. The drivers compare only
// as many leading bytes as they are given, so an empty or cut certificate
// would be found on every key.
bool isWholeCertificate(const Bytes& der) {
  const unsigned char* p = der.data();
  X509Ptr cert(d2i_X509(nullptr, &p, long(der.size())));
  return cert && p == der.data() + der.size();
}

// The signer certificate of a signature; nullopt when the bytes are not a
// signature or what it carries as certificate is none.
std::optional<Bytes> signerCertificate(CodecSession& codec, ByteSpan signature) {
  if (signature.empty()) return std::nullopt;
  const size_t n = signature.size();
  auto room = [n](size_t usual) { return std::max(usual, n); };
  std::vector<char> time(room(100) + 1, '\0');  // raw text; the spare zero ends it
  Bytes digest(room(300)), property(room(4096)), cert(room(4096)), value(room(300));
  int digestLength = 0, propertyLength = 0, certLength = 0, valueLength = 0;
  const bool decoded = codec->DecodeSignature(
      signature.data(), int(n), nullptr, nullptr, nullptr, time.data(), digest.data(),
      &digestLength, property.data(), &propertyLength, cert.data(), &certLength, nullptr,
      value.data(), &valueLength, nullptr, nullptr, nullptr, nullptr);
  if (!decoded || certLength <= 0 || size_t(certLength) > cert.size()) return std::nullopt;
  cert.resize(size_t(certLength));
  if (!isWholeCertificate(cert)) return std::nullopt;
  return cert;
}

// True when the driver at path loads, makes an object and its key holds cert.
// A file that is no library, or no driver, is simply not a match.
bool driverHoldsCertificate(const std::string& path, Bytes& cert) {
  LoadedLibrary lib(path);
  if (!lib.isLoaded()) return false;
  PluginObject<VaroDeviceBase> driver(lib);
  if (!driver) return false;
  return driver->CertExists(cert.data(), int(cert.size())) == 0;
}

int cancelSeal(ByteSpan signature) {
  const auto home = installDirFromToolLibrary();
  if (!home) return kLibraryMissing;
  std::optional<Bytes> cert;
  {
    CodecSession codec(*home);
    if (!codec.isLoaded()) return kLibraryMissing;
    cert = signerCertificate(codec, signature);
  }
  if (!cert) return kBadSignatureData;

  DriverListing listing;
  listing.maxPathLength = kMaxDriverPathLength;
  const auto drivers = listDriverPlugins(*home + kDriverDirectory, listing);
  if (!drivers) return kLibraryMissing;
  for (const std::string& path : *drivers)
    if (driverHoldsCertificate(path, *cert)) return kOk;
  return kCertNotOnKey;
}

}  // namespace

}  // namespace varo::provider

int OES_CancelSeal(unsigned char* signature, int signatureLength) {
  try {
    return varo::provider::cancelSeal(varo::ByteSpan::fromInt(signature, signatureLength));
  } catch (const std::bad_alloc&) {
    // No room for the working buffers of a signature this large.
    return kInternalError;
  }
}
