#pragma once
// One user's master written, or rolled back, so that at every moment
// sysfile.cfg is the old file or the new one, whole: the new one is written
// beside it, flushed and read back, the old one kept in history, and only
// then is the new one renamed over it. A run stopped at any call leaves a
// state the next run finishes from.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/publish_port.h"
#include "publish/master_text.h"

namespace profile_import::publish {

inline constexpr std::string_view kMasterName = "sysfile.cfg";
// Where a master is written before it is renamed into place; one a stopped
// run left is written over by the next.
inline constexpr std::string_view kNewMasterName = "sysfile.cfg.new";
inline constexpr std::string_view kHistoryFolder = "history";
// A rename over a master a reader holds open fails for as long as the read
// lasts: profile-sync reads one in milliseconds.
inline constexpr std::uint32_t kReplaceWaitMilliseconds = 10000;
inline constexpr std::uint32_t kReplaceRetryMilliseconds = 100;

enum class MasterStep {
  None,
  MakeFolder,
  WriteNew,
  ReadBack,
  KeepHistory,
  Replace,
  ReadCurrent,
  NoHistory,       // rollback: no earlier master to put back
  HistoryRefused,  // rollback: the importer would refuse the earlier master
};

struct MasterOutcome {
  MasterStep failed = MasterStep::None;
  platform::PublishError error = platform::kPublishOk;
  [[nodiscard]] bool ok() const { return failed == MasterStep::None; }
};

// What a failed step was doing, for the summary; with no error, what failed.
std::string_view StepText(MasterStep step);

std::string JoinPath(std::string_view folder, std::string_view name);

// Writes `text` (WriteMaster's) as the master in `folder`, the user's, made
// with the user's ACL unless its parent's listing showed it. `current` is
// the master there now, if any.
MasterOutcome PublishMaster(platform::PublishPort& port, const std::string& folder,
                            std::string_view sid, const MasterText& text,
                            const MasterValues& values,
                            const std::optional<std::vector<std::uint8_t>>& current,
                            bool folder_listed);

// Puts back the newest earlier master that differs from the current one; the
// current one goes to history, so that a second rollback undoes the first.
MasterOutcome RollbackMaster(platform::PublishPort& port, const std::string& folder);

}  // namespace profile_import::publish
