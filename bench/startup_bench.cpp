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

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_inputs.h"
#include "check/check_report.h"
#include "check/code_page.h"
#include "platform/windows_port.h"
#include "profile/profile_text.h"
#include "store/profile_key.h"

namespace {

constexpr int kDefaultRounds = 200;
constexpr int kWarmupRounds = 5;
constexpr std::uint32_t kMostRounds = 100000;
constexpr int kUsageError = 2;
constexpr int kNotGuarded = 2;
// The importer's -1 (NoProfileFile): no hand-off file where it started.
constexpr DWORD kNoProfileFile = 0xFFFFFFFF;

struct Options {
  int rounds = kDefaultRounds;
  std::uint32_t seed = 0;
  bool seeded = false;
  std::wstring json = L"bench.json";
  std::wstring work;  // bench-work beside the benchmark unless given
  // Folders beside the benchmark holding another architecture's importer and
  // minimal PE, each pair timed in the same rounds.
  std::vector<std::wstring> architectures;
};

struct Program {
  std::string name;
  std::wstring application;
  std::wstring command_line;
  bool consumes_hand_off;  // the importer and the batch delete the file
  std::vector<double> ms;
  DWORD expected_code = 0;
  std::wstring folder;  // where it starts, if not beside the hand-off file in the work folder
  bool no_standard_handles = false;  // started as at logon: nothing to write a result line to
};

struct Series {
  const char* name;
  std::vector<double> ms;
};

int failures = 0;

void Print(std::string_view text) {
  static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));
}

std::string Fixed(double value, int decimals) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, decimals);
  return {buffer.data(), result.ptr};
}

std::string Narrow(std::wstring_view text) {
  std::string out;
  for (const wchar_t c : text) {
    out += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return out;
}

// JSON string of a UTF-16 text, escaped as the checker escapes it: ASCII only.
std::string JsonString(std::wstring_view text) {
  const std::u16string_view units(reinterpret_cast<const char16_t*>(text.data()), text.size());
  return "\"" + profile_import::check::EscapeForJson(units) + "\"";
}

std::wstring Win32ErrorText(DWORD error) {
  std::array<wchar_t, 256> text{};
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                     text.data(), static_cast<DWORD>(text.size()), nullptr);
  std::wstring out(text.data(), length);
  while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) {
    out.pop_back();
  }
  return out;
}

