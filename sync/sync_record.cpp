#include "sync/sync_record.h"

#include <algorithm>
#include <array>

#include "profile/hand_off_format.h"
#include "sync/iso_time.h"
#include "sync/text_builder.h"

namespace profile_import::sync {
namespace {

using namespace std::string_view_literals;

std::string_view ChangeName(Change change) {
  switch (change) {
    case Change::None:
      return "-"sv;
    case Change::Missing:
      return "missing"sv;
    case Change::Rollout:
      return "rollout"sv;
    case Change::Drift:
      return "drift kept"sv;
    case Change::DriftEnforced:
      return "drift put back"sv;
    case Change::Unfinished:
      return "unfinished write"sv;
    case Change::RolledBack:
      return "rolled back"sv;
  }
  return "-"sv;
}

// The fields as UTF-16 texts, for the event's insertion strings; the log
// line is the same fields joined.
constexpr std::size_t kFieldCount = 13;
constexpr std::size_t kFieldUnits = 2048;

struct Fields {
  std::array<char16_t, kFieldUnits> text{};
  std::array<const char16_t*, kFieldCount> starts{};
};

void BuildFields(const SyncResult& result, const RecordContext& context, Fields& fields) {
  TextBuilder<char16_t> out{std::span{fields.text}.first(kFieldUnits - 1)};
  std::size_t field = 0;
  const auto next = [&] {
    out.Put(u'\0');
    if (field + 1 < kFieldCount) {
      fields.starts[++field] = fields.text.data() + out.Length();  // NOLINT(*-pointer-arithmetic)
    }
  };
  const auto ascii = [&out](std::string_view text) {
    for (const char c : text) {
      out.Put(static_cast<char16_t>(c));
    }
  };
  fields.starts[0] = fields.text.data();
  std::array<char16_t, 24> time{};
  FormatIsoTime(context.now, std::span<char16_t>{time});
  out.Add(time.data());
  next();
  out.Escaped(context.computer.empty() ? u"-" : context.computer);
  next();
  out.Put(u'-');
  next();
  out.Add(result.account.kind == AccountKind::Unknown ? u"-" : result.account.SidText());
  next();
  const StatusFacts& facts = FactsOf(result.status);
  out.Number(static_cast<std::uint32_t>(result.status)).Put(u' ');
  ascii(facts.name);
  next();
  out.Add(u"error ").Number(static_cast<std::uint32_t>(result.error)).Add(u", NT status 0x");
  out.Hex(result.nt_status, 8);
  next();
  bool any = false;
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if ((result.changed >> i & 1U) != 0) {
      out.Add(any ? u"," : u"").Add(kHandOffFields[i].value_name);
      any = true;
    }
  }
  out.Add(any ? u"" : u"-");
  next();
  ascii(context.heartbeat ? "heartbeat"sv : ChangeName(result.change));
  next();
  out.Escaped(result.master_length == 0
                  ? u"-"
                  : std::u16string_view{result.master.data(), result.master_length});
  next();
  ascii("profile-sync "sv);
  ascii(context.version);
  ascii(" "sv);
  ascii(context.architecture);
  next();
  out.Number(context.elapsed_ms).Add(u" ms");
  next();
  const auto words = [&out](const char* text) {
    for (const char* c = text; c != nullptr && *c != '\0'; ++c) {  // NOLINT(*-pointer-arithmetic)
      out.Put(static_cast<char16_t>(*c));
    }
  };
  words(result.detail == nullptr && context.log_note == nullptr ? "-" : result.detail);
  if (context.log_note != nullptr) {
    words(result.detail == nullptr ? "" : "; ");
    words(context.log_note);
  }
  next();
  words(result.masters_from == nullptr ? "-" : result.masters_from);
  next();
}

// Field `index` of a record line, between its tabs. Byte loops: the
// program has no C runtime to search strings with.
std::span<const std::uint8_t> FieldOf(std::span<const std::uint8_t> line, std::size_t index) {
  std::size_t start = 0;
  std::size_t field = 0;
  for (std::size_t at = 0; at <= line.size(); ++at) {
    if (at == line.size() || line[at] == '\t') {
      if (field == index) {
        return line.subspan(start, at - start);
      }
      ++field;
      start = at + 1;
    }
  }
  return {};
}

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// Of the changes, only drift kept is an outcome that repeats: a write is
// followed by values in line, which its record already tells, and the
// heartbeat is nothing to do, recorded.
bool DriftKept(std::span<const std::uint8_t> line) {
  static constexpr std::array<std::uint8_t, 10> kDriftKept = {'d', 'r', 'i', 'f', 't',
                                                              ' ', 'k', 'e', 'p', 't'};
  return SameBytes(FieldOf(line, 7), kDriftKept);
}

bool EndsWithLineEnd(std::span<const std::uint8_t> bytes, std::size_t end) {
  return end >= 2 && bytes[end - 2] == '\r' && bytes[end - 1] == '\n';
}

}  // namespace

