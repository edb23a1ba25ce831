#include "seal_list_handler.h"

#include <QByteArray>

#include <algorithm>
#include <fstream>

#include "request_text.h"
#include "seal_index.h"

namespace sealserver {
namespace {

std::string trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// The seal-list JSON: one object per seal, keys in a fixed order; SEALID is
// the seal identifier, the key and module it needs stand in DEVICEURL and
// DLLNAME.
std::string sealListJson(const std::vector<signd::SealEntry>& seals) {
  std::string json = "[";
  for (const auto& s : seals) {
    if (json.size() > 1) json += ",";
    json += "{\"SEALID\":\"" + s.identifier + "\",\"SEALNAME\":\"" + s.name + "\",\"STANDARD\":\"" +
            s.standard + "\",\"DLLNAME\":\"" + s.dllName + "\",\"DEVICEURL\":\"" + s.deviceUrl +
            "\"}";
  }
  return json + "]";
}

std::string error(const std::string& text) {
  return "ERROR: " + text;
}

}  // namespace

std::optional<std::string> SealListHandler::handle(const std::string& request) const {
  const auto com = signd::fieldValue(request, "COM");
  if (trimmed(request).rfind('{', 0) != 0 || com != "6") {
    log_.write("unknown request of " + std::to_string(request.size()) + " bytes");
    return error("unknown command");
  }
  // The request itself, so that what the client sent can be checked.
  log_.write("COM 6 request: " + request);
  const std::string tokenId = signd::fieldValue(request, "TOKENID").value_or("");
  if (!knownToken(tokenId)) {
    log_.write("COM 6: unknown token id \"" + tokenId + "\"");
    return std::string(kUnknownTokenReply);
  }
  return sealList(tokenId);
}

bool SealListHandler::knownToken(const std::string& tokenId) const {
  if (tokenId.empty()) return false;
  if (std::find(config_.tokenIds.begin(), config_.tokenIds.end(), tokenId) !=
      config_.tokenIds.end())
    return true;
  if (config_.tokenFile.empty()) return false;
  std::ifstream file(config_.tokenFile);
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] != '#' && line == tokenId) return true;
  }
  return false;
}

std::string SealListHandler::sealList(const std::string& tokenId) const {
  const auto seals = signd::loadSeals(config_.sealDir, log_);
  if (!seals) {
    log_.write("COM 6: seal index " + config_.sealDir + "/" + signd::kIndexFileName +
               " unreadable");
    return error("seal index unreadable");
  }
  const std::string json = sealListJson(*seals);
  const QByteArray data = QByteArray(json.data(), int(json.size())).toBase64();
  const std::string reply = "{\"COM\":\"6\",\"DATA\":\"" + data.toStdString() + "\"}";
  // The client reads no more: a longer reply would arrive cut and unusable.
  if (reply.size() > kMaxReplySize) {
    log_.write("COM 6: reply of " + std::to_string(reply.size()) + " bytes is too long");
    return error("seal list too long");
  }
  log_.write("COM 6: " + std::to_string(seals->size()) + " seals for token id \"" + tokenId + "\"");
  return reply;
}

}  // namespace sealserver