void ReportFailure(const std::string& what, int round, const std::string& outcome) {
  ++failures;
  Print("bench-startup: " + what + ", " +
        (round < 0 ? "warm-up round " + std::to_string(round + kWarmupRounds + 1)
                   : "round " + std::to_string(round + 1)) +
        ": " + outcome + "\n");
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  static const double ticks_per_ms = [] {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  return static_cast<double>(to.QuadPart - from.QuadPart) / ticks_per_ms;
}

std::wstring Folder(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring OwnFolder() {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
  return Folder(path);
}

bool WriteWholeFile(const std::wstring& path, std::string_view bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const BOOL ok =
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok != FALSE && written == bytes.size();
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

void ReportRestart(const std::string& what, int round) {
  Print("bench-startup: " + what + ", round " + std::to_string(round) +
        ": Wine lost the new process during its start-up (error 1359); starting it again\n");
}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Starts one program in its folder (the work folder unless it has its own)
// and waits for it; the time covers CreateProcessW to the end of the wait.
void TimeRun(Program& program, const std::wstring& work, int round) {
  const std::wstring& folder = program.folder.empty() ? work : program.folder;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (program.no_standard_handles) {
    startup.dwFlags = STARTF_USESTDHANDLES;  // and every handle null
  }
  PROCESS_INFORMATION process{};
  LARGE_INTEGER start{};
  LARGE_INTEGER end{};
  // Now and then Wine's loader ends a new process before it is set up
  // (error 1359, before the program's own code): only that start is made
  // again, and only under Wine, where nothing of the program has run.
  constexpr int kAttempts = 3;
  BOOL started = FALSE;
  for (int attempt = 1; attempt <= kAttempts && started == FALSE; ++attempt) {
    std::wstring command_line = program.command_line;
    QueryPerformanceCounter(&start);
    started = CreateProcessW(program.application.c_str(), command_line.data(), nullptr, nullptr,
                             FALSE, 0, nullptr, folder.c_str(), &startup, &process);
    if (started == FALSE && (GetLastError() != ERROR_INTERNAL_ERROR || !UnderWine())) {
      break;
    }
    if (started == FALSE && attempt < kAttempts) {
      ReportRestart(program.name, round);
    }
  }
  if (started == FALSE) {
    const DWORD error = GetLastError();
    ReportFailure(program.name, round,
                  "could not start " + Narrow(program.application) + ": error " +
                      std::to_string(error) + ", " + Narrow(Win32ErrorText(error)));
    return;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  QueryPerformanceCounter(&end);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (code != program.expected_code) {
    ReportFailure(program.name, round,
                  "exit code " + std::to_string(code) + " (" +
                      std::to_string(static_cast<std::int32_t>(code)) + ")");
  } else if (program.consumes_hand_off &&
             GetFileAttributesW((work + L"\\sysfile.cfg").c_str()) != INVALID_FILE_ATTRIBUTES) {
    ReportFailure(program.name, round, "exit code 0, but sysfile.cfg is still there");
  } else if (round >= 0) {
    program.ms.push_back(Milliseconds(start, end));
  }
}

// Each program once per round, in an order drawn afresh each round, after the
// hand-off file has just been written (not timed).
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
      if (!WriteWholeFile(work + L"\\sysfile.cfg", texts.at(text))) {
        ReportFailure(program->name, round, "could not write sysfile.cfg");
        continue;
      }
      TimeRun(*program, work, round);
    }
  }
}

// The importer's own writes, through its own code, with and without the
// flush, in rounds like the programs'.
void TimeFlush(Series& writes, Series& flushed, const Options& options, std::mt19937& random) {
  using namespace profile_import;
  const std::array<std::string, 2> texts = HandOffTexts();
  std::array<SiteProfile, 2> profiles{};
  check::CodePage code_page{check::MachineCodePage()};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(texts.at(i).data());
    profiles.at(i) = ParseProfileText({bytes, texts.at(i).size()}, code_page).profile;
  }
  platform::WindowsPort port;
  const platform::UniqueKey key = OpenProfileKey(port);
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

double Percentile(std::vector<double> ms, double fraction) {
  if (ms.empty()) {
    return 0.0;
  }
  std::sort(ms.begin(), ms.end());
  const double at = fraction * static_cast<double>(ms.size() - 1);
  const auto below = static_cast<std::size_t>(at);
  const std::size_t above = std::min(below + 1, ms.size() - 1);
  return ms.at(below) + (ms.at(above) - ms.at(below)) * (at - static_cast<double>(below));
}

double Median(const std::vector<double>& ms) {
  return Percentile(ms, 0.5);
}

std::string Row(std::string_view name, const std::vector<double>& ms) {
  std::string row(name);
  row.resize(28, ' ');
  for (const double fraction : {0.5, 0.1, 0.9}) {
    const std::string value = Fixed(Percentile(ms, fraction), 2);
    row += std::string(10 - std::min<std::size_t>(value.size(), 9), ' ') + value;
  }
  const std::string runs = std::to_string(ms.size());
  return row + std::string(8 - std::min<std::size_t>(runs.size(), 7), ' ') + runs + "\n";
}

std::wstring RegistryText(const wchar_t* key, const wchar_t* name) {
  std::array<wchar_t, 256> text{};
  auto size = static_cast<DWORD>(sizeof(text));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  return text.data();
}

// Windows' own version (RtlGetVersion does not depend on a manifest), what the
// registry calls it, and Wine's version under Wine.
std::string MachineJson() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  using WineVersionFunction = const char*(CDECL*)();
  const auto get_version = reinterpret_cast<GetVersionFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
  const auto wine_version = reinterpret_cast<WineVersionFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "wine_get_version")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (get_version != nullptr) {
    get_version(&version);
  }
  const wchar_t* current = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  DWORD revision = 0;
  auto size = static_cast<DWORD>(sizeof(revision));
  RegGetValueW(HKEY_LOCAL_MACHINE, current, L"UBR", RRF_RT_REG_DWORD, nullptr, &revision, &size);
  const std::string wine =
      wine_version != nullptr ? std::string("\"") + wine_version() + "\"" : "null";
  return "\"windows\":{\"version\":\"" + std::to_string(version.dwMajorVersion) + "." +
         std::to_string(version.dwMinorVersion) + "." + std::to_string(version.dwBuildNumber) +
         "\",\"build\":" + std::to_string(version.dwBuildNumber) +
         ",\"revision\":" + std::to_string(revision) +
         ",\"product\":" + JsonString(RegistryText(current, L"ProductName")) +
         ",\"display_version\":" + JsonString(RegistryText(current, L"DisplayVersion")) +
         ",\"wine\":" + wine +
         "},\"cpus\":" + std::to_string(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)) +
         ",\"cpu\":" +
         JsonString(RegistryText(L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                                 L"ProcessorNameString"));
}

