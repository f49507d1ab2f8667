// Run-length codec throughput on 32 KiB inputs, next to memcpy and zlib
// level 1 on the same inputs in the same run. After the usual benchmark
// output a Markdown table gives, per input, the codec's throughput as a
// ratio to memcpy (timed alongside the codec in every iteration: the
// vs_memcpy counter) and to zlib (deflate level 1 for encoding, inflate for
// decoding). Throughput always counts plain (unencoded) bytes.
//
//   codec_bench [--benchmark_repetitions=5 --benchmark_report_aggregates_only=true]
//
// With repetitions the ratios use the medians. VELT_BENCH_TEXT names another
// text file for input (a).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "payloads.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr std::size_t kInputSize = 32 * 1024;
constexpr const char* kTextFile = "/usr/share/xml/iso-codes/iso_639-3.xml";

struct Input {
  std::string name;
  Bytes plain;
  Bytes stream;  // its run-length encoding
  Bytes zlib;    // its deflate level 1 encoding
};

// Plain words and punctuation without runs, for machines that lack the file.
Bytes GeneratedText() {
  static const char* const kWords[] = {"the",          "channel", "segment", "queue", "manager", "message", "header",
                                       "data",         "of",      "to",      "and",   "is",      "with",    "for",
                                       "transmission", "exit",    "remote",  "local", "buffer",  "length"};
  std::mt19937 rng(1);
  std::string s;
  while (s.size() < kInputSize) {
    s += kWords[rng() % std::size(kWords)];
    s += rng() % 9 == 0 ? ".\n" : " ";
  }
  return Bytes(s.begin(), s.end());
}

// Up to 32 KiB of the text file (repeated if shorter), else generated text.
Bytes RealText() {
  const char* path = std::getenv("VELT_BENCH_TEXT");
  if (path == nullptr || *path == '\0') path = kTextFile;
  std::ifstream f(path, std::ios::binary);
  Bytes file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (file.empty()) {
    std::fprintf(stderr, "codec_bench: %s not readable, using generated text for (a)\n", path);
    return GeneratedText();
  }
  Bytes out;
  while (out.size() < kInputSize) out.insert(out.end(), file.begin(), file.end());
  out.resize(kInputSize);
  return out;
}

// A 464-byte header difference as the send side makes it for the next message
// to the same queue (zero but for the message number, message id counter and
// put time), then message text.
Bytes HeaderDifference(const Bytes& text) {
  constexpr std::size_t kHeader = 464;
  Bytes out(kInputSize, 0);
  const std::size_t changed[] = {23, 27, 41, 43, 47, 201, 202, 203, 430, 431, 433, 434};
  for (std::size_t k = 0; k < std::size(changed); ++k) out[changed[k]] = static_cast<unsigned char>(k * 37 + 1);
  std::memcpy(out.data() + kHeader, text.data(), kInputSize - kHeader);
  return out;
}

// Fixed-width records of blank-padded fields (number, name, street, city,
// country, amount right-aligned), 128 bytes each.
Bytes PaddedRecords() {
  static const char* const kNames[] = {"Anna Berger",         "Li Wei",     "Jose Garcia Marquez", "Olu Adebayo",
                                       "Marie-Claire Dubois", "Sven Olsen", "Aiko Tanaka"};
  static const char* const kStreets[] = {"12 High Street", "Rue de la Paix 7", "Hauptstrasse 101", "Calle Mayor 3",
                                         "Via Roma 25b"};
  static const char* const kCities[] = {"Leeds", "Paris", "Stuttgart", "Madrid", "Torino", "Oslo"};
  static const char* const kCountries[] = {"GB", "FR", "DE", "ES", "IT", "NO"};
  std::mt19937 rng(2);
  std::string s;
  char field[64];
  for (unsigned rec = 0; s.size() < kInputSize; ++rec) {
    std::snprintf(field, sizeof field, "%08u", rec);
    s += field;
    std::snprintf(field, sizeof field, "%-32s", kNames[rng() % std::size(kNames)]);
    s += field;
    std::snprintf(field, sizeof field, "%-36s", kStreets[rng() % std::size(kStreets)]);
    s += field;
    std::snprintf(field, sizeof field, "%-24s", kCities[rng() % std::size(kCities)]);
    s += field;
    std::snprintf(field, sizeof field, "%-4s", kCountries[rng() % std::size(kCountries)]);
    s += field;
    std::snprintf(field, sizeof field, "%12.2f    ", static_cast<double>(rng() % 10000000) / 100.0);
    s += field;
    s += "\r\n";
  }
  s.resize(kInputSize);
  return Bytes(s.begin(), s.end());
}

