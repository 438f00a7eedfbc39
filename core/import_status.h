#pragma once

#include <cstdint>

namespace profile_import {

// The outcome of a run, returned unchanged as the process exit code.
enum class ImportStatus : std::int32_t {
  ImportOk = 0,           // all four values stored; deletion of the file attempted
  NoProfileFile = -1,     // no file, or another run has it (open or being deleted); nothing touched
  KeyUnavailable = -2,    // the key could be neither opened nor created; file kept
  WriteFailed = -3,       // a write failed; earlier values stay written, file kept
  ReadFailed = -4,        // the file opened but could not be read; file kept
  ProfileRejected = -5,   // the text is not a valid profile; registry untouched, file kept
  FileInaccessible = -6,  // the file is there but cannot be opened; nothing touched, file kept
  NoUserHive = -7,        // not a person's account, or its hive is not loaded; file never opened
};

}  // namespace profile_import
