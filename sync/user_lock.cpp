#include "sync/user_lock.h"

#include <array>
#include <cstddef>
#include <span>

#include "sync/text_builder.h"

namespace profile_import::sync {
namespace {

// %LOCALAPPDATA% and what profile-sync puts under it.
constexpr std::size_t kLocalPathUnits = 1024;

// Whether a failed open of the lock file is another run's hold on it: open
// without sharing, or being deleted as that run closes it.
bool HeldByAnotherRun(const platform::FileResult& opened) {
  return opened.error == platform::kErrorSharingViolation ||
         opened.error == platform::kErrorDeletePending ||
         opened.status == platform::kStatusDeletePending;
}

}  // namespace

platform::PortOwnedFile TakeUserLock(platform::SyncPort& port, std::uint64_t until,
                                     const char16_t* folder, SyncResult& result) {
  static constinit std::array<char16_t, kLocalPathUnits> path{};
  TextBuilder<char16_t> lock{std::span{path}.first(kLocalPathUnits - 1)};
  lock.Add(folder).Add(kLockName).Put(u'\0');
  if (*folder == u'\0' || lock.Overflowed()) {
    result.Fail(SyncStatus::Busy, platform::kSuccess, "no %LOCALAPPDATA% to hold the lock in");
    return {port, platform::kInvalidFile};
  }
  platform::FileResult opened = port.createLockFile(folder, path.data());
  while (opened.file == platform::kInvalidFile && HeldByAnotherRun(opened) &&
         port.getTickCount64() < until) {
    port.sleep(kLockRetryMilliseconds);
    opened = port.createLockFile(folder, path.data());
  }
  if (opened.file == platform::kInvalidFile) {
    result.Fail(SyncStatus::Busy, opened.error,
                "another run of this user is writing (error 32), or the lock cannot be opened: "
                "try again later");
    result.nt_status = opened.status;
  }
  return {port, opened.file};
}

}  // namespace profile_import::sync
