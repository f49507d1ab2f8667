// One side of a channel pair as an exit instance reads its configuration:
// the exits' own reader (host/config.cpp) run with an observer, and what it
// told turned into the source of each setting and the lines that set
// nothing, or not what they say.
#pragma once

#include <string>
#include <vector>

#include "commands.h"
#include "host/context.h"

namespace velt::chan {

inline constexpr int kSettings = 6;
// The settings in the order the report lists them, in the file's spelling.
inline constexpr const char* kFileKeywords[kSettings] = {"Compression", "Statistics", "LogLevel",
                                                         "LogFile",     "HdrTblSize", "StatsFile"};

struct Finding {
  std::string where;    // "line 3", "exit data"
  std::string text;     // what the line or token holds
  std::string why;      // why it set nothing, or what to know about what it set
  bool problem = true;  // false: it took effect, with a remark
};

struct Source {
  std::string label = "default";
  int line = 0;  // file line, 0 otherwise
  std::string text;
};

struct Side {
  std::string name;  // "sender" or "receiver"
  std::string file;
  bool file_read = false;
  std::string exit_data;  // the 32 characters
  ExitContext ctx{};
  Source source[kSettings];
  std::vector<Finding> findings;
  std::vector<std::string> file_lines;  // for showing lines in full
};

// Reads one side as an instance does: the first reading with every key, then
// the reading at MQXR_INIT. Throws UsageError for a file that cannot be read
// or exit data longer than the channel's.
void ReadSide(Side* side, const ConfigSide& given, const char* name);

// A setting's value as text.
std::string Stored(const ExitContext& ctx, int setting);

// Text fit for one line of a report: tabs shown, control characters replaced.
std::string Printable(const std::string& text);

}  // namespace velt::chan
