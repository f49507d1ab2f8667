// Reads the exits' log back: lines by level and by end, messages by kind
// with the first and last time of each, and the lines that need an
// administrator (a channel closed by the receive exit, "adjust HdrTblSize")
// in full. Memory is bounded whatever the file holds: lines are never kept
// beyond kKeptActions action lines and kNamedLines line numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/log_lines.h"
#include "readers/line_feed.h"

namespace velt::readers {

inline constexpr std::size_t kKeptActions = 1000;
inline constexpr int kLogLevels = 8;  // 0 to 6, and one for any other level

struct LogKindCount {
  int64_t count = 0;
  char first[9] = "";  // hh:mm:ss of the first and last; the log has no dates
  char last[9] = "";
};

struct LogAction {
  int64_t line = 0;
  std::string text;  // the whole line
};

struct LogReport {
  int64_t lines = 0;
  int64_t messages = 0;
  int64_t dump_lines = 0;   // buffer dumps, written without the prefix
  int64_t blank_lines = 0;  // messages ending in an empty line leave these
  int64_t unreadable = 0;
  std::vector<int64_t> unreadable_lines;  // the first kNamedLines
  int64_t by_level[kLogLevels] = {};
  int64_t send_end = 0;  // messages tagged SDR
  int64_t recv_end = 0;  // RCVR
  LogKindCount kinds[kLogKinds];
  std::vector<LogAction> actions;  // the first kKeptActions
  int64_t action_count = 0;
  char first[9] = "";
  char last[9] = "";
  bool partial_last_line = false;
};

struct LogReader {
  LineFeed feed;
  LogReport report;
  // Told of every line that needs action as it is read (for following a
  // growing log); may be null.
  void (*on_action)(void* user, const LogAction& action) = nullptr;
  void* user = nullptr;
};

void FeedLog(LogReader* reader, const char* data, std::size_t size);
void FinishLog(LogReader* reader);

const char* LogKindName(LogKind kind);

}  // namespace velt::readers
