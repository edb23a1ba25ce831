// The seal maker: builds electronic seals (DER) in memory, signed with the
// maker's SM2 key, for the stand-ins, the demo and the tests.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <vector>

namespace varo::sealmaker {

using Bytes = std::vector<uint8_t>;

// Everything a seal holds. Times are UTCTime texts "YYMMDDhhmmssZ"; an empty
// time means the current time (createTime, validStart) or ten years on
// (validEnd).
struct SealSpec {
  std::string name;  // seal name (UTF-8)
  std::string esID;  // seal identifier
  int type = 1;      // 1 unit seal, 2 personal seal
  std::string createTime;
  std::string validStart;
  std::string validEnd;
  std::string vid;         // vendor identifier of the maker
  std::string iid = "ES";  // header identifier
  int version = 2;         // seal format version
  // Picture: format name and file bytes. Empty bytes mean the drawn picture
  // (a PNG of a red ring with the name); width and height are stored as
  // given (0 means the drawn picture's default display size).
  std::string pictureType = "png";
  Bytes picture;
  int width = 0;
  int height = 0;
  std::vector<Bytes> signerCerts;  // DER certificates; the first is the signer's
  Bytes makerCert;                 // DER certificate of the maker
  EVP_PKEY* makerKey = nullptr;    // the maker's SM2 private key (not owned)
};

// Display size, in millimetres, stored for the drawn picture.
inline constexpr int kDefaultPictureSize = 40;

// The seal DER: MYSESeal with the maker's signature in signData, made with
// SM2 and SM3 (default identifier) over the DER of SEQUENCE { esealInfo,
// cert, signatureAlgorithm }. Empty on failure (bad time text, no maker
// key, signing failed). *error, when given, receives the reason.
Bytes makeSeal(const SealSpec& spec, std::string* error = nullptr);

// The DER of SEQUENCE { esealInfo, cert, signatureAlgorithm } of a seal
// made by makeSeal: the bytes the maker signed. Empty when the seal's
// layout is not the one makeSeal writes.
Bytes makerSignedContent(const Bytes& seal);

// The first entry of the seal's certificate list; empty when there is none.
Bytes firstHolderCert(const Bytes& seal);

// The maker's signature value (signData) of a seal made by makeSeal.
Bytes makerSignature(const Bytes& seal);

// What a seal signature binds.
struct SignatureSpec {
  Bytes seal;            // the seal DER, embedded as it is
  Bytes digest;          // the document digest (SM3)
  std::string property;  // document property text (IA5)
  std::string time;      // signing time "YYMMDDhhmmssZ"; empty means now
  Bytes signerCert;      // DER certificate placed into the signature
  EVP_PKEY* signerKey = nullptr;  // its SM2 private key (not owned)
  // The certificate in the content that the value signs, when it is not
  // signerCert. OES_Verify rebuilds the signed content with the seal's first
  // certificate and checks the value with the key of the signature's own
  // certificate, so a value over that content passes it, whoever signs.
  Bytes contentCert;
};

// A seal signature (MYSES_Signature DER, version 2) made outside the
// provider, as anyone holding a copy of a seal and some SM2 key could make
// one: the signed content laid out as a signing lays it out (BIT STRINGs of
// whole octets), signed with SM2 and SM3 (default identifier). Empty on
// failure; *error, when given, receives the reason.
Bytes makeSignature(const SignatureSpec& spec, std::string* error = nullptr);

// The drawn picture: a PNG of size x size pixels showing a red ring and the
// name (ASCII letters and digits; other characters as boxes).
Bytes drawSealPicture(const std::string& name, int size = 160);

// The current UTC time plus the given number of years, as "YYMMDDhhmmssZ".
std::string utcTimeText(int yearsFromNow = 0);

}  // namespace varo::sealmaker
