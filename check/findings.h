#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "check/check_report.h"

namespace profile_import::check {

// What both reports say of a file, each in its own form.

// A value the importer would store, and where in the file it comes from.
struct FieldView {
  HandOffField format;
  std::u16string_view text;
};

std::array<FieldView, kFieldCount> Fields(const SiteProfile& profile);

// "line 1", "lines 2 and 3": 1-based, as a person counts.
std::string LineList(const HandOffField& field);

// How a 0-based line was decoded ("ASCII", "Windows-1251"), or "-" when it
// was not.
std::string LineEncoding(const CheckedFile& file, std::size_t line);

// The field a too-long refusal is about; kFieldCount for the other rules.
std::size_t RefusedField(ProfileTextVerdict verdict);

// What the importer never looks at, for a file it accepts.
std::vector<std::string> Notes(const CheckedFile& file);

// For a refused file that looks like UTF-16 the reader does not take, or
// whose text is not of the code page it is read with: what to write instead.
// Empty otherwise.
std::string Hint(const CheckedFile& file);

}  // namespace profile_import::check
