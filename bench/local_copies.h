#pragma once
// From a network drive every start would read its program over the network,
// which is not what a program installed on the machine pays: the benchmark
// then times local copies.
#include <string>
#include <vector>

#include "bench/timed_runs.h"

namespace bench {

[[nodiscard]] bool OnNetworkDrive(const std::wstring& folder);

// Copies each program timed from below the benchmark's folder (own) to the
// same path below the local one, another architecture's folder by its name
// alone (..\arm64 as arm64), and times the copy. Whatever it made goes into
// made, in order, so that it can be removed; false after saying why.
[[nodiscard]] bool TimeLocalCopies(const std::vector<Program*>& programs, const std::wstring& own,
                                   const std::wstring& local, std::vector<std::wstring>& made);

}  // namespace bench
