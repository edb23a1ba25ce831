// Containers: listing, opening, type, certificates and public keys.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>

#include "skf_common.h"
#include "varo/openssl_ptr.h"

using namespace varo::softkey;
using skf::HAPPLICATION;
using skf::HCONTAINER;

namespace {

using X509PubkeyPtr = varo::OpenSslPtr<X509_PUBKEY, X509_PUBKEY_free>;

// The uncompressed public point (04 || X || Y) of an SM2 key, taken from its
// private key, else from its certificate.
bool publicPoint(const ContainerEntry& c, std::string* point) {
  varo::EvpPkeyPtr pkey;
  if (!c.signKey.empty()) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(c.signKey.data());
    pkey.reset(d2i_AutoPrivateKey(nullptr, &p, long(c.signKey.size())));
  } else if (!c.signCert.empty()) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(c.signCert.data());
    varo::X509Ptr cert(d2i_X509(nullptr, &p, long(c.signCert.size())));
    if (cert) pkey.reset(X509_get_pubkey(cert.get()));
  }
  if (!pkey) return false;
  unsigned char* der = nullptr;
  int derLen = i2d_PUBKEY(pkey.get(), &der);
  if (derLen <= 0) return false;
  const unsigned char* q = der;
  X509PubkeyPtr pub(d2i_X509_PUBKEY(nullptr, &q, derLen));
  OPENSSL_free(der);
  const unsigned char* pk = nullptr;
  int pkLen = 0;
  if (!pub || !X509_PUBKEY_get0_param(nullptr, &pk, &pkLen, nullptr, pub.get())) return false;
  point->assign(reinterpret_cast<const char*>(pk), size_t(pkLen));
  return true;
}

// The container of an open container handle, within its key session.
class ContainerScope : public AppScope {
 public:
  ContainerScope(const HandleEntry& e) : AppScope(e, false) {
    if (code() != skf::SAR_OK) return;
    container_ = app().findContainer(e.container);
  }
  // SAR_OK, a key code, or SAR_FAIL when the container was removed meanwhile.
  ULONG result() const {
    if (code() != skf::SAR_OK) return code();
    return container_ ? skf::SAR_OK : skf::SAR_FAIL;
  }
  const ContainerEntry& container() const { return *container_; }

 private:
  const ContainerEntry* container_ = nullptr;
};

}  // namespace

SKF_EXPORT ULONG SKF_EnumContainer(HAPPLICATION hApp, skf::LPSTR szContainerName, ULONG* pulSize) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_EnumContainer", {e.device, e.app})) return f;
  if (!pulSize) return skf::SAR_INVALIDPARAMERR;
  AppScope scope(e, false);
  if (scope.code() != skf::SAR_OK) return scope.code();
  std::vector<std::string> names;
  for (const auto& c : scope.app().containers) names.push_back(c.name);
  return putNameList(names, szContainerName, pulSize);
}

SKF_EXPORT ULONG SKF_OpenContainer(HAPPLICATION hApp, skf::LPSTR szContainerName,
                                   HCONTAINER* phContainer) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  std::string name;
  bool named = readName(szContainerName, kMaxContainerNameLen, &name);
  if (ULONG f = injectedFault(e.store, "SKF_OpenContainer", {e.device, e.app, name})) return f;
  if (!szContainerName || !phContainer) return skf::SAR_INVALIDPARAMERR;
  if (!named) return skf::SAR_NAMELENERR;
  AppScope scope(e, false);
  if (scope.code() != skf::SAR_OK) return scope.code();
  if (!scope.app().findContainer(name)) return skf::SAR_FAIL;
  // The container shares the application's login state (not a copy of it).
  auto session = HandleTable::instance().find(hApp, HandleKind::Application);
  if (!session) return skf::SAR_INVALIDHANDLEERR;
  HandleEntry c{HandleKind::Container, e.store,          e.device, e.app,  name,
                e.deviceHandle,        session->session, nullptr,  nullptr};
  *phContainer = HandleTable::instance().add(std::move(c));
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_CloseContainer(HCONTAINER hContainer) {
  HandleEntry e;
  if (!lookupHandle(hContainer, HandleKind::Container, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_CloseContainer", {e.device, e.app, e.container}))
    return f;
  HandleTable::instance().remove(hContainer, HandleKind::Container);
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType) {
  HandleEntry e;
  if (!lookupHandle(hContainer, HandleKind::Container, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_GetContainerType", {e.device, e.app, e.container}))
    return f;
  if (!pulContainerType) return skf::SAR_INVALIDPARAMERR;
  ContainerScope scope(e);
  if (ULONG rc = scope.result()) return rc;
  *pulContainerType = scope.container().type;
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_ExportCertificate(HCONTAINER hContainer, skf::BOOL bSignFlag, BYTE* pbCert,
                                       ULONG* pulCertLen) {
  HandleEntry e;
  if (!lookupHandle(hContainer, HandleKind::Container, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_ExportCertificate", {e.device, e.app, e.container}))
    return f;
  if (!pulCertLen) return skf::SAR_INVALIDPARAMERR;
  ContainerScope scope(e);
  if (ULONG rc = scope.result()) return rc;
  const std::string& cert = bSignFlag ? scope.container().signCert : scope.container().encCert;
  if (cert.empty()) return skf::SAR_CERTNOTFOUNTERR;
  return putMeteredBytes(e.store, cert, pbCert, pulCertLen);
}

SKF_EXPORT ULONG SKF_ExportPublicKey(HCONTAINER hContainer, skf::BOOL bSignFlag, BYTE* pbBlob,
                                     ULONG* pulBlobLen) {
  HandleEntry e;
  if (!lookupHandle(hContainer, HandleKind::Container, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_ExportPublicKey", {e.device, e.app, e.container}))
    return f;
  if (!pulBlobLen) return skf::SAR_INVALIDPARAMERR;
  ContainerScope scope(e);
  if (ULONG rc = scope.result()) return rc;
  const ContainerEntry& c = scope.container();
  if (c.type == skf::CONTAINER_RSA) return skf::SAR_NOTSUPPORTYETERR;
  std::string point;
  // Only the signing key pair is held; there is no encryption key pair.
  if (c.type != skf::CONTAINER_ECC || !bSignFlag || !publicPoint(c, &point))
    return skf::SAR_KEYNOTFOUNTERR;
  if (point.size() != 65 || point[0] != 0x04) return skf::SAR_KEYINFOTYPEERR;
  skf::ECCPUBLICKEYBLOB blob;
  std::memset(&blob, 0, sizeof blob);
  blob.BitLen = 256;
  // Coordinates right-aligned in their 64-byte fields.
  std::memcpy(blob.XCoordinate + 32, point.data() + 1, 32);
  std::memcpy(blob.YCoordinate + 32, point.data() + 33, 32);
  const std::string_view bytes(reinterpret_cast<const char*>(&blob), sizeof blob);
  return putMeteredBytes(e.store, bytes, pbBlob, pulBlobLen);
}
