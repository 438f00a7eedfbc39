#pragma once

#include <string>

namespace profile_import::check {

// The checker's own exit code for a command line it cannot follow; every
// other code it gives is the importer's.
inline constexpr int kUsageError = 2;

// What --help prints: the usage, and the file format as kHandOffFields gives it.
std::string HelpText();

}  // namespace profile_import::check
