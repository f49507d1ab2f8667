// The statistics file reader on any bytes, fed whole and again in chunks of
// sizes taken from the input: both readings must agree, and what is kept
// stays within its bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "readers/stats_reader.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

velt::readers::StatsReport Read(const uint8_t* data, std::size_t size, std::size_t chunk) {
  velt::readers::StatsReader reader;
  for (std::size_t at = 0; at < size; at += chunk)
    velt::readers::FeedStats(&reader, reinterpret_cast<const char*>(data) + at, chunk < size - at ? chunk : size - at);
  velt::readers::FinishStats(&reader);
  return reader.report;
}

bool Same(const velt::readers::StatsInstance& a, const velt::readers::StatsInstance& b) {
  return a.first_line == b.first_line && a.last_line == b.last_line && a.segment_lines == b.segment_lines &&
         a.bytes_before == b.bytes_before && a.bytes_after == b.bytes_after && a.segments == b.segments &&
         a.compressed == b.compressed && a.closed == b.closed && a.lines_in_step == b.lines_in_step &&
         std::memcmp(&a.mean_ratio, &b.mean_ratio, sizeof a.mean_ratio) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = 1 + data[0] % 64;
  const velt::readers::StatsReport whole = Read(data + 1, size - 1, size);
  const velt::readers::StatsReport pieces = Read(data + 1, size - 1, chunk);
  Require(whole.lines == pieces.lines && whole.unreadable == pieces.unreadable);
  Require(whole.unreadable_lines == pieces.unreadable_lines);
  Require(whole.partial_last_line == pieces.partial_last_line);
  Require(whole.instance_count == pieces.instance_count && whole.instances.size() == pieces.instances.size());
  for (std::size_t i = 0; i < whole.instances.size(); ++i) Require(Same(whole.instances[i], pieces.instances[i]));
  Require(whole.unreadable <= whole.lines);
  Require(whole.unreadable_lines.size() <= velt::readers::kNamedLines);
  Require(whole.instances.size() <= velt::readers::kKeptInstances);
  Require(whole.chart.size() <= velt::readers::kChartPoints);
  return 0;
}
