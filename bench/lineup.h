#pragma once
// The programs the benchmark times, and where it times them.
#include <string>
#include <vector>

#include "bench/options.h"
#include "bench/timed_runs.h"
#include "winlib/status.h"

namespace bench {

// The work folder and what the runs need in it. Every program starts there,
// beside the hand-off file, unless it has a folder of its own.
struct WorkFolder {
  std::wstring work;
  std::wstring no_file;            // an empty folder, as at every logon after the first
  std::wstring sync_master;        // profile-sync's master copy: the sample
  std::vector<std::wstring> made;  // local copies and their folders, removed in reverse

  // Removes all of it.
  void Remove() const;
};

// Makes the work folder (given, or bench-work beside the benchmark) and the
// files it holds before any run.
[[nodiscard]] winlib::Status MakeWorkFolder(const Options& options, const std::wstring& own,
                                            WorkFolder& folder);

struct Lineup {
  Program importer;
  Program importer_nofile;
  Program sync_equal;
  Program minimal;
  Program manifest_floor;
  Program empty;
  Program batch;
  // Per other architecture, its importer then its own start-up limit.
  std::vector<Program> others;
  Series writes{"writes", {}};
  Series flushed{"writes_flush", {}};

  // Timed together, in the first rounds.
  [[nodiscard]] std::vector<Program*> Together();
  // Timed in rounds of their own after those: the runs that find the key as
  // the importer left it.
  [[nodiscard]] std::vector<Program*> Apart();
};

// own: the benchmark's folder, where the programs are.
[[nodiscard]] Lineup MakeLineup(const std::wstring& own, const WorkFolder& folder,
                                const Options& options);

}  // namespace bench
