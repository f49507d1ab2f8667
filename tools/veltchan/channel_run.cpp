// The run: a configuration file for the exits, both libraries loaded as a
// channel agent loads them, every segment of the traffic carried over the
// simulated channel and, for comparison, through zlib level 1.
#define ZLIB_CONST
#include <lz4.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <fmt/format.h>

#include "host/stats_lines.h"
#include "readers/log_reader.h"
#include "sim_channel.h"
#include "text_out.h"
#include "veltchan.h"

namespace velt::chan {

namespace {

namespace fs = std::filesystem;

volatile std::sig_atomic_t g_stop = 0;

// The exits' configuration reader splits lines at blanks, colons and equals
// signs and reads at most 510 characters of a line, so a file name holding
// any of those would silently name another file.
constexpr const char* kUnconfigurable = " :=\t\r\n";
constexpr std::size_t kLongestConfigurableDir = 480;

void CheckConfigurableName(const std::string& name, const char* what) {
  if (name.find_first_of(kUnconfigurable) != std::string::npos)
    throw UsageError(fmt::format(
        "{} {} cannot be named in the exit configuration (it holds a blank, tab, line end, ':' or '=')", what, name));
  if (name.size() > kLongestConfigurableDir)
    throw UsageError(fmt::format("{} {} is too long for the exit configuration", what, name));
}

// Where the run's configuration, log and statistics files live: a fresh
// temporary directory removed afterwards, or the directory the user chose.
struct RunFiles {
  std::string dir;
  bool temporary = false;
  std::string config, log, stats;

