#pragma once

#include <array>
#include <cstddef>

namespace profile_import {

// The vendor's key under HKEY_CURRENT_USER, which every key the programs
// write or guard is under, named once; the others are joined to it when
// compiled, in whichever character type their caller uses.
// NOLINTNEXTLINE(*-avoid-c-arrays): a literal's own type, for its length
inline constexpr char16_t kVendorKeyPath[] = u"Software\\Tessavo";

// `parent`\`child`, NUL-terminated, in `Char`; ASCII names only, as these are.
template <typename Char, std::size_t ParentSize, std::size_t ChildSize>
// NOLINTBEGIN(*-avoid-c-arrays): literals, for their lengths
consteval std::array<Char, ParentSize + ChildSize> JoinKeyPath(const char16_t (&parent)[ParentSize],
                                                               const char (&child)[ChildSize]) {
  // NOLINTEND(*-avoid-c-arrays)
  std::array<Char, ParentSize + ChildSize> path{};
  std::size_t at = 0;
  for (std::size_t i = 0; i + 1 < ParentSize; ++i) {
    path[at++] = static_cast<Char>(parent[i]);
  }
  if (ChildSize > 1) {
    path[at++] = static_cast<Char>('\\');
  }
  for (std::size_t i = 0; i + 1 < ChildSize; ++i) {
    path[at++] = static_cast<Char>(child[i]);
  }
  return path;
}

}  // namespace profile_import
