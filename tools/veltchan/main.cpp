// veltchan: run a channel on your own traffic before you deploy the exits,
// and operate them once deployed.
//
//   veltchan                      the built-in workload
//   veltchan [options] PATH...    replay files (each one message) or directories
//   veltchan stats FILE...        the send exit's statistics files
//   veltchan log FILE...          the exits' logs
//   veltchan config ...           the settings as an exit instance takes them
//   veltchan advise [PATH...]     the settings that save most on given traffic
//
// Exit status: 0 every segment arrived intact, 1 a segment arrived altered or
// the channel closed, 2 bad arguments, unreadable input or missing libraries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "commands.h"
#include "text_out.h"
#include "veltchan.h"

namespace {

namespace fs = std::filesystem;
using velt::chan::UsageError;

void Fail(const std::string& message) {
  std::string line = message;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  std::fprintf(stderr, "veltchan: %s\n", line.c_str());
}

// Installed, the exits are in the exits folder (VELT_EXITS_FROM_BIN, set by
// packaging/CMakeLists.txt relative to the program's folder, or absolute); in
// the build tree they sit in ../lib next to the program's folder.
std::string DefaultLibDir(const char* argv0) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::absolute(argv0, ec);
  const fs::path installed = (self.parent_path() / VELT_EXITS_FROM_BIN).lexically_normal();
  if (fs::exists(installed, ec)) return installed.string();
  return (self.parent_path() / ".." / "lib").lexically_normal().string();
}

