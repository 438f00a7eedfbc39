#pragma once

#include <string_view>

#include "sync/master_search.h"

namespace profile_import::sync {

// A master's path as given, with each {sid} (in any case, as a path's
// letters are) replaced by the user's SID. False when the result does not
// fit, NUL included.
bool ExpandMasterPath(std::u16string_view given, std::u16string_view sid, MasterPath& out);

}  // namespace profile_import::sync
