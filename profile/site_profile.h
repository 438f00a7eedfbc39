#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "profile/hand_off_format.h"

namespace profile_import {

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
  FixedText<kHandOffFields[kCorp].capacity> Corp;
  FixedText<kHandOffFields[kDataBase].capacity> DataBase;
  FixedText<kHandOffFields[kAdmin].capacity> Admin;
  FixedText<kHandOffFields[kUser].capacity> User;

  // In the order of kHandOffFields.
  [[nodiscard]] std::array<std::u16string_view, kFieldCount> Texts() const {
    const auto texts = std::to_array<std::u16string_view>(
        {Corp.View(), DataBase.View(), Admin.View(), User.View()});
    // A field added to the format and not here would read as empty.
    static_assert(std::tuple_size_v<decltype(texts)> == kFieldCount);
    return texts;
  }
};

}  // namespace profile_import
