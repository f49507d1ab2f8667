// The commands that operate deployed exits: read the statistics file and
// the log, show the configuration as an exit instance takes it, and advise
// the settings for given traffic. Each returns the tool's exit status and
// throws UsageError for bad arguments or unreadable input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "veltchan.h"

namespace velt::chan {

struct StatsOptions {
  std::vector<std::string> files;
  bool json = false;
  std::string svg;
};
int RunStatsCommand(const StatsOptions& options);

struct LogOptions {
  std::vector<std::string> files;
  bool json = false;
  bool follow = false;
  int64_t idle_polls = 0;  // following stops after this many polls without growth; 0: never
  int64_t poll_ms = 500;
};
int RunLogCommand(const LogOptions& options);

struct ConfigSide {
  std::optional<std::string> file;       // none: where the exit looks (VELT_EXIT_CFG or the fixed path)
  std::optional<std::string> exit_data;  // none: all blanks
};
struct ConfigOptions {
  ConfigSide sender;
  std::optional<ConfigSide> receiver;
  bool json = false;
};
int RunConfigCommand(const ConfigOptions& options);

struct AdviseOptions {
  Options run;  // the traffic: paths, queues, lines, repeat, or the built-in workload
  std::vector<int> levels = {1, 2, 3};
  std::vector<int> tables = {1, 2, 4, 8, 12, 16};
  bool json = false;
};
int RunAdviseCommand(const AdviseOptions& options);

}  // namespace velt::chan
