#include "handler.h"

#include <unistd.h>

#include "key_seals.h"
#include "output_files.h"
#include "pin_source.h"
#include "policy.h"
#include "request_text.h"
#include "seal_index.h"
#include "seal_picture.h"

namespace signd {
namespace {

std::string error(const std::string& text) {
  return "ERROR: " + text;
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// The seal-list JSON: one object per seal, keys in a fixed order.
std::string sealListJson(const std::vector<SealEntry>& seals) {
  std::string json = "[";
  for (const auto& s : seals) {
    if (json.size() > 1) json += ",";
    json += "{\"SEALID\":\"" + s.sealId + "\",\"SEALNAME\":\"" + s.name + "\",\"STANDARD\":\"" +
            s.standard + "\",\"DLLNAME\":\"" + s.dllName + "\",\"DEVICEURL\":\"" + s.deviceUrl +
            "\"}";
  }
  return json + "]";
}

std::string countReply(const char* key, const std::string& value, size_t count) {
  return "{\"" + std::string(key) + "\":\"" + value + "\",\"COUNT\":\"" + std::to_string(count) +
         "\"}";
}

}  // namespace

std::optional<std::string> Handler::handle(const std::string& request) const {
  if (trimmed(request) == kPinDialogRequest) return pinDialog();
  auto com = fieldValue(request, "COM");
  if (trimmed(request).rfind('{', 0) == 0 && com) {
    if (*com == "0") return onlineState();
    if (*com == "1") return writeSealList();
    if (*com == "3") return sealStanding(request);
    if (*com == "4") {
      recordReport(request);
      return std::nullopt;
    }
    if (*com == "12") return writeSealFiles();
    if (*com == "13") return writePictureFiles();
  }
  log_.write("unknown request of " + std::to_string(request.size()) + " bytes");
  return error("unknown command");
}

std::string Handler::onlineState() const {
  log_.write("COM 0: online state asked");
  return "{\"COM\":\"0\",\"STATE\":\"ONLINE\"}";
}

std::optional<std::vector<SealEntry>> Handler::seals(bool withDer, std::string* why) const {
  if (!config_.sealDir.empty()) {
    auto seals = loadSeals(config_.sealDir, log_);
    if (!seals) *why = "seal index " + config_.sealDir + "/" + kIndexFileName + " unreadable";
    return seals;
  }
  auto seals = listKeySeals(log_, why);
  if (!seals || !withDer) return seals;
  // A seal that cannot be read is left out, as if it were not listed.
  std::vector<SealEntry> readable;
  const KeySealReader reader;
  for (SealEntry& seal : *seals) {
    std::string unread;
    if (auto der = reader.read(seal, &unread)) {
      seal.der = std::move(*der);
      readable.push_back(std::move(seal));
    } else {
      log_.write("seal \"" + seal.identifier + "\" cannot be read: " + unread);
    }
  }
  return readable;
}

std::string Handler::writeSealList() const {
  std::string why;
  auto seals = this->seals(false, &why);
  if (!seals) {
    log_.write("COM 1: " + why);
    return error(config_.sealDir.empty() ? "seals of the keys unavailable"
                                         : "seal index unreadable");
  }
  const std::string json = sealListJson(*seals);
  // The provider reads at most this much: a longer list would reach the
  // reader cut in the middle of a seal.
  if (json.size() > kMaxSealListSize) {
    log_.write("COM 1: seal list of " + std::to_string(json.size()) + " bytes is too long");
    return error("seal list too long");
  }
  if (!replaceFile(kSealListPath, json)) {
    log_.write(std::string("COM 1: cannot write ") + kSealListPath);
    return error("cannot write the seal list");
  }
  // The seal files are named by identifier alone and the provider asks for
  // them only when they are missing: a file left from an earlier listing
  // may hold the seal of a key that is gone, with the same identifier as a
  // seal of a key attached now. A new list makes them be written afresh.
  for (const SealEntry& seal : *seals) ::unlink(sealFilePath(seal.identifier).c_str());
  log_.write("COM 1: " + std::to_string(seals->size()) + " seals listed");
  return countReply("SEALLIST", kSealListPath, seals->size());
}

std::string Handler::sealStanding(const std::string& request) const {
  const std::string identifier = sealIdentifier(fieldValue(request, "SEALID").value_or(""));
  const std::string answer = policyAnswer(config_.policyFile, identifier);
  const bool withCert = fieldValue(request, "CERT").has_value();
  log_.write("COM 3" + std::string(withCert ? " with certificate" : "") + ": seal \"" + identifier +
             "\" -> " + answer);
  return "{\"ERR\":\"" + answer + "\"}";
}

void Handler::recordReport(const std::string& request) const {
  log_.write("COM 4 report: " + request);
}

std::string Handler::writeSealFiles() const {
  std::string why;
  auto seals = this->seals(true, &why);
  if (!seals) {
    log_.write("COM 12: " + why);
    return error("seals unavailable");
  }
  size_t written = 0;
  for (const auto& s : *seals) {
    if (replaceFile(sealFilePath(s.identifier), s.der))
      ++written;
    else
      log_.write("COM 12: cannot write " + sealFilePath(s.identifier));
  }
  log_.write("COM 12: " + std::to_string(written) + " of " + std::to_string(seals->size()) +
             " seal files written");
  if (written < seals->size()) return error("not every seal file could be written");
  return countReply("RESULT", "OK", written);
}

std::string Handler::writePictureFiles() const {
  std::string why;
  auto seals = this->seals(true, &why);
  if (!seals) {
    log_.write("COM 13: " + why);
    return error("seals unavailable");
  }
  SealCodec codec(config_.codecPath);
  if (!codec.usable()) {
    log_.write("COM 13: seal codec " + config_.codecPath + " not usable: " + codec.error());
    return error("seal codec not available");
  }
  size_t written = 0;
  for (const auto& s : *seals) {
    auto picture = codec.picture(s.der);
    if (!picture) {
      log_.write("COM 13: seal \"" + s.identifier + "\" does not decode");
      continue;
    }
    const std::string path = pictureFilePath(digestText(s.der));
    if (replaceFile(path, pictureRecord(picture->width, picture->height, picture->bytes)))
      ++written;
    else
      log_.write("COM 13: cannot write " + path);
  }
  log_.write("COM 13: " + std::to_string(written) + " of " + std::to_string(seals->size()) +
             " picture files written");
  if (written < seals->size()) return error("not every picture file could be written");
  return countReply("RESULT", "OK", written);
}

std::string Handler::pinDialog() const {
  PinAnswer answer = askPin(config_.pinFile);
  std::string reply = pinReply(answer);
  wipe(answer.pin);
  switch (answer.outcome) {
    case PinOutcome::Answered:
      log_.write("PIN dialog: answered");
      break;
    case PinOutcome::Cancelled:
      log_.write("PIN dialog: cancelled (" + answer.why + ")");
      break;
    case PinOutcome::Refused:
      log_.write("PIN dialog: refused (" + answer.why + ")");
      break;
  }
  return reply;
}

}  // namespace signd