  RunFiles() = default;
  RunFiles(const RunFiles&) = delete;
  RunFiles& operator=(const RunFiles&) = delete;
  ~RunFiles() {
    if (!temporary) return;
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

std::string MakeTemporaryDir() {
  std::vector<std::string> bases;
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') bases.emplace_back(tmp);
  bases.emplace_back("/tmp");
  for (const std::string& base : bases) {
    // A TMPDIR the exits could not be told about (see above) gives way to
    // /tmp, which they can.
    std::string pattern = base + "/veltchan-XXXXXX";
    if (pattern.find_first_of(kUnconfigurable) != std::string::npos || pattern.size() > kLongestConfigurableDir)
      continue;
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    if (mkdtemp(text.data()) != nullptr) return std::string(text.data());
  }
  throw UsageError(fmt::format("cannot create a temporary directory: {}", std::strerror(errno)));
}

void SetUpFiles(const Options& o, RunFiles* files) {
  if (o.keep_dir.empty()) {
    files->dir = MakeTemporaryDir();
    files->temporary = true;
  } else {
    std::error_code ec;
    files->dir = fs::absolute(o.keep_dir, ec).lexically_normal().string();
    while (files->dir.size() > 1 && files->dir.back() == '/') files->dir.pop_back();
    CheckConfigurableName(files->dir, "directory");
    fs::create_directories(files->dir, ec);
    if (ec || !fs::is_directory(files->dir))
      throw UsageError(fmt::format("cannot use --keep-dir {}: {}", o.keep_dir, ec ? ec.message() : "not a directory"));
  }
  files->config = files->dir + "/velt_exit.cfg";
  files->log = files->dir + "/velt_exit.log";
  files->stats = files->dir + "/velt_exit.dat";
  if (!files->temporary) {
    // A kept log and statistics file from an earlier run would mix with this one.
    std::error_code ignored;
    fs::remove(files->log, ignored);
    fs::remove(files->stats, ignored);
  }
  const std::string text = fmt::format(
      "# exit configuration written by veltchan for one run\n"
      "Compression = {}\n"
      "Statistics = {}\n"
      "LogLevel = {}\n"
      "HdrTblSize = {}\n"
      "LogFile = {}\n"
      "StatsFile = {}\n",
      o.compression, o.statistics, o.log_level, o.hdr_table, files->log, files->stats);
  std::ofstream out(files->config, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw UsageError(fmt::format("cannot write {}: {}", files->config, std::strerror(errno)));
  if (setenv("VELT_EXIT_CFG", files->config.c_str(), 1) != 0)
    throw UsageError(fmt::format("cannot set VELT_EXIT_CFG: {}", std::strerror(errno)));
}

struct Libraries {
  agent::ExitLibrary send, recv;
  Libraries() = default;
  Libraries(const Libraries&) = delete;
  Libraries& operator=(const Libraries&) = delete;
  ~Libraries() {
    agent::UnloadExitLibrary(&send);
    agent::UnloadExitLibrary(&recv);
  }
};

void LoadLibraries(const std::string& dir, Libraries* libs) {
  std::string error;
  if (!agent::LoadExitLibrary(agent::SendLibraryPath(dir), &libs->send, &error))
    throw UsageError(fmt::format("cannot load the send exit: {}", error));
  if (!agent::LoadExitLibrary(agent::RecvLibraryPath(dir), &libs->recv, &error))
    throw UsageError(fmt::format("cannot load the receive exit: {}", error));
}

// Counts the send exit's refusals (it tried to compress a segment and
// logged that the result was longer) by reading what the exits appended to
// the log since the last look.
struct LogWatch {
  std::string path;
  std::FILE* file = nullptr;
  long offset = 0;
  std::vector<char> chunk = std::vector<char>(64 * 1024);
  readers::LogReader reader;  // the same reader as veltchan log
  int64_t refusals_seen = 0;

  LogWatch() = default;
  LogWatch(const LogWatch&) = delete;
  LogWatch& operator=(const LogWatch&) = delete;
  ~LogWatch() {
    if (file != nullptr) std::fclose(file);
  }
};

int64_t NewRefusals(LogWatch* w) {
  struct stat st {};
  if (::stat(w->path.c_str(), &st) != 0 || st.st_size <= w->offset) return 0;
  if (w->file == nullptr) {
    w->file = std::fopen(w->path.c_str(), "rb");
    if (w->file == nullptr) return 0;
  }
  if (std::fseek(w->file, w->offset, SEEK_SET) != 0) return 0;
  for (;;) {
    const std::size_t n = std::fread(w->chunk.data(), 1, w->chunk.size(), w->file);
    if (n == 0) break;
    w->offset += static_cast<long>(n);
    readers::FeedLog(&w->reader, w->chunk.data(), n);
  }
  std::clearerr(w->file);
  const int64_t seen = w->reader.report.kinds[static_cast<int>(LogKind::kRefusedCompression)].count;
  const int64_t found = seen - w->refusals_seen;
  w->refusals_seen = seen;
  return found;
}

// Where the segments come from: the built-in traffic or the user's files.
struct Source {
  bool replay = false;
  agent::Traffic traffic;
  agent::Corpus corpus;
  std::vector<InputMessage> inputs;
  std::vector<QueueName> queues;
  agent::StreamBuilder builder;  // replay
  int64_t next = 0;              // replay: next message
  int64_t total = 0;             // messages planned
  bool started = false;
  // What the last step was, for naming a bad segment.
  int64_t message_number = 0;
  std::size_t destination = 0;
  std::size_t input = 0;
};

void SetUpSource(const Options& o, Source* s, RunInfo* info) {
  if (o.paths.empty()) {
    std::error_code ec;
    if (!o.corpus_dir.empty() && !fs::is_directory(o.corpus_dir, ec))
      throw UsageError(fmt::format("--corpus {}: not a directory", o.corpus_dir));
    s->corpus =
        agent::LoadCorpus(o.corpus_dir.empty() ? agent::DefaultCorpusRoots() : std::vector<std::string>{o.corpus_dir});
    agent::TrafficSettings settings;
    settings.seed = o.seed;
    settings.messages = o.messages;
    settings.max_segment_length = o.max_segment;
    agent::SetUpTraffic(&s->traffic, settings, &s->corpus);
    s->total = o.messages;
    info->destinations = settings.destinations;
    info->workload =
        fmt::format("built-in workload, seed {}: {} message{} to {} remote queues; XML/JSON documents: {}", o.seed,
                    o.messages, PluralS(o.messages), settings.destinations,
                    s->corpus.built_in ? std::string("the built-in ones (no XML or JSON files found)")
                                       : fmt::format("{} file{} shipped under {}", s->corpus.documents.size(),
                                                     PluralS(s->corpus.documents.size()),
                                                     o.corpus_dir.empty() ? std::string("/usr/share") : o.corpus_dir));
    return;
  }
  s->replay = true;
  for (const std::string& q : o.queues) s->queues.push_back(ParseQueueName(q));
  s->inputs = LoadInputs(o.paths, o.lines, &info->left_out);
  if (s->queues.empty()) s->queues.push_back(ParseQueueName("VELTCHAN.REPLAY"));
  agent::SetUpBuilder(&s->builder, 2, o.max_segment, 999999999);
  for (const QueueName& q : s->queues) {
    agent::Destination d;
    d.queue = q.queue;
    d.queue_manager = q.queue_manager;
    d.reply_queue = "VELTCHAN.REPLY";
    d.user = "veltchan";
    d.put_application = "veltchan";
    s->builder.destinations.push_back(std::move(d));
  }
  s->total = static_cast<int64_t>(s->inputs.size()) * o.repeat;
  info->destinations = static_cast<int>(s->queues.size());
  info->workload =
      fmt::format("replay: {} message{} from {} path{}{}, {} time{}, to {} queue{}", s->inputs.size(),
                  PluralS(s->inputs.size()), o.paths.size(), PluralS(o.paths.size()), o.lines ? " (one per line)" : "",
                  o.repeat, PluralS(o.repeat), s->queues.size(), PluralS(s->queues.size()));
  if (info->left_out > 0)
    info->workload +=
        fmt::format("; {} {} left out as no regular file (FIFO, socket, device, broken link, link to a directory)",
                    info->left_out, info->left_out == 1 ? "directory entry" : "directory entries");
}

bool NextStep(Source* s, agent::TrafficStep* step) {
  if (!s->replay) {
    if (!agent::NextTrafficStep(&s->traffic, step)) return false;
    if (step->is_message) {
      s->message_number = s->traffic.messages_built;
      s->destination = 0;
    }
    return true;
  }
  step->segments.clear();
  step->is_message = false;
  if (!s->started) {
    s->started = true;
    step->segments.push_back(agent::BuildInitData(&s->builder));
    return true;
  }
  if (s->next >= s->total) return false;
  s->input = static_cast<std::size_t>(s->next % static_cast<int64_t>(s->inputs.size()));
  s->destination = static_cast<std::size_t>(s->next % static_cast<int64_t>(s->queues.size()));
  const InputMessage& m = s->inputs[s->input];
  s->builder.destinations[s->destination].format = m.kind == agent::TrafficKind::Binary ? "        " : "MQSTR";
  step->segments = agent::BuildMessage(&s->builder, s->destination, m.payload);
  step->kind = m.kind;
  step->is_message = true;
  s->message_number = ++s->next;
  return true;
}

std::string SegmentTypeWord(int type) {
  switch (type) {
    case 1: return "initial data segment";
    case 2: return "resynchronisation segment";
    case 3: return "reset segment";
    case 4: return "message segment";
    case 5: return "status segment";
    default: return "segment";
  }
}

// What one segment of a batch belongs to, for the tallies and for naming a
// bad segment.
struct SegmentInfo {
  int kind = -1;  // the payload kind of its message; -1 for other segments
  int type = 0;
  int slice = 0;
  int64_t number = 0;          // over the run, from 1
  int64_t message_number = 0;  // of the run, from 1
  uint32_t index = 0;          // within its message
  uint32_t count = 0;
  std::size_t input = 0;        // replay: which file or line
  std::size_t destination = 0;  // replay: which queue
};

std::string Where(const Source& s, const SegmentInfo& info) {
  if (info.kind < 0) return SegmentTypeWord(info.type);
  std::string text = fmt::format("segment {} of {} of message {}", info.index + 1, info.count, info.message_number);
  if (s.replay) {
    const int64_t round = (info.message_number - 1) / static_cast<int64_t>(s.inputs.size()) + 1;
    text += fmt::format(" ({}, to {}", s.inputs[info.input].origin, s.queues[info.destination].queue);
    if (round > 1) text += fmt::format(", repetition {}", round);
    text += ")";
  } else {
    text += fmt::format(" ({}, seed {})", agent::TrafficKindName(static_cast<agent::TrafficKind>(info.kind)),
                        s.traffic.settings.seed);
  }
  return text;
}

// CPU time of this thread. Reading it costs a system call, so the run reads
// it around batches of calls rather than around each one, and takes off what
// the two readings themselves cost.
int64_t CpuNanos() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Wall time, for sharing the exits' CPU time out by payload kind: reading it
// costs no system call, so the run reads it around each exit call.
int64_t WallNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// What one reading of a clock costs: the least of many back-to-back pairs.
int64_t ReadingCost(int64_t (*read)()) {
  int64_t best = INT64_MAX;
  for (int i = 0; i < 64; ++i) {
    const int64_t a = read();
    const int64_t b = read();
    best = std::min(best, b - a);
  }
  return best;
}

// zlib level 1 on the same segments: deflate each on its own, then inflate
// it and compare.
struct ZlibSide {
  z_stream deflater{};
  z_stream inflater{};
  std::vector<unsigned char> packed;   // the batch's deflated segments
  std::vector<std::size_t> packed_at;  // offset and length of each
  std::vector<std::size_t> packed_length;
  std::vector<unsigned char> unpacked;  // the batch's inflated segments
  std::vector<char> unpacked_ok;
  bool ready = false;

  ZlibSide() {
    if (deflateInit(&deflater, 1) != Z_OK) return;
    if (inflateInit(&inflater) != Z_OK) {
      deflateEnd(&deflater);
      return;
    }
    ready = true;
  }
  ZlibSide(const ZlibSide&) = delete;
  ZlibSide& operator=(const ZlibSide&) = delete;
  ~ZlibSide() {
    if (!ready) return;
    deflateEnd(&deflater);
    inflateEnd(&inflater);
  }
};

// LZ4 on the same segments, at its default acceleration: compress each on
// its own, then decompress it and compare.
struct Lz4Side {
  std::vector<char> packed;
  std::vector<std::size_t> packed_at;
  std::vector<int> packed_length;
  std::vector<char> unpacked;
  std::vector<char> unpacked_ok;
};

// Batches hold this many segments or bytes at most.
constexpr std::size_t kBatchSegments = 256;
constexpr std::size_t kBatchBytes = 512u << 10;

struct Batch {
  std::vector<agent::Segment> segments;
  std::vector<SegmentInfo> info;
  std::size_t bytes = 0;
  // Results of the send end, the wire and the receive end.
  std::vector<unsigned char> wire;
  std::vector<std::size_t> wire_at;
  std::vector<int32_t> wire_length;
  std::vector<char> compressed;
  std::vector<char> suppressed;
  std::vector<char> intact;
  std::vector<int32_t> delivered_length;
  std::vector<std::size_t> delivered_at;
  std::vector<unsigned char> taken;           // what the receiving agent took
  std::vector<int64_t> send_wall, recv_wall;  // wall time of each exit call
  std::vector<unsigned char> scratch, scratch_out;
  std::size_t sent = 0;       // segments the send end passed on
  std::size_t delivered = 0;  // segments the receive end passed on
  int32_t send_close = 0;     // 1 when the send exit closed the channel at segment `sent`
  int32_t recv_close = 0;     // 1 when the receive exit closed it at segment `delivered`

  void Clear() {
    segments.clear();
    info.clear();
    bytes = 0;
  }
};

struct Run {
  Tally* tally;
  Source* source;
  agent::SimChannel* channel;
  ZlibSide* zlib;
  Lz4Side* lz4;
  LogWatch* log;
  int64_t clock_cost;
  int64_t wall_cost;
  int32_t max_segment;
  bool compare;
};

int64_t Elapsed(int64_t from, int64_t to, int64_t clock_cost) { return std::max<int64_t>(to - from - clock_cost, 0); }

void SendPhase(Run& run, Batch& b) {
  const std::size_t n = b.segments.size();
  b.wire.clear();
  b.wire.reserve(b.bytes);
  b.wire_at.assign(n, 0);
  b.wire_length.assign(n, 0);
  b.compressed.assign(n, 0);
  b.suppressed.assign(n, 0);
  b.send_wall.assign(n, 0);
  b.sent = 0;
  b.send_close = 0;
  agent::ChannelEnd* end = &run.channel->send;
  const int64_t t0 = CpuNanos();
  for (std::size_t j = 0; j < n; ++j) {
    const agent::Segment& segment = b.segments[j];
    b.suppressed[j] = end->suppressed || run.channel->recv.suppressed ? 1 : 0;
    const int64_t w0 = WallNanos();
    const agent::Delivery d = agent::TransmitOnEnd(end, segment.data(), static_cast<int32_t>(segment.size()));
    b.send_wall[j] = Elapsed(w0, WallNanos(), run.wall_cost);
    if (d.response == MQXCC_CLOSE_CHANNEL) {
      b.send_close = 1;
      break;
    }
    b.wire_at[j] = b.wire.size();
    b.wire_length[j] = d.length;
    b.compressed[j] = d.from_exit_buffer ? 1 : 0;
    b.wire.insert(b.wire.end(), d.data, d.data + d.length);
    ++b.sent;
  }
  // The wall clock's two readings per call are not the exit's time.
  const auto calls = static_cast<int64_t>(b.sent) + b.send_close;
  run.tally->send_nanos += Elapsed(t0, CpuNanos(), run.clock_cost + 2 * calls * run.wall_cost);
}

void ReceivePhase(Run& run, Batch& b) {
  b.intact.assign(b.segments.size(), 0);
  b.delivered_length.assign(b.segments.size(), 0);
  b.delivered_at.assign(b.segments.size(), 0);
  b.recv_wall.assign(b.segments.size(), 0);
  b.taken.clear();
  b.taken.reserve(b.bytes);
  b.delivered = 0;
  b.recv_close = 0;
  agent::ChannelEnd* end = &run.channel->recv;
  const int64_t t0 = CpuNanos();
  for (std::size_t j = 0; j < b.sent; ++j) {
    const int64_t w0 = WallNanos();
    const agent::Delivery d = agent::TransmitOnEnd(end, b.wire.data() + b.wire_at[j], b.wire_length[j]);
    b.recv_wall[j] = Elapsed(w0, WallNanos(), run.wall_cost);
    if (d.response == MQXCC_CLOSE_CHANNEL) {
      b.recv_close = 1;
      break;
    }
    b.delivered_at[j] = b.taken.size();
    b.delivered_length[j] = d.length;
    b.taken.insert(b.taken.end(), d.data, d.data + d.length);
    ++b.delivered;
  }
  const auto calls = static_cast<int64_t>(b.delivered) + b.recv_close;
  run.tally->recv_nanos += Elapsed(t0, CpuNanos(), run.clock_cost + 2 * calls * run.wall_cost);
  for (std::size_t j = 0; j < b.delivered; ++j) {
    const agent::Segment& built = b.segments[j];
    b.intact[j] = static_cast<std::size_t>(b.delivered_length[j]) == built.size() &&
                          std::memcmp(b.taken.data() + b.delivered_at[j], built.data(), built.size()) == 0
                      ? 1
                      : 0;
  }
}

// The simulated agent copies each segment into its buffer before the exit
// call and takes the result out after it; a real agent builds the segment in
// its buffer and sends from the exit's. The same copies, made without the
// exits, are timed and taken off the exits' time.
void AgentCopyPass(Run& run, Batch& b) {
  if (b.scratch.size() < static_cast<std::size_t>(run.max_segment))
    b.scratch.resize(static_cast<std::size_t>(run.max_segment));
  b.scratch_out.clear();
  b.scratch_out.reserve(b.bytes);
  const int64_t t0 = CpuNanos();
  for (std::size_t j = 0; j < b.sent; ++j) {
    const agent::Segment& segment = b.segments[j];
    std::memcpy(b.scratch.data(), segment.data(), std::min(segment.size(), b.scratch.size()));
    b.scratch_out.insert(b.scratch_out.end(), segment.data(), segment.data() + b.wire_length[j]);
  }
  const int64_t t1 = CpuNanos();
  b.scratch_out.clear();
  for (std::size_t j = 0; j < b.delivered; ++j) {
    const agent::Segment& segment = b.segments[j];
    std::memcpy(b.scratch.data(), b.wire.data() + b.wire_at[j], static_cast<std::size_t>(b.wire_length[j]));
    b.scratch_out.insert(b.scratch_out.end(), segment.data(), segment.data() + b.delivered_length[j]);
  }
  const int64_t t2 = CpuNanos();
  run.tally->agent_copy_nanos[0] += Elapsed(t0, t1, run.clock_cost);
  run.tally->agent_copy_nanos[1] += Elapsed(t1, t2, run.clock_cost);
}

// The segments of a batch that a comparison codec did not give back exactly:
// unpacked holds them one after the other, ok says which were unpacked whole.
int64_t Mismatches(const Batch& b, const void* unpacked, const std::vector<char>& ok) {
  const auto* at = static_cast<const unsigned char*>(unpacked);
  int64_t mismatches = 0;
  for (std::size_t j = 0; j < b.sent; ++j) {
    const agent::Segment& segment = b.segments[j];
    if (ok[j] == 0 || std::memcmp(at, segment.data(), segment.size()) != 0) ++mismatches;
    at += segment.size();
  }
  return mismatches;
}

void ZlibPhases(Run& run, const Batch& b) {
  ZlibSide& z = *run.zlib;
  Tally& tally = *run.tally;
  const std::size_t n = b.sent;
  z.packed_at.assign(n, 0);
  z.packed_length.assign(n, 0);
  std::size_t room = 0;
  for (std::size_t j = 0; j < n; ++j) room += deflateBound(&z.deflater, static_cast<uLong>(b.segments[j].size()));
  if (z.packed.size() < room) z.packed.resize(room);
  if (z.unpacked.size() < b.bytes) z.unpacked.resize(b.bytes);
  z.unpacked_ok.assign(n, 0);

  const int64_t t0 = CpuNanos();
  std::size_t at = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const agent::Segment& segment = b.segments[j];
    deflateReset(&z.deflater);
    z.deflater.next_in = segment.data();
    z.deflater.avail_in = static_cast<uInt>(segment.size());
    z.deflater.next_out = z.packed.data() + at;
    z.deflater.avail_out = static_cast<uInt>(z.packed.size() - at);
    if (deflate(&z.deflater, Z_FINISH) != Z_STREAM_END) ++tally.zlib_mismatches;
    z.packed_at[j] = at;
    z.packed_length[j] = z.deflater.total_out;
    at += z.deflater.total_out;
  }
  const int64_t t1 = CpuNanos();
  std::size_t out = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const agent::Segment& segment = b.segments[j];
    inflateReset(&z.inflater);
    z.inflater.next_in = z.packed.data() + z.packed_at[j];
    z.inflater.avail_in = static_cast<uInt>(z.packed_length[j]);
    z.inflater.next_out = z.unpacked.data() + out;
    z.inflater.avail_out = static_cast<uInt>(segment.size());
    z.unpacked_ok[j] = inflate(&z.inflater, Z_FINISH) == Z_STREAM_END ? 1 : 0;
    out += segment.size();
  }
  const int64_t t2 = CpuNanos();
  tally.zlib_mismatches += Mismatches(b, z.unpacked.data(), z.unpacked_ok);
  tally.zlib_deflate_nanos += Elapsed(t0, t1, run.clock_cost);
  tally.zlib_inflate_nanos += Elapsed(t1, t2, run.clock_cost);
  tally.zlib_bytes += static_cast<int64_t>(at);
}

void Lz4Phases(Run& run, const Batch& b) {
  Lz4Side& z = *run.lz4;
  Tally& tally = *run.tally;
  const std::size_t n = b.sent;
  z.packed_at.assign(n, 0);
  z.packed_length.assign(n, 0);
  std::size_t room = 0;
  for (std::size_t j = 0; j < n; ++j)
    room += static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(b.segments[j].size())));
  if (z.packed.size() < room) z.packed.resize(room);
  if (z.unpacked.size() < b.bytes) z.unpacked.resize(b.bytes);
  z.unpacked_ok.assign(n, 0);

