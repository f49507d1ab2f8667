// End to end: the segments of veltchan's built-in workload (20,000 messages,
// seed 1) through both exit libraries, against zlib level 1 and LZ4 (default
// acceleration) compressing and then expanding the same segments, in the
// same run. The exits run with the
// default compression level, no log and no statistics.
//
//   e2e_bench [--benchmark_repetitions=3 --benchmark_report_aggregates_only=true]
//
// After the usual output it prints the CPU time per segment of each, their
// ratios, and the compression ratio of each, overall and by segment size
// (under 1 KiB, 1 to 8 KiB, 8 KiB and more). The exits' time includes
// the simulated agent copying each segment into the buffer of each end; the
// AgentCopies case measures that copying alone. VELT_BENCH_MESSAGES changes
// the number of messages, VELT_BENCH_LIB_DIR the directory of the libraries.
#define ZLIB_CONST
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "exit_library.h"
#include "sim_channel.h"
#include "traffic.h"
#include "velt/velt_exit.h"

namespace {

using velt::agent::Segment;

struct Setup {
  std::vector<Segment> segments;
  std::vector<int32_t> wire_lengths;
  std::size_t bytes = 0;
  std::size_t largest = 0;
  velt::agent::ExitLibrary send, recv;
  std::string error;
  double exit_ratio = 0;
  double zlib_ratio = 0;
  double lz4_ratio = 0;
  // Bytes in and out per size class: segments, exits, zlib level 1, LZ4.
  std::size_t class_in[3] = {0, 0, 0};
  std::size_t class_exits[3] = {0, 0, 0};
  std::size_t class_zlib[3] = {0, 0, 0};
  std::size_t class_lz4[3] = {0, 0, 0};
  std::filesystem::path dir;
};

int32_t Length(const Segment& s) { return static_cast<int32_t>(s.size()); }
int SizeClass(std::size_t bytes) { return bytes < 1024 ? 0 : bytes < 8192 ? 1 : 2; }

void OpenBenchChannel(Setup& s, velt::agent::SimChannel* channel) {
  velt::agent::EndSettings send;
  send.channel_name = "VELT.BENCH";
  velt::agent::EndSettings recv = send;
  recv.channel_type = 3;
  velt::agent::OpenChannel(channel, s.send.entry, s.recv.entry, send, recv);
}

// One pass with the full check: every segment must come back as built.
void Verify(Setup& s) {
  velt::agent::SimChannel channel;
  OpenBenchChannel(s, &channel);
  std::size_t wire = 0;
  for (std::size_t i = 0; i < s.segments.size(); ++i) {
    const Segment& seg = s.segments[i];
    const velt::agent::Hop hop = velt::agent::Transmit(&channel, seg.data(), Length(seg));
    if (!hop.intact) {
      s.error = "segment " + std::to_string(i + 1) + " did not arrive intact";
      break;
    }
    wire += static_cast<std::size_t>(hop.wire_length);
    s.wire_lengths.push_back(hop.wire_length);
    s.class_in[SizeClass(seg.size())] += seg.size();
    s.class_exits[SizeClass(seg.size())] += static_cast<std::size_t>(hop.wire_length);
  }
  velt::agent::CloseChannel(&channel);
  s.exit_ratio = wire > 0 ? static_cast<double>(s.bytes) / static_cast<double>(wire) : 0;
}

Setup& Shared() {
  static Setup s = [] {
    Setup setup;
    // No log, no statistics, default compression and header table.
    setup.dir = std::filesystem::temp_directory_path() / ("velt-e2e-" + std::to_string(::getpid()));
    std::filesystem::create_directories(setup.dir);
    const std::string config = (setup.dir / "velt_exit.cfg").string();
    std::ofstream(config) << "Compression = 3\nStatistics = 0\nLogLevel = -1\nLogFile = "
                          << (setup.dir / "x.log").string() << "\nStatsFile = " << (setup.dir / "x.dat").string()
                          << "\n";
    setenv("VELT_EXIT_CFG", config.c_str(), 1);

    const char* lib_dir = std::getenv("VELT_BENCH_LIB_DIR");
    const std::string dir = lib_dir != nullptr && *lib_dir != '\0' ? lib_dir : VELT_LIB_DIR;
    if (!velt::agent::LoadExitLibrary(velt::agent::SendLibraryPath(dir), &setup.send, &setup.error) ||
        !velt::agent::LoadExitLibrary(velt::agent::RecvLibraryPath(dir), &setup.recv, &setup.error))
      return setup;

    static const velt::agent::Corpus corpus = velt::agent::LoadCorpus(velt::agent::DefaultCorpusRoots());
    velt::agent::TrafficSettings settings;
    if (const char* n = std::getenv("VELT_BENCH_MESSAGES"); n != nullptr && std::atoll(n) > 0)
      settings.messages = std::atoll(n);
    velt::agent::Traffic traffic;
    velt::agent::SetUpTraffic(&traffic, settings, &corpus);
    velt::agent::TrafficStep step;
    while (velt::agent::NextTrafficStep(&traffic, &step)) {
      for (Segment& seg : step.segments) {
        setup.bytes += seg.size();
        setup.largest = std::max(setup.largest, seg.size());
        setup.segments.push_back(std::move(seg));
      }
    }
    Verify(setup);
    return setup;
  }();
  return s;
}

void BM_Exits(benchmark::State& state) {
  Setup& s = Shared();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  for (auto _ : state) {
    // A fresh channel each pass: the stream starts with its initial data.
    velt::agent::SimChannel channel;
    OpenBenchChannel(s, &channel);
    for (const Segment& seg : s.segments) {
      const velt::agent::Delivery sent = velt::agent::TransmitOnEnd(&channel.send, seg.data(), Length(seg));
      const velt::agent::Delivery got = velt::agent::TransmitOnEnd(&channel.recv, sent.data, sent.length);
      benchmark::DoNotOptimize(got.data);
    }
    velt::agent::CloseChannel(&channel);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s.segments.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes));
}

