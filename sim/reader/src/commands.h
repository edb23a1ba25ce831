// The command table of oes-reader. A command is one source file
// (cmd_<name>.cpp) with one run function, and one line in commands.cpp.
#pragma once

#include "reader.h"

namespace reader {

struct Command {
  const char* name;
  const char* arguments;  // usage text after the name
  const char* summary;
  int (*run)(Context&);       // returns an Exit status
  bool needsProvider = true;  // false: runs without loading the provider
};

// All commands, in the order the usage lists them.
const Command* commandsBegin();
const Command* commandsEnd();
const Command* findCommand(const std::string& name);

int runInfo(Context&);
int runDigest(Context&);
int runError(Context&);
int runSeals(Context&);
int runSeal(Context&);
int runSealInfo(Context&);
int runSealImage(Context&);
int runVerify(Context&);
int runSign(Context&);
int runInspect(Context&);
int runCancel(Context&);
int runKeyInfo(Context&);
int runKeySeals(Context&);
int runOnlineSeals(Context&);
int runMakeOfd(Context&);
int runSignOfd(Context&);
int runVerifyOfd(Context&);

}  // namespace reader
