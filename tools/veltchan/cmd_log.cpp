// veltchan log: the exits' logs read back: lines by level, messages by kind
// with their first and last time, and the lines that need action in full;
// with --follow, the files are read on as they grow and each line that needs
// action is printed as it arrives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <thread>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "file_chunks.h"
#include "readers/log_reader.h"
#include "text_out.h"

namespace velt::chan {

namespace {

using readers::LogReport;

volatile std::sig_atomic_t g_stop_following = 0;
extern "C" void StopFollowing(int) { g_stop_following = 1; }

struct FollowedFile {
  std::string path;
  readers::LogReader reader;
  std::FILE* file = nullptr;
  long offset = 0;
  // Which file is open: a rotated log is another file under the same name.
  dev_t device = 0;
  ino_t inode = 0;
  FollowedFile() = default;
  FollowedFile(const FollowedFile&) = delete;
  FollowedFile& operator=(const FollowedFile&) = delete;
  ~FollowedFile() {
    if (file != nullptr) std::fclose(file);
  }
};

void PrintAction(void* user, const readers::LogAction& action) {
  const auto* f = static_cast<const FollowedFile*>(user);
  WriteOut(fmt::format("{}:{}: {}\n", f->path, action.line, action.text));
}

void Open(FollowedFile* f, bool follow) {
  std::FILE* file = OpenForReading(f->path);
  if (f->file != nullptr) std::fclose(f->file);
  f->file = file;
  struct stat st {};
  if (::fstat(::fileno(file), &st) != 0) return;
  f->device = st.st_dev;
  f->inode = st.st_ino;
  // Followed, a pipe is read for what it holds at each poll, without waiting
  // for more.
  if (follow && !S_ISREG(st.st_mode)) ::fcntl(::fileno(file), F_SETFL, ::fcntl(::fileno(file), F_GETFL) | O_NONBLOCK);
}

// What a followed pipe holds now; true when there was any.
bool ReadAvailable(FollowedFile* f, std::vector<char>* buffer) {
  buffer->resize(kChunk);
  bool any = false;
  for (;;) {
    const ssize_t n = ::read(::fileno(f->file), buffer->data(), buffer->size());
    if (n > 0) {
      readers::FeedLog(&f->reader, buffer->data(), static_cast<std::size_t>(n));
      any = true;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      throw UsageError(fmt::format("cannot read {}: {}", f->path, std::strerror(errno)));
    } else {
      return any;  // the writer is gone, or nothing more for now
    }
  }
}

// Reads what the file holds beyond what was read; true when it had grown.
// Another file under the name, or one that became shorter, was rotated: it
// is read afresh. A pipe or other file that is not regular has no size to go
// by: followed, it is read for what it holds now, else on to its end.
bool ReadOn(FollowedFile* f, std::vector<char>* buffer, bool follow) {
  struct stat st {};
  if (::stat(f->path.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode)) {
    if (st.st_dev != f->device || st.st_ino != f->inode || st.st_size < f->offset) {
      Open(f, follow);
      f->offset = 0;
      f->reader.feed = readers::LineFeed{};
    }
    if (st.st_size == f->offset) return false;
    if (std::fseek(f->file, f->offset, SEEK_SET) != 0) return false;
  } else if (follow) {
    return ReadAvailable(f, buffer);
  }
  const std::size_t n = ReadToEnd(
      f->file, f->path, buffer, [f](const char* data, std::size_t size) { readers::FeedLog(&f->reader, data, size); });
  f->offset += static_cast<long>(n);
  return n > 0;
}

// JSON keys of the kinds.
const char* KindKey(LogKind kind) {
  switch (kind) {
    case LogKind::kRefusedCompression: return "refused_compression";
    case LogKind::kSequenceBreak: return "sequence_break";
    case LogKind::kChannelClosed: return "channel_closed";
    case LogKind::kAllocationFailure: return "allocation_failure";
    case LogKind::kConfiguration: return "configuration";
    case LogKind::kOther: return "other";
  }
  return "other";
}

std::string LevelName(int level) { return level < readers::kLogLevels - 1 ? std::to_string(level) : "other"; }

std::string Text(const std::vector<std::unique_ptr<FollowedFile>>& files, bool with_actions) {
  std::string r;
  for (const auto& f : files) {
    const LogReport& s = f->reader.report;
    r += fmt::format(
        "veltchan log: {}: {} line{}: {} message{} (SDR {}, RCVR {}), {} dump line{}, {} blank, {} unreadable", f->path,
        Grouped(s.lines), PluralS(s.lines), Grouped(s.messages), PluralS(s.messages), Grouped(s.send_end),
        Grouped(s.recv_end), Grouped(s.dump_lines), PluralS(s.dump_lines), Grouped(s.blank_lines),
        Grouped(s.unreadable));
    r += s.messages > 0 ? fmt::format("; {} to {}\n", s.first, s.last) : "\n";
    r += "  messages by level:";
    for (int level = 0; level < readers::kLogLevels; ++level)
      if (s.by_level[level] > 0) r += fmt::format("  [{}] {}", LevelName(level), Grouped(s.by_level[level]));
    r += "\n";
    r += fmt::format("  {:<34}{:>10}  {:<8}  {:<8}\n", "messages by kind", "count", "first", "last");
    for (int k = 0; k < kLogKinds; ++k) {
      const readers::LogKindCount& c = s.kinds[k];
      r += fmt::format("  {:<34}{:>10}  {:<8}  {:<8}\n", readers::LogKindName(static_cast<LogKind>(k)),
                       Grouped(c.count), c.count > 0 ? c.first : "-", c.count > 0 ? c.last : "-");
    }
    if (s.unreadable > 0)
      r += fmt::format("  unreadable lines: {} (line {})\n", Grouped(s.unreadable),
                       LineList(s.unreadable_lines, s.unreadable));
    if (s.partial_last_line) r += "  the last line is cut short (the file is still being written): left out\n";
    if (!with_actions) continue;
    if (s.action_count == 0) {
      r += "  no line needs action\n";
      continue;
    }
    r += fmt::format("  lines that need action ({}):\n", Grouped(s.action_count));
    for (const readers::LogAction& a : s.actions) r += fmt::format("    {}:{}: {}\n", f->path, a.line, a.text);
    if (s.action_count > static_cast<int64_t>(s.actions.size()))
      r += fmt::format("    ... {} more\n", Grouped(s.action_count - static_cast<int64_t>(s.actions.size())));
  }
  return r;
}

std::string Json(const std::vector<std::unique_ptr<FollowedFile>>& files) {
  nlohmann::json all = nlohmann::json::array();
  for (const auto& f : files) {
    const LogReport& s = f->reader.report;
    nlohmann::json levels = nlohmann::json::object();
    for (int level = 0; level < readers::kLogLevels; ++level) levels[LevelName(level)] = s.by_level[level];
    nlohmann::json kinds = nlohmann::json::object();
    for (int k = 0; k < kLogKinds; ++k) {
      const readers::LogKindCount& c = s.kinds[k];
      kinds[KindKey(static_cast<LogKind>(k))] = {
          {"count", c.count},
          {"first", c.count > 0 ? nlohmann::json(c.first) : nlohmann::json(nullptr)},
          {"last", c.count > 0 ? nlohmann::json(c.last) : nlohmann::json(nullptr)}};
    }
    nlohmann::json actions = nlohmann::json::array();
    for (const readers::LogAction& a : s.actions) actions.push_back({{"line", a.line}, {"text", a.text}});
    all.push_back({{"file", f->path},
                   {"lines", s.lines},
                   {"messages", s.messages},
                   {"send_end", s.send_end},
                   {"recv_end", s.recv_end},
                   {"dump_lines", s.dump_lines},
                   {"blank_lines", s.blank_lines},
                   {"first", s.messages > 0 ? nlohmann::json(s.first) : nlohmann::json(nullptr)},
                   {"last", s.messages > 0 ? nlohmann::json(s.last) : nlohmann::json(nullptr)},
                   {"by_level", levels},
                   {"by_kind", kinds},
                   {"action_count", s.action_count},
                   {"actions", actions},
                   {"unreadable", s.unreadable},
                   {"unreadable_lines", s.unreadable_lines},
                   {"partial_last_line", s.partial_last_line}});
  }
  return nlohmann::json{{"files", all}}.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace

int RunLogCommand(const LogOptions& o) {
  std::vector<std::unique_ptr<FollowedFile>> files;
  for (const std::string& path : o.files) {
    auto f = std::make_unique<FollowedFile>();
    f->path = path;
    Open(f.get(), o.follow);
    if (o.follow && !o.json) {
      f->reader.on_action = PrintAction;
      f->reader.user = f.get();
    }
    files.push_back(std::move(f));
  }
  if (o.follow) {
    std::signal(SIGINT, StopFollowing);
    std::signal(SIGTERM, StopFollowing);
  }
  std::vector<char> buffer;
  for (auto& f : files) ReadOn(f.get(), &buffer, o.follow);
  if (o.follow) {
    int64_t idle = 0;
    while (g_stop_following == 0 && (o.idle_polls == 0 || idle < o.idle_polls)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(o.poll_ms));
      bool grew = false;
      for (auto& f : files) grew = ReadOn(f.get(), &buffer, o.follow) || grew;
      idle = grew ? 0 : idle + 1;
    }
  }
  for (auto& f : files) readers::FinishLog(&f->reader);
  // Following has printed the action lines already.
  WriteOut(o.json ? Json(files) : Text(files, !o.follow));
  return kExitPass;
}

}  // namespace velt::chan