// What the simulated agent adds to the exits' figure: copying each segment
// into the send end's buffer and what travels into the receive end's.
void BM_AgentCopies(benchmark::State& state) {
  Setup& s = Shared();
  if (!s.error.empty()) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  std::vector<unsigned char> a(s.largest), b(s.largest);
  for (auto _ : state) {
    for (std::size_t i = 0; i < s.segments.size(); ++i) {
      const Segment& seg = s.segments[i];
      std::memcpy(a.data(), seg.data(), seg.size());
      std::memcpy(b.data(), a.data(), static_cast<std::size_t>(s.wire_lengths[i]));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s.segments.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes));
}

void BM_Zlib1(benchmark::State& state) {
  Setup& s = Shared();
  z_stream deflater{}, inflater{};
  deflateInit(&deflater, 1);
  inflateInit(&inflater);
  std::vector<unsigned char> packed(deflateBound(&deflater, static_cast<uLong>(s.largest)));
  std::vector<unsigned char> unpacked(s.largest);
  std::size_t total = 0;
  bool ok = true;
  for (auto _ : state) {
    total = 0;
    for (const Segment& seg : s.segments) {
      deflateReset(&deflater);
      deflater.next_in = seg.data();
      deflater.avail_in = static_cast<uInt>(seg.size());
      deflater.next_out = packed.data();
      deflater.avail_out = static_cast<uInt>(packed.size());
      ok &= deflate(&deflater, Z_FINISH) == Z_STREAM_END;
      inflateReset(&inflater);
      inflater.next_in = packed.data();
      inflater.avail_in = static_cast<uInt>(deflater.total_out);
      inflater.next_out = unpacked.data();
      inflater.avail_out = static_cast<uInt>(unpacked.size());
      ok &= inflate(&inflater, Z_FINISH) == Z_STREAM_END && inflater.total_out == seg.size();
      total += deflater.total_out;
    }
  }
  std::fill(std::begin(s.class_zlib), std::end(s.class_zlib), 0);
  for (const Segment& seg : s.segments) {
    deflateReset(&deflater);
    deflater.next_in = seg.data();
    deflater.avail_in = static_cast<uInt>(seg.size());
    deflater.next_out = packed.data();
    deflater.avail_out = static_cast<uInt>(packed.size());
    deflate(&deflater, Z_FINISH);
    s.class_zlib[SizeClass(seg.size())] += deflater.total_out;
  }
  deflateEnd(&deflater);
  inflateEnd(&inflater);
  if (!ok) state.SkipWithError("zlib did not round-trip a segment");
  s.zlib_ratio = total > 0 ? static_cast<double>(s.bytes) / static_cast<double>(total) : 0;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s.segments.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes));
}

