#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace profile_import {

// Field capacities in UTF-16 code units, terminating NUL excluded.
inline constexpr std::size_t kCorpCapacity = 63;
inline constexpr std::size_t kDataBaseCapacity = 31;
inline constexpr std::size_t kAdminCapacity = 31;
inline constexpr std::size_t kUserCapacity = 31;

// A NUL-terminated UTF-16 text of at most Capacity code units, held inline so
// that the import never touches the heap.
template <std::size_t Capacity>
class FixedText {
 public:
  static constexpr std::size_t kCapacity = Capacity;

  // Appends the whole of `text`, or nothing when it would not fit.
  bool Append(std::u16string_view text) {
    if (text.size() > Capacity - length_) {
      return false;
    }
    for (char16_t unit : text) {
      units_[length_++] = unit;
    }
    units_[length_] = u'\0';
    return true;
  }

  [[nodiscard]] std::u16string_view View() const { return {units_.data(), length_}; }
  [[nodiscard]] const char16_t* CStr() const { return units_.data(); }
  [[nodiscard]] std::size_t Length() const { return length_; }

 private:
  std::array<char16_t, Capacity + 1> units_{};
  std::size_t length_ = 0;
};

struct SiteProfile {
  FixedText<kCorpCapacity> Corp;
  FixedText<kDataBaseCapacity> DataBase;
  FixedText<kAdminCapacity> Admin;
  FixedText<kUserCapacity> User;
};

}  // namespace profile_import
