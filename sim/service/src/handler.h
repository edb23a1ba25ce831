// The answers of the service: one request text in, the reply text out (or
// none), with the files the provider reads afterwards written first.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "request_handler.h"
#include "seal_index.h"
#include "service_log.h"

namespace signd {

struct HandlerConfig {
  std::string sealDir;     // empty: the seals on the attached keys
  std::string policyFile;  // empty: every seal in good standing
  std::string pinFile;     // empty: ask on the terminal
  std::string codecPath;   // the seal codec library
};

class Handler : public RequestHandler {
 public:
  Handler(HandlerConfig config, const ServiceLog& log) : config_(std::move(config)), log_(log) {}

  // The reply to send, or nullopt when the request wants none (COM 4).
  std::optional<std::string> handle(const std::string& request) const override;

 private:
  std::string onlineState() const;                             // COM 0
  std::string writeSealList() const;                           // COM 1
  std::string sealStanding(const std::string& request) const;  // COM 3
  void recordReport(const std::string& request) const;         // COM 4
  std::string writeSealFiles() const;                          // COM 12
  std::string writePictureFiles() const;                       // COM 13
  std::string pinDialog() const;                               // InputPINDlg

  // The seals served now, with their DER when withDer is set: those listed
  // by the seal directory's index, or those on the attached keys. nullopt,
  // with the reason in *why, when they cannot be gathered.
  std::optional<std::vector<SealEntry>> seals(bool withDer, std::string* why) const;

  HandlerConfig config_;
  const ServiceLog& log_;
};

}  // namespace signd