  const int64_t t0 = CpuNanos();
  std::size_t at = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const agent::Segment& segment = b.segments[j];
    const int size = static_cast<int>(segment.size());
    const int packed = LZ4_compress_default(reinterpret_cast<const char*>(segment.data()), z.packed.data() + at, size,
                                            LZ4_compressBound(size));
    z.packed_at[j] = at;
    z.packed_length[j] = packed;
    if (packed > 0) at += static_cast<std::size_t>(packed);
  }
  const int64_t t1 = CpuNanos();
  std::size_t out = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const int size = static_cast<int>(b.segments[j].size());
    const int got = z.packed_length[j] > 0 ? LZ4_decompress_safe(z.packed.data() + z.packed_at[j],
                                                                 z.unpacked.data() + out, z.packed_length[j], size)
                                           : -1;
    z.unpacked_ok[j] = got == size ? 1 : 0;
    out += static_cast<std::size_t>(size);
  }
  const int64_t t2 = CpuNanos();
  tally.lz4_mismatches += Mismatches(b, z.unpacked.data(), z.unpacked_ok);
  tally.lz4_compress_nanos += Elapsed(t0, t1, run.clock_cost);
  tally.lz4_decompress_nanos += Elapsed(t1, t2, run.clock_cost);
  tally.lz4_bytes += static_cast<int64_t>(at);
}

