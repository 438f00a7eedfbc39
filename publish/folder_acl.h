#pragma once

#include <string>
#include <string_view>

#include "platform/publish_port.h"

namespace profile_import::publish {

// A user's folder as it is made: the user may read it and what it holds,
// Administrators and SYSTEM may do everything, and nothing is inherited
// from the share, whose root may let others in.
std::string UserFolderSddl(std::string_view sid);

// Whether a folder's DACL lets anyone read besides its user, Administrators,
// SYSTEM, and whoever creates a file there (CREATOR OWNER: an administrator,
// where only they may write). No DACL lets everyone.
bool ReadableByOthers(const platform::FolderAcl& acl, std::string_view sid);

}  // namespace profile_import::publish