// Short codes in wide blank-padded fields (a 3 to 8 character code padded
// to 40), four to a 160-byte record: few literals, long runs.
Bytes BlankPaddedFields() {
  static const char* const kCodes[] = {"EUR", "ACCT", "OPEN", "PENDING", "GB29NW", "SETTLED", "X1", "REF0042"};
  std::mt19937 rng(4);
  std::string s;
  char field[64];
  while (s.size() < kInputSize) {
    for (int f = 0; f < 4; ++f) {
      std::snprintf(field, sizeof field, "%-40s", kCodes[rng() % std::size(kCodes)]);
      s += field;
    }
  }
  s.resize(kInputSize);
  return Bytes(s.begin(), s.end());
}

// Numeric fields padded with zeros (12 digits each, values mostly below a
// million), eight to a record and a line end.
Bytes ZeroPaddedNumbers() {
  std::mt19937 rng(5);
  std::string s;
  char field[32];
  while (s.size() < kInputSize) {
    for (int f = 0; f < 8; ++f) {
      const unsigned digits = 1 + rng() % 6;
      unsigned long long v = rng() % 10;
      for (unsigned d = 1; d < digits; ++d) v = v * 10 + rng() % 10;
      std::snprintf(field, sizeof field, "%012llu", v);
      s += field;
    }
    s += "\r\n";
  }
  s.resize(kInputSize);
  return Bytes(s.begin(), s.end());
}

// The records of veltchan's built-in workload, from its own generator.
Bytes WorkloadRecords() {
  velt::agent::Rng rng(6);
  Bytes out;
  velt::agent::MakePayload(velt::agent::PayloadKind::Records, kInputSize, &rng, {}, &out);
  return out;
}

Bytes RandomBytes() {
  std::mt19937 rng(3);
  Bytes out(kInputSize);
  for (unsigned char& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

Bytes Deflate(const Bytes& in) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), 1) != Z_OK) std::abort();
  out.resize(size);
  return out;
}

Input MakeInput(std::string name, Bytes plain) {
  Input in{std::move(name), std::move(plain), {}, {}};
  const auto n = static_cast<int32_t>(in.plain.size());
  in.stream.resize(2 * in.plain.size());
  const int32_t size = velt::EncodeRLE(in.plain.data(), in.stream.data(), n, 2 * n);
  in.stream.resize(static_cast<std::size_t>(size));
  Bytes back(in.plain.size());
  if (velt::DecodeRLE(in.stream.data(), back.data(), size, n) != n || back != in.plain) {
    std::fprintf(stderr, "codec_bench: round trip failed on %s\n", in.name.c_str());
    std::abort();
  }
  in.zlib = Deflate(in.plain);
  return in;
}

// --- the measured operations -------------------------------------------------

// Where the output lies relative to the input changes the speed of every
// copying loop by up to a third (loads that seem to hit a pending store to
// the same offset within a 4 KiB page wait for it). Each operation therefore
// cycles through eight output positions spread over a page, so that no
// operation is favoured by where the allocator happened to put its buffers.
constexpr std::size_t kPlacements = 8;
constexpr std::size_t kPlacementStep = 512;

Bytes OutputArea(std::size_t size) { return Bytes(size + kPlacements * kPlacementStep); }

unsigned char* Placed(Bytes& area, std::size_t round) { return area.data() + (round % kPlacements) * kPlacementStep; }

void Memcpy(benchmark::State& state, const Input* in) {
  Bytes area = OutputArea(in->plain.size());
  std::size_t round = 0;
  for (auto _ : state) {
    unsigned char* dst = Placed(area, round++);
    std::memcpy(dst, in->plain.data(), in->plain.size());
    benchmark::DoNotOptimize(dst);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->plain.size()));
}