void WriteAll(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

extern "C" void OnSignal(int) { velt::chan::RequestStop(); }

// The channel runs (the main job and advise) stop at the next message on
// SIGINT or SIGTERM, remove their temporary files and write nothing.
void StopRunsOnSignals() {
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

// The seed is any unsigned 64-bit number; the parser's own conversion would
// wrap a negative one and saturate one too large.
std::string CheckSeed(std::string& text) {
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return "a whole number from 0 to 18446744073709551615";
  return {};
}

// The commands' options, filled by the parser.
struct OperateOptions {
  velt::chan::StatsOptions stats;
  velt::chan::LogOptions log;
  velt::chan::ConfigOptions config;
  std::string config_file, config_data, receiver_file, receiver_data;
  std::string idle_polls, poll_ms;  // log's hidden options, converted after parsing
  velt::chan::AdviseOptions advise;
  bool all_tables = false;
};
OperateOptions g_operate;

void AddOperateCommands(CLI::App* app) {
  OperateOptions& o = g_operate;
  CLI::App* stats = app->add_subcommand(
      "stats",
      "Reads statistics files as the send exit writes them (Statistics 1 or 2) and reports each channel "
      "instance: segments, compressed segments, mean ratio of the compressed ones, overall ratio, bytes "
      "before and after. Unreadable lines are counted and named; a last line cut short is left out.");
  stats->add_option("FILE", o.stats.files, "Statistics files")->required();
  stats->add_flag("--json", o.stats.json, "Print the report as one JSON document");
  stats->add_option("--svg", o.stats.svg, "Also write a chart of the ratio over the run to FILE")->type_name("FILE");

  CLI::App* log = app->add_subcommand(
      "log",
      "Reads exit logs: messages by level and by kind (refused compressions, sequence breaks, decode failures "
      "and closed channels, allocation failures, configuration lines) with the first and last time of each, "
      "and the lines that need action in full.");
  log->add_option("FILE", o.log.files, "Log files")->required();
  log->add_flag("--json", o.log.json, "Print the report as one JSON document");
  log->add_flag("--follow", o.log.follow,
                "Keep reading as the files grow (like tail -f), print each line that needs action as it arrives, and "
                "the report when interrupted");
  // For the tests only, so hidden; read as text and converted and checked
  // after parsing, because CLI11 leaves a hidden option's name out of its
  // own errors.
  log->add_option("--idle-polls", o.idle_polls, "Stop following after N polls without growth")->group("");
  log->add_option("--poll-ms", o.poll_ms, "Milliseconds between polls while following")->group("");

  CLI::App* config = app->add_subcommand(
      "config",
      "Shows the settings exactly as an exit instance takes them, read by the exits' own reader, each with "
      "where it came from, and every line or token that set nothing and why. With a receiver side, says "
      "whether the pair can work. Exit status 0 when the pair works, 1 when it cannot, 2 on bad arguments.");
  config
      ->add_option("--file", o.config_file,
                   "The sender's configuration file (default: where the exits look, VELT_EXIT_CFG or "
                   "/var/mqm/velt_exit.cfg)")
      ->type_name("FILE");
  config->add_option("--exit-data", o.config_data, "The sender channel's exit data, up to 32 characters")
      ->type_name("TEXT");
  config->add_option("--receiver-file", o.receiver_file, "The receiver's configuration file (default: the sender's)")
      ->type_name("FILE");
  config->add_option("--receiver-exit-data", o.receiver_data, "The receiver channel's exit data")->type_name("TEXT");
  config->add_flag("--json", o.config.json, "Print the report as one JSON document");

  CLI::App* advise = app->add_subcommand(
      "advise",
      "Runs the traffic through Compression 1, 2 and 3 and header table sizes 1, 2, 4, 8, 12 and 16 (all 16 "
      "with --all-tables) and recommends Compression and HdrTblSize, with the bytes saved and the CPU per "
      "segment of each.");
  velt::chan::Options& r = o.advise.run;
  auto* paths = advise->add_option("PATH", r.paths, "Files or directories to replay; none: the built-in workload");
  advise->add_flag("--lines", r.lines, "Replay each non-empty line of a file as one message")->needs(paths);
  advise->add_option("--queue", r.queues, "Remote queue for replayed messages, NAME or NAME@QMGR (repeatable)")
      ->allow_extra_args(false)
      ->type_name("NAME")
      ->needs(paths);
  advise->add_option("--repeat", r.repeat, "Replay the files N times")
      ->check(CLI::Range(int64_t{1}, int64_t{1000000}))
      ->type_name("N")
      ->needs(paths);
  advise->add_option("--messages", r.messages, "Messages in the built-in workload (default 20000)")
      ->check(CLI::Range(int64_t{1}, int64_t{10000000}))
      ->type_name("N")
      ->excludes(paths);
  advise->add_option("--seed", r.seed, "Seed of the built-in workload (default 1)")
      ->check(CLI::Validator(CheckSeed, "N"))
      ->type_name("N")
      ->excludes(paths);
  advise->add_option("--corpus", r.corpus_dir, "Built-in workload documents from DIR")
      ->type_name("DIR")
      ->excludes(paths);
  advise->add_option("--max-segment", r.max_segment, "Largest transmission segment (default 32768)")
      ->check(CLI::Range(512, 1048576))
      ->type_name("BYTES");
  advise->add_option("--lib-dir", r.lib_dir, "Directory holding VELTSEND.so and VELTRECV.so")->type_name("DIR");
  advise->add_flag("--all-tables", o.all_tables, "Try every header table size from 1 to 16 (slower)");
  advise->add_flag("--json", o.advise.json, "Print the report as one JSON document");
}

// Runs the command named on the command line; -1 when none was.
int RunOperateCommand(const CLI::App& app, const char* argv0) {
  OperateOptions& o = g_operate;
  // The channel run's options have no effect on a command: given before its
  // name they would be dropped without a word.
  if (const std::vector<CLI::App*> commands = app.get_subcommands(); !commands.empty()) {
    for (const CLI::Option* option : app.get_options()) {
      if (option->count() == 0 || option == app.get_help_ptr() || option == app.get_version_ptr()) continue;
      throw UsageError(
          fmt::format("{} before the {} command is an option of the channel run and would change "
                      "nothing: give the command's options after its name",
                      option->get_name(), commands.front()->get_name()));
    }
  }
  if (app.got_subcommand("stats")) return velt::chan::RunStatsCommand(o.stats);
  if (app.got_subcommand("log")) {
    const CLI::App* l = app.get_subcommand("log");
    const auto in_range = [l](const char* name, const std::string& text, int64_t low, int64_t high, int64_t* value) {
      if (l->count(name) == 0) return;
      const char* end = text.data() + text.size();
      const auto [stop, error] = std::from_chars(text.data(), end, *value);
      if ((error != std::errc{} && error != std::errc::result_out_of_range) || stop != end || text.empty())
        throw UsageError(fmt::format("{}: Value {} is not a whole number", name, text));
      if (error != std::errc{} || *value < low || *value > high)
        throw UsageError(fmt::format("{}: Value {} not in range {} to {}", name, text, low, high));
    };
    in_range("--idle-polls", o.idle_polls, 0, 1000000, &o.log.idle_polls);
    in_range("--poll-ms", o.poll_ms, 1, 60000, &o.log.poll_ms);
    return velt::chan::RunLogCommand(o.log);
  }
  if (app.got_subcommand("config")) {
    const CLI::App* c = app.get_subcommand("config");
    if (c->count("--file") > 0) o.config.sender.file = o.config_file;
    if (c->count("--exit-data") > 0) o.config.sender.exit_data = o.config_data;
    if (c->count("--receiver-file") > 0 || c->count("--receiver-exit-data") > 0) {
      velt::chan::ConfigSide receiver;
      if (c->count("--receiver-file") > 0) receiver.file = o.receiver_file;
      if (c->count("--receiver-exit-data") > 0) receiver.exit_data = o.receiver_data;
      o.config.receiver = receiver;
    }
    return velt::chan::RunConfigCommand(o.config);
  }
  if (app.got_subcommand("advise")) {
    if (o.all_tables) {
      o.advise.tables.clear();
      for (int t = 1; t <= 16; ++t) o.advise.tables.push_back(t);
    }
    if (o.advise.run.lib_dir.empty()) o.advise.run.lib_dir = DefaultLibDir(argv0);
    StopRunsOnSignals();
    return velt::chan::RunAdviseCommand(o.advise);
  }
  return -1;
}

int Main(int argc, char** argv) {
  velt::chan::Options o;
  CLI::App app{
      "Runs a simulated message channel with the real VELTSEND and VELTRECV exits on a built-in workload, or on your "
      "own message files, and reports the bytes saved, the CPU cost against zlib level 1, and whether every segment "
      "arrived intact.",
      "veltchan"};
  app.get_formatter()->column_width(30);
  app.set_version_flag("--version", "veltchan " VELT_VERSION, "Print the version and exit");
  auto* paths = app.add_option("PATH", o.paths,
                               "Files or directories to replay, each file one message (directories walked in sorted "
                               "order); none: the built-in workload");
  auto* lines = app.add_flag("--lines", o.lines, "Replay each non-empty line of a file as one message");
  auto* queue = app.add_option("--queue", o.queues,
                               "Remote queue for replayed messages, NAME or NAME@QMGR; repeat to spread messages "
                               "round robin")
                    ->allow_extra_args(false)
                    ->type_name("NAME");
  auto* repeat = app.add_option("--repeat", o.repeat, "Replay the files N times (default 1)")
                     ->check(CLI::Range(int64_t{1}, int64_t{1000000}))
                     ->type_name("N");
  auto* messages = app.add_option("--messages", o.messages, "Messages in the built-in workload (default 20000)")
                       ->check(CLI::Range(int64_t{1}, int64_t{10000000}))
                       ->type_name("N");
  auto* seed = app.add_option("--seed", o.seed, "Seed of the built-in workload (default 1)")
                   ->check(CLI::Validator(CheckSeed, "N"))
                   ->type_name("N");
  auto* corpus = app.add_option("--corpus", o.corpus_dir,
                                "Take the built-in workload's documents from the XML and JSON files under DIR")
                     ->type_name("DIR");
  app.add_option("--compression", o.compression, "Compression level of the send exit: 0 off, 1 to 4 (default 3)")
      ->check(CLI::Range(0, 4))
      ->type_name("N");
  app.add_option("--hdr-table", o.hdr_table, "Header table entries at both ends, 1 to 16 (default 4)")
      ->check(CLI::Range(1, 16))
      ->type_name("N");
  app.add_option("--max-segment", o.max_segment, "Largest transmission segment, 512 to 1048576 bytes (default 32768)")
      ->check(CLI::Range(512, 1048576))
      ->type_name("BYTES");
  app.add_option("--log-level", o.log_level, "Exit log level, -1 (nothing) to 6 (full dumps) (default 1)")
      ->check(CLI::Range(-1, 6))
      ->type_name("N");
  app.add_option("--statistics", o.statistics,
                 "Send exit statistics: 0 none, 1 summary, 2 a line per segment and summary (default 0)")
      ->check(CLI::Range(0, 2))
      ->type_name("N");
  app.add_option("--exit-data", o.exit_data, "Exit data of the sending channel, up to 32 characters (e.g. \"COMP=2\")")
      ->type_name("TEXT");
  app.add_option("--receiver-exit-data", o.receiver_exit_data,
                 "Exit data of the receiving channel (e.g. \"HDR=2\" to see a receiver with a smaller header table)")
      ->type_name("TEXT");
  app.add_option("--lib-dir", o.lib_dir,
                 "Directory holding VELTSEND.so and VELTRECV.so (default: the installed exits folder, or ../lib "
                 "beside veltchan's folder)")
      ->type_name("DIR");
  app.add_option("--keep-dir", o.keep_dir,
                 "Write the run's exit configuration, log and statistics files into DIR and keep them (default: a "
                 "temporary directory, removed)")
      ->type_name("DIR");
  app.add_flag("--json", o.json, "Print the report as one JSON document instead of text");
  app.add_option("--svg", o.svg,
                 "Also write a chart of bytes before and after per payload kind and of the ratio over "
                 "the run to FILE")
      ->type_name("FILE");
  lines->needs(paths);
  queue->needs(paths);
  AddOperateCommands(&app);
  repeat->needs(paths);
  messages->excludes(paths);
  seed->excludes(paths);
  corpus->excludes(paths);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    Fail(e.what());
    return velt::chan::kExitUsage;
  }

  try {
    if (const int status = RunOperateCommand(app, argv[0]); status >= 0) return status;
    if (o.lib_dir.empty()) o.lib_dir = DefaultLibDir(argv[0]);
    o.progress = ::isatty(STDERR_FILENO) == 1;
    velt::chan::AtomicOutput svg;
    if (!o.svg.empty()) svg.Open(o.svg);

    StopRunsOnSignals();
    velt::chan::RunInfo info;
    const velt::chan::Tally tally = velt::chan::RunChannel(o, &info);
    if (tally.interrupted) throw velt::chan::Interrupted();

    const std::string report = o.json ? velt::chan::JsonReport(o, info, tally) : velt::chan::TextReport(o, info, tally);
    if (!o.svg.empty()) svg.Commit(velt::chan::SvgChart(o, info, tally));
    WriteAll(stdout, report);
    return velt::chan::Passed(tally) ? velt::chan::kExitPass : velt::chan::kExitFail;
  } catch (const UsageError& e) {
    Fail(e.what());
    return velt::chan::kExitUsage;
  } catch (const velt::chan::Interrupted& e) {
    Fail(e.what());
    return velt::chan::kExitInterrupted;
  } catch (const std::exception& e) {
    Fail(e.what());
    return velt::chan::kExitUsage;
  }
}

}  // namespace

int main(int argc, char** argv) { return Main(argc, argv); }
