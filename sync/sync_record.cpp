#include "sync/sync_record.h"

#include <algorithm>
#include <array>

#include "profile/hand_off_format.h"
#include "sync/iso_time.h"
#include "sync/text_builder.h"

namespace profile_import::sync {

using namespace std::string_view_literals;

namespace {

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

}  // namespace

void BuildRecordFields(const SyncResult& result, const RecordContext& context,
                       RecordFields& fields) {
  TextBuilder<char16_t> out{std::span{fields.text}.first(kRecordFieldUnits - 1)};
  std::size_t field = 0;
  const auto next = [&] {
    out.Put(u'\0');
    if (field + 1 < kRecordFieldCount) {
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

namespace {

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

platform::EventSeverity SeverityOf(const SyncResult& result, bool heartbeat) {
  return heartbeat || (result.status == SyncStatus::InPlace && result.change == Change::Drift)
             ? platform::EventSeverity::Information
             : FactsOf(result.status).severity;
}

std::size_t FormatRecord(const SyncResult& result, const RecordContext& context,
                         std::span<std::uint8_t> out) {
  static constinit RecordFields fields{};
  fields = RecordFields{};
  BuildRecordFields(result, context, fields);
  // Room kept for the line end, so that a cut line still ends.
  TextBuilder<std::uint8_t> line{out.first(out.size() - 2)};
  for (std::size_t i = 0; i < kRecordFieldCount; ++i) {
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

}  // namespace profile_import::sync