// The codec's figures are timed side by side with memcpy of the same input:
// every iteration copies the input kRounds times, then encodes (or decodes)
// it kRounds times, and the ratio of the two times is the figure the table
// shows. On a shared host the speed of the whole machine drifts by a third
// from one minute to the next, which two separate benchmarks see as a
// change in the codec; both halves of one iteration see it alike. The
// benchmark's own time (manual) is the codec's half.
constexpr int kRounds = 16;

template <typename Op>
void SideBySide(benchmark::State& state, const Input* in, std::size_t area_size, Op op) {
  using Clock = std::chrono::steady_clock;
  Bytes copies = OutputArea(in->plain.size());
  Bytes area = OutputArea(area_size);
  std::size_t round = 0;
  double copy_seconds = 0;
  double op_seconds = 0;
  for (auto _ : state) {
    const Clock::time_point t0 = Clock::now();
    for (int k = 0; k < kRounds; ++k) {
      unsigned char* dst = Placed(copies, round + static_cast<std::size_t>(k));
      std::memcpy(dst, in->plain.data(), in->plain.size());
      benchmark::DoNotOptimize(dst);
      benchmark::ClobberMemory();
    }
    const Clock::time_point t1 = Clock::now();
    for (int k = 0; k < kRounds; ++k) {
      int32_t size = op(Placed(area, round + static_cast<std::size_t>(k)));
      benchmark::DoNotOptimize(size);
      benchmark::ClobberMemory();
    }
    const Clock::time_point t2 = Clock::now();
    round += kRounds;
    copy_seconds += std::chrono::duration<double>(t1 - t0).count();
    op_seconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRounds * in->plain.size()));
  state.counters["vs_memcpy"] = op_seconds > 0 ? copy_seconds / op_seconds : 0;
}

void Encode(benchmark::State& state, const Input* in) {
  const auto n = static_cast<int32_t>(in->plain.size());
  SideBySide(state, in, 2 * in->plain.size(),
             [&](unsigned char* dst) { return velt::EncodeRLE(in->plain.data(), dst, n, 2 * n); });
}

void Decode(benchmark::State& state, const Input* in) {
  const auto n = static_cast<int32_t>(in->plain.size());
  const auto size = static_cast<int32_t>(in->stream.size());
  SideBySide(state, in, in->plain.size(),
             [&](unsigned char* dst) { return velt::DecodeRLE(in->stream.data(), dst, size, n); });
}

// The deflate state is set up once and reset per round, so that zlib is
// timed on its work alone.
void ZlibCompress(benchmark::State& state, const Input* in) {
  z_stream z{};
  if (deflateInit(&z, 1) != Z_OK) std::abort();
  const std::size_t bound = compressBound(static_cast<uLong>(in->plain.size()));
  Bytes area = OutputArea(bound);
  std::size_t round = 0;
  for (auto _ : state) {
    deflateReset(&z);
    z.next_in = const_cast<Bytef*>(in->plain.data());
    z.avail_in = static_cast<uInt>(in->plain.size());
    z.next_out = Placed(area, round++);
    z.avail_out = static_cast<uInt>(bound);
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) state.SkipWithError("deflate failed");
    benchmark::ClobberMemory();
  }
  deflateEnd(&z);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->plain.size()));
}

void ZlibDecompress(benchmark::State& state, const Input* in) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) std::abort();
  Bytes area = OutputArea(in->plain.size());
  std::size_t round = 0;
  for (auto _ : state) {
    inflateReset(&z);
    z.next_in = const_cast<Bytef*>(in->zlib.data());
    z.avail_in = static_cast<uInt>(in->zlib.size());
    z.next_out = Placed(area, round++);
    z.avail_out = static_cast<uInt>(in->plain.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate failed");
    benchmark::ClobberMemory();
  }
  inflateEnd(&z);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->plain.size()));
}

// --- ratio table ------------------------------------------------------------

