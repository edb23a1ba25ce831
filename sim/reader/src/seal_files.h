// Whole-file input and output for the oes-reader seal commands.
#pragma once

#include <string>

#include "reader.h"

namespace reader {

// Reads the file named by path into *bytes; on failure reports it through
// out and returns false.
bool readWholeFile(Output& out, const std::string& path, Bytes* bytes);

// Writes bytes to the file named by path (created or truncated); on failure
// reports it through out and returns false.
bool writeWholeFile(Output& out, const std::string& path, const Bytes& bytes);

}  // namespace reader
