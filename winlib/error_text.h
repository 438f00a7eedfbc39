#pragma once
#include <string>

#include "winlib/status.h"

namespace winlib {

// The system's text for the status's error, without its closing full stop and
// line break ("Access is denied"); empty if the system has none.
[[nodiscard]] std::wstring ErrorText(Status status);

}  // namespace winlib