std::string JsonArray(const std::vector<double>& ms) {
  std::string out = "[";
  for (const double value : ms) {
    out += (out.size() == 1 ? "" : ",") + Fixed(value, 4);
  }
  return out + "]";
}

// A whole decimal number, or nothing.
std::optional<std::uint32_t> Number(std::wstring_view text) {
  std::uint64_t value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9' || value > 0xFFFFFFFFU / 10) {
      return std::nullopt;
    }
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  if (text.empty() || value > 0xFFFFFFFFU) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

// Another architecture's rows and ratio; its member of the JSON object is
// added to json.
std::string ArchitectureReport(const Program& importer, const Program& minimal, std::string& json) {
  const std::string arch = importer.name.substr(importer.name.find('_') + 1);
  const std::string ratio = Fixed(Median(importer.ms) / Median(minimal.ms), 2);
  json += (json.empty() ? "\"" : ",\"") + arch + "\":" + ratio;
  return Row(arch + " profile-import.exe", importer.ms) + Row(arch + " minimal PE", minimal.ms) +
         arch + " importer/minimal=" + ratio + "\n";
}

bool ParseOptions(std::span<wchar_t*> args, Options& options) {
  for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
    const std::wstring_view option = args[i];
    const std::uint32_t value = Number(args[i + 1]).value_or(0);
    if (option == L"--json") {
      options.json = args[i + 1];
    } else if (option == L"--work") {
      options.work = args[i + 1];
    } else if (option == L"--arch") {
      options.architectures.emplace_back(args[i + 1]);
    } else if (option == L"--seed" && Number(args[i + 1])) {
      options.seed = value;
      options.seeded = true;
    } else if (option == L"--rounds" && value > 0 && value <= kMostRounds) {
      options.rounds = static_cast<int>(value);
    } else {
      return false;
    }
  }
  return args.size() % 2 == 0;
}

// Set by the kit's guard once it has backed up HKCU\Software\Tessavo, and by
// bench/run.sh, whose Wine prefix is the benchmark's own.
bool KeyGuarded() {
  std::array<wchar_t, 2> value{};
  return GetEnvironmentVariableW(L"PROFILE_IMPORT_KEY_GUARD", value.data(),
                                 static_cast<DWORD>(value.size())) != 0;
}

// From a network drive every start would read its program over the network,
// which is not what a program installed on the machine pays.
bool OnNetworkDrive(const std::wstring& folder) {
  if (folder.starts_with(L"\\\\")) {
    return true;
  }
  std::array<wchar_t, MAX_PATH> root{};
  return GetVolumePathNameW(folder.c_str(), root.data(), MAX_PATH) != FALSE &&
         GetDriveTypeW(root.data()) == DRIVE_REMOTE;
}

