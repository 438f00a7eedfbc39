#pragma once
// One kit run per user at a time, across sessions: a file in the user's own
// %LOCALAPPDATA% held open without write sharing. No other user can create it
// first (the folder is the user's alone), and a crash or logoff frees it.
#include <string>

#include "winlib/status.h"
#include "winlib/unique_handle.h"

namespace kit {

// The user's SID as text; empty for a service account or one it cannot tell.
std::wstring CurrentUserSid();

// The kit's folder in the user's %LOCALAPPDATA%, made if need be.
winlib::Result<std::wstring> LocalKitFolder();

enum class LockStatus {
  Taken,
  Held,  // by another run; holder says which
  Busy,  // held open by some other program for now; holder is the file
};

class UserLock {
 public:
  // The error if the lock can be neither taken nor found held.
  winlib::Result<LockStatus> Take(std::wstring& holder);
  void Release() { file_.reset(); }

 private:
  winlib::UniqueFile file_;
};

}  // namespace kit
