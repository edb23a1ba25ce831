// oes-reader: a command-line stand-in for the document reader. It loads the
// provider by path and calls its OES_* functions the way a reader does.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "varo/install_root.h"

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: oes-reader [--provider PATH] [--json] COMMAND [ARGUMENTS]\n"
               "  --provider PATH  the provider library (default %s/liboesprovider.so)\n"
               "  --json           one JSON object on stdout instead of readable lines\n"
               "commands:\n",
               varo::kInstallRoot);
  for (auto* c = reader::commandsBegin(); c != reader::commandsEnd(); ++c) {
    std::string head = std::string(c->name) + (*c->arguments ? " " : "") + c->arguments;
    std::fprintf(stderr, "  %-22s %s\n", head.c_str(), c->summary);
  }
  std::fprintf(stderr,
               "exit status: 0 success, 1 provider error, 2 usage or input error, "
               "3 the provider or another library the command needs does not load\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string providerPath = std::string(varo::kInstallRoot) + "/liboesprovider.so";
  bool json = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--provider" && i + 1 < argc) {
      providerPath = argv[++i];
    } else if (arg.rfind("--provider=", 0) == 0) {
      providerPath = arg.substr(11);
    } else if (arg == "--help" || arg == "-h") {
      usage();
      return reader::kSuccess;
    } else if (arg.rfind("--", 0) == 0) {
      std::fprintf(stderr, "oes-reader: unknown option %s\n", arg.c_str());
      usage();
      return reader::kUsage;
    } else {
      break;
    }
  }
  if (i >= argc) {
    usage();
    return reader::kUsage;
  }
  const reader::Command* command = reader::findCommand(argv[i]);
  if (!command) {
    std::fprintf(stderr, "oes-reader: unknown command %s\n", argv[i]);
    usage();
    return reader::kUsage;
  }

  // "--json" may also follow the command's arguments.
  std::vector<std::string> args;
  for (int k = i + 1; k < argc; ++k) {
    if (std::string(argv[k]) == "--json")
      json = true;
    else
      args.emplace_back(argv[k]);
  }
  reader::Output out(json);
  // A command that does not use the provider runs without loading it.
  varo::LoadedLibrary provider(command->needsProvider ? providerPath : std::string());
  int status;
  if (command->needsProvider && !provider.isLoaded()) {
    out.error(QString("cannot load the provider %1: %2")
                  .arg(QString::fromStdString(providerPath),
                       QString::fromStdString(provider.errorString())));
    status = reader::kNoProvider;
  } else {
    reader::Context ctx{provider, args, out};
    status = command->run(ctx);
  }
  out.finish(command->name);
  return status;
}
