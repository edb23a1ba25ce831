// The installed key drivers asked directly, as their callers load them (by
// path, the object from getObj): the driver's text of a result code, and
// why the seal list of the attached keys is empty.
#pragma once

#include <QString>

#include <optional>
#include <string>

#include "reader.h"

namespace reader {

// The GM3000 driver of the installation.
std::string installedDriverPath();

// The driver's text for code (GetErrorMsg; empty when it has none), or
// nullopt with *why when the driver cannot be used.
std::optional<QString> driverText(unsigned long code, QString* why);

// What the drivers say about an empty seal list, worst first.
enum class EmptyList {
  LibraryFailed,    // a driver, or the key library a driver needs, does not load
  SealsListed,      // the drivers list seals for this process after all
  KeysWithoutSeal,  // keys are attached, but none gives a seal
  NoKey,            // no key is attached
};

struct EmptyListCause {
  EmptyList kind = EmptyList::NoKey;
  QString text;  // what each driver says, "; " between them
};

// Every driver of the installed driver directory, as the offline seal-list
// plug-in finds them, asked for the size of its seal list.
EmptyListCause emptyListCause();

// After a seal list without a seal: names its cause and returns the exit
// status, kNoProvider (with an error) when a library does not load, else
// kSuccess. fromService: the local service made the list, and it may see
// other keys than this process.
int reportEmptyList(Context& ctx, bool fromService);

}  // namespace reader
