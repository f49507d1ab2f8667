// veltchan: runs a simulated message channel with the real VELTSEND and
// VELTRECV libraries on a built-in workload or on the user's own message
// files, and reports the bytes saved, the time spent in each exit, the same
// segments through zlib level 1, and whether every segment arrived intact.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "traffic.h"

namespace velt::chan {

// Exit statuses of the tool.
inline constexpr int kExitPass = 0;
inline constexpr int kExitFail = 1;   // a segment arrived altered, or the channel closed
inline constexpr int kExitUsage = 2;  // bad arguments, unreadable input, missing libraries
inline constexpr int kExitInterrupted = 130;

// A problem found before the channel runs (or while writing the results):
// one line on stderr and exit status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// SIGINT or SIGTERM stopped a command before it wrote anything: one line on
// stderr and exit status 130.
struct Interrupted : std::runtime_error {
  Interrupted() : std::runtime_error("interrupted; nothing written") {}
};

struct Options {
  std::vector<std::string> paths;   // files or directories to replay; none: built-in workload
  std::vector<std::string> queues;  // NAME or NAME@QMGR, round robin
  bool lines = false;
  int64_t repeat = 1;
  int64_t messages = 20000;  // built-in workload
  uint64_t seed = 1;
  std::string corpus_dir;  // built-in workload documents; empty: the system's
  int compression = 3;
  int hdr_table = 4;
  int32_t max_segment = 32768;
  int log_level = 1;
  int statistics = 0;
  std::string exit_data;           // the sending channel's 32 characters of exit data
  std::string receiver_exit_data;  // the receiving channel's
  std::string lib_dir;
  std::string keep_dir;  // keep configuration, log and statistics files here
  bool json = false;
  std::string svg;
  bool progress = false;  // decided from the terminal, not an option
  bool compare = true;    // also zlib and LZ4 on the same segments (advise runs without)
};

// One replayed message payload and where it came from.
struct InputMessage {
  std::vector<unsigned char> payload;
  std::string origin;  // "path" or "path:line"
  agent::TrafficKind kind = agent::TrafficKind::Binary;
};

// Reads the replay inputs: files in the order given, directories walked in
// sorted path order; with lines, each non-empty line is one message. Throws
// UsageError for anything that cannot be read; entries of a directory that
// are no regular file are left out and counted in left_out.
std::vector<InputMessage> LoadInputs(const std::vector<std::string>& paths, bool lines, int64_t* left_out);

// A remote queue for replayed messages, from NAME or NAME@QMGR. Throws
// UsageError for names that do not fit the transmission queue header.
struct QueueName {
  std::string queue;
  std::string queue_manager;
};
QueueName ParseQueueName(const std::string& text);

struct Counts {
  int64_t messages = 0;
  int64_t segments = 0;
  int64_t bytes_in = 0;    // handed to the send exit
  int64_t bytes_wire = 0;  // handed over by the send exit
  // CPU time in both exits for these segments: the run's measured exit time
  // shared out by each segment's own wall time in the calls (exit_wall_nanos).
  int64_t exit_nanos = 0;
  int64_t exit_wall_nanos = 0;
};

inline constexpr int kSegmentTypes = 6;  // index 1..5 the TSH types, 0 any other

// One slice of the run, for the chart of the ratio over the run.
struct Slice {
  int64_t messages = 0;
  int64_t bytes_in = 0;
  int64_t bytes_wire = 0;
};
inline constexpr int kSlices = 100;

// Segments by size, for the ratio of each compressor where it differs most.
inline constexpr int kSizeClasses = 3;  // under 1 KiB, 1 to 8 KiB, 8 KiB and more
inline int SizeClassOf(std::size_t bytes) { return bytes < 1024 ? 0 : bytes < 8192 ? 1 : 2; }
struct SizeClass {
  int64_t segments = 0;
  int64_t bytes_in = 0;
  int64_t bytes_wire = 0;  // the exits
  int64_t zlib_bytes = 0;
  int64_t lz4_bytes = 0;
};

struct BadSegment {
  int64_t number = 0;  // 1-based over the run
  int type = 0;
  int32_t length = 0;
  std::string where;  // the message it belongs to
  std::string what;   // altered, not delivered, ...
};

struct Tally {
  Counts total;
  Counts by_kind[agent::kTrafficKinds];
  Counts by_type[kSegmentTypes];
  int64_t compressed = 0;
  int64_t plain = 0;
  int64_t refused = 0;
  bool refusals_known = true;  // false when the log level hides the refusals
  // CPU time inside each exit, without the simulated agent's own copying
  // (agent_copy_nanos, send and receive end), which is measured apart.
  int64_t send_nanos = 0;
  int64_t recv_nanos = 0;
  int64_t agent_copy_nanos[2] = {0, 0};
  int64_t delivered_bytes = 0;
  int64_t zlib_bytes = 0;
  int64_t zlib_deflate_nanos = 0;
  int64_t zlib_inflate_nanos = 0;
  int64_t zlib_mismatches = 0;
  // LZ4 at its default acceleration, each segment on its own.
  int64_t lz4_bytes = 0;
  int64_t lz4_compress_nanos = 0;
  int64_t lz4_decompress_nanos = 0;
  int64_t lz4_mismatches = 0;
  SizeClass by_size[kSizeClasses];
  int64_t delivered = 0;
  int64_t intact = 0;
  int64_t suppressed = 0;  // segments passed after an exit answered MQXCC_SUPPRESS_EXIT
  bool channel_closed = false;
  std::optional<BadSegment> first_bad;
  Slice slices[kSlices];
  int64_t planned_messages = 0;
  std::vector<std::string> exit_statistics;  // the send exit's summary lines
  double seconds = 0;                        // wall time of the whole run
  bool interrupted = false;
};

// What the report says about the run besides the tally.
struct RunInfo {
  std::string workload;  // one line describing the traffic
  int64_t left_out = 0;  // replay: directory entries that are no regular file
  int destinations = 0;
  std::string lib_dir;
  std::string config_file;  // kept, or empty when the run's files were removed
  // The send exit's settings as it took them from the run's file and exit
  // data: --exit-data may change what the options asked for.
  int compression = 0;
  int hdr_table = 0;
  int log_level = 0;
  int statistics = 0;
};

bool Passed(const Tally& tally);

// Fills the settings of info as the send exit takes them from the file and
// exit data (config_reading.cpp).
void ReadTakenSettings(const std::string& file, const std::string& exit_data, RunInfo* info);

// The run itself: loads the libraries, writes the configuration, carries
// every segment over the channel and through zlib. Throws UsageError before
// the first segment when something is missing.
Tally RunChannel(const Options& options, RunInfo* info);

// Set by SIGINT/SIGTERM; the run stops at the next message.
void RequestStop();

std::string TextReport(const Options& options, const RunInfo& info, const Tally& tally);
std::string JsonReport(const Options& options, const RunInfo& info, const Tally& tally);
std::string SvgChart(const Options& options, const RunInfo& info, const Tally& tally);

}  // namespace velt::chan
