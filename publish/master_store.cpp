#include "publish/master_store.h"

#include <algorithm>
#include <functional>

#include "publish/folder_acl.h"
#include "publish/history.h"

namespace profile_import::publish {
namespace {

using platform::kPublishAccessDenied;
using platform::kPublishAlreadyExists;
using platform::kPublishOk;
using platform::PublishError;
using platform::PublishPort;

constexpr std::uint64_t kFileTimeSecond = 10'000'000;
// Two runs within one second name their history entries a second apart.
constexpr int kHistoryNameTries = 60;

MasterOutcome Failed(MasterStep step, PublishError error) {
  return {step, error};
}

bool IsMissing(PublishError error) {
  return error == platform::kPublishFileNotFound || error == platform::kPublishPathNotFound;
}

// A name later than every entry there, so that the newest sorts last.
std::string NextHistoryName(std::uint64_t now, const std::string& newest) {
  std::string name = HistoryName(now);
  for (int tries = 0; tries < kHistoryNameTries && name <= newest; ++tries) {
    now += kFileTimeSecond;
    name = HistoryName(now);
  }
  return name;
}

// The history entries, newest first.
PublishError ListHistory(PublishPort& port, const std::string& history,
                         std::vector<std::string>& entries) {
  entries.clear();
  const PublishError error = port.ListFolder(history, false, entries);
  std::erase_if(entries, [](const std::string& name) { return !IsHistoryName(name); });
  std::ranges::sort(entries, std::greater<>());
  return error;
}

// Copies the current master into history, unless the newest entry holds the
// same bytes already: a run stopped after keeping it keeps it once.
PublishError KeepInHistory(PublishPort& port, const std::string& folder,
                           const std::vector<std::uint8_t>& current) {
  const std::string history = JoinPath(folder, kHistoryFolder);
  PublishError error = port.MakeFolder(history, {});
  if (error != kPublishOk && error != kPublishAlreadyExists) {
    return error;
  }
  std::vector<std::string> entries;
  if (error = ListHistory(port, history, entries); error != kPublishOk) {
    return error;
  }
  const std::string newest = entries.empty() ? std::string() : entries.front();
  if (!newest.empty()) {
    std::vector<std::uint8_t> kept;
    if (port.ReadFile(JoinPath(history, newest), kept) == kPublishOk && kept == current) {
      return kPublishOk;
    }
  }
  // Written whole under a name no reader takes, then renamed: an entry is
  // never partial.
  const std::string partial = JoinPath(history, kNewMasterName);
  if (error = port.WriteFileFlushed(partial, current); error != kPublishOk) {
    return error;
  }
  return port.MoveFile(partial, JoinPath(history, NextHistoryName(port.Now(), newest)), false);
}

void PruneHistory(PublishPort& port, const std::string& folder) {
  const std::string history = JoinPath(folder, kHistoryFolder);
  std::vector<std::string> names;
  // An entry left over is only an older master kept: the next run prunes it.
  if (port.ListFolder(history, false, names) != kPublishOk) {
    return;
  }
  const std::vector<std::string> pruned = HistoryToPrune(std::move(names));
  for (const std::string& name : pruned) {
    (void)port.DeleteFile(JoinPath(history, name));
  }
}

// A reader without delete sharing (profile-sync's own read, a scan) holds
// the rename off: it is tried again until the read is over.
PublishError ReplaceWhileHeld(PublishPort& port, const std::string& from, const std::string& to) {
  for (std::uint32_t waited = 0;; waited += kReplaceRetryMilliseconds) {
    const PublishError error = port.MoveFile(from, to, true);
    if ((error != platform::kPublishSharingViolation && error != kPublishAccessDenied) ||
        waited >= kReplaceWaitMilliseconds) {
      return error;
    }
    port.Sleep(kReplaceRetryMilliseconds);
  }
}

}  // namespace

std::string_view StepText(MasterStep step) {
  switch (step) {
    case MasterStep::None:
      return "done";
    case MasterStep::MakeFolder:
      return "making the user's folder";
    case MasterStep::WriteNew:
      return "writing sysfile.cfg.new";
    case MasterStep::ReadBack:
      return "reading sysfile.cfg.new back";
    case MasterStep::KeepHistory:
      return "keeping the current master in history";
    case MasterStep::Replace:
      return "renaming over sysfile.cfg";
    case MasterStep::ReadCurrent:
      return "reading sysfile.cfg";
    case MasterStep::NoHistory:
      return "no earlier master in history";
    case MasterStep::HistoryRefused:
      return "checking the earlier master";
  }
  return "";
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '\\' && path.back() != '/') {
    path += '\\';
  }
  return path.append(name);
}

