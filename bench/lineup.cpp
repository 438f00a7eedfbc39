#include "bench/lineup.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <iterator>

#include "bench/bench_inputs.h"
#include "bench/bench_text.h"
#include "core/import_status.h"
#include "winlib/files.h"
#include "winlib/paths.h"

namespace bench {

namespace {

constexpr const wchar_t* kBatchName = L"\\import.bat";

// The importer's exit code where it finds no hand-off file.
constexpr auto kNoProfileFile = static_cast<DWORD>(profile_import::ImportStatus::NoProfileFile);

// A program started by its path alone, quoted.
Program ByPath(const std::string& name, const std::wstring& path) {
  Program program;
  program.name = name;
  program.application = path;
  program.command_line = L"\"" + path + L"\"";
  return program;
}

Program OwnProgram(const std::wstring& own, const std::string& name, const std::wstring& file) {
  return ByPath(name, own + L"\\" + file);
}

}  // namespace

void WorkFolder::Remove() const {
  for (auto path = made.rbegin(); path != made.rend(); ++path) {
    if (DeleteFileW(path->c_str()) == FALSE) {
      RemoveDirectoryW(path->c_str());
    }
  }
  RemoveDirectoryW(no_file.c_str());
  DeleteFileW((sync_master + kHandOffName).c_str());
  RemoveDirectoryW(sync_master.c_str());
  DeleteFileW((work + kHandOffName).c_str());
  DeleteFileW((work + kBatchName).c_str());
  RemoveDirectoryW(work.c_str());
}

winlib::Status MakeWorkFolder(const Options& options, const std::wstring& own, WorkFolder& folder) {
  folder.work = own + L"\\bench-work";
  if (!options.work.empty()) {
    // Made absolute here: each program starts in it, whatever folder it is in.
    const winlib::Result<std::wstring> full = winlib::FullPath(options.work);
    if (!full.ok()) {
      return full.status;
    }
    folder.work = full.value;
  }
  folder.no_file = folder.work + L"\\no-file";
  folder.sync_master = folder.work + L"\\sync-master";
  for (const std::wstring* path : {&folder.work, &folder.no_file, &folder.sync_master}) {
    CreateDirectoryW(path->c_str(), nullptr);
  }
  const winlib::Status batch = winlib::WriteWholeFile(folder.work + kBatchName, kImportBatch);
  if (!batch.ok()) {
    return batch;
  }
  return winlib::WriteWholeFile(folder.sync_master + kHandOffName, kSampleHandOff);
}

std::vector<Program*> Lineup::Together() {
  std::vector<Program*> programs = {&importer, &minimal, &manifest_floor, &empty};
  std::transform(others.begin(), others.end(), std::back_inserter(programs),
                 [](Program& other) { return &other; });
  return programs;
}

std::vector<Program*> Lineup::Apart() {
  return {&importer_nofile, &sync_equal};
}

Lineup MakeLineup(const std::wstring& own, const WorkFolder& folder, const Options& options) {
  Lineup lineup;
  lineup.importer = OwnProgram(own, "importer", L"profile-import.exe");
  lineup.importer.consumes_hand_off = true;
  // What every logon after the first pays: the same importer, where there is
  // no hand-off file.
  lineup.importer_nofile = OwnProgram(own, "importer_nofile", L"profile-import.exe");
  lineup.importer_nofile.expected_code = kNoProfileFile;
  lineup.importer_nofile.folder = folder.no_file;
  // What every logon pays with profile-sync where the profile is in line.
  // --enforce: its warm-up run puts back what the importer's runs stored;
  // every run after it has nothing to do.
  lineup.sync_equal = OwnProgram(own, "sync_equal", L"profile-sync.exe");
  lineup.sync_equal.command_line += L" --enforce \"" + folder.sync_master + kHandOffName + L"\"";
  lineup.sync_equal.no_standard_handles = true;
  lineup.minimal = OwnProgram(own, "minimal", L"bench-minimal-pe.exe");
  lineup.manifest_floor = OwnProgram(own, "manifest_floor", L"bench-manifest-pe.exe");
  lineup.empty = OwnProgram(own, "empty", L"bench-empty-gui.exe");
  // /d: no AutoRun command of the user's or the machine's runs first.
  std::array<wchar_t, MAX_PATH> system{};
  GetSystemDirectoryW(system.data(), MAX_PATH);
  lineup.batch = ByPath("batch", std::wstring(system.data()) + L"\\cmd.exe");
  lineup.batch.command_line = L"cmd.exe /d /c import.bat";
  lineup.batch.consumes_hand_off = true;
  for (const std::wstring& other : options.architectures) {
    const std::string arch = Narrow(other.substr(other.find_last_of(L'\\') + 1));
    lineup.others.push_back(OwnProgram(own, "importer_" + arch, other + L"\\profile-import.exe"));
    lineup.others.back().consumes_hand_off = true;
    lineup.others.push_back(OwnProgram(own, "minimal_" + arch, other + L"\\bench-minimal-pe.exe"));
  }
  return lineup;
}

}  // namespace bench