// The exits' CPU time, measured around whole batches, shared out to the
// rows of the report by the wall time each segment spent in the two calls.
void ShareExitTime(Tally* t) {
  const int64_t cpu = t->send_nanos + t->recv_nanos;
  const int64_t wall = t->total.exit_wall_nanos;
  auto share = [&](Counts& c) {
    c.exit_nanos = wall > 0 ? static_cast<int64_t>(static_cast<double>(cpu) * static_cast<double>(c.exit_wall_nanos) /
                                                   static_cast<double>(wall))
                            : 0;
  };
  share(t->total);
  for (Counts& c : t->by_kind) share(c);
  for (Counts& c : t->by_type) share(c);
}

// Carries one batch over the channel and through zlib, then counts it.
void RunBatch(Run& run, Batch& b) {
  Tally& tally = *run.tally;
  SendPhase(run, b);
  const int64_t refusals = tally.refusals_known ? NewRefusals(run.log) : 0;
  ReceivePhase(run, b);
  AgentCopyPass(run, b);
  if (run.compare) {
    ZlibPhases(run, b);
    Lz4Phases(run, b);
  }

  // Everything handed to the send exit is counted, the segment at which it
  // closed the channel included.
  const std::size_t handed = std::min(b.segments.size(), b.sent + static_cast<std::size_t>(b.send_close));
  int64_t plain = 0;
  for (std::size_t j = 0; j < handed; ++j) {
    const SegmentInfo& info = b.info[j];
    const int64_t length = static_cast<int64_t>(b.segments[j].size());
    const int64_t wire = j < b.sent ? b.wire_length[j] : 0;
    Counts* kind = info.kind >= 0 ? &tally.by_kind[info.kind] : nullptr;
    Slice& slice = tally.slices[info.slice];
    if (kind != nullptr && info.index == 0) {
      ++tally.total.messages;
      ++kind->messages;
      ++tally.by_type[4].messages;
      ++slice.messages;
    }
    const int64_t wall = b.send_wall[j] + (j < b.delivered ? b.recv_wall[j] : 0);
    for (Counts* c : {&tally.total, &tally.by_type[info.type], kind}) {
      if (c == nullptr) continue;
      ++c->segments;
      c->bytes_in += length;
      c->bytes_wire += wire;
      c->exit_wall_nanos += wall;
    }
    slice.bytes_in += length;
    slice.bytes_wire += wire;
    if (j < b.sent) {
      SizeClass& size = tally.by_size[SizeClassOf(b.segments[j].size())];
      ++size.segments;
      size.bytes_in += length;
      size.bytes_wire += wire;
      if (run.compare) {
        size.zlib_bytes += static_cast<int64_t>(run.zlib->packed_length[j]);
        size.lz4_bytes += run.lz4->packed_length[j];
      }
      if (b.compressed[j] != 0) {
        ++tally.compressed;
      } else {
        ++plain;
      }
      if (b.suppressed[j] != 0) ++tally.suppressed;
    }
    if (j < b.delivered) {
      ++tally.delivered;
      tally.delivered_bytes += b.delivered_length[j];
      if (b.intact[j] != 0) ++tally.intact;
    }
    const bool bad = j >= b.delivered || b.intact[j] == 0;
    if (bad && !tally.first_bad) {
      BadSegment first;
      first.number = info.number;
      first.type = info.type;
      first.length = static_cast<int32_t>(length);
      first.where = Where(*run.source, info);
      if (j >= b.sent) {
        first.what = "not delivered: the send exit closed the channel";
      } else if (j >= b.delivered) {
        first.what = "not delivered: the receive exit closed the channel";
      } else if (b.delivered_length[j] != length) {
        first.what = fmt::format("delivered with {} byte{} instead of {}", b.delivered_length[j],
                                 PluralS(b.delivered_length[j]), length);
      } else {
        first.what = "delivered altered";
      }
      tally.first_bad = std::move(first);
    }
  }
  // Every refusal left a segment plain.
  const int64_t refused = std::min(refusals, plain);
  tally.refused += refused;
  tally.plain += plain - refused;
  if (b.send_close != 0 || b.recv_close != 0) tally.channel_closed = true;
}

