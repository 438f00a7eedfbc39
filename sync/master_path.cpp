#include "sync/master_path.h"

#include <cstddef>
#include <span>

#include "sync/text_builder.h"

namespace profile_import::sync {
namespace {

constexpr std::u16string_view kSidPlaceholder = u"{sid}";

bool IsSidPlaceholder(std::u16string_view text) {
  if (text.size() < kSidPlaceholder.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kSidPlaceholder.size(); ++i) {
    const char16_t unit = text[i] >= u'A' && text[i] <= u'Z' ? text[i] + (u'a' - u'A') : text[i];
    if (unit != kSidPlaceholder[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ExpandMasterPath(std::u16string_view given, std::u16string_view sid, MasterPath& out) {
  TextBuilder<char16_t> path{std::span{out}.first(kMasterPathUnits)};
  std::size_t at = 0;
  while (at < given.size()) {
    // NOLINTNEXTLINE(*-pointer-arithmetic)
    if (IsSidPlaceholder({given.data() + at, given.size() - at})) {
      path.Add(sid);
      at += kSidPlaceholder.size();
    } else {
      path.Put(given[at++]);
    }
  }
  out[path.Length()] = u'\0';
  return !path.Overflowed();
}

}  // namespace profile_import::sync
