#include "support/hand_off_files.h"

#include <algorithm>
#include <array>
#include <random>

#include "profile/site_profile.h"

namespace profile_import::testing {
namespace {

// Draws from the engine's raw output only: the standard distributions may
// differ between standard libraries, and the files must not.
class Draw {
 public:
  explicit Draw(std::uint32_t seed) : engine_(seed) {}
  std::size_t Below(std::size_t bound) { return engine_() % bound; }
  bool OneIn(std::size_t n) { return Below(n) == 0; }

 private:
  std::mt19937 engine_;
};

constexpr std::array<std::size_t, kProfileLineCount> kLineCapacity = [] {
  std::array<std::size_t, kProfileLineCount> capacities{};
  for (std::size_t line = 0; line < kProfileLineCount; ++line) {
    const std::size_t field = FieldOfLine(line);
    capacities.at(line) = field == kFieldCount ? 0 : kHandOffFields.at(field).capacity;
  }
  return capacities;
}();

std::string Piece(Draw& draw) {
  switch (draw.Below(8)) {
    case 0:
      return "\r";
    case 1:
      return "\t";
    case 2:
      return "\xC3\xA9";  // é in UTF-8
    case 3:
      return "\xE2\x82\xAC";  // € in UTF-8
    case 4:
      return "\xF0\x9F\x98\x80";  // a character outside the BMP
    case 5:
      return std::string(1, static_cast<char>(0x80 + draw.Below(0x80)));  // lone high byte
    default:
      return std::string(1 + draw.Below(6), static_cast<char>('a' + draw.Below(26)));
  }
}

std::string Line(Draw& draw, std::size_t index) {
  const std::size_t capacity = index < kLineCapacity.size() ? kLineCapacity[index] : 0;
  switch (draw.Below(8)) {
    case 0:
      return {};
    case 1:  // lines 2 and 3 share one capacity, so these also probe the join
      return std::string(capacity, 'x');
    case 2:
      return std::string(capacity + 1, 'x');
    default: {
      std::string line;
      for (std::size_t pieces = draw.Below(6); pieces > 0; --pieces) {
        line += Piece(draw);
      }
      return line;
    }
  }
}

std::string File(Draw& draw) {
  std::string file = draw.OneIn(6) ? "\xEF\xBB\xBF" : "";
  const std::size_t lines = draw.OneIn(6) ? draw.Below(6) : 6 + draw.Below(3);
  for (std::size_t index = 0; index < lines; ++index) {
    file += Line(draw, index);
    const bool last = index + 1 == lines;
    if (!last || !draw.OneIn(3)) {
      file += draw.OneIn(3) ? "\r\n" : "\n";
    }
  }
  if (draw.OneIn(8)) {  // the text ends at a NUL
    file.insert(draw.Below(file.size() + 1), 1, '\0');
  }
  if (draw.OneIn(6)) {
    file.insert(draw.Below(file.size() + 1), kProfileReadSize, 'p');
  }
  return file;
}

}  // namespace

std::vector<std::string> GenerateHandOffFiles(std::uint32_t seed, std::size_t count) {
  Draw draw(seed);
  std::vector<std::string> files;
  files.reserve(count);
  while (files.size() < count) {
    files.push_back(File(draw));
  }
  return files;
}

ParsedProfile ParseAsRead(std::string_view file, platform::AnsiCodePage& code_page) {
  std::array<std::uint8_t, kProfileReadSize> buffer{};
  std::copy_n(file.begin(), std::min(file.size(), buffer.size()), buffer.begin());
  return ParseProfileText(buffer, code_page);
}

}  // namespace profile_import::testing
