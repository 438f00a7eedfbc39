#include "publish/plan.h"

#include <algorithm>

namespace profile_import::publish {

MasterDiff DiffMaster(const std::optional<std::vector<std::uint8_t>>& current,
                      const MasterValues& values, platform::AnsiCodePage& code_page) {
  MasterDiff diff;
  MasterValues stored;
  if (!current) {
    diff.action = MasterAction::Create;
    diff.changed.fill(true);
    return diff;
  }
  if (!ReadMaster(*current, code_page, stored)) {
    diff.action = MasterAction::Change;
    diff.changed.fill(true);
    return diff;
  }
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    diff.changed[field] = stored[field] != values[field];
  }
  diff.action = std::ranges::any_of(diff.changed, [](bool c) { return c; })
                    ? MasterAction::Change
                    : MasterAction::Unchanged;
  return diff;
}

}  // namespace profile_import::publish
