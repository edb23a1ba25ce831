// varo-signd: the local signing service the provider talks to on
// 127.0.0.1 port 9990.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "handler.h"
#include "server.h"
#include "service_log.h"
#include "varo/install_root.h"

namespace {

constexpr int kDefaultPort = 9990;

const char kUsage[] =
    "usage: varo-signd [--seal-dir DIR] [--port N] [--log FILE] [--policy FILE]\n"
    "                  [--pin-file FILE] [--codec LIBRARY]\n"
    "  --seal-dir DIR   seal DER files listed by DIR/index.txt\n"
    "                   (lines: FILE<TAB>SEALID[<TAB>SEALNAME[<TAB>STANDARD]]);\n"
    "                   without it: the seals on the attached keys, listed by the\n"
    "                   installed offline seal-list plug-in and read through the\n"
    "                   installed key driver\n"
    "  --port N         TCP port on 127.0.0.1 (default 9990; 0 picks a free one)\n"
    "  --log FILE       append the log to FILE (default: standard error)\n"
    "  --policy FILE    answers to seal-standing queries, lines IDENTIFIER<TAB>ERR_NAME\n"
    "                   (\"*\" for every other seal; default ERR_NOERR), read per query\n"
    "  --pin-file FILE  answer PIN requests with the first line of FILE, read per\n"
    "                   request (default: ask on the terminal without echo)\n"
    "  --codec LIBRARY  the seal codec (default: the installed sealstruct/SesSealStru.so)\n"
    "Prints \"varo-signd listening on 127.0.0.1:PORT\" once it accepts requests.\n"
    "SIGTERM or SIGINT stops it.\n";

struct Options {
  signd::HandlerConfig handler;
  std::string logFile;
  int port = kDefaultPort;
};

// 0: parsed; 1: help shown; 2: usage error (reported).
int parseOptions(int argc, char** argv, Options* options) {
  options->handler.codecPath = std::string(varo::kInstallRoot) + varo::kCodecLibraryPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 1;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "varo-signd: %s needs a value\n%s", arg.c_str(), kUsage);
      return 2;
    }
    const char* value = argv[++i];
    if (arg == "--seal-dir") {
      if (!*value) {
        std::fprintf(stderr, "varo-signd: --seal-dir needs a directory\n%s", kUsage);
        return 2;
      }
      options->handler.sealDir = value;
    } else if (arg == "--port") {
      if (!signd::parsePort(value, &options->port)) {
        std::fprintf(stderr, "varo-signd: bad port \"%s\"\n", value);
        return 2;
      }
    } else if (arg == "--log") {
      options->logFile = value;
    } else if (arg == "--policy") {
      options->handler.policyFile = value;
    } else if (arg == "--pin-file") {
      options->handler.pinFile = value;
    } else if (arg == "--codec") {
      options->handler.codecPath = value;
    } else {
      std::fprintf(stderr, "varo-signd: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int r = parseOptions(argc, argv, &options)) return r == 1 ? 0 : 2;

  signd::ServiceLog log(options.logFile);
  if (!log.usable()) {
    std::fprintf(stderr, "varo-signd: cannot append to the log %s\n", options.logFile.c_str());
    return 1;
  }
  signd::Server::stopOnSignals();
  signd::Handler handler(options.handler, log);
  signd::Server server(handler, log);
  if (!server.listen(options.port)) {
    std::fprintf(stderr, "varo-signd: cannot listen on 127.0.0.1:%d\n", options.port);
    return 1;
  }
  log.write("started on 127.0.0.1:" + std::to_string(server.port()) + ", seals from " +
            (options.handler.sealDir.empty() ? std::string("the attached keys")
                                             : options.handler.sealDir));
  std::printf("varo-signd listening on 127.0.0.1:%d\n", server.port());
  std::fflush(stdout);
  server.run();
  log.write("stopped");
  return 0;
}
