// Owning pointers for OpenSSL objects: one alias per type, released with the
// type's own free function on every path.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace varo {

template <class T, void (*Free)(T*)>
struct OpenSslDeleter {
  void operator()(T* p) const {
    if (p) Free(p);
  }
};

template <class T, void (*Free)(T*)>
using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter<T, Free>>;

using BignumPtr = OpenSslPtr<BIGNUM, BN_free>;
using BnCtxPtr = OpenSslPtr<BN_CTX, BN_CTX_free>;
using EcGroupPtr = OpenSslPtr<EC_GROUP, EC_GROUP_free>;
using EcPointPtr = OpenSslPtr<EC_POINT, EC_POINT_free>;
using X509Ptr = OpenSslPtr<X509, X509_free>;
using EvpPkeyPtr = OpenSslPtr<EVP_PKEY, EVP_PKEY_free>;
using EvpPkeyCtxPtr = OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using EvpMdCtxPtr = OpenSslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using BioPtr = OpenSslPtr<BIO, BIO_free_all>;
using Asn1IntegerPtr = OpenSslPtr<ASN1_INTEGER, ASN1_INTEGER_free>;
using Asn1OctetStringPtr = OpenSslPtr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Asn1BitStringPtr = OpenSslPtr<ASN1_BIT_STRING, ASN1_BIT_STRING_free>;
using Asn1ObjectPtr = OpenSslPtr<ASN1_OBJECT, ASN1_OBJECT_free>;

}  // namespace varo
