#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "profile/hand_off_format.h"
#include "profile/profile_text.h"

namespace profile_import::publish {

// One user's four values, in the order of kHandOffFields.
using MasterValues = std::array<std::u16string, kFieldCount>;

enum class MasterVerdict {
  Written,
  LineEndInValue,   // a CR or LF: the reader would split or drop it
  Refused,          // the reader refuses the text it makes (a value over its capacity)
  DoesNotReadBack,  // the reader stores something else (a NUL, a lone surrogate)
};

struct MasterText {
  MasterVerdict verdict{};
  std::size_t field = kFieldCount;  // the value a refusal is about, when it is one value's
  ProfileTextVerdict reader_verdict{};
  std::vector<std::uint8_t> bytes;  // the whole file; empty unless Written
};

// The master for `values`: UTF-8 with its mark and LF line ends, one line per
// line of the format, each value on its field's first line. Kept only if the
// importer's own parser reads it back as exactly `values`.
MasterText WriteMaster(const MasterValues& values);

// Stands for the machine's ANSI code page where a master must be UTF-8 or
// UTF-16: one that decodes nothing.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor): final, never deleted through its base
class NoCodePage final : public platform::AnsiCodePage {
 public:
  std::size_t multiByteToWideChar(std::span<const std::uint8_t> /*bytes*/,
                                  std::span<char16_t> /*out*/) override {
    return 0;
  }
};

// The values the importer would store from `bytes`, or nothing when it would
// refuse them. Masters written elsewhere may be in an ANSI code page.
bool ReadMaster(const std::vector<std::uint8_t>& bytes, platform::AnsiCodePage& code_page,
                MasterValues& values);

}  // namespace profile_import::publish
