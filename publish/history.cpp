#include "publish/history.h"

#include <algorithm>
#include <array>
#include <functional>

#include "sync/iso_time.h"

namespace profile_import::publish {
namespace {

constexpr std::string_view kPrefix = "sysfile.";
constexpr std::string_view kSuffix = ".cfg";
constexpr std::string_view kStampLayout = "yyyymmddThhmmssZ";
constexpr std::size_t kIsoTimeUnits = 32;

}  // namespace

std::string HistoryName(std::uint64_t file_time) {
  // The ISO time profile-sync writes, without its separators: a file name.
  std::array<char16_t, kIsoTimeUnits> iso{};
  const std::size_t length = sync::FormatIsoTime(file_time, iso);
  std::string name(kPrefix);
  for (std::size_t i = 0; i < length && i < iso.size(); ++i) {
    if (iso[i] != u'-' && iso[i] != u':') {
      name += static_cast<char>(iso[i]);
    }
  }
  return name += kSuffix;
}

bool IsHistoryName(std::string_view name) {
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix) ||
      name.size() != kPrefix.size() + kStampLayout.size() + kSuffix.size()) {
    return false;
  }
  const std::string_view stamp = name.substr(kPrefix.size(), kStampLayout.size());
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
    if (kStampLayout[i] == 'T' || kStampLayout[i] == 'Z' ? stamp[i] != kStampLayout[i] : !digit) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> HistoryToPrune(std::vector<std::string> names) {
  std::erase_if(names, [](const std::string& name) { return !IsHistoryName(name); });
  std::ranges::sort(names, std::greater<>());
  if (names.size() <= kHistoryKept) {
    return {};
  }
  return {names.begin() + kHistoryKept, names.end()};
}

std::string NewestHistory(const std::vector<std::string>& names) {
  std::string newest;
  for (const std::string& name : names) {
    if (IsHistoryName(name) && name > newest) {
      newest = name;
    }
  }
  return newest;
}

}  // namespace profile_import::publish