int SegmentType(const agent::Segment& segment) {
  if (segment.size() < 10 || std::memcmp(segment.data(), "TSH ", 4) != 0) return 0;
  return segment[9] >= 1 && segment[9] <= 5 ? segment[9] : 0;
}

std::vector<std::string> StatisticsSummary(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    for (const char* format : {kStatsTotalLine, kStatsMeanLine, kStatsOverallLine}) {
      if (line.rfind(readers::LiteralHead(format), 0) == 0) {
        lines.push_back(line);
        break;
      }
    }
  }
  return lines;
}

struct Progress {
  bool on = false;
  int shown = -1;
};

void ShowProgress(Progress* p, int64_t done, int64_t total) {
  if (!p->on || total <= 0) return;
  const int percent = static_cast<int>(done * 100 / total);
  if (percent == p->shown) return;
  p->shown = percent;
  constexpr int kWidth = 40;
  const int filled = percent * kWidth / 100;
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%  %lld of %lld message%s", filled, "########################################",
               kWidth - filled, "", percent, static_cast<long long>(done), static_cast<long long>(total),
               PluralS(total));
  std::fflush(stderr);
}

void EndProgress(Progress* p) {
  if (!p->on || p->shown < 0) return;
  std::fprintf(stderr, "\r%*s\r", 80, "");
  std::fflush(stderr);
}

}  // namespace

