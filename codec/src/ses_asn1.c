/* Templates of the seal structures and their strict DER entry points. */
#include "ses_asn1.h"

#include <openssl/asn1t.h>
#include <string.h>

/* clang-format off */
ASN1_SEQUENCE(MYSES_Head) = {
    ASN1_SIMPLE(MYSES_Head, iid, ASN1_IA5STRING),
    ASN1_SIMPLE(MYSES_Head, version, ASN1_INTEGER),
    ASN1_SIMPLE(MYSES_Head, vid, ASN1_IA5STRING),
} ASN1_SEQUENCE_END(MYSES_Head)

ASN1_SEQUENCE(MYSES_ESPropertyInfo) = {
    ASN1_SIMPLE(MYSES_ESPropertyInfo, type, ASN1_INTEGER),
    ASN1_SIMPLE(MYSES_ESPropertyInfo, name, ASN1_UTF8STRING),
    ASN1_SEQUENCE_OF(MYSES_ESPropertyInfo, certList, ASN1_OCTET_STRING),
    ASN1_SIMPLE(MYSES_ESPropertyInfo, createTime, ASN1_UTCTIME),
    ASN1_SIMPLE(MYSES_ESPropertyInfo, validStart, ASN1_UTCTIME),
    ASN1_SIMPLE(MYSES_ESPropertyInfo, validEnd, ASN1_UTCTIME),
} ASN1_SEQUENCE_END(MYSES_ESPropertyInfo)

ASN1_SEQUENCE(MYSES_ESPictureInfo) = {
    ASN1_SIMPLE(MYSES_ESPictureInfo, type, ASN1_IA5STRING),
    ASN1_SIMPLE(MYSES_ESPictureInfo, data, ASN1_OCTET_STRING),
    ASN1_SIMPLE(MYSES_ESPictureInfo, width, ASN1_INTEGER),
    ASN1_SIMPLE(MYSES_ESPictureInfo, height, ASN1_INTEGER),
} ASN1_SEQUENCE_END(MYSES_ESPictureInfo)

ASN1_SEQUENCE(MYSES_SealInfo) = {
    ASN1_SIMPLE(MYSES_SealInfo, header, MYSES_Head),
    ASN1_SIMPLE(MYSES_SealInfo, esID, ASN1_IA5STRING),
    ASN1_SIMPLE(MYSES_SealInfo, property, MYSES_ESPropertyInfo),
    ASN1_SIMPLE(MYSES_SealInfo, picture, MYSES_ESPictureInfo),
} ASN1_SEQUENCE_END(MYSES_SealInfo)

ASN1_SEQUENCE(MYSES_SignInfo) = {
    ASN1_SIMPLE(MYSES_SignInfo, cert, ASN1_OCTET_STRING),
    ASN1_SIMPLE(MYSES_SignInfo, signatureAlgorithm, ASN1_OBJECT),
    ASN1_SIMPLE(MYSES_SignInfo, signData, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(MYSES_SignInfo)

ASN1_SEQUENCE(MYSESeal) = {
    ASN1_SIMPLE(MYSESeal, esealInfo, MYSES_SealInfo),
    ASN1_SIMPLE(MYSESeal, signInfo, MYSES_SignInfo),
} ASN1_SEQUENCE_END(MYSESeal)

ASN1_SEQUENCE(MYTBS_Sign) = {
    ASN1_SIMPLE(MYTBS_Sign, version, ASN1_INTEGER),
    ASN1_SIMPLE(MYTBS_Sign, eseal, MYSESeal),
    ASN1_SIMPLE(MYTBS_Sign, timeInfo, ASN1_BIT_STRING),
    ASN1_SIMPLE(MYTBS_Sign, dataHash, ASN1_BIT_STRING),
    ASN1_SIMPLE(MYTBS_Sign, propertyInfo, ASN1_IA5STRING),
    ASN1_SIMPLE(MYTBS_Sign, cert, ASN1_OCTET_STRING),
    ASN1_SIMPLE(MYTBS_Sign, signatureAlgorithm, ASN1_OBJECT),
} ASN1_SEQUENCE_END(MYTBS_Sign)

ASN1_SEQUENCE(MYSES_Signature) = {
    ASN1_SIMPLE(MYSES_Signature, toSign, MYTBS_Sign),
    ASN1_SIMPLE(MYSES_Signature, signature, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(MYSES_Signature)
                                                            /* clang-format on */

                                                            /* Decodes one value of type it from *in
                                                             * and accepts it only when it is DER:
                                                             * its re-encoding must equal the
                                                             * consumed bytes. On success *in is
                                                             * advanced and, when a is given, the
                                                             * value replaces *a (an old *a is
                                                             * freed). On failure nothing is
                                                             * allocated, *in and *a are left as
                                                             * they were. */
                                                            static ASN1_VALUE
                                                            * strict_d2i(ASN1_VALUE * *a,
                                                                         const unsigned char** in,
                                                                         long len,
                                                                         const ASN1_ITEM* it) {
  const unsigned char* p;
  ASN1_VALUE* value;
  unsigned char* der = NULL;
  long consumed;
  int n, same;

  if (in == NULL || *in == NULL || len <= 0) return NULL;
  p = *in;
  value = ASN1_item_d2i(NULL, &p, len, it);
  if (value == NULL) return NULL;
  consumed = (long)(p - *in);
  n = ASN1_item_i2d(value, &der, it);
  same = n > 0 && (long)n == consumed && memcmp(der, *in, (size_t)n) == 0;
  OPENSSL_free(der);
  if (!same) {
    ASN1_item_free(value, it);
    return NULL;
  }
  if (a != NULL) {
    if (*a != NULL) ASN1_item_free(*a, it);
    *a = value;
  }
  *in = p;
  return value;
}

#define SES_IMPLEMENT_TYPE(T)                                           \
  T* d2i_##T(T** a, const unsigned char** in, long len) {               \
    return (T*)strict_d2i((ASN1_VALUE**)a, in, len, ASN1_ITEM_rptr(T)); \
  }                                                                     \
  int i2d_##T(const T* a, unsigned char** out) {                        \
    if (a == NULL) return -1;                                           \
    return ASN1_item_i2d((const ASN1_VALUE*)a, out, ASN1_ITEM_rptr(T)); \
  }                                                                     \
  T* T##_new(void) {                                                    \
    return (T*)ASN1_item_new(ASN1_ITEM_rptr(T));                        \
  }                                                                     \
  void T##_free(T* a) {                                                 \
    ASN1_item_free((ASN1_VALUE*)a, ASN1_ITEM_rptr(T));                  \
  }

SES_IMPLEMENT_TYPE(MYSES_Signature)
SES_IMPLEMENT_TYPE(MYTBS_Sign)
SES_IMPLEMENT_TYPE(MYSESeal)
SES_IMPLEMENT_TYPE(MYSES_SealInfo)
SES_IMPLEMENT_TYPE(MYSES_Head)
SES_IMPLEMENT_TYPE(MYSES_ESPropertyInfo)
SES_IMPLEMENT_TYPE(MYSES_ESPictureInfo)
SES_IMPLEMENT_TYPE(MYSES_SignInfo)
