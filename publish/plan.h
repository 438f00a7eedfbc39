#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "publish/master_text.h"

namespace profile_import::publish {

enum class MasterAction { Create, Change, Unchanged };

struct MasterDiff {
  MasterAction action{};
  std::array<bool, kFieldCount>
      changed{};  // every value for Create, and for a master the importer refuses
};

// What writing `values` does to a user's master: `current` is its bytes, or
// nothing when there is none. Equal values are unchanged whatever the bytes.
MasterDiff DiffMaster(const std::optional<std::vector<std::uint8_t>>& current,
                      const MasterValues& values, platform::AnsiCodePage& code_page);

}  // namespace profile_import::publish