void RequestStop() { g_stop = 1; }

bool Passed(const Tally& t) {
  return !t.channel_closed && !t.first_bad && !t.interrupted && t.intact == t.total.segments;
}

Tally RunChannel(const Options& o, RunInfo* info) {
  for (const std::string* data : {&o.exit_data, &o.receiver_exit_data})
    if (data->size() > kExitDataLength)
      throw UsageError(
          fmt::format("exit data \"{}\" is longer than the channel's {} characters", *data, kExitDataLength));
  auto source = std::make_unique<Source>();
  SetUpSource(o, source.get(), info);  // reads the inputs first: nothing else is set up if they are unreadable
  Libraries libs;
  LoadLibraries(o.lib_dir, &libs);
  info->lib_dir = o.lib_dir;
  RunFiles files;
  SetUpFiles(o, &files);
  info->config_file = files.temporary ? std::string() : files.config;

  ReadTakenSettings(files.config, o.exit_data, info);

  Tally tally;
  tally.planned_messages = source->total;
  // Refusals are told apart by the send exit's level-0 log line.
  tally.refusals_known = info->log_level >= 0 && info->compression != 0;

  ZlibSide zlib;
  if (!zlib.ready) throw UsageError("cannot set up zlib");
  LogWatch log;
  log.path = files.log;
  Progress progress;
  progress.on = o.progress;

  agent::SimChannel channel;
  agent::EndSettings send;
  send.channel_name = "VELTCHAN.TEST";
  send.max_segment_length = o.max_segment;
  agent::EndSettings recv = send;
  recv.channel_type = 3;
  send.exit_data = o.exit_data;
  recv.exit_data = o.receiver_exit_data;
  const bool opened = agent::OpenChannel(&channel, libs.send.entry, libs.recv.entry, send, recv);
  if (!opened) {
    tally.channel_closed = true;
    BadSegment bad;
    bad.where = "channel start";
    bad.what = "an exit did not answer MQXR_INIT with MQXCC_OK";
    tally.first_bad = bad;
  }

  Lz4Side lz4;
  Run run{&tally,        source.get(), &channel, &zlib, &lz4, &log, ReadingCost(CpuNanos), ReadingCost(WallNanos),
          o.max_segment, o.compare};
  const auto started = std::chrono::steady_clock::now();
  Batch batch;
  agent::TrafficStep step;
  std::size_t pending = 0;  // next segment of step to carry
  SegmentInfo base;
  int64_t number = 0;
  int64_t messages_done = 0;
  bool more = opened;
  while (more && !tally.channel_closed) {
    if (g_stop != 0) {
      tally.interrupted = true;
      break;
    }
    batch.Clear();
    // Fill the batch segment by segment; a long message may span batches.
    while (batch.segments.size() < kBatchSegments && batch.bytes < kBatchBytes) {
      if (pending == step.segments.size()) {
        if (!NextStep(source.get(), &step)) {
          more = false;
          break;
        }
        pending = 0;
        base = SegmentInfo{};
        base.slice = static_cast<int>(
            std::min<int64_t>(kSlices - 1, messages_done * kSlices / std::max<int64_t>(source->total, 1)));
        if (step.is_message) {
          base.kind = static_cast<int>(step.kind);
          base.message_number = source->message_number;
          base.count = static_cast<uint32_t>(step.segments.size());
          base.input = source->input;
          base.destination = source->destination;
          ++messages_done;
        }
        if (step.segments.empty()) continue;
      }
      SegmentInfo info = base;
      info.index = static_cast<uint32_t>(pending);
      info.number = ++number;
      info.type = SegmentType(step.segments[pending]);
      batch.bytes += step.segments[pending].size();
      batch.info.push_back(info);
      batch.segments.push_back(std::move(step.segments[pending]));
      ++pending;
    }
    if (batch.segments.empty()) break;
    RunBatch(run, batch);
    ShowProgress(&progress, messages_done, source->total);
  }
  EndProgress(&progress);
  tally.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  tally.send_nanos = std::max<int64_t>(tally.send_nanos - tally.agent_copy_nanos[0], 0);
  tally.recv_nanos = std::max<int64_t>(tally.recv_nanos - tally.agent_copy_nanos[1], 0);
  ShareExitTime(&tally);

  agent::CloseChannel(&channel);
  if (info->statistics != 0) tally.exit_statistics = StatisticsSummary(files.stats);
  return tally;
}

}  // namespace velt::chan
