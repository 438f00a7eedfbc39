#include "bench/report.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

#include "bench/bench_text.h"
#include "bench/json_text.h"
#include "bench/machine_json.h"

namespace bench {

namespace {

constexpr int kRatioDecimals = 2;

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

// name=a/b, as the lines and the JSON give it.
std::string Ratio(std::string_view name, const Program& a, const Program& b) {
  return std::string(name) + "=" + Fixed(Median(a.ms) / Median(b.ms), kRatioDecimals);
}

struct Ratios {
  std::string sync_equal_nofile;
  std::string nofile_manifest_floor;
  std::string importer_manifest_floor;
  std::string manifest_floor_minimal;
  std::string summary;
};

Ratios RatiosOf(const Lineup& lineup) {
  const double flush_ms = Median(lineup.flushed.ms) - Median(lineup.writes.ms);
  return {
      Ratio("sync-equal/nofile", lineup.sync_equal, lineup.importer_nofile),
      Ratio("nofile/manifest-floor", lineup.importer_nofile, lineup.manifest_floor),
      Ratio("importer/manifest-floor", lineup.importer, lineup.manifest_floor),
      Ratio("manifest-floor/minimal", lineup.manifest_floor, lineup.minimal),
      Ratio("importer/minimal", lineup.importer, lineup.minimal) + " " +
          Ratio("importer/empty", lineup.importer, lineup.empty) +
          " batch/importer=" + Fixed(Median(lineup.batch.ms) / Median(lineup.importer.ms), 1) +
          " flush_ms=" + Fixed(flush_ms, kRatioDecimals),
  };
}

// Each other architecture's importer, then its minimal PE.
template <typename Visit>
void ForEachArchitecture(const Lineup& lineup, Visit visit) {
  for (std::size_t i = 0; i + 1 < lineup.others.size(); i += 2) {
    const Program& importer = lineup.others[i];
    const std::string arch = importer.name.substr(importer.name.find('_') + 1);
    visit(arch, importer, lineup.others[i + 1]);
  }
}

}  // namespace

std::string ReportTable(const Lineup& lineup) {
  std::string table = "                             median ms   p10 ms   p90 ms    runs\n" +
                      Row("profile-import.exe", lineup.importer.ms) +
                      Row("profile-import.exe, no file", lineup.importer_nofile.ms) +
                      Row("profile-sync.exe, in line", lineup.sync_equal.ms) +
                      Row("minimal PE (start-up limit)", lineup.minimal.ms) +
                      Row("minimal PE + its manifest", lineup.manifest_floor.ms) +
                      Row("empty C-runtime program", lineup.empty.ms) +
                      Row("cmd /d /c import.bat", lineup.batch.ms) +
                      Row("4 value writes", lineup.writes.ms) +
                      Row("4 value writes + flush", lineup.flushed.ms);
  ForEachArchitecture(
      lineup, [&table](const std::string& arch, const Program& importer, const Program& minimal) {
        table += Row(arch + " profile-import.exe", importer.ms) +
                 Row(arch + " minimal PE", minimal.ms) + arch + " " +
                 Ratio("importer/minimal", importer, minimal) + "\n";
      });
  return table;
}

std::string RatioLines(const Lineup& lineup) {
  const Ratios ratios = RatiosOf(lineup);
  return ratios.sync_equal_nofile + "\n" + ratios.nofile_manifest_floor + "\n" +
         ratios.importer_manifest_floor + "\n" + ratios.manifest_floor_minimal + "\n" +
         ratios.summary + "\n";
}

std::string ReportJson(const Lineup& lineup, const Options& options, int failures) {
  const Ratios ratios = RatiosOf(lineup);
  std::string json = "{\"seed\":" + std::to_string(options.seed) +
                     ",\"rounds\":" + std::to_string(options.rounds) +
                     ",\"warmup_rounds\":" + std::to_string(kWarmupRounds) + "," + MachineJson() +
                     ",\"failures\":" + std::to_string(failures) + ",\"times_ms\":{";
  std::vector<const Program*> timed = {&lineup.importer, &lineup.minimal, &lineup.manifest_floor,
                                       &lineup.empty};
  std::transform(lineup.others.begin(), lineup.others.end(), std::back_inserter(timed),
                 [](const Program& other) { return &other; });
  timed.insert(timed.end(), {&lineup.importer_nofile, &lineup.sync_equal, &lineup.batch});
  for (const Program* program : timed) {
    json += "\"" + program->name + "\":" + JsonArray(program->ms) + ",";
  }
  json += "\"writes\":" + JsonArray(lineup.writes.ms) +
          ",\"writes_flush\":" + JsonArray(lineup.flushed.ms) +
          "},\"importer_minimal_by_architecture\":{";
  std::string separator;
  ForEachArchitecture(
      lineup, [&](const std::string& arch, const Program& importer, const Program& minimal) {
        // An architecture none of whose starts succeeded has no ratio: null, never NaN.
        const bool timed = !importer.ms.empty() && !minimal.ms.empty();
        json += separator + "\"" + arch + "\":" +
                (timed ? Fixed(Median(importer.ms) / Median(minimal.ms), kRatioDecimals) : "null");
        separator = ",";
      });
  return json + "},\"manifest_floor\":\"" + ratios.nofile_manifest_floor + " " +
         ratios.importer_manifest_floor + " " + ratios.manifest_floor_minimal + "\",\"sync\":\"" +
         ratios.sync_equal_nofile + "\",\"summary\":\"" + ratios.summary + "\"}\n";
}

}  // namespace bench
