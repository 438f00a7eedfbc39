#pragma once
// What the benchmark reports: a table of medians and percentiles, the ratios
// it is read by, and every time in a JSON file.
#include <string>

#include "bench/lineup.h"
#include "bench/options.h"

namespace bench {

// The table, one row per program and series, and each other architecture's.
[[nodiscard]] std::string ReportTable(const Lineup& lineup);

// Its ratios, each on a line of its own: profile-sync's and the manifest's
// share, then the summary line, which keeps its form.
[[nodiscard]] std::string RatioLines(const Lineup& lineup);

// Every time, the machine, and the ratios.
[[nodiscard]] std::string ReportJson(const Lineup& lineup, const Options& options, int failures);

}  // namespace bench
