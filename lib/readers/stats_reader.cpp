#include "readers/stats_reader.h"

#include "host/stats_lines.h"

namespace velt::readers {

namespace {

struct StatsFormats {
  LineFormat segment = CompileFormat(kStatsSegmentLine);
  LineFormat segment_no_mean = CompileFormat(kStatsSegmentLineNoMean);
  LineFormat total = CompileFormat(kStatsTotalLine);
  LineFormat mean = CompileFormat(kStatsMeanLine);
  LineFormat overall = CompileFormat(kStatsOverallLine);
};

const StatsFormats& Formats() {
  static const StatsFormats formats;
  return formats;
}

void NameUnreadable(StatsReport* report, int64_t line) {
  ++report->unreadable;
  if (report->unreadable_lines.size() < kNamedLines) report->unreadable_lines.push_back(line);
}

void AddToChart(StatsReader* r, int64_t before, int64_t after) {
  ChartPoint& p = r->filling;
  p.bytes_before += before;
  p.bytes_after += after;
  if (++p.lines < r->report.chart_span) return;
  std::vector<ChartPoint>& chart = r->report.chart;
  chart.push_back(p);
  p = ChartPoint{};
  if (chart.size() < kChartPoints) return;
  // Full: every two points become one, and each later point covers twice
  // as many lines.
  for (std::size_t i = 0; i < chart.size() / 2; ++i) {
    chart[i].bytes_before = chart[2 * i].bytes_before + chart[2 * i + 1].bytes_before;
    chart[i].bytes_after = chart[2 * i].bytes_after + chart[2 * i + 1].bytes_after;
    chart[i].lines = chart[2 * i].lines + chart[2 * i + 1].lines;
  }
  chart.resize(chart.size() / 2);
  r->report.chart_span *= 2;
}

// Hands the open instance to the report and starts a new one.
void CloseInstance(StatsReader* r) {
  StatsInstance& open = r->open;
  if (open.first_line != 0) {
    StatsReport& report = r->report;
    if (!open.closed && open.segments > 0) {
      // No summary (yet): the ratios as the exit would write them now.
      open.has_ratios = open.compressed > 0;
      if (open.has_ratios)
        open.overall_ratio =
            (static_cast<double>(open.segments - open.compressed) + r->sum_ratios) / static_cast<double>(open.segments);
    }
    if (open.closed && open.segment_lines > 0 && r->last_count != open.segments) open.lines_in_step = false;
    ++report.instance_count;
    report.total.segment_lines += open.segment_lines;
    report.total.bytes_before += open.bytes_before;
    report.total.bytes_after += open.bytes_after;
    report.total.segments += open.segments;
    report.total.compressed += open.compressed;
    if (report.instances.size() < kKeptInstances) report.instances.push_back(open);
  }
  open = StatsInstance{};
  r->summary_open = false;
  r->last_count = 0;
  r->sum_ratios = 0;
}

// Whether a + b + c, none of them negative, fits in int64.
bool SumFits(int64_t a, int64_t b, int64_t c) {
  int64_t sum = 0;
  return !__builtin_add_overflow(a, b, &sum) && !__builtin_add_overflow(sum, c, &sum);
}

// The exit's counts are 32 bits. Where long is 32 bits wide (Windows) it
// prints a count past 2^31 - 1 as a negative figure, which is read back as
// its 32 bits; a figure below -2^31 is not the exit's and stays negative.
int64_t CountOf(int64_t figure) { return figure < 0 && figure >= INT32_MIN ? figure + (int64_t{1} << 32) : figure; }

// Segment and summary lines both begin with the two counts.
void ReadCounts(Matched* m) {
  m->integers[0] = CountOf(m->integers[0]);
  m->integers[1] = CountOf(m->integers[1]);
}

// The exit writes no other negative number, and no file of it adds up past int64:
// a line that would make the totals wrap is not one of its lines. When the
// line closes the open instance, that instance's counts go into the total
// first; otherwise the line's counts replace them.
bool CountsFit(const StatsReader& r, bool closes, int64_t segments, int64_t compressed) {
  const StatsInstance& total = r.report.total;
  return segments >= 0 && compressed >= 0 && SumFits(total.segments, closes ? r.open.segments : 0, segments) &&
         SumFits(total.compressed, closes ? r.open.compressed : 0, compressed);
}

// The bytes of the open instance add to the total when it closes, and the
// chart's points never hold more than the two together.
bool BytesFit(const StatsReader& r, int64_t before, int64_t after) {
  const StatsReport& report = r.report;
  return before >= 0 && after >= 0 && SumFits(report.total.bytes_before, r.open.bytes_before, before) &&
         SumFits(report.total.bytes_after, r.open.bytes_after, after);
}

void Begin(StatsReader* r, int64_t line) {
  if (r->open.first_line == 0) r->open.first_line = line;
  r->open.last_line = line;
}

void OnLine(StatsReader* r, int64_t line, std::string_view text) {
  ++r->report.lines;
  const StatsFormats& f = Formats();
  Matched m;
  if (MatchLine(f.segment, text, &m) || MatchLine(f.segment_no_mean, text, &m)) {
    ReadCounts(&m);
    const int64_t count = m.integers[0];
    // A count back at 1 begins another instance (the one before ended
    // without a summary).
    const bool closes = r->summary_open || (count == 1 && r->open.segment_lines > 0);
    if (!CountsFit(*r, closes, count, m.integers[1]) || !BytesFit(*r, m.integers[2], m.integers[3])) {
      NameUnreadable(&r->report, line);
      return;
    }
    if (r->summary_open) CloseInstance(r);
    if (count == 1 && r->open.segment_lines > 0) CloseInstance(r);
    Begin(r, line);
    StatsInstance& open = r->open;
    if (count != r->last_count + 1) open.lines_in_step = false;
    r->last_count = count;
    ++open.segment_lines;
    open.segments = count;
    open.compressed = m.integers[1];
    open.bytes_before += m.integers[2];
    open.bytes_after += m.integers[3];
    if (m.real_count == 2) {
      open.mean_ratio = m.reals[1];
      r->sum_ratios = m.reals[1] * static_cast<double>(m.integers[1]);
    }
    AddToChart(r, m.integers[2], m.integers[3]);
    return;
  }
  if (MatchLine(f.total, text, &m)) {
    ReadCounts(&m);
    if (!CountsFit(*r, r->summary_open, m.integers[0], m.integers[1])) {
      NameUnreadable(&r->report, line);
      return;
    }
    if (r->summary_open) CloseInstance(r);
    Begin(r, line);
    r->open.closed = true;
    r->open.segments = m.integers[0];
    r->open.compressed = m.integers[1];
    r->open.has_ratios = false;
    r->open.mean_ratio = 0;
    r->summary_open = true;
    return;
  }
  if (r->summary_open && MatchLine(f.mean, text, &m)) {
    r->open.last_line = line;
    r->open.mean_ratio = m.reals[0];
    r->open.has_ratios = true;
    return;
  }
  if (r->summary_open && MatchLine(f.overall, text, &m)) {
    r->open.last_line = line;
    r->open.overall_ratio = m.reals[0];
    CloseInstance(r);
    return;
  }
  NameUnreadable(&r->report, line);
}

}  // namespace

void FeedStats(StatsReader* reader, const char* data, std::size_t size) {
  FeedLines(
      &reader->feed, data, size, [reader](int64_t line, std::string_view text) { OnLine(reader, line, text); },
      [reader](int64_t line) {
        ++reader->report.lines;
        NameUnreadable(&reader->report, line);
      });
}

void FinishStats(StatsReader* reader) {
  CloseInstance(reader);
  if (reader->filling.lines > 0) {
    reader->report.chart.push_back(reader->filling);
    reader->filling = ChartPoint{};
  }
  reader->report.partial_last_line = LinePending(reader->feed);
}

}  // namespace velt::readers
