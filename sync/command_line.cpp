#include "sync/command_line.h"

namespace profile_import::sync {
namespace {

bool IsBlank(char16_t unit) {
  return unit == u' ' || unit == u'\t';
}

}  // namespace

bool IsFullPath(std::u16string_view path) {
  const bool drive = path.size() >= 3 && path[1] == u':' && path[2] == u'\\' &&
                     ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
  const bool share = path.size() >= 5 && path.starts_with(u"\\\\") && path[2] != u'\\' &&
                     path[2] != u'?' && path[2] != u'.';
  return drive || share;
}

bool ParseCommandLine(std::u16string_view line, CommandLine& out) {
  std::size_t at = 0;
  // The program's name: up to a blank, or quoted; no backslash rules.
  bool quoted = false;
  while (at < line.size() && (quoted || !IsBlank(line[at]))) {
    quoted = line[at] == u'"' ? !quoted : quoted;
    ++at;
  }
  std::size_t used = 0;
  bool days_next = false;  // the argument after --stale-days
  while (true) {
    while (at < line.size() && IsBlank(line[at])) {
      ++at;
    }
    if (at == line.size()) {
      break;
    }
    const std::size_t start = used;
    quoted = false;
    while (at < line.size() && (quoted || !IsBlank(line[at]))) {
      std::size_t backslashes = 0;
      while (at < line.size() && line[at] == u'\\') {
        ++backslashes;
        ++at;
      }
      const bool quote = at < line.size() && line[at] == u'"';
      std::size_t literal = quote ? backslashes / 2 : backslashes;
      char16_t extra = 0;
      if (quote) {
        if (backslashes % 2 == 1) {
          extra = u'"';
        } else if (quoted && at + 1 < line.size() && line[at + 1] == u'"') {
          extra = u'"';  // "" inside quotes is one quote
          ++at;
        } else {
          quoted = !quoted;
        }
        ++at;
      } else if (at < line.size() && backslashes == 0) {
        extra = line[at++];
      }
      for (; literal != 0; --literal) {
        if (used == out.text.size()) {
          return false;
        }
        out.text[used++] = u'\\';
      }
      if (extra != 0) {
        if (used == out.text.size()) {
          return false;
        }
        out.text[used++] = extra;
      }
    }
    // NOLINTNEXTLINE(*-pointer-arithmetic)
    const std::u16string_view argument{out.text.data() + start, used - start};
    if (days_next) {
      days_next = false;
      for (const char16_t unit : argument) {
        if (unit < u'0' || unit > u'9' || out.stale_days > kMaxStaleDays) {
          return false;
        }
        out.stale_days = out.stale_days * 10 + (unit - u'0');
      }
      if (out.stale_days == 0 || out.stale_days > kMaxStaleDays) {
        return false;
      }
    } else if (argument == u"--stale-days") {
      days_next = true;
    } else if (argument == u"--restore-previous") {
      out.restore = true;
    } else if (argument == u"--check") {
      out.check = true;
    } else if (argument == u"--enforce") {
      out.enforce = true;
    } else if (IsFullPath(argument) && out.master_count < out.masters.size()) {
      out.masters[out.master_count++] = argument;
    } else {
      return false;
    }
  }
  // Putting back what was kept takes no master and no other option.
  return !days_next && (!out.restore || (out.master_count == 0 && !out.check && !out.enforce &&
                                         out.stale_days == 0));
}

}  // namespace profile_import::sync
