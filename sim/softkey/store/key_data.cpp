#include "key_data.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <cctype>

namespace varo::softkey {

namespace {

constexpr int kFormat = 1;

QString text(const std::string& s) {
  return QString::fromUtf8(s.data(), int(s.size()));
}
std::string text(const QJsonValue& v) {
  return v.toString().toUtf8().toStdString();
}

QString bytes(const std::string& s) {
  return QString::fromLatin1(QByteArray(s.data(), int(s.size())).toBase64());
}
std::string bytes(const QJsonValue& v) {
  return QByteArray::fromBase64(v.toString().toLatin1()).toStdString();
}

// The device authentication key as hex digits; a value that is not exactly
// one key in hex reads as no key.
QString authKeyText(const std::string& key) {
  return QString::fromLatin1(QByteArray(key.data(), int(key.size())).toHex());
}
std::string authKey(const QJsonValue& v) {
  if (v.isUndefined()) return kDefaultDevAuthKey;  // a manifest of an older version
  const QByteArray hex = v.toString().toLatin1();
  if (hex.size() != int(2 * kDevAuthKeyLen)) return {};
  for (char c : hex)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
  return QByteArray::fromHex(hex).toStdString();
}

uint32_t u32(const QJsonValue& v, uint32_t fallback) {
  double d = v.toDouble(-1);
  return d >= 0 && d <= 4294967295.0 ? uint32_t(d) : fallback;
}

QJsonObject pinToJson(const PinState& p) {
  return QJsonObject{{"salt", text(p.salt)},
                     {"hash", text(p.hash)},
                     {"maxRetries", double(p.maxRetries)},
                     {"retries", double(p.retries)},
                     {"default", p.isDefault}};
}

PinState pinFromJson(const QJsonObject& o) {
  PinState p;
  p.salt = text(o["salt"]);
  p.hash = text(o["hash"]);
  p.maxRetries = u32(o["maxRetries"], 6);
  p.retries = u32(o["retries"], 0);
  if (p.retries > p.maxRetries) p.retries = p.maxRetries;
  p.isDefault = o["default"].toBool(false);
  return p;
}

}  // namespace

FileEntry* Application::findFile(const std::string& n) {
  for (auto& f : files)
    if (f.name == n) return &f;
  return nullptr;
}

ContainerEntry* Application::findContainer(const std::string& n) {
  for (auto& c : containers)
    if (c.name == n) return &c;
  return nullptr;
}

Application* KeyData::findApp(const std::string& n) {
  for (auto& a : apps)
    if (a.name == n) return &a;
  return nullptr;
}

uint64_t KeyData::usedSpace() const {
  uint64_t used = 0;
  for (const auto& a : apps)
    for (const auto& f : a.files) used += f.size;
  return used;
}

QJsonObject toJson(const KeyData& key) {
  const DeviceInfo& d = key.device;
  QJsonObject dev{{"label", text(d.label)},
                  {"serial", text(d.serial)},
                  {"manufacturer", text(d.manufacturer)},
                  {"issuer", text(d.issuer)},
                  {"hwVersion", QJsonArray{d.hwMajor, d.hwMinor}},
                  {"fwVersion", QJsonArray{d.fwMajor, d.fwMinor}},
                  {"totalSpace", double(d.totalSpace)},
                  {"authKey", authKeyText(d.authKey)}};
  QJsonArray apps;
  for (const auto& a : key.apps) {
    QJsonArray files, containers;
    for (const auto& f : a.files)
      files.append(QJsonObject{{"name", text(f.name)},
                               {"size", double(f.size)},
                               {"readRights", double(f.readRights)},
                               {"writeRights", double(f.writeRights)},
                               {"blob", double(f.blob)}});
    for (const auto& c : a.containers)
      containers.append(QJsonObject{{"name", text(c.name)},
                                    {"type", double(c.type)},
                                    {"signCert", bytes(c.signCert)},
                                    {"signKey", bytes(c.signKey)},
                                    {"encCert", bytes(c.encCert)}});
    apps.append(QJsonObject{{"name", text(a.name)},
                            {"userPin", pinToJson(a.userPin)},
                            {"adminPin", pinToJson(a.adminPin)},
                            {"createFileRights", double(a.createFileRights)},
                            {"files", files},
                            {"containers", containers}});
  }
  return QJsonObject{{"format", kFormat},
                     {"device", dev},
                     {"applications", apps},
                     {"nextBlob", double(key.nextBlob)}};
}

bool fromJson(const QJsonObject& obj, KeyData* key) {
  if (obj["format"].toInt() != kFormat || !obj["device"].isObject()) return false;
  KeyData k;
  QJsonObject dev = obj["device"].toObject();
  k.device.label = text(dev["label"]);
  k.device.serial = text(dev["serial"]);
  k.device.manufacturer = text(dev["manufacturer"]);
  k.device.issuer = text(dev["issuer"]);
  QJsonArray hw = dev["hwVersion"].toArray(), fw = dev["fwVersion"].toArray();
  k.device.hwMajor = uint8_t(hw.at(0).toInt(1));
  k.device.hwMinor = uint8_t(hw.at(1).toInt(0));
  k.device.fwMajor = uint8_t(fw.at(0).toInt(1));
  k.device.fwMinor = uint8_t(fw.at(1).toInt(0));
  k.device.totalSpace = u32(dev["totalSpace"], k.device.totalSpace);
  k.device.authKey = authKey(dev.value("authKey"));
  for (const QJsonValue& av : obj["applications"].toArray()) {
    QJsonObject ao = av.toObject();
    Application a;
    a.name = text(ao["name"]);
    a.userPin = pinFromJson(ao["userPin"].toObject());
    a.adminPin = pinFromJson(ao["adminPin"].toObject());
    a.createFileRights = u32(ao["createFileRights"], 0xFF);
    for (const QJsonValue& fv : ao["files"].toArray()) {
      QJsonObject fo = fv.toObject();
      FileEntry f;
      f.name = text(fo["name"]);
      f.size = u32(fo["size"], 0);
      f.readRights = u32(fo["readRights"], 0xFF);
      f.writeRights = u32(fo["writeRights"], 0xFF);
      f.blob = uint64_t(fo["blob"].toDouble(0));
      a.files.push_back(std::move(f));
    }
    for (const QJsonValue& cv : ao["containers"].toArray()) {
      QJsonObject co = cv.toObject();
      ContainerEntry c;
      c.name = text(co["name"]);
      c.type = u32(co["type"], 0);
      c.signCert = bytes(co["signCert"]);
      c.signKey = bytes(co["signKey"]);
      c.encCert = bytes(co["encCert"]);
      a.containers.push_back(std::move(c));
    }
    k.apps.push_back(std::move(a));
  }
  k.nextBlob = uint64_t(obj["nextBlob"].toDouble(1));
  *key = std::move(k);
  return true;
}

}  // namespace varo::softkey
