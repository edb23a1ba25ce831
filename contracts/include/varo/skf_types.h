// The GM/T 0016 (SKF) types and result codes that the system uses.
#pragma once

#include <cstddef>
#include <cstdint>

namespace skf {

using ULONG = uint32_t;
using BOOL = int32_t;
using BYTE = uint8_t;
using LPSTR = char*;
using HANDLE = void*;
using DEVHANDLE = HANDLE;
using HAPPLICATION = HANDLE;
using HCONTAINER = HANDLE;

#pragma pack(push, 1)
struct VERSION {
  BYTE major;
  BYTE minor;
};

struct DEVINFO {
  VERSION Version;
  char Manufacturer[64];
  char Issuer[64];
  char Label[32];
  char SerialNumber[32];
  VERSION HWVersion;
  VERSION FirmwareVersion;
  ULONG AlgSymCap;
  ULONG AlgAsymCap;
  ULONG AlgHashCap;
  ULONG DevAuthAlgId;
  ULONG TotalSpace;
  ULONG FreeSpace;
  ULONG MaxECCBufferSize;
  ULONG MaxBufferSize;
  BYTE Reserved[64];
};

inline constexpr int kEccMaxCoordinateLen = 64;

struct ECCPUBLICKEYBLOB {
  ULONG BitLen;
  BYTE XCoordinate[kEccMaxCoordinateLen];
  BYTE YCoordinate[kEccMaxCoordinateLen];
};

struct ECCSIGNATUREBLOB {
  BYTE r[kEccMaxCoordinateLen];
  BYTE s[kEccMaxCoordinateLen];
};

struct FILEATTRIBUTE {
  char FileName[32];
  ULONG FileSize;
  ULONG ReadRights;
  ULONG WriteRights;
};

inline constexpr int kMaxIvLen = 32;

// Parameters of a block cipher operation (SKF_EncryptInit, SKF_DecryptInit),
// passed by value.
struct BLOCKCIPHERPARAM {
  BYTE IV[kMaxIvLen];
  ULONG IVLen;
  ULONG PaddingType;  // 0 none, 1 PKCS#5
  ULONG FeedBitLen;   // feedback bits of CFB and OFB
};
#pragma pack(pop)

static_assert(sizeof(DEVINFO) == 294, "DEVINFO is packed to 294 bytes");
static_assert(offsetof(DEVINFO, SerialNumber) == 162, "SerialNumber at offset 162");
static_assert(sizeof(ECCPUBLICKEYBLOB) == 132, "ECCPUBLICKEYBLOB is 132 bytes");
static_assert(sizeof(ECCSIGNATUREBLOB) == 128, "ECCSIGNATUREBLOB is 128 bytes");
static_assert(sizeof(BLOCKCIPHERPARAM) == 44, "BLOCKCIPHERPARAM is 44 bytes");

// Algorithm identifiers (GM/T 0006): symmetric modes, asymmetric algorithms
// (the SM2 family and its signature, key exchange and encryption schemes) and
// digests.
inline constexpr ULONG SGD_SM4_ECB = 0x00000401;
inline constexpr ULONG SGD_SM4_CBC = 0x00000402;
inline constexpr ULONG SGD_SM2 = 0x00020100;
inline constexpr ULONG SGD_SM2_1 = 0x00020200;
inline constexpr ULONG SGD_SM2_2 = 0x00020400;
inline constexpr ULONG SGD_SM2_3 = 0x00020800;
inline constexpr ULONG SGD_SM3 = 0x00000001;

// Padding types of BLOCKCIPHERPARAM.
inline constexpr ULONG NO_PADDING = 0;
inline constexpr ULONG PKCS5_PADDING = 1;

// PIN types.
inline constexpr ULONG ADMIN_TYPE = 0;
inline constexpr ULONG USER_TYPE = 1;

// Container types.
inline constexpr ULONG CONTAINER_EMPTY = 0;
inline constexpr ULONG CONTAINER_RSA = 1;
inline constexpr ULONG CONTAINER_ECC = 2;

// Access rights of files.
inline constexpr ULONG SECURE_NEVER_ACCOUNT = 0x00;
inline constexpr ULONG SECURE_ADM_ACCOUNT = 0x01;
inline constexpr ULONG SECURE_USER_ACCOUNT = 0x10;
inline constexpr ULONG SECURE_ANYONE_ACCOUNT = 0xFF;

// Device states.
inline constexpr ULONG DEV_ABSENT_STATE = 0;
inline constexpr ULONG DEV_PRESENT_STATE = 1;

// Result codes (consecutive from SAR_FAIL to SAR_REACH_MAX_CONTAINER_COUNT).
inline constexpr ULONG SAR_OK = 0x00000000;
inline constexpr ULONG SAR_FAIL = 0x0A000001;
inline constexpr ULONG SAR_UNKNOWNERR = 0x0A000002;
inline constexpr ULONG SAR_NOTSUPPORTYETERR = 0x0A000003;
inline constexpr ULONG SAR_FILEERR = 0x0A000004;
inline constexpr ULONG SAR_INVALIDHANDLEERR = 0x0A000005;
inline constexpr ULONG SAR_INVALIDPARAMERR = 0x0A000006;
inline constexpr ULONG SAR_READFILEERR = 0x0A000007;
inline constexpr ULONG SAR_WRITEFILEERR = 0x0A000008;
inline constexpr ULONG SAR_NAMELENERR = 0x0A000009;
inline constexpr ULONG SAR_KEYUSAGEERR = 0x0A00000A;
inline constexpr ULONG SAR_MODULUSLENERR = 0x0A00000B;
inline constexpr ULONG SAR_NOTINITIALIZEERR = 0x0A00000C;
inline constexpr ULONG SAR_OBJERR = 0x0A00000D;
inline constexpr ULONG SAR_MEMORYERR = 0x0A00000E;
inline constexpr ULONG SAR_TIMEOUTERR = 0x0A00000F;
inline constexpr ULONG SAR_INDATALENERR = 0x0A000010;
inline constexpr ULONG SAR_INDATAERR = 0x0A000011;
inline constexpr ULONG SAR_GENRANDERR = 0x0A000012;
inline constexpr ULONG SAR_HASHOBJERR = 0x0A000013;
inline constexpr ULONG SAR_HASHERR = 0x0A000014;
inline constexpr ULONG SAR_GENRSAKEYERR = 0x0A000015;
inline constexpr ULONG SAR_RSAMODULUSLENERR = 0x0A000016;
inline constexpr ULONG SAR_CSPIMPRTPUBKEYERR = 0x0A000017;
inline constexpr ULONG SAR_RSAENCERR = 0x0A000018;
inline constexpr ULONG SAR_RSADECERR = 0x0A000019;
inline constexpr ULONG SAR_HASHNOTEQUALERR = 0x0A00001A;
inline constexpr ULONG SAR_KEYNOTFOUNTERR = 0x0A00001B;
inline constexpr ULONG SAR_CERTNOTFOUNTERR = 0x0A00001C;
inline constexpr ULONG SAR_NOTEXPORTERR = 0x0A00001D;
inline constexpr ULONG SAR_DECRYPTPADERR = 0x0A00001E;
inline constexpr ULONG SAR_MACLENERR = 0x0A00001F;
inline constexpr ULONG SAR_BUFFER_TOO_SMALL = 0x0A000020;
inline constexpr ULONG SAR_KEYINFOTYPEERR = 0x0A000021;
inline constexpr ULONG SAR_NOT_EVENTERR = 0x0A000022;
inline constexpr ULONG SAR_DEVICE_REMOVED = 0x0A000023;
inline constexpr ULONG SAR_PIN_INCORRECT = 0x0A000024;
inline constexpr ULONG SAR_PIN_LOCKED = 0x0A000025;
inline constexpr ULONG SAR_PIN_INVALID = 0x0A000026;
inline constexpr ULONG SAR_PIN_LEN_RANGE = 0x0A000027;
inline constexpr ULONG SAR_USER_ALREADY_LOGGED_IN = 0x0A000028;
inline constexpr ULONG SAR_USER_PIN_NOT_INITIALIZED = 0x0A000029;
inline constexpr ULONG SAR_USER_TYPE_INVALID = 0x0A00002A;
inline constexpr ULONG SAR_APPLICATION_NAME_INVALID = 0x0A00002B;
inline constexpr ULONG SAR_APPLICATION_EXISTS = 0x0A00002C;
inline constexpr ULONG SAR_USER_NOT_LOGGED_IN = 0x0A00002D;
inline constexpr ULONG SAR_APPLICATION_NOT_EXISTS = 0x0A00002E;
inline constexpr ULONG SAR_FILE_ALREADY_EXIST = 0x0A00002F;
inline constexpr ULONG SAR_NO_ROOM = 0x0A000030;
inline constexpr ULONG SAR_FILE_NOT_EXIST = 0x0A000031;
inline constexpr ULONG SAR_REACH_MAX_CONTAINER_COUNT = 0x0A000032;

}  // namespace skf