std::span<const std::uint8_t> LastLine(std::span<const std::uint8_t> tail, bool from_start) {
  if (!EndsWithLineEnd(tail, tail.size())) {
    return {};
  }
  const std::size_t end = tail.size() - 2;
  std::size_t start = end;
  while (start > 0 && !EndsWithLineEnd(tail, start)) {
    --start;
  }
  if (start == 0 && !from_start) {
    return {};  // the line began before the bytes read
  }
  return tail.subspan(start, end - start);
}

bool SameOutcome(std::span<const std::uint8_t> last, std::span<const std::uint8_t> line) {
  if (EndsWithLineEnd(line, line.size())) {
    line = line.first(line.size() - 2);
  }
  if (last.empty() || DriftKept(last) != DriftKept(line)) {
    return false;
  }
  // The code, the master and the detail.
  return std::ranges::all_of(std::array<std::size_t, 3>{4, 8, 11}, [&](std::size_t field) {
    return SameBytes(FieldOf(last, field), FieldOf(line, field));
  });
}

std::uint32_t EventIdOf(const SyncResult& result, bool heartbeat) {
  if (heartbeat) {
    return kHeartbeatEventId;
  }
  if (result.status == SyncStatus::InPlace && result.change == Change::Drift) {
    return kDriftEventId;
  }
  if (result.status == SyncStatus::InPlace && result.change == Change::RolledBack) {
    return kRolledBackEventId;
  }
  return FactsOf(result.status).event_id;
}

std::size_t FormatRecord(const SyncResult& result, const RecordContext& context,
                         std::span<std::uint8_t> out) {
  static constinit Fields fields{};
  fields = Fields{};
  BuildFields(result, context, fields);
  // Room kept for the line end, so that a cut line still ends.
  TextBuilder<std::uint8_t> line{out.first(out.size() - 2)};
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (i != 0) {
      line.Put('\t');
    }
    line.Utf8Of(fields.starts[i]);
  }
  const std::size_t length = line.Length();
  out[length] = '\r';
  out[length + 1] = '\n';
  return length + 2;
}

