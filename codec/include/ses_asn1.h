/* The seal and seal-signature structures as OpenSSL template types.
 *
 * Every structure is a SEQUENCE of mandatory, universally tagged fields in a
 * fixed order; only certList is a SEQUENCE OF. Each record owns everything
 * below it: freeing the outermost record frees the whole tree.
 *
 * The d2i_ functions accept DER only: an encoding that decodes but does not
 * re-encode to the same bytes (indefinite or non-minimal lengths, constructed
 * strings, non-minimal integers, set unused bits) is refused, so re-encoding
 * a decoded value always reproduces its input. */
#ifndef SES_ASN1_H
#define SES_ASN1_H

#include <openssl/asn1.h>
#include <openssl/safestack.h>

#define SES_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

DEFINE_STACK_OF(ASN1_OCTET_STRING)

typedef struct MYSES_Head_st {
  ASN1_IA5STRING* iid;
  ASN1_INTEGER* version;
  ASN1_IA5STRING* vid;
} MYSES_Head;

typedef struct MYSES_ESPropertyInfo_st {
  ASN1_INTEGER* type;
  ASN1_UTF8STRING* name;
  STACK_OF(ASN1_OCTET_STRING) * certList;
  ASN1_UTCTIME* createTime;
  ASN1_UTCTIME* validStart;
  ASN1_UTCTIME* validEnd;
} MYSES_ESPropertyInfo;

typedef struct MYSES_ESPictureInfo_st {
  ASN1_IA5STRING* type;
  ASN1_OCTET_STRING* data;
  ASN1_INTEGER* width;
  ASN1_INTEGER* height;
} MYSES_ESPictureInfo;

typedef struct MYSES_SealInfo_st {
  MYSES_Head* header;
  ASN1_IA5STRING* esID;
  MYSES_ESPropertyInfo* property;
  MYSES_ESPictureInfo* picture;
} MYSES_SealInfo;

typedef struct MYSES_SignInfo_st {
  ASN1_OCTET_STRING* cert;
  ASN1_OBJECT* signatureAlgorithm;
  ASN1_BIT_STRING* signData;
} MYSES_SignInfo;

typedef struct MYSESeal_st {
  MYSES_SealInfo* esealInfo;
  MYSES_SignInfo* signInfo;
} MYSESeal;

typedef struct MYTBS_Sign_st {
  ASN1_INTEGER* version;
  MYSESeal* eseal;
  ASN1_BIT_STRING* timeInfo;
  ASN1_BIT_STRING* dataHash;
  ASN1_IA5STRING* propertyInfo;
  ASN1_OCTET_STRING* cert;
  ASN1_OBJECT* signatureAlgorithm;
} MYTBS_Sign;

typedef struct MYSES_Signature_st {
  MYTBS_Sign* toSign;
  ASN1_BIT_STRING* signature;
} MYSES_Signature;

/* Item descriptor, d2i, i2d, new and free of one type. */
#define SES_DECLARE_TYPE(T)                                         \
  SES_EXPORT const ASN1_ITEM* T##_it(void);                         \
  SES_EXPORT T* d2i_##T(T** a, const unsigned char** in, long len); \
  SES_EXPORT int i2d_##T(const T* a, unsigned char** out);          \
  SES_EXPORT T* T##_new(void);                                      \
  SES_EXPORT void T##_free(T* a);

SES_DECLARE_TYPE(MYSES_Signature)
SES_DECLARE_TYPE(MYTBS_Sign)
SES_DECLARE_TYPE(MYSESeal)
SES_DECLARE_TYPE(MYSES_SealInfo)
SES_DECLARE_TYPE(MYSES_Head)
SES_DECLARE_TYPE(MYSES_ESPropertyInfo)
SES_DECLARE_TYPE(MYSES_ESPictureInfo)
SES_DECLARE_TYPE(MYSES_SignInfo)

#undef SES_DECLARE_TYPE

#ifdef __cplusplus
}
#endif

#endif /* SES_ASN1_H */
