#pragma once

#include <array>
#include <cstdint>

#include "platform/port.h"
#include "profile/profile_text.h"
#include "profile/site_profile.h"

namespace profile_import {

// Looked for by this relative name, so in the current working directory.
inline constexpr const char16_t* kProfileFileName = u"sysfile.cfg";

// The bytes of one read of the file, zero-filled past its end.
using ProfileReadBuffer = std::array<std::uint8_t, kProfileReadSize>;

struct ProfileFileResult {
  enum Outcome {
    NotOpened,     // nothing to import: absent, or another run holds or is deleting it
    Inaccessible,  // there, but could not be opened: refused, a folder, any other error
    ReadFailed,    // opened, but the read failed
    Rejected,      // read, but the text is not a valid profile
    Read,          // read and accepted: `profile` holds it
  };
  Outcome outcome{};
  SiteProfile profile;
  ProfileReadBuffer bytes{};  // what the read gave, so the deletion can tell it is the same file
};

// Opens the file without sharing, reads it once, closes it, and parses it.
ProfileFileResult ReadProfileFile(platform::Port& port);

// What a failed open of the file means, from CreateFileW's error and NT
// status. Only "no file" and
// "another run has it" mean there is nothing to do: any other failure leaves
// a profile behind that someone has to see to. A second run meets the first
// one's file while it is held (a sharing violation) or while its deletion is
// pending, which Windows reports as access denied.
inline ProfileFileResult::Outcome OpenFailure(const platform::FileResult& failed) {
  switch (failed.error) {
    case platform::kErrorFileNotFound:
    case platform::kErrorPathNotFound:
    case platform::kErrorSharingViolation:
      return ProfileFileResult::NotOpened;
    case platform::kErrorAccessDenied:
      return failed.status == platform::kStatusDeletePending ? ProfileFileResult::NotOpened
                                                             : ProfileFileResult::Inaccessible;
    default:
      return ProfileFileResult::Inaccessible;
  }
}

// Deletes the file only if it still starts with the bytes that were imported:
// a file put in its place since the read stays for the next run. A link named
// like the file is never deleted, nor what it points to. Reports nothing; any
// failure leaves the file where it is.
void DeleteProfileFile(platform::Port& port, const ProfileReadBuffer& imported);

}  // namespace profile_import
