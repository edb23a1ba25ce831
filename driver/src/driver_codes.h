// The driver's own result codes. They run from 0x1001 to 0x1009 and on from
// 0x1010 to 0x1013; 0x104 (not 0x1004) marks an empty seal index.
#pragma once

namespace gm3000 {

inline constexpr int kOk = 0;
inline constexpr int kNoDevice = 0x1001;             // enumeration failed or found nothing
inline constexpr int kOpenDeviceFailed = 0x1002;     // connecting failed
inline constexpr int kNoApplication = 0x1003;        // no seal application
inline constexpr int kNoContainer = 0x1004;          // containers not enumerable
inline constexpr int kNoCertificate = 0x1005;        // no certificate of that kind
inline constexpr int kSeveralDevices = 0x1006;       // exactly one key required
inline constexpr int kNoSealData = 0x1007;           // no index and no local list
inline constexpr int kWriteFailed = 0x1008;          // creating or writing a file failed
inline constexpr int kSealNotIndexed = 0x1009;       // identifier not in the index
inline constexpr int kSealReadFailed = 0x1010;       // a seal file could not be read
inline constexpr int kSeveralCertificates = 0x1011;  // more than one certificate matches
inline constexpr int kCertificateNotFound = 0x1012;  // the certificate is not on the key
inline constexpr int kLibraryFailed = 0x1013;        // the vendor library did not load
inline constexpr int kEmptyIndex = 0x104;            // the seal index lists nothing

}  // namespace gm3000
