// varo-sealserver: the seal server of the online seal list. It answers the
// seal-list request of the tokens it knows with the seals of a directory.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "make_token.h"
#include "seal_list_handler.h"
#include "server.h"
#include "service_log.h"

namespace {

constexpr int kDefaultPort = 9991;
constexpr const char* kDefaultAddress = "127.0.0.1";
// The seal-list request is short; this leaves room for long addresses.
constexpr size_t kMaxRequest = 4096;

const char kUsage[] =
    "usage: varo-sealserver --seal-dir DIR [--address ADDRESS] [--port N]\n"
    "                       [--token-id ID]... [--token-file FILE] [--log FILE]\n"
    "       varo-sealserver --make-token ADDRESS PORT TOKENID [FIELD4]\n"
    "  --seal-dir DIR     seal DER files listed by DIR/index.txt\n"
    "                     (lines: FILE<TAB>SEALID[<TAB>SEALNAME[<TAB>STANDARD]])\n"
    "  --address ADDRESS  numeric IPv4 or IPv6 address to listen on (default 127.0.0.1)\n"
    "  --port N           TCP port (default 9991; 0 picks a free one)\n"
    "  --token-id ID      a token id whose requests are answered (repeatable)\n"
    "  --token-file FILE  more token ids, one a line (\"#\" lines skipped), read per request\n"
    "  --log FILE         append the log to FILE (default: standard error)\n"
    "  --make-token       print the token text for the fields and exit\n"
    "Prints \"varo-sealserver listening on ADDRESS:PORT\" once it accepts requests.\n"
    "SIGTERM or SIGINT stops it.\n";

struct Options {
  sealserver::HandlerConfig handler;
  std::string address = kDefaultAddress;
  std::string logFile;
  int port = kDefaultPort;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "varo-sealserver: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// --make-token ADDRESS PORT TOKENID [FIELD4]
int printToken(int argc, char** argv) {
  if (argc < 5 || argc > 6) return usageError("--make-token needs ADDRESS PORT TOKENID [FIELD4]");
  const auto token = sealserver::makeToken(argv[2], argv[3], argv[4], argc > 5 ? argv[5] : "");
  if (!token)
    return usageError(
        "these fields make no token the tool library accepts (numeric address, port 1 to 65535, "
        "token id of 1 to 63 and field 4 of at most 31 printable characters without \"|\", "
        "quote or backslash)");
  std::printf("%s\n", token->c_str());
  return 0;
}

// 0: parsed; 1: help shown; 2: usage error (reported).
int parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 1;
    }
    if (i + 1 >= argc) return usageError(arg + " needs a value");
    const char* value = argv[++i];
    if (arg == "--seal-dir") {
      options->handler.sealDir = value;
    } else if (arg == "--address") {
      options->address = value;
    } else if (arg == "--port") {
      if (!signd::parsePort(value, &options->port))
        return usageError(std::string("bad port \"") + value + "\"");
    } else if (arg == "--token-id") {
      if (!*value) return usageError("--token-id needs a non-empty id");
      options->handler.tokenIds.push_back(value);
    } else if (arg == "--token-file") {
      options->handler.tokenFile = value;
    } else if (arg == "--log") {
      options->logFile = value;
    } else {
      return usageError("unknown option " + arg);
    }
  }
  if (options->handler.sealDir.empty()) return usageError("--seal-dir is required");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--make-token") == 0) return printToken(argc, argv);
  Options options;
  if (int r = parseOptions(argc, argv, &options)) return r == 1 ? 0 : 2;

  signd::ServiceLog log(options.logFile);
  if (!log.usable()) {
    std::fprintf(stderr, "varo-sealserver: cannot append to the log %s\n", options.logFile.c_str());
    return 1;
  }
  signd::Server::stopOnSignals();
  sealserver::SealListHandler handler(options.handler, log);
  signd::ServerLimits limits;
  limits.maxRequest = kMaxRequest;
  signd::Server server(handler, log, limits);
  if (!server.listen(options.address, options.port)) {
    std::fprintf(stderr, "varo-sealserver: cannot listen on %s:%d\n", options.address.c_str(),
                 options.port);
    return 1;
  }
  log.write("started on " + options.address + ":" + std::to_string(server.port()) +
            ", seals from " + options.handler.sealDir);
  std::printf("varo-sealserver listening on %s:%d\n", options.address.c_str(), server.port());
  std::fflush(stdout);
  server.run();
  log.write("stopped");
  return 0;
}
