#include "sync/iso_time.h"

#include <array>

#include "sync/text_builder.h"

namespace profile_import::sync {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kDaysFrom1601To1970 = 134'774;

}  // namespace

std::size_t FormatIsoTime(std::uint64_t file_time, std::span<char16_t> out) {
  const std::uint64_t seconds = file_time / kTicksPerSecond;
  const std::int64_t days = static_cast<std::int64_t>(seconds / 86'400) - kDaysFrom1601To1970;
  const std::uint64_t in_day = seconds % 86'400;
  // Days since 1970 to a civil date (Howard Hinnant's algorithm).
  const std::int64_t shifted = days + 719'468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146'096) / 146'097;
  const auto of_era = static_cast<std::uint64_t>(shifted - era * 146'097);
  const std::uint64_t year_of_era =
      (of_era - of_era / 1'460 + of_era / 36'524 - of_era / 146'096) / 365;
  const std::uint64_t day_of_year =
      of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::uint64_t month_index = (5 * day_of_year + 2) / 153;
  const std::uint64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const std::uint64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const auto year = static_cast<std::uint64_t>(static_cast<std::int64_t>(year_of_era) + era * 400 +
                                               (month <= 2 ? 1 : 0));
  TextBuilder<char16_t> text{out};
  text.Number(year, 4).Put(u'-').Number(month, 2).Put(u'-').Number(day, 2).Put(u'T');
  text.Number(in_day / 3600, 2).Put(u':').Number(in_day / 60 % 60, 2).Put(u':');
  text.Number(in_day % 60, 2).Put(u'Z');
  if (text.Length() < out.size()) {
    out[text.Length()] = u'\0';
  }
  return text.Length();
}

std::uint64_t ParseIsoTime(std::u16string_view text) {
  constexpr std::u16string_view kShape = u"0000-00-00T00:00:00Z";
  if (text.size() != kShape.size()) {
    return 0;
  }
  std::array<std::uint64_t, 6> parts{};  // year, month, day, hour, minute, second
  std::size_t part = 0;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    if (kShape[i] != u'0') {
      if (text[i] != kShape[i]) {
        return 0;
      }
      ++part;
    } else if (text[i] < u'0' || text[i] > u'9') {
      return 0;
    } else {
      parts[part] = parts[part] * 10 + static_cast<std::uint64_t>(text[i] - u'0');
    }
  }
  const auto [year, month, day, hour, minute, second] = parts;
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 59) {
    return 0;
  }
  // A civil date to days since 1970 (Howard Hinnant's algorithm), the inverse of the above.
  const std::uint64_t y = month <= 2 ? year - 1 : year;
  const std::uint64_t era = y / 400;
  const std::uint64_t year_of_era = y - era * 400;
  const std::uint64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::uint64_t of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const std::uint64_t days_from_1601 = era * 146'097 + of_era - 719'468 + kDaysFrom1601To1970;
  return ((days_from_1601 * 24 + hour) * 60 * 60 + minute * 60 + second) * kTicksPerSecond;
}

}  // namespace profile_import::sync
