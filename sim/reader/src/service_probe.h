// Whether the local signing service takes connections: the reader's way to
// tell a service that is down from one that answered badly, once a provider
// call that needs the service has failed.
#pragma once

#include <QString>

#include <optional>

namespace reader {

inline constexpr const char* kServiceAddress = "127.0.0.1";
inline constexpr unsigned short kServicePort = 9990;

// Opens a connection to the service and closes it at once, sending nothing
// (the service then has no request to serve). nullopt when the service
// accepted it; otherwise why no connection came about within a second.
std::optional<QString> serviceSilence();

}  // namespace reader
