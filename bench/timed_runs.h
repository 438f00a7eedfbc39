#pragma once
// The timing itself: each program started and waited for, one at a time, in
// rounds whose order is drawn afresh; and the importer's value writes in this
// process, with and without their flush.
#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "bench/options.h"

namespace bench {

inline constexpr int kWarmupRounds = 5;
// The hand-off file, as a name to append to a folder.
inline constexpr const wchar_t* kHandOffName = L"\\sysfile.cfg";

struct Program {
  std::string name;
  std::wstring application;
  std::wstring command_line;
  bool consumes_hand_off = false;  // the importer and the batch delete the file
  std::vector<double> ms;
  DWORD expected_code = 0;
  std::wstring folder;  // where it starts, if not beside the hand-off file in the work folder
  bool no_standard_handles = false;  // started as at logon: nothing to write a result line to
};

struct Series {
  const char* name;
  std::vector<double> ms;
};

// Each program once per round, in an order drawn afresh each round, after the
// hand-off file has just been written in the work folder (not timed).
void TimeRounds(std::vector<Program*> programs, const Options& options, std::mt19937& random,
                const std::wstring& work);

// The importer's own writes, through its own code, with and without the
// flush, in rounds like the programs'.
void TimeFlush(Series& writes, Series& flushed, const Options& options, std::mt19937& random);

// The runs that went wrong so far, each said when it happened.
[[nodiscard]] int FailureCount();

}  // namespace bench
