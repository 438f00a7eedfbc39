#include "app/run_import.h"

#include <utility>

#include "core/running_account.h"
#include "profile/profile_file.h"
#include "store/profile_key.h"

namespace profile_import {
ImportStatus RunImport(platform::Port& port) {
  // A service's hive, or HKEY_USERS\.DEFAULT standing in for a profile not
  // loaded, is one no user ever sees: importing there would consume the
  // user's file for nothing. Checked before the file is opened, so it stays
  // for the user's own run.
  if (FindRunningAccount(port).kind != AccountKind::User) {
    return ImportStatus::NoUserHive;
  }
  // The file is closed again before the registry is touched.
  const ProfileFileResult file = ReadProfileFile(port);
  switch (file.outcome) {
    case ProfileFileResult::NotOpened:
      return ImportStatus::NoProfileFile;
    case ProfileFileResult::Inaccessible:
      return ImportStatus::FileInaccessible;
    case ProfileFileResult::ReadFailed:
      return ImportStatus::ReadFailed;
    case ProfileFileResult::Rejected:
      return ImportStatus::ProfileRejected;
    case ProfileFileResult::Read:
      break;
  }

  platform::PortOwnedKey key = OpenProfileKey(port);
  if (!key) {
    return ImportStatus::KeyUnavailable;
  }
  const platform::PlatformError written = WriteProfileValues(port, key, file.profile);
  const bool on_disk =
      written == platform::kSuccess && FlushProfileKey(port, key) == platform::kSuccess;
  CloseProfileKey(std::move(key));
  if (written != platform::kSuccess) {
    return ImportStatus::WriteFailed;
  }

  // Deleted only once every value is stored and on disk; a file kept just
  // means a later run imports the same file again.
  if (on_disk) {
    DeleteProfileFile(port, file.bytes);
  }
  return ImportStatus::ImportOk;
}

}  // namespace profile_import