// The console output as usual, and each benchmark's bytes per second kept
// for the table (the median when repetitions are asked for).
struct RateReporter : benchmark::ConsoleReporter {
  std::map<std::string, double> rates;
  std::map<std::string, double> vs_memcpy;  // the codec against memcpy timed alongside
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type == Run::RT_Aggregate && !median) continue;
      const auto it = r.counters.find("bytes_per_second");
      if (it != r.counters.end()) rates[r.run_name.function_name] = it->second.value;
      const auto vs = r.counters.find("vs_memcpy");
      if (vs != r.counters.end()) vs_memcpy[r.run_name.function_name] = vs->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void PrintTable(const std::vector<Input>& inputs, const RateReporter& figures) {
  // A benchmark's figure by operation and input; 0 when it did not run.
  auto figure = [](const std::map<std::string, double>& figures_of, const char* op, const Input& in) {
    const auto it = figures_of.find(std::string(op) + "/" + in.name);
    return it == figures_of.end() ? 0.0 : it->second;
  };
  auto rate = [&](const char* op, const Input& in) { return figure(figures.rates, op, in); };
  auto vs_memcpy = [&](const char* op, const Input& in) {
    const double v = figure(figures.vs_memcpy, op, in);
    char buf[32];
    if (v <= 0) return std::string("-");
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return std::string(buf);
  };
  auto ratio = [](double a, double b) {
    char buf[32];
    if (a <= 0 || b <= 0) return std::string("-");
    std::snprintf(buf, sizeof buf, b * 10 > a ? "%.2f" : "%.0f", a / b);
    return std::string(buf);
  };
  std::printf(
      "\n| input | stream/input | encode GB/s | decode GB/s | encode/memcpy | decode/memcpy |"
      " encode/zlib-1 | decode/inflate |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (const Input& in : inputs) {
    const double enc = rate("encode", in), dec = rate("decode", in);
    std::printf("| %s | %.3f | %.2f | %.2f | %s | %s | %s | %s |\n", in.name.c_str(),
                static_cast<double>(in.stream.size()) / static_cast<double>(in.plain.size()), enc / 1e9, dec / 1e9,
                vs_memcpy("encode", in).c_str(), vs_memcpy("decode", in).c_str(),
                ratio(enc, rate("zlib1_compress", in)).c_str(), ratio(dec, rate("zlib_decompress", in)).c_str());
  }
  std::printf("\nmemcpy GB/s:");
  for (const Input& in : inputs) std::printf(" %s %.1f", in.name.c_str(), rate("memcpy", in) / 1e9);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  const Bytes text = RealText();
  std::vector<Input> inputs;
  inputs.push_back(MakeInput("a_text", text));
  inputs.push_back(MakeInput("b_header_diff", HeaderDifference(text)));
  inputs.push_back(MakeInput("c_padded_records", PaddedRecords()));
  inputs.push_back(MakeInput("d_random", RandomBytes()));
  inputs.push_back(MakeInput("e_all_escape", Bytes(kInputSize, velt::kRleEscape)));
  inputs.push_back(MakeInput("f_blank_padded_fields", BlankPaddedFields()));
  inputs.push_back(MakeInput("g_zero_padded_numbers", ZeroPaddedNumbers()));
  inputs.push_back(MakeInput("h_workload_records", WorkloadRecords()));

  // Per input, all five operations one after the other, so that each ratio
  // compares figures taken close together in time.
  for (const Input& in : inputs) {
    benchmark::RegisterBenchmark(("memcpy/" + in.name).c_str(), Memcpy, &in);
    benchmark::RegisterBenchmark(("encode/" + in.name).c_str(), Encode, &in)->UseManualTime();
    benchmark::RegisterBenchmark(("decode/" + in.name).c_str(), Decode, &in)->UseManualTime();
    benchmark::RegisterBenchmark(("zlib1_compress/" + in.name).c_str(), ZlibCompress, &in);
    benchmark::RegisterBenchmark(("zlib_decompress/" + in.name).c_str(), ZlibDecompress, &in);
  }

  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(inputs, reporter);
  benchmark::Shutdown();
  return 0;
}
