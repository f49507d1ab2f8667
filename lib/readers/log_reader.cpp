#include "readers/log_reader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace velt::readers {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The prefix "hh:mm:ss [level] TAG :" at the start of text: its length, or
// 0 when text does not begin with one.
struct Prefix {
  std::size_t length = 0;
  int level = 0;
  std::string_view tag;
};

Prefix ReadPrefix(std::string_view text) {
  Prefix p;
  if (text.size() < 14) return p;
  const char* t = text.data();
  if (!(IsDigit(t[0]) && IsDigit(t[1]) && t[2] == ':' && IsDigit(t[3]) && IsDigit(t[4]) && t[5] == ':' &&
        IsDigit(t[6]) && IsDigit(t[7]) && t[8] == ' ' && t[9] == '['))
    return p;
  std::size_t at = 10;
  bool negative = false;
  if (at < text.size() && text[at] == '-') {
    negative = true;
    ++at;
  }
  const std::size_t digits = at;
  int level = 0;
  while (at < text.size() && IsDigit(text[at]) && at - digits < 6) level = level * 10 + (text[at++] - '0');
  if (at == digits || at + 1 >= text.size() || text[at] != ']' || text[at + 1] != ' ') return p;
  at += 2;
  const std::size_t tag = at;
  while (at < text.size() && text[at] != ' ') ++at;
  if (at == tag || at + 1 >= text.size() || text[at + 1] != ':') return p;
  p.tag = text.substr(tag, at - tag);
  p.level = negative ? -level : level;
  p.length = at + 2;
  return p;
}

bool IsDumpLine(std::string_view text) {
  if (text.size() < 7) return false;
  if (text.compare(0, 4, "ESC[") == 0) return true;
  return IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2]) && text[3] == '[';
}

struct KnownMessage {
  std::string_view head;
  LogKind kind;
  bool needs_action;
  bool ends_line;     // false: the next message continues the line
  LineFormat format;  // the whole message, to tell one without a line end complete
};

struct KnownMessages {
  KnownMessage list[std::size(kLogMessages)];
  KnownMessages() {
    for (std::size_t i = 0; i < std::size(kLogMessages); ++i) {
      const LogMessage& m = kLogMessages[i];
      const std::size_t length = std::strlen(m.format);
      list[i] = {LiteralHead(m.format), m.kind, m.needs_action, length > 0 && m.format[length - 1] == '\n',
                 CompileFormat(m.format)};
    }
  }
};

const KnownMessage* Classify(std::string_view message) {
  static const KnownMessages known;
  for (const KnownMessage& m : known.list) {
    if (message.size() >= m.head.size() && message.compare(0, m.head.size(), m.head) == 0) return &m;
  }
  return nullptr;
}

void CopyTime(char (&to)[9], std::string_view line) {
  std::memcpy(to, line.data(), 8);
  to[8] = '\0';
}

void NameUnreadable(LogReport* report, int64_t line) {
  ++report->unreadable;
  if (report->unreadable_lines.size() < kNamedLines) report->unreadable_lines.push_back(line);
}

// Where, in a message without a line end, the next message's prefix begins;
// npos when none does.
std::size_t NextPrefix(std::string_view text, std::size_t from) {
  for (std::size_t at = text.find('[', from); at != std::string_view::npos; at = text.find('[', at + 1)) {
    if (at >= 9 + from && ReadPrefix(text.substr(at - 9)).length != 0) return at - 9;
  }
  return std::string_view::npos;
}

void OnMessage(LogReader* r, int64_t line, std::string_view text, const Prefix& prefix) {
  LogReport& report = r->report;
  ++report.messages;
  const int level = prefix.level >= 0 && prefix.level < kLogLevels - 1 ? prefix.level : kLogLevels - 1;
  ++report.by_level[level];
  if (prefix.tag == "SDR") ++report.send_end;
  if (prefix.tag == "RCVR") ++report.recv_end;
  if (report.first[0] == '\0') CopyTime(report.first, text);
  CopyTime(report.last, text);

  const std::string_view message = text.substr(prefix.length);
  const KnownMessage* known = Classify(message);
  LogKindCount& kind = report.kinds[static_cast<int>(known != nullptr ? known->kind : LogKind::kOther)];
  ++kind.count;
  if (kind.first[0] == '\0') CopyTime(kind.first, text);
  CopyTime(kind.last, text);

  std::size_t next = std::string_view::npos;
  if (known != nullptr && !known->ends_line) next = NextPrefix(text, prefix.length + known->head.size());
  if (known != nullptr && known->needs_action) {
    ++report.action_count;
    LogAction action{line, std::string(text.substr(0, next))};
    if (r->on_action != nullptr) r->on_action(r->user, action);
    if (report.actions.size() < kKeptActions) report.actions.push_back(std::move(action));
  }
  if (next != std::string_view::npos) {
    const std::string_view rest = text.substr(next);
    OnMessage(r, line, rest, ReadPrefix(rest));
  }
}

// Whether the text, which has no line end, ends with a whole message that
// the exit writes without one. The exit writes each message in one piece, so
// such a message is complete: it is the last line of a log whose next
// message never came (a receive exit that closed the channel below the level
// that logs more).
bool EndsOpenMessage(std::string_view text) {
  for (;;) {
    const Prefix prefix = ReadPrefix(text);
    if (prefix.length == 0) return false;
    const KnownMessage* known = Classify(text.substr(prefix.length));
    if (known == nullptr || known->ends_line) return false;
    const std::size_t next = NextPrefix(text, prefix.length + known->head.size());
    if (next == std::string_view::npos) {
      Matched numbers;
      return MatchLine(known->format, text.substr(prefix.length), &numbers);
    }
    text = text.substr(next);
  }
}

void OnLine(LogReader* r, int64_t line, std::string_view text) {
  LogReport& report = r->report;
  ++report.lines;
  if (text.empty()) {
    ++report.blank_lines;
    return;
  }
  const Prefix prefix = ReadPrefix(text);
  if (prefix.length != 0) {
    OnMessage(r, line, text, prefix);
  } else if (IsDumpLine(text)) {
    ++report.dump_lines;
  } else {
    NameUnreadable(&report, line);
  }
}

}  // namespace

const char* LogKindName(LogKind kind) {
  switch (kind) {
    case LogKind::kRefusedCompression: return "refused compression";
    case LogKind::kSequenceBreak: return "sequence break";
    case LogKind::kChannelClosed: return "decode failure, channel closed";
    case LogKind::kAllocationFailure: return "allocation failure";
    case LogKind::kConfiguration: return "configuration";
    case LogKind::kOther: return "other";
  }
  return "other";
}

void FeedLog(LogReader* reader, const char* data, std::size_t size) {
  FeedLines(
      &reader->feed, data, size, [reader](int64_t line, std::string_view text) { OnLine(reader, line, text); },
      [reader](int64_t line) {
        ++reader->report.lines;
        NameUnreadable(&reader->report, line);
      });
}

void FinishLog(LogReader* reader) {
  LineFeed& feed = reader->feed;
  if (!feed.overlong && EndsOpenMessage(feed.carry)) {
    const std::string line = std::move(feed.carry);
    feed.carry.clear();
    OnLine(reader, ++feed.lines, line);
  }
  reader->report.partial_last_line = LinePending(feed);
}

}  // namespace velt::readers
