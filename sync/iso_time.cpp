#include "sync/iso_time.h"

#include "sync/text_builder.h"

namespace profile_import::sync {

std::size_t FormatIsoTime(std::uint64_t file_time, std::span<char16_t> out) {
  constexpr std::uint64_t kTicksPerSecond = 10'000'000;
  constexpr std::int64_t kDaysFrom1601To1970 = 134'774;
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

}  // namespace profile_import::sync