MasterOutcome PublishMaster(PublishPort& port, const std::string& folder, std::string_view sid,
                            const MasterText& text, const MasterValues& values,
                            const std::optional<std::vector<std::uint8_t>>& current,
                            bool folder_listed) {
  if (!folder_listed) {
    // Whatever is there already under the folder's name, which the listing
    // did not show as a folder (a file, a link), is not the user's folder.
    const PublishError error = port.MakeFolder(folder, UserFolderSddl(sid));
    if (error != kPublishOk) {
      return Failed(MasterStep::MakeFolder, error);
    }
  }
  const std::string written = JoinPath(folder, kNewMasterName);
  if (const PublishError error = port.WriteFileFlushed(written, text.bytes); error != kPublishOk) {
    (void)port.DeleteFile(written);
    return Failed(MasterStep::WriteNew, error);
  }
  // What the share kept, read back through the importer's own parser.
  std::vector<std::uint8_t> back;
  if (const PublishError error = port.ReadFile(written, back); error != kPublishOk) {
    return Failed(MasterStep::ReadBack, error);
  }
  NoCodePage no_code_page;
  MasterValues read{};
  if (back != text.bytes || !ReadMaster(back, no_code_page, read) || read != values) {
    (void)port.DeleteFile(written);
    return Failed(MasterStep::ReadBack, platform::kPublishInvalidData);
  }
  if (current) {
    if (const PublishError error = KeepInHistory(port, folder, *current); error != kPublishOk) {
      return Failed(MasterStep::KeepHistory, error);
    }
  }
  if (const PublishError error = ReplaceWhileHeld(port, written, JoinPath(folder, kMasterName));
      error != kPublishOk) {
    return Failed(MasterStep::Replace, error);
  }
  if (current) {
    PruneHistory(port, folder);
  }
  return {};
}

MasterOutcome RollbackMaster(PublishPort& port, const std::string& folder) {
  const std::string master = JoinPath(folder, kMasterName);
  std::vector<std::uint8_t> current;
  PublishError error = port.ReadFile(master, current);
  const bool has_current = error == kPublishOk;
  if (!has_current && !IsMissing(error)) {
    return Failed(MasterStep::ReadCurrent, error);
  }
  const std::string history = JoinPath(folder, kHistoryFolder);
  std::vector<std::string> entries;
  if (error = ListHistory(port, history, entries); error != kPublishOk) {
    return Failed(MasterStep::NoHistory, IsMissing(error) ? kPublishOk : error);
  }
  // The newest entry may be the current master, kept by a run stopped
  // before its rename, or by this rollback's first half.
  std::vector<std::uint8_t> earlier;
  std::string chosen;
  for (const std::string& entry : entries) {
    if (error = port.ReadFile(JoinPath(history, entry), earlier); error != kPublishOk) {
      return Failed(MasterStep::NoHistory, error);
    }
    if (!has_current || earlier != current) {
      chosen = entry;
      break;
    }
  }
  if (chosen.empty()) {
    return Failed(MasterStep::NoHistory, kPublishOk);
  }
  NoCodePage no_code_page;
  MasterValues values{};
  if (!ReadMaster(earlier, no_code_page, values)) {
    return Failed(MasterStep::HistoryRefused, platform::kPublishInvalidData);
  }
  if (has_current) {
    if (error = KeepInHistory(port, folder, current); error != kPublishOk) {
      return Failed(MasterStep::KeepHistory, error);
    }
  }
  if (error = ReplaceWhileHeld(port, JoinPath(history, chosen), master); error != kPublishOk) {
    return Failed(MasterStep::Replace, error);
  }
  PruneHistory(port, folder);
  return {};
}

}  // namespace profile_import::publish
