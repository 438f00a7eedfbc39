// Measures what a run of the importer costs on this machine, the same way
// under Wine and on Windows: each program is timed from just before
// CreateProcessW to the end of a blocking wait, one at a time, in rounds whose
// order is drawn afresh from a printed seed (a fixed order biases whoever
// follows the slowest program). Two floors: a PE that only exits, and the
// same PE with the importer's manifest, which Windows reads at every start.
// The importer also runs in an empty folder, as at every logon after the
// first, where it finds no hand-off file and exits -1. The batch file runs in
// rounds of its own, after the others, so that cmd.exe and its six processes
// precede none of them. Then, in this process, the importer's four value
// writes with and without the flush that follows them. Every time goes to a
// JSON file.
// It rewrites HKCU\Software\Tessavo hundreds of times, so it runs only when
// the kit's guard (or bench/run.sh, in a prefix of its own) says the key is
// looked after. From a network drive it times local copies of its programs,
// so that no start is opened over the network.
#include <windows.h>

#include <cstdint>
#include <random>
#include <span>
#include <string>

#include "bench/bench_text.h"
#include "bench/lineup.h"
#include "bench/local_copies.h"
#include "bench/options.h"
#include "bench/report.h"
#include "bench/timed_runs.h"
#include "winlib/error_text.h"
#include "winlib/files.h"
#include "winlib/key_guard_variable.h"
#include "winlib/paths.h"
#include "winlib/process.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kNotGuarded = 2;
constexpr int kUnsafeDllSearch = 2;
constexpr int kCannotPrepare = 1;

std::uint32_t FreshSeed() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return static_cast<std::uint32_t>(now.QuadPart) ^ GetCurrentProcessId();
}

// Writes the report's JSON; false after saying why not.
bool WriteJson(const std::wstring& path, const std::string& json) {
  const winlib::Status written = winlib::WriteWholeFile(path, json);
  if (!written.ok()) {
    bench::Print("bench-startup: cannot write " + bench::Narrow(path) + ": " +
                 bench::Narrow(winlib::ErrorText(written)) + "\n");
    return false;
  }
  bench::Print("times: " + bench::Narrow(path) + "\n");
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using namespace bench;
  if (!winlib::SearchSystem32Only()) {
    Print("bench-startup: cannot keep DLLs to System32\n");
    return kUnsafeDllSearch;
  }
  Options options;
  if (!ParseOptions(std::span(argv, static_cast<std::size_t>(argc)).subspan(1), options)) {
    Print(Usage());
    return kUsageError;
  }
  if (!winlib::KeyGuarded()) {
    Print(
        "bench-startup: refusing to run: it rewrites HKCU\\Software\\Tessavo hundreds of times; "
        "run run-bench.cmd [ROUNDS] [--seed N] instead, which backs the key up first and puts it "
        "back afterwards\n");
    return kNotGuarded;
  }
  if (!options.seeded) {
    options.seed = FreshSeed();
  }
  std::mt19937 random(options.seed);
  Print("bench-startup: seed " + std::to_string(options.seed) + ", " +
        std::to_string(options.rounds) + " rounds after " + std::to_string(kWarmupRounds) +
        " warm-up rounds (repeat the order with --seed " + std::to_string(options.seed) + ")\n");

  const winlib::Result<std::wstring> own = winlib::ProgramFolder();
  if (!own.ok()) {
    Print("bench-startup: cannot tell its own folder: " + ErrorDescription(own.status) + "\n");
    return kCannotPrepare;
  }
  WorkFolder folder;
  const winlib::Status prepared = MakeWorkFolder(options, own.value, folder);
  if (!prepared.ok()) {
    Print("bench-startup: cannot write " + Narrow(folder.work) +
          "\\import.bat or the sync master: " + ErrorDescription(prepared) + "\n");
    folder.Remove();
    return kCannotPrepare;
  }
  Lineup lineup = MakeLineup(own.value, folder, options);
  std::vector<Program*> together = lineup.Together();
  const std::vector<Program*> apart = lineup.Apart();
  if (OnNetworkDrive(own.value)) {
    const std::wstring local = folder.work + L"\\programs";
    std::vector<Program*> copied = together;
    copied.insert(copied.end(), apart.begin(), apart.end());
    if (!TimeLocalCopies(copied, own.value, local, folder.made)) {
      folder.Remove();
      return kCannotPrepare;
    }
    Print("bench-startup: the kit is on a network drive; timing copies in " + Narrow(local) + "\n");
  }
  TimeRounds(together, options, random, folder.work);
  // Apart from the importer's runs, which store the sample and its other
  // case in turn: profile-sync would find the values changed by hand. Its
  // warm-up run brings the key in line with its master.
  TimeRounds(apart, options, random, folder.work);
  TimeRounds({&lineup.batch}, options, random, folder.work);
  TimeFlush(lineup.writes, lineup.flushed, options, random);
  folder.Remove();

  Print(ReportTable(lineup));
  int failures = FailureCount();
  if (!WriteJson(options.json, ReportJson(lineup, options, failures))) {
    ++failures;
  }
  if (failures != 0) {
    Print("bench-startup: " + std::to_string(failures) + " run(s) went wrong (see above)\n");
  }
  // The manifest's share and profile-sync's on lines of their own, above the
  // last line, which keeps its form.
  Print(RatioLines(lineup));
  return failures == 0 ? 0 : 1;
}
