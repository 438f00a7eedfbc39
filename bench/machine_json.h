#pragma once
#include <string>

namespace bench {

// The members of the report that say what it was measured on: Windows' own
// version (RtlGetVersion does not depend on a manifest), what the registry
// calls it, Wine's version under Wine, and the CPUs.
std::string MachineJson();

}  // namespace bench
