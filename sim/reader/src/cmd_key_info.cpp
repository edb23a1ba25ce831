// key-info [UKTYPE] [STANDARD]: the attached key's identifier and certificate
// subject through the installed key-info plug-in; the provider is not used.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <openssl/x509.h>

#include <cstring>
#include <vector>

#include "commands.h"
#include "plugin_call.h"
#include "varo/install_root.h"
#include "varo/openssl_ptr.h"

namespace reader {

namespace {

constexpr const char* kPluginPath = "/VaroSupport/plugins/libVaroGetUKInfo.so";
// The plug-in writes without a bound: this buffer holds its longest answer,
// a Base64 certificate of 5120 bytes, or a failure that repeats an argument
// of at most kArgumentLimit bytes.
constexpr size_t kAnswerCapacity = 16384;
constexpr size_t kArgumentLimit = 1024;

// s as a JSON string, quoted and escaped.
QByteArray jsonString(const std::string& s) {
  const QByteArray array =
      QJsonDocument(QJsonArray{QString::fromStdString(s)}).toJson(QJsonDocument::Compact);
  return array.mid(1, array.size() - 2);  // without the brackets
}

// The subject of a DER certificate in RFC 2253 form (UTF-8 left as it is);
// false when the certificate does not parse.
bool subjectOf(const QByteArray& der, QString* subject) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.constData());
  varo::X509Ptr cert(d2i_X509(nullptr, &p, der.size()));
  varo::BioPtr bio(BIO_new(BIO_s_mem()));
  if (!cert || !bio ||
      X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert.get()), 0,
                         XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
    return false;
  char* text = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &text);
  *subject = QString::fromUtf8(text, int(length));
  return true;
}

}  // namespace

int runKeyInfo(Context& ctx) {
  if (ctx.args.size() > 2 || (ctx.args.size() > 0 && ctx.args[0].size() > kArgumentLimit) ||
      (ctx.args.size() > 1 && ctx.args[1].size() > kArgumentLimit)) {
    ctx.out.error(
        QString("usage: key-info [UKTYPE] [STANDARD] (each at most %1 bytes)").arg(kArgumentLimit));
    return kUsage;
  }
  const std::string type = ctx.args.size() > 0 ? ctx.args[0] : "LM_GM3000";
  const std::string standard = ctx.args.size() > 1 ? ctx.args[1] : "1";

  InstalledPlugin plugin(kPluginPath);
  auto doIt = plugin.doIt<void (*)(const char*, char*)>(ctx, "key-info");
  if (!doIt) return kNoProvider;
  const QByteArray request =
      "{\"UKTYPE\":" + jsonString(type) + ",\"STANDARD\":" + jsonString(standard) + "}";
  std::vector<char> buffer(kAnswerCapacity, 0);
  doIt(request.constData(), buffer.data());
  const QByteArray answer = answerText(buffer);
  if (answer.startsWith("ERROR:")) {
    ctx.out.error(QString::fromUtf8(answer));
    return kProviderError;
  }

  // The answer is Latin-1 text.
  const QJsonObject info = QJsonDocument::fromJson(QString::fromLatin1(answer).toUtf8()).object();
  const QByteArray der = QByteArray::fromBase64(info["CERT"].toString().toLatin1());
  QString subject;
  if (!info["UKID"].isString() || !subjectOf(der, &subject)) {
    ctx.out.error("the key-info plug-in answered no key identifier and certificate: " +
                  QString::fromLatin1(answer.left(200)));
    return kProviderError;
  }
  ctx.out.field("key id", info["UKID"].toString());
  ctx.out.field("subject", subject);
  ctx.out.field("certificate bytes", qint64(der.size()));
  return kSuccess;
}

}  // namespace reader
