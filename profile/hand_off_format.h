#pragma once

#include <array>
#include <cstddef>

namespace profile_import {

// One value of the profile key, and the lines of the hand-off file it is read
// from. The importer, profile-sync and the checker all take the format from
// kHandOffFields; the compiler folds the table, so it costs the importer no
// bytes.
struct HandOffField {
  const char16_t* value_name;  // NUL-terminated, as the registry takes it
  std::size_t capacity;        // UTF-16 code units, terminating NUL excluded
  std::size_t first_line;      // 0-based
  std::size_t line_count;      // consecutive lines, joined with nothing between them
};

// Each field's place in kHandOffFields, and their number.
inline constexpr std::size_t kCorp = 0;
inline constexpr std::size_t kDataBase = 1;
inline constexpr std::size_t kAdmin = 2;
inline constexpr std::size_t kUser = 3;
inline constexpr std::size_t kFieldCount = 4;

inline constexpr std::size_t kProfileLineCount = 6;

// In the order the values are written. A line no field covers is passed over.
inline constexpr std::array<HandOffField, kFieldCount> kHandOffFields = {{
    {u"RegCorp", 63, 0, 1},
    {u"RegDataBase", 31, 1, 2},
    {u"RegAdmin", 31, 4, 1},
    {u"RegUser", 31, 5, 1},
}};

// The largest capacity of any field: a buffer of it holds any one value.
inline constexpr std::size_t kLargestCapacity = [] {
  std::size_t largest = 0;
  for (const HandOffField& field : kHandOffFields) {
    largest = field.capacity > largest ? field.capacity : largest;
  }
  return largest;
}();

// The field fed by a 0-based line, or kFieldCount for a line passed over.
constexpr std::size_t FieldOfLine(std::size_t line) {
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    const HandOffField& f = kHandOffFields[field];
    if (line >= f.first_line && line < f.first_line + f.line_count) {
      return field;
    }
  }
  return kFieldCount;
}

}  // namespace profile_import
