// Soak: millions of segments end to end through the simulated channel and the
// real libraries, seeded and reproducible. The stream runs in blocks; each
// block is a fresh channel instance with its own seed, compression level,
// header table size, segment size and byte order. Every delivered segment
// must equal the one built, and no channel may close.
//
//   soak [--segments N] [--seed S] [--block N]
//
// Exits 0 when every segment arrived intact, 1 otherwise; the first
// mismatches are printed with what reproduces them.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim_channel.h"
#include "support.h"
#include "workload.h"

namespace {

using namespace velt;

struct Options {
  long long segments = 1000000;
  uint64_t seed = 20261209;
  long long block = 50000;
};

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (arg == "--segments") {
      options->segments = std::atoll(value);
    } else if (arg == "--seed") {
      options->seed = std::strtoull(value, nullptr, 10);
    } else if (arg == "--block") {
      options->block = std::atoll(value);
    } else {
      return false;
    }
  }
  return options->segments > 0 && options->block > 0;
}

struct Block {
  int compression;
  int table_size;
  int32_t max_segment;
  uint8_t byte_order;
  int destinations;
  int32_t wrap_value;
};

Block BlockFor(long long b) {
  static constexpr int32_t kSizes[] = {600, 4096, 32768, 9000};
  static constexpr int kTables[] = {1, 4, 16, 7};
  static constexpr int32_t kWraps[] = {999999999, 500, 3};
  return Block{static_cast<int>(b % 4) + 1,  kTables[(b / 4) % 4],
               kSizes[(b / 2 + b) % 4],      static_cast<uint8_t>(b % 2 == 0 ? 2 : 1),
               static_cast<int>(b % 13) + 2, kWraps[b % 3]};
}

struct Totals {
  long long segments = 0;
  long long compressed = 0;
  long long mismatches = 0;
  long long closes = 0;
  long long bytes_built = 0;
  long long bytes_wire = 0;
};

void Report(const char* what, const Block& k, uint64_t seed, long long at, const velt::agent::Hop& hop) {
  std::printf(
      "%s: block seed %llu, segment %lld of the block (%d bytes, wire %d, mark 0x%02x); "
      "COMP=%d HDR=%d MaxSegmentLength=%d byte order %d, %d destinations, wrap %d\n",
      what, static_cast<unsigned long long>(seed), at, hop.built_length, hop.wire_length, hop.mark, k.compression,
      k.table_size, k.max_segment, k.byte_order, k.destinations, k.wrap_value);
}

// Carries n segments over one fresh channel.
void RunBlock(long long b, long long n, uint64_t seed, Totals* totals) {
  const Block k = BlockFor(b);
  agent::EndSettings send;
  send.channel_name = "SOAK." + std::to_string(b);
  send.max_segment_length = k.max_segment;
  send.exit_data = "COMP=" + std::to_string(k.compression) + " HDR=" + std::to_string(k.table_size);
  agent::EndSettings recv = send;
  recv.channel_type = 3;
  agent::SimChannel channel;
  if (!agent::OpenChannel(&channel, test::SendLibrary().entry, test::RecvLibrary().entry, send, recv)) {
    std::printf("block %lld: the channel did not start\n", b);
    totals->closes += 1;
    return;
  }

  agent::WorkloadSettings settings;
  settings.seed = seed;
  settings.max_segment_length = k.max_segment;
  settings.byte_order = k.byte_order;
  settings.destinations = k.destinations;
  settings.wrap_value = k.wrap_value;
  settings.max_payload = static_cast<std::size_t>(k.max_segment) * 3;
  agent::Workload workload;
  agent::SetUpWorkload(&workload, settings);

  agent::Step step;
  long long done = 0;
  while (done < n) {
    agent::NextStep(&workload, &step);
    for (const agent::Segment& s : step.segments) {
      if (done == n) break;
      const agent::Hop hop = agent::Transmit(&channel, s.data(), static_cast<int32_t>(s.size()));
      ++done;
      totals->bytes_built += hop.built_length;
      totals->bytes_wire += hop.wire_length;
      totals->compressed += hop.compressed ? 1 : 0;
      if (!hop.delivered) {
        ++totals->closes;
        Report("channel closed", k, seed, done - 1, hop);
        totals->segments += done;
        agent::CloseChannel(&channel);
        return;
      }
      if (!hop.intact && ++totals->mismatches <= 10) Report("MISMATCH", k, seed, done - 1, hop);
    }
  }
  totals->segments += done;
  agent::CloseChannel(&channel);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: %s [--segments N] [--seed S] [--block N]\n", argv[0]);
    return 2;
  }
  test::ScratchDir dir;
  const std::string log = dir.File("velt.log");
  test::UseConfig(dir.File("velt.cfg"), "LogLevel = 0\nLogFile = " + log + "\n");

  const auto start = std::chrono::steady_clock::now();
  Totals totals;
  for (long long b = 0; totals.segments < options.segments; ++b) {
    const long long n = std::min(options.block, options.segments - totals.segments);
    RunBlock(b, n, options.seed + static_cast<uint64_t>(b), &totals);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  // Refused compressions of incompressible messages are expected; any other
  // level-0 line is shown.
  std::vector<std::string> refusals;
  std::size_t refused_compressions = 0;
  for (std::string& line : test::LogLines(log)) {
    if (test::IsRefusedCompression(line))
      ++refused_compressions;
    else
      refusals.push_back(std::move(line));
  }
  std::printf(
      "soak: %lld segments (seed %llu), %lld mismatches, %lld channel closes, %zu refused compressions, %zu other "
      "level-0 log lines\n",
      totals.segments, static_cast<unsigned long long>(options.seed), totals.mismatches, totals.closes,
      refused_compressions, refusals.size());
  std::printf("soak: %.1f%% compressed, %lld bytes built, %lld on the wire (%.2f:1), %.1f s, %.0f segments/s\n",
              100.0 * static_cast<double>(totals.compressed) / static_cast<double>(totals.segments), totals.bytes_built,
              totals.bytes_wire,
              static_cast<double>(totals.bytes_built) / static_cast<double>(std::max(totals.bytes_wire, 1LL)), seconds,
              static_cast<double>(totals.segments) / seconds);
  for (std::size_t i = 0; i < refusals.size() && i < 5; ++i) std::printf("  log: %s\n", refusals[i].c_str());
  return totals.mismatches == 0 && totals.closes == 0 && refusals.empty() ? 0 : 1;
}