// Copies each program timed from below the benchmark's folder to the same
// path below the local one, another architecture's folder by its name alone
// (..\arm64 as arm64), and times the copy. Whatever it made goes into made,
// in order, so that it can be removed; false after saying why.
bool TimeLocalCopies(const std::vector<Program*>& programs, const std::wstring& own,
                     const std::wstring& local, std::vector<std::wstring>& made) {
  if (CreateDirectoryW(local.c_str(), nullptr) != FALSE) {
    made.push_back(local);
  }
  const std::wstring below = local + L"\\";
  for (Program* program : programs) {
    std::wstring relative = program->application.substr(own.size() + 1);
    while (relative.starts_with(L"..\\")) {
      relative.erase(0, 3);
    }
    const std::wstring copy = below + relative;
    for (std::size_t at = relative.find(L'\\'); at != std::wstring::npos;
         at = relative.find(L'\\', at + 1)) {
      const std::wstring folder = below + relative.substr(0, at);
      if (CreateDirectoryW(folder.c_str(), nullptr) != FALSE) {
        made.push_back(folder);
      }
    }
    // The importer is timed twice, with and without a hand-off file: one copy.
    if (std::find(made.begin(), made.end(), copy) == made.end()) {
      if (CopyFileW(program->application.c_str(), copy.c_str(), FALSE) == FALSE) {
        const DWORD error = GetLastError();
        Print("bench-startup: cannot copy " + Narrow(program->application) + " to " + Narrow(copy) +
              ": error " + std::to_string(error) + ", " + Narrow(Win32ErrorText(error)) + "\n");
        return false;
      }
      made.push_back(copy);
      // A read-only file on the share must still be deletable here.
      SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    // The quoted path is replaced; any arguments after it stay.
    const std::wstring arguments = program->command_line.substr(program->application.size() + 2);
    program->application = copy;
    program->command_line = L"\"" + copy + L"\"";
    program->command_line += arguments;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(std::span(argv, static_cast<std::size_t>(argc)).subspan(1), options)) {
    Print(
        "usage: bench-startup [--rounds N] [--seed S] [--json FILE] [--work FOLDER]\n"
        "                     [--arch FOLDER]...\n"
        "  times profile-import.exe against the programs beside it, and each FOLDER's\n"
        "  importer against its minimal PE; default 200 rounds, bench.json, and\n"
        "  bench-work beside the benchmark\n");
    return kUsageError;
  }
  if (!KeyGuarded()) {
    Print(
        "bench-startup: refusing to run: it rewrites HKCU\\Software\\Tessavo hundreds of times; "
        "run run-bench.cmd [ROUNDS] [--seed N] instead, which backs the key up first and puts it "
        "back afterwards\n");
    return kNotGuarded;
  }
  if (!options.seeded) {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    options.seed = static_cast<std::uint32_t>(now.QuadPart) ^ GetCurrentProcessId();
  }
  std::mt19937 random(options.seed);
  Print("bench-startup: seed " + std::to_string(options.seed) + ", " +
        std::to_string(options.rounds) + " rounds after " + std::to_string(kWarmupRounds) +
        " warm-up rounds (repeat the order with --seed " + std::to_string(options.seed) + ")\n");

  const std::wstring own = OwnFolder();
  std::wstring work = own + L"\\bench-work";
  if (!options.work.empty()) {
    // Made absolute here: each program starts in it, whatever folder it is in.
    work.resize(MAX_PATH);
    work.resize(GetFullPathNameW(options.work.c_str(), MAX_PATH, work.data(), nullptr));
  }
  CreateDirectoryW(work.c_str(), nullptr);
  const std::wstring no_file = work + L"\\no-file";
  CreateDirectoryW(no_file.c_str(), nullptr);
  // profile-sync's master copy: the sample the importer stores, so that every
  // run after the first has nothing to do.
  const std::wstring sync_master = work + L"\\sync-master";
  CreateDirectoryW(sync_master.c_str(), nullptr);
  std::vector<std::wstring> made;  // the local copies and their folders
  const auto remove_work_files = [&] {
    for (auto path = made.rbegin(); path != made.rend(); ++path) {
      if (DeleteFileW(path->c_str()) == FALSE) {
        RemoveDirectoryW(path->c_str());
      }
    }
    RemoveDirectoryW(no_file.c_str());
    DeleteFileW((sync_master + L"\\sysfile.cfg").c_str());
    RemoveDirectoryW(sync_master.c_str());
    DeleteFileW((work + L"\\sysfile.cfg").c_str());
    DeleteFileW((work + L"\\import.bat").c_str());
    RemoveDirectoryW(work.c_str());
  };
  std::array<wchar_t, MAX_PATH> system{};
  GetSystemDirectoryW(system.data(), MAX_PATH);
  if (!WriteWholeFile(work + L"\\import.bat", kImportBatch) ||
      !WriteWholeFile(sync_master + L"\\sysfile.cfg", kSampleHandOff)) {
    Print("bench-startup: cannot write " + Narrow(work) + "\\import.bat or the sync master\n");
    remove_work_files();
    return 1;
  }
  auto own_program = [&own](const std::string& name, const wchar_t* file) {
    const std::wstring path = own + L"\\" + file;
    return Program{name, path, L"\"" + path + L"\"", false, {}, 0, {}};
  };
  Program importer = own_program("importer", L"profile-import.exe");
  importer.consumes_hand_off = true;
  // What every logon after the first pays: the same importer, where there is
  // no hand-off file.
  Program importer_nofile = own_program("importer_nofile", L"profile-import.exe");
  importer_nofile.expected_code = kNoProfileFile;
  importer_nofile.folder = no_file;
  // What every logon pays with profile-sync where the profile is in line.
  // --enforce: its warm-up run puts back what the importer's runs stored;
  // every run after it has nothing to do.
  Program sync_equal = own_program("sync_equal", L"profile-sync.exe");
  sync_equal.command_line += L" --enforce \"" + sync_master + L"\\sysfile.cfg\"";
  sync_equal.no_standard_handles = true;
  Program minimal = own_program("minimal", L"bench-minimal-pe.exe");
  Program manifest_floor = own_program("manifest_floor", L"bench-manifest-pe.exe");
  Program empty = own_program("empty", L"bench-empty-gui.exe");
  // /d: no AutoRun command of the user's or the machine's runs first.
  Program batch{
      "batch", std::wstring(system.data()) + L"\\cmd.exe", L"cmd.exe /d /c import.bat", true, {}, 0,
      {}};
  // Per other architecture, its importer and its own start-up limit.
  std::vector<Program> others;
  for (const std::wstring& folder : options.architectures) {
    const std::string arch = Narrow(folder.substr(folder.find_last_of(L'\\') + 1));
    others.push_back(own_program("importer_" + arch, (folder + L"\\profile-import.exe").c_str()));
    others.back().consumes_hand_off = true;
    others.push_back(own_program("minimal_" + arch, (folder + L"\\bench-minimal-pe.exe").c_str()));
  }
  std::vector<Program*> timed = {&importer, &minimal, &manifest_floor, &empty};
  const std::vector<Program*> apart = {&importer_nofile, &sync_equal};
  std::transform(others.begin(), others.end(), std::back_inserter(timed),
                 [](Program& other) { return &other; });
  if (OnNetworkDrive(own)) {
    const std::wstring local = work + L"\\programs";
    std::vector<Program*> copied = timed;
    copied.insert(copied.end(), apart.begin(), apart.end());
    if (!TimeLocalCopies(copied, own, local, made)) {
      remove_work_files();
      return 1;
    }
    Print("bench-startup: the kit is on a network drive; timing copies in " + Narrow(local) + "\n");
  }
  TimeRounds(timed, options, random, work);
  // Apart from the importer's runs, which store the sample and its other
  // case in turn: profile-sync would find the values changed by hand. Its
  // warm-up run brings the key in line with its master.
  TimeRounds(apart, options, random, work);
  TimeRounds({&batch}, options, random, work);
  Series writes{"writes", {}};
  Series flushed{"writes_flush", {}};
  TimeFlush(writes, flushed, options, random);
  remove_work_files();

  Print("                             median ms   p10 ms   p90 ms    runs\n");
  Print(Row("profile-import.exe", importer.ms) +
        Row("profile-import.exe, no file", importer_nofile.ms) +
        Row("profile-sync.exe, in line", sync_equal.ms) +
        Row("minimal PE (start-up limit)", minimal.ms) +
        Row("minimal PE + its manifest", manifest_floor.ms) +
        Row("empty C-runtime program", empty.ms) + Row("cmd /d /c import.bat", batch.ms) +
        Row("4 value writes", writes.ms) + Row("4 value writes + flush", flushed.ms));
  std::string others_json;
  for (std::size_t i = 0; i + 1 < others.size(); i += 2) {
    Print(ArchitectureReport(others[i], others[i + 1], others_json));
  }
  const double ratio_minimal = Median(importer.ms) / Median(minimal.ms);
  const std::string sync_equal_nofile =
      "sync-equal/nofile=" + Fixed(Median(sync_equal.ms) / Median(importer_nofile.ms), 2);
  const std::string nofile_manifest_floor =
      "nofile/manifest-floor=" + Fixed(Median(importer_nofile.ms) / Median(manifest_floor.ms), 2);
  const std::string importer_manifest_floor =
      "importer/manifest-floor=" + Fixed(Median(importer.ms) / Median(manifest_floor.ms), 2);
  const std::string manifest_floor_minimal =
      "manifest-floor/minimal=" + Fixed(Median(manifest_floor.ms) / Median(minimal.ms), 2);
  const double ratio_empty = Median(importer.ms) / Median(empty.ms);
  const double ratio_batch = Median(batch.ms) / Median(importer.ms);
  const double flush_ms = Median(flushed.ms) - Median(writes.ms);
  const std::string summary =
      "importer/minimal=" + Fixed(ratio_minimal, 2) + " importer/empty=" + Fixed(ratio_empty, 2) +
      " batch/importer=" + Fixed(ratio_batch, 1) + " flush_ms=" + Fixed(flush_ms, 2);

  std::string json = "{\"seed\":" + std::to_string(options.seed) +
                     ",\"rounds\":" + std::to_string(options.rounds) +
                     ",\"warmup_rounds\":" + std::to_string(kWarmupRounds) + "," + MachineJson() +
                     ",\"failures\":" + std::to_string(failures) + ",\"times_ms\":{";
  timed.insert(timed.end(), apart.begin(), apart.end());
  timed.push_back(&batch);
  for (const Program* program : timed) {
    json += "\"" + program->name + "\":" + JsonArray(program->ms) + ",";
  }
  json += "\"writes\":" + JsonArray(writes.ms) + ",\"writes_flush\":" + JsonArray(flushed.ms) +
          "},\"importer_minimal_by_architecture\":{" + others_json + "},\"manifest_floor\":\"" +
          nofile_manifest_floor + " " + importer_manifest_floor + " " + manifest_floor_minimal +
          "\",\"sync\":\"" + sync_equal_nofile + "\",\"summary\":\"" + summary + "\"}\n";
  FILE* out = _wfopen(options.json.c_str(), L"wb");
  if (out == nullptr || std::fwrite(json.data(), 1, json.size(), out) != json.size() ||
      std::fclose(out) != 0) {
    Print("bench-startup: cannot write " + Narrow(options.json) + "\n");
    ++failures;
  } else {
    Print("times: " + Narrow(options.json) + "\n");
  }
  if (failures != 0) {
    Print("bench-startup: " + std::to_string(failures) + " run(s) went wrong (see above)\n");
  }
  // The manifest's share and profile-sync's on lines of their own, above the
  // last line, which keeps its form.
  Print(sync_equal_nofile + "\n" + nofile_manifest_floor + "\n" + importer_manifest_floor + "\n" +
        manifest_floor_minimal + "\n" + summary + "\n");
  return failures == 0 ? 0 : 1;
}
