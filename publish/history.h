#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace profile_import::publish {

// How many earlier masters each user's history folder keeps.
inline constexpr std::size_t kHistoryKept = 5;

// The name a master replaced at `file_time` (a FILETIME, UTC) is kept under:
// sysfile.20261210T020501Z.cfg. Names of one form sort as their times do.
std::string HistoryName(std::uint64_t file_time);

// Whether `name` is one HistoryName makes.
bool IsHistoryName(std::string_view name);

// Of a history folder's names, the entries beyond the newest kHistoryKept, to
// delete; names of any other form are left alone.
std::vector<std::string> HistoryToPrune(std::vector<std::string> names);

// The newest entry, to roll back to; empty when there is none.
std::string NewestHistory(const std::vector<std::string>& names);

}  // namespace profile_import::publish