SyncStatus SyncMain(platform::SyncPort& port, std::string_view version,
                    std::string_view architecture) {
  // Large for a stack without probes: kept where the loader zero-fills them.
  static constinit CommandLine command{};
  static constinit SyncResult result{};
  static constinit std::array<std::uint8_t, kRecordBytes> line{};
  // cppcheck-suppress variableScope ; static storage, not the stack
  static constinit std::array<std::uint8_t, kRecordBytes> log_tail{};
  static constinit std::array<char16_t, 1024> log_folder{};
  static constinit std::array<char16_t, 1024> log_path{};
  static constinit std::array<char16_t, 1024> rotated_path{};
  static constinit std::array<char16_t, 256> computer{};
  static constinit Fields fields{};

  // A process runs this once; a test runs it many times.
  command = CommandLine{};
  result = SyncResult{};
  log_folder = {};
  log_path = {};
  rotated_path = {};

  port.setErrorMode();
  const std::uint64_t started = port.getTickCount64();
  const std::size_t appdata_length =
      port.getEnvironmentVariable(u"LOCALAPPDATA", std::span{log_folder}.first(800));
  bool has_log = appdata_length != 0;
  // Where the log and the lock go: none without %LOCALAPPDATA%.
  if (has_log) {
    TextBuilder<char16_t> folder{std::span{log_folder}.subspan(appdata_length, 100)};
    folder.Add(kLocalFolder);
    const std::u16string_view folder_path{log_folder.data(), appdata_length + folder.Length()};
    TextBuilder<char16_t> path{std::span{log_path}.first(log_path.size() - 1)};
    path.Add(folder_path).Add(kLogName);
    TextBuilder<char16_t> rotated{std::span{rotated_path}.first(rotated_path.size() - 1)};
    rotated.Add(path.View()).Add(kRotatedSuffix);
    has_log = !path.Overflowed() && !rotated.Overflowed();
  }

  const char16_t* given = port.getCommandLine();
  if (!ParseCommandLine(given == nullptr ? u"" : given, command)) {
    result.status = SyncStatus::Usage;
    result.detail =
        "usage: profile-sync.exe [--check] [--enforce] [--stale-days N] [MASTER...], or "
        "--restore-previous";
  } else {
    RunSync(port, command, has_log ? log_folder.data() : u"", result);
  }

  RecordContext context;
  context.now = port.getSystemTimeAsFileTime();
  context.elapsed_ms = port.getTickCount64() - started;
  context.version = version;
  context.architecture = architecture;
  context.computer = {computer.data(), port.getComputerName(computer)};

  // An outcome that repeats (nothing to do, turned off, no master,
  // unreachable, drift kept) is recorded when it differs from the last
  // record, and once a day; a caller that reads the standard output gets its
  // line every time.
  std::size_t length = FormatRecord(result, context, line);
  bool recorded = true;
  if (result.once_a_day && has_log) {
    const platform::FileTail tail =
        port.readFileTail(log_path.data(), context.now - kHeartbeatTicks, log_tail);
    recorded = tail.last_write_time == 0 || context.now - tail.last_write_time >= kHeartbeatTicks ||
               !SameOutcome(LastLine({log_tail.data(), tail.size}, tail.size < log_tail.size()),
                            {line.data(), length});
  }
  if (recorded && result.status == SyncStatus::InPlace && result.change == Change::None) {
    context.heartbeat = true;
    length = FormatRecord(result, context, line);
  }
  const std::span<const std::uint8_t> text{line.data(), length};
  port.writeStandardOutput(text);
  if (!recorded) {
    return result.status;
  }
  if (has_log && port.appendLine(log_folder.data(), log_path.data(), rotated_path.data(),
                                 kLogLimitBytes, text) == platform::LogWrite::Link) {
    context.log_note = "log not written: its folder or file is a link";
  }
  fields = Fields{};
  BuildFields(result, context, fields);
  const StatusFacts& facts = FactsOf(result.status);
  const platform::EventSeverity severity =
      context.heartbeat || (result.status == SyncStatus::InPlace && result.change == Change::Drift)
          ? platform::EventSeverity::Information
          : facts.severity;
  // The event's user is the token's, which no one but Windows sets.
  const platform::UniqueToken token{port, port.ntOpenProcessToken().token};
  const platform::TokenUser user =
      token ? port.ntQueryInformationToken(token.get()) : platform::TokenUser{};
  port.reportEvent(kEventSource, severity, EventIdOf(result, context.heartbeat),
                   user.known ? &user.sid : nullptr, fields.starts);
  return result.status;
}

}  // namespace profile_import::sync
