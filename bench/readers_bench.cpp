// The readers of the statistics file and the log against counting the lines
// of the same text (what wc -l does) and memcpy, side by side in one run, on
// 100 MB of lines in the formats the exits write (held in memory, so that
// the disk is not measured).
//
//   readers_bench [--benchmark_repetitions=3 --benchmark_report_aggregates_only=true]
//
// VELT_BENCH_MB changes the size of the text.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/log_lines.h"
#include "host/platform.h"
#include "host/stats_lines.h"
#include "readers/log_reader.h"
#include "readers/stats_reader.h"

namespace {

std::size_t TargetBytes() {
  const char* mb = std::getenv("VELT_BENCH_MB");
  const long n = mb != nullptr ? std::atol(mb) : 100;
  return static_cast<std::size_t>(n > 0 ? n : 100) << 20;
}

void Append(std::string* text, const char* format, ...) VELT_PRINTF(2, 3);
void Append(std::string* text, const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0)
    text->append(line, static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1);
}

// Instances of 1,000 segments with their summaries.
const std::string& StatsText() {
  static const std::string text = [] {
    std::string t;
    const std::size_t target = TargetBytes();
    t.reserve(target + 4096);
    long segment = 0, compressed = 0;
    while (t.size() < target) {
      ++segment;
      const long before = 400 + (segment * 7919) % 30000;
      const long after = segment % 5 == 0 ? before : before * 2 / 3;
      if (after < before) ++compressed;
      Append(&t, velt::kStatsSegmentLine, segment, compressed, before, after,
             static_cast<double>(before) / static_cast<double>(after), 1.4321);
      if (segment == 1000) {
        Append(&t, velt::kStatsTotalLine, segment, compressed);
        Append(&t, velt::kStatsMeanLine, 1.4321);
        Append(&t, velt::kStatsOverallLine, 1.3456);
        segment = compressed = 0;
      }
    }
    return t;
  }();
  return text;
}

// A log at level 4 and 5, with a refusal and a closed channel now and then.
const std::string& LogText() {
  static const std::string text = [] {
    std::string t;
    const std::size_t target = TargetBytes();
    t.reserve(target + 4096);
    for (long i = 0; t.size() < target; ++i) {
      const int s = static_cast<int>(i % 60);
      Append(&t, velt::kLogPrefix, 9, 5, s, 4, "SDR");
      Append(&t, "velt_exit: [%04d] %.20s: Reason %s, Ids %s\n", 4242, "CHANNEL.TO.QM2      ", "MQXR_XMIT",
             "SEND_EXIT");
      Append(&t, velt::kLogPrefix, 9, 5, s, 5, "RCVR");
      Append(&t, "ProcessXmitRecv: decoded length is %ld\n", 4000 + i % 1000);
      Append(&t, velt::kLogPrefix, 9, 5, s, 4, "SDR");
      Append(&t, "velt_exit: ProcessXmitSend: before %ld after %ld\n\n", 5000L, 3000L);
      if (i % 1000 == 0) {
        Append(&t, velt::kLogPrefix, 9, 5, s, 0, "SDR");
        Append(&t, velt::kLogRefusedCompression, 700L, 600L);
        Append(&t, velt::kLogPrefix, 9, 5, s, 0, "RCVR");
        Append(&t, velt::kLogRecvAdjustTable);
      }
    }
    return t;
  }();
  return text;
}

constexpr std::size_t kChunk = 1u << 20;

// What wc -l does: count the line ends.
void CountLines(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    std::size_t lines = 0;
    for (std::size_t at = 0; at < text.size(); at += kChunk) {
      const char* p = text.data() + at;
      const char* end = p + std::min(kChunk, text.size() - at);
      while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
        ++lines;
        ++p;
      }
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void Memcpy(benchmark::State& state, const std::string& text) {
  static std::string copy(kChunk, '\0');
  for (auto _ : state) {
    for (std::size_t at = 0; at < text.size(); at += kChunk) {
      std::memcpy(copy.data(), text.data() + at, std::min(kChunk, text.size() - at));
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_StatsCountLines(benchmark::State& state) { CountLines(state, StatsText()); }
void BM_StatsMemcpy(benchmark::State& state) { Memcpy(state, StatsText()); }
void BM_StatsReader(benchmark::State& state) {
  const std::string& text = StatsText();
  for (auto _ : state) {
    velt::readers::StatsReader reader;
    for (std::size_t at = 0; at < text.size(); at += kChunk)
      velt::readers::FeedStats(&reader, text.data() + at, std::min(kChunk, text.size() - at));
    velt::readers::FinishStats(&reader);
    if (reader.report.unreadable != 0) state.SkipWithError("unreadable lines");
    benchmark::DoNotOptimize(reader.report.total.bytes_before);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_LogCountLines(benchmark::State& state) { CountLines(state, LogText()); }
void BM_LogMemcpy(benchmark::State& state) { Memcpy(state, LogText()); }
void BM_LogReader(benchmark::State& state) {
  const std::string& text = LogText();
  for (auto _ : state) {
    velt::readers::LogReader reader;
    for (std::size_t at = 0; at < text.size(); at += kChunk)
      velt::readers::FeedLog(&reader, text.data() + at, std::min(kChunk, text.size() - at));
    velt::readers::FinishLog(&reader);
    if (reader.report.unreadable != 0) state.SkipWithError("unreadable lines");
    benchmark::DoNotOptimize(reader.report.messages);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_StatsCountLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatsMemcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatsReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogCountLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogMemcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogReader)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
