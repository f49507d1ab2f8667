// Reads the send exit's statistics file back: the instances its summaries
// close, with the counts and ratios the exit computed, the bytes its
// per-segment lines add up to, and the ratio over the run for a chart.
// Memory is bounded whatever the file holds: lines are never kept, at most
// kKeptInstances instances and kNamedLines line numbers are listed, and the
// chart has at most kChartPoints points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "readers/line_feed.h"

namespace velt::readers {

inline constexpr std::size_t kKeptInstances = 10000;
inline constexpr std::size_t kChartPoints = 512;

struct StatsInstance {
  int64_t first_line = 0;
  int64_t last_line = 0;
  int64_t segment_lines = 0;  // per-segment lines read for it (none at Statistics 1)
  int64_t bytes_before = 0;   // sums of its per-segment lines
  int64_t bytes_after = 0;
  // What the exit counted: its summary's figures when the instance closed,
  // else those of its last per-segment line.
  int64_t segments = 0;
  int64_t compressed = 0;
  bool has_ratios = false;   // false when no segment compressed
  double mean_ratio = 0;     // of the compressed segments
  double overall_ratio = 0;  // of all segments, a plain one counting 1.0
  bool closed = false;       // its summary was read
  // Its per-segment lines count up from 1 without a gap and reach the
  // summary's count; false where instances sharing the file interleave.
  bool lines_in_step = true;
};

// Bytes before and after of a stretch of per-segment lines.
struct ChartPoint {
  int64_t bytes_before = 0;
  int64_t bytes_after = 0;
  int64_t lines = 0;
};

struct StatsReport {
  std::vector<StatsInstance> instances;  // the first kKeptInstances, in file order
  int64_t instance_count = 0;
  StatsInstance total;  // the instances added up (ratios left 0)
  int64_t lines = 0;
  int64_t unreadable = 0;
  std::vector<int64_t> unreadable_lines;  // the first kNamedLines
  bool partial_last_line = false;
  std::vector<ChartPoint> chart;  // in file order, each point chart_span lines
  int64_t chart_span = 1;
};

struct StatsReader {
  LineFeed feed;
  StatsReport report;
  StatsInstance open;         // the instance being read
  bool summary_open = false;  // its summary's first line was read; ratio lines may follow
  int64_t last_count = 0;     // TotalSegs of the last per-segment line
  double sum_ratios = 0;      // of the open instance, from its mean
  ChartPoint filling;
};

void FeedStats(StatsReader* reader, const char* data, std::size_t size);
// Closes what is open; a line still being written is left out.
void FinishStats(StatsReader* reader);

}  // namespace velt::readers
