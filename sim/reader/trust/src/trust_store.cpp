// The trust store: certificates from files and directories in an OpenSSL
// X509_STORE, and the chain of a certificate verified against it.
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509_vfy.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>

#include "trust_internal.h"
#include "varo/pki.h"
#include "varo/trust_checks.h"

namespace varo::trust {

namespace {

using X509StorePtr = OpenSslPtr<X509_STORE, X509_STORE_free>;
using X509StoreCtxPtr = OpenSslPtr<X509_STORE_CTX, X509_STORE_CTX_free>;

bool withSm2Id(X509* cert) {
  Asn1OctetStringPtr id(ASN1_OCTET_STRING_new());
  if (!id ||
      ASN1_OCTET_STRING_set(id.get(), reinterpret_cast<const unsigned char*>(pki::kDefaultSm2Id),
                            int(std::strlen(pki::kDefaultSm2Id))) != 1)
    return false;
  X509_set0_distinguishing_id(cert, id.release());
  return true;
}

// The certificates of one file: a PEM bundle, or one DER certificate.
std::vector<X509Ptr> certificatesIn(const QByteArray& bytes) {
  std::vector<X509Ptr> out;
  if (bytes.contains("-----BEGIN")) {
    BioPtr bio(BIO_new_mem_buf(bytes.constData(), bytes.size()));
    while (bio) {
      X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
      if (!cert || !withSm2Id(cert.get())) break;
      out.push_back(std::move(cert));
    }
    return out;
  }
  if (X509Ptr cert = sm2Certificate(ByteSpan(bytes.constData(), size_t(bytes.size()))))
    out.push_back(std::move(cert));
  return out;
}

// Leaves the certificate's own time to the validity check, which reports it
// against the signing time; the CAs' times stay the chain's.
int ignoreOwnTime(int ok, X509_STORE_CTX* ctx) {
  const int error = X509_STORE_CTX_get_error(ctx);
  if (!ok && X509_STORE_CTX_get_error_depth(ctx) == 0 &&
      (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID))
    return 1;
  return ok;
}

}  // namespace

X509Ptr sm2Certificate(ByteSpan der) {
  const unsigned char* p = der.data();
  X509Ptr cert(der.empty() ? nullptr : d2i_X509(nullptr, &p, long(der.size())));
  if (!cert || p != der.data() + der.size() || !withSm2Id(cert.get())) return nullptr;
  return cert;
}

std::string subjectText(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert), 0, XN_FLAG_RFC2253) < 0)
    return "?";
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, n > 0 ? size_t(n) : 0);
}

struct TrustStore::State {
  X509StorePtr store{X509_STORE_new()};
  size_t count = 0;
};

TrustStore::TrustStore(std::unique_ptr<State> state) : state_(std::move(state)) {}
TrustStore::~TrustStore() = default;
size_t TrustStore::size() const {
  return state_->count;
}

std::unique_ptr<TrustStore> TrustStore::load(const std::vector<std::string>& paths,
                                             std::string* error) {
  auto state = std::make_unique<State>();
  if (!state->store) return *error = "cannot make a certificate store", nullptr;
  auto add = [&](const QString& file, bool named) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return *error = "cannot read " + file.toStdString(), false;
    std::vector<X509Ptr> certs = certificatesIn(f.readAll());
    if (certs.empty() && named)
      return *error = "no certificate (PEM or DER) in " + file.toStdString(), false;
    // The store takes its own reference; a certificate given twice is one.
    for (X509Ptr& cert : certs)
      if (X509_STORE_add_cert(state->store.get(), cert.get()) == 1) ++state->count;
    return true;
  };
  for (const std::string& path : paths) {
    const QString name = QString::fromLocal8Bit(path.c_str());
    if (QFileInfo(name).isDir()) {
      // Every file of the directory that holds certificates; others (keys,
      // seals) are passed over.
      for (const QFileInfo& f : QDir(name).entryInfoList(QDir::Files, QDir::Name))
        if (!add(f.filePath(), false)) return nullptr;
    } else if (!add(name, true)) {
      return nullptr;
    }
  }
  if (state->count == 0) return *error = "the trust store holds no certificate", nullptr;
  return std::unique_ptr<TrustStore>(new TrustStore(std::move(state)));
}

bool TrustStore::chains(ByteSpan der, std::optional<int64_t> at, std::string* detail) const {
  X509Ptr cert = sm2Certificate(der);
  if (!cert) return *detail = "not a certificate", false;
  X509StoreCtxPtr ctx(X509_STORE_CTX_new());
  if (!ctx || X509_STORE_CTX_init(ctx.get(), state_->store.get(), cert.get(), nullptr) != 1)
    return *detail = "cannot set up the verification", false;
  X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
  if (at)
    X509_VERIFY_PARAM_set_time(param, std::time_t(*at));
  else
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_NO_CHECK_TIME);
  X509_STORE_CTX_set_verify_cb(ctx.get(), ignoreOwnTime);
  if (X509_verify_cert(ctx.get()) == 1) {
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
    const int n = sk_X509_num(chain);
    *detail = subjectText(sk_X509_value(chain, n - 1));
    if (n > 2) *detail += " through " + std::to_string(n - 2) + " intermediate CA";
    return true;
  }
  const int depth = X509_STORE_CTX_get_error_depth(ctx.get());
  X509* atFault = X509_STORE_CTX_get_current_cert(ctx.get());
  *detail = X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
  if (depth > 0 && atFault) *detail += " (at " + subjectText(atFault) + ")";
  return false;
}

}  // namespace varo::trust
