// veltchan: run a channel on your own traffic before you deploy the exits.
//
//   veltchan                      the built-in workload
//   veltchan [options] PATH...    replay files (each one message) or directories
//
// Exit status: 0 every segment arrived intact, 1 a segment arrived altered or
// the channel closed, 2 bad arguments, unreadable input or missing libraries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

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

// A file written whole or not at all: the content goes to a temporary file
// beside the target, created before the run so that a target that cannot be
// written is reported before any work, and renamed over the target at the end.
struct AtomicFile {
  std::string target;
  std::string temporary;
  int fd = -1;

  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile() { Discard(); }

  void Open(const std::string& path) {
    target = path;
    const fs::path p(path);
    if (fs::is_directory(p)) throw UsageError(fmt::format("cannot write {}: it is a directory", path));
    const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
    std::string pattern = (dir / ("." + p.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd = mkstemp(name.data());
    if (fd < 0) throw UsageError(fmt::format("cannot write {}: {}", path, std::strerror(errno)));
    temporary = name.data();
  }

  void Commit(const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
      const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw UsageError(fmt::format("cannot write {}: {}", target, std::strerror(errno)));
      done += static_cast<std::size_t>(n);
    }
    // mkstemp makes the file private; give it the mode a newly created file
    // gets under the user's umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    if (::close(fd) != 0) {
      fd = -1;
      throw UsageError(fmt::format("cannot write {}: {}", target, std::strerror(errno)));
    }
    fd = -1;
    if (std::rename(temporary.c_str(), target.c_str()) != 0)
      throw UsageError(fmt::format("cannot write {}: {}", target, std::strerror(errno)));
    temporary.clear();
  }

  void Discard() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!temporary.empty()) std::remove(temporary.c_str());
    temporary.clear();
  }
};

void WriteAll(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

extern "C" void OnSignal(int) { velt::chan::RequestStop(); }

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
  auto* seed = app.add_option("--seed", o.seed, "Seed of the built-in workload (default 1)")->type_name("N");
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
  app.add_option("--lib-dir", o.lib_dir,
                 "Directory holding VELTSEND.so and VELTRECV.so (default: the installed exits folder, or ../lib "
                 "beside veltchan's folder)")
      ->type_name("DIR");
  app.add_option("--keep-dir", o.keep_dir,
                 "Write the run's exit configuration, log and statistics files into DIR and keep them (default: a "
                 "temporary directory, removed)")
      ->type_name("DIR");
  app.add_flag("--json", o.json, "Print the report as one JSON document instead of text");
  app.add_option("--svg", o.svg, "Also write a chart of bytes before and after per payload kind and of the ratio over "
                                 "the run to FILE")
      ->type_name("FILE");
  lines->needs(paths);
  queue->needs(paths);
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
    if (o.lib_dir.empty()) o.lib_dir = DefaultLibDir(argv[0]);
    o.progress = ::isatty(STDERR_FILENO) == 1;
    AtomicFile svg;
    if (!o.svg.empty()) svg.Open(o.svg);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    velt::chan::RunInfo info;
    const velt::chan::Tally tally = velt::chan::RunChannel(o, &info);
    if (tally.interrupted) {
      Fail("interrupted; nothing written");
      return velt::chan::kExitInterrupted;
    }

    const std::string report = o.json ? velt::chan::JsonReport(o, info, tally) : velt::chan::TextReport(o, info, tally);
    if (!o.svg.empty()) svg.Commit(velt::chan::SvgChart(o, info, tally));
    WriteAll(stdout, report);
    return velt::chan::Passed(tally) ? velt::chan::kExitPass : velt::chan::kExitFail;
  } catch (const UsageError& e) {
    Fail(e.what());
    return velt::chan::kExitUsage;
  } catch (const std::exception& e) {
    Fail(e.what());
    return velt::chan::kExitUsage;
  }
}

}  // namespace

int main(int argc, char** argv) { return Main(argc, argv); }
