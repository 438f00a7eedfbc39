#include "bench/timed_runs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "bench/bench_inputs.h"
#include "bench/bench_text.h"
#include "platform/windows_port.h"
#include "profile/profile_text.h"
#include "store/profile_key.h"
#include "winlib/files.h"
#include "winlib/process.h"

namespace bench {

namespace {

int failures = 0;

void ReportFailure(std::string_view what, int round, std::string_view outcome) {
  ++failures;
  Print("bench-startup: " + std::string(what) + ", " +
        (round < 0 ? "warm-up round " + std::to_string(round + kWarmupRounds + 1)
                   : "round " + std::to_string(round + 1)) +
        ": " + std::string(outcome) + "\n");
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  static const double ticks_per_ms = [] {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  return static_cast<double>(to.QuadPart - from.QuadPart) / ticks_per_ms;
}

// Two profiles that differ in every value, used in turn by every run that
// stores one: Windows skips a value write whose data is already stored, which
// would leave that run's flush nothing to write.
std::array<std::string, 2> HandOffTexts() {
  std::string other(kSampleHandOff);
  std::transform(other.begin(), other.end(), other.begin(), [](char c) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return letter ? static_cast<char>(c ^ 0x20) : c;  // the other case
  });
  return {std::string(kSampleHandOff), other};
}

std::wstring HandOffFile(const std::wstring& work) {
  return work + kHandOffName;
}

// Starts one program in its folder (the work folder unless it has its own)
// and waits for it; the time covers CreateProcessW to the end of the wait.
void TimeRun(Program& program, const std::wstring& work, int round) {
  winlib::ProcessStart start{program.application, program.command_line,
                             program.folder.empty() ? work : program.folder};
  if (program.no_standard_handles) {
    start.startup.dwFlags = STARTF_USESTDHANDLES;  // and every handle null
  }
  const winlib::Result<winlib::StartedProcess> started = winlib::StartProcess(start);
  for (int lost = 0; lost < started.value.lost_starts; ++lost) {
    Print("bench-startup: " + program.name + ", round " + std::to_string(round) +
          ": Wine lost the new process during its start-up (error 1359); starting it again\n");
  }
  if (!started.ok()) {
    ReportFailure(
        program.name, round,
        "could not start " + Narrow(program.application) + ": " + ErrorDescription(started.status));
    return;
  }
  const HANDLE process = started.value.process.get();
  WaitForSingleObject(process, INFINITE);
  LARGE_INTEGER end{};
  QueryPerformanceCounter(&end);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  if (code != program.expected_code) {
    ReportFailure(program.name, round,
                  "exit code " + std::to_string(code) + " (" +
                      std::to_string(static_cast<std::int32_t>(code)) + ")");
  } else if (program.consumes_hand_off &&
             GetFileAttributesW(HandOffFile(work).c_str()) != INVALID_FILE_ATTRIBUTES) {
    ReportFailure(program.name, round,
                  "exit code " + std::to_string(code) + ", but sysfile.cfg is still there");
  } else if (round >= 0) {
    program.ms.push_back(Milliseconds(started.value.counter_at_start, end));
  }
}

}  // namespace

void TimeRounds(std::vector<Program*> programs, const Options& options, std::mt19937& random,
                const std::wstring& work) {
  const std::array<std::string, 2> texts = HandOffTexts();
  std::size_t stored = 0;  // the text the key holds, as far as the runs went
  for (int round = -kWarmupRounds; round < options.rounds; ++round) {
    std::shuffle(programs.begin(), programs.end(), random);
    for (Program* program : programs) {
      if (!program->folder.empty()) {
        TimeRun(*program, work, round);  // started elsewhere: no hand-off file for it
        continue;
      }
      // Per run, not per round: a round holds one importer per architecture.
      const std::size_t text = program->consumes_hand_off ? (stored ^= 1) : stored;
      if (!winlib::WriteWholeFile(HandOffFile(work), texts.at(text)).ok()) {
        ReportFailure(program->name, round, "could not write sysfile.cfg");
        continue;
      }
      TimeRun(*program, work, round);
    }
  }
}

void TimeFlush(Series& writes, Series& flushed, const Options& options, std::mt19937& random) {
  using namespace profile_import;
  const std::array<std::string, 2> texts = HandOffTexts();
  std::array<SiteProfile, 2> profiles{};
  // The port reads in the machine's ANSI code page, as the importer does.
  platform::WindowsPort port;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(texts.at(i).data());
    profiles.at(i) = ParseProfileText({bytes, texts.at(i).size()}, port).profile;
  }
  const platform::PortOwnedKey key = OpenProfileKey(port);
  if (!key) {
    ReportFailure("flush", 0, "could not open or create the profile key");
    return;
  }
  std::array<Series*, 2> order = {&writes, &flushed};
  std::size_t next = 0;
  for (int round = -kWarmupRounds; round < options.rounds; ++round) {
    std::shuffle(order.begin(), order.end(), random);
    for (Series* series : order) {
      LARGE_INTEGER start{};
      LARGE_INTEGER end{};
      QueryPerformanceCounter(&start);
      platform::PlatformError error = WriteProfileValues(port, key, profiles.at(next ^= 1));
      if (error == platform::kSuccess && series == &flushed) {
        error = FlushProfileKey(port, key);
      }
      QueryPerformanceCounter(&end);
      if (error != platform::kSuccess) {
        ReportFailure(series->name, round, "registry error " + std::to_string(error));
      } else if (round >= 0) {
        series->ms.push_back(Milliseconds(start, end));
      }
    }
  }
}

int FailureCount() {
  return failures;
}

}  // namespace bench