void BM_Lz4(benchmark::State& state) {
  Setup& s = Shared();
  const int bound = LZ4_compressBound(static_cast<int>(s.largest));
  std::vector<char> packed(static_cast<std::size_t>(bound));
  std::vector<char> unpacked(s.largest);
  std::size_t total = 0;
  bool ok = true;
  for (auto _ : state) {
    total = 0;
    for (const Segment& seg : s.segments) {
      const int size = static_cast<int>(seg.size());
      const int n = LZ4_compress_default(reinterpret_cast<const char*>(seg.data()), packed.data(), size, bound);
      ok &= n > 0 && LZ4_decompress_safe(packed.data(), unpacked.data(), n, size) == size;
      total += static_cast<std::size_t>(n);
    }
  }
  if (!ok) state.SkipWithError("LZ4 did not round-trip a segment");
  s.lz4_ratio = total > 0 ? static_cast<double>(s.bytes) / static_cast<double>(total) : 0;
  std::fill(std::begin(s.class_lz4), std::end(s.class_lz4), 0);
  for (const Segment& seg : s.segments) {
    const int n = LZ4_compress_default(reinterpret_cast<const char*>(seg.data()), packed.data(),
                                       static_cast<int>(seg.size()), bound);
    s.class_lz4[SizeClass(seg.size())] += static_cast<std::size_t>(n > 0 ? n : 0);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s.segments.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes));
}

BENCHMARK(BM_Exits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AgentCopies)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zlib1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lz4)->Unit(benchmark::kMillisecond);

// Keeps the CPU time per iteration of each case: the median when the runs
// are repeated, else the last run.
class Capture : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> cpu;  // nanoseconds per iteration
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string base = run.run_name.function_name;
      const double nanos = run.GetAdjustedCPUTime() * 1e6;  // reported in milliseconds
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        cpu[base] = nanos;
        medians_.insert(base);
      } else if (run.run_type == Run::RT_Iteration && medians_.count(base) == 0) {
        cpu[base] = nanos;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

 private:
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Capture reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  Setup& s = Shared();
  std::error_code ignored;
  std::filesystem::remove_all(s.dir, ignored);
  if (!s.error.empty()) {
    std::fprintf(stderr, "e2e_bench: %s\n", s.error.c_str());
    return 1;
  }
  const double n = static_cast<double>(s.segments.size());
  const double exits = reporter.cpu["BM_Exits"] / n;
  const double copies = reporter.cpu["BM_AgentCopies"] / n;
  const double zlib = reporter.cpu["BM_Zlib1"] / n;
  std::printf("\n%zu segments, %zu bytes (built-in workload, seed 1)\n", s.segments.size(), s.bytes);
  std::printf("exits, send + receive:          %8.3f us per segment (%.3f us of it the agent's copies)\n", exits / 1000,
              copies / 1000);
  const double lz4 = reporter.cpu["BM_Lz4"] / n;
  std::printf("zlib level 1, deflate + inflate: %8.3f us per segment\n", zlib / 1000);
  std::printf("LZ4, compress + decompress:      %8.3f us per segment\n", lz4 / 1000);
  if (exits > 0) {
    std::printf("exits faster than zlib level 1: %.1fx (%.1fx without the agent's copies)\n", zlib / exits,
                exits > copies ? zlib / (exits - copies) : 0.0);
  }
  if (exits > 0) std::printf("exits faster than LZ4: %.1fx\n", lz4 / exits);
  std::printf("compression ratio: exits %.3f, zlib level 1 %.3f, LZ4 %.3f\n", s.exit_ratio, s.zlib_ratio, s.lz4_ratio);
  const char* names[] = {"under 1 KiB", "1 to 8 KiB", "8 KiB and more"};
  const auto ratio = [](std::size_t in, std::size_t out) {
    return out > 0 ? static_cast<double>(in) / static_cast<double>(out) : 0.0;
  };
  for (int c = 0; c < 3; ++c) {
    std::printf("  %-15s %11zu bytes: exits %.3f, zlib level 1 %.3f, LZ4 %.3f\n", names[c], s.class_in[c],
                ratio(s.class_in[c], s.class_exits[c]), ratio(s.class_in[c], s.class_zlib[c]),
                ratio(s.class_in[c], s.class_lz4[c]));
  }
  return 0;
}
