#pragma once

#include "platform/port.h"
#include "profile/site_profile.h"

namespace profile_import {

// Looked for by this relative name, so in the current working directory.
inline constexpr const char16_t* kProfileFileName = u"sysfile.cfg";

struct ProfileFileResult {
  enum Outcome {
    NotOpened,   // absent, held open by another process, or access refused
    ReadFailed,  // opened, but the read failed
    Rejected,    // read, but the text is not a valid profile
    Read,        // read and accepted: `profile` holds it
  };
  Outcome outcome{};
  SiteProfile profile;
};

// Opens the file without sharing, reads it once, closes it, and parses it.
ProfileFileResult ReadProfileFile(platform::Port& port);

void DeleteProfileFile(platform::Port& port);

}  // namespace profile_import
