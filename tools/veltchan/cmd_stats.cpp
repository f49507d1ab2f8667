// veltchan stats: the send exit's statistics files read back, per channel
// instance, as text, JSON and a chart of the ratio over the run.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "file_chunks.h"
#include "readers/stats_reader.h"
#include "text_out.h"

namespace velt::chan {

namespace {

using readers::StatsInstance;
using readers::StatsReport;

struct FileReport {
  std::string path;
  StatsReport report;
};

StatsReport ReadStatsFile(const std::string& path) {
  std::FILE* file = OpenForReading(path);
  readers::StatsReader reader;
  std::vector<char> buffer;
  try {
    ReadToEnd(file, path, &buffer,
              [&](const char* data, std::size_t size) { readers::FeedStats(&reader, data, size); });
  } catch (...) {
    std::fclose(file);
    throw;
  }
  std::fclose(file);
  readers::FinishStats(&reader);
  return std::move(reader.report);
}

std::string RatioText(const StatsInstance& i, double value) {
  return i.has_ratios ? fmt::format("{:.4f}", value) : "-";
}

std::string Text(const std::vector<FileReport>& files) {
  std::string r;
  for (const FileReport& f : files) {
    const StatsReport& s = f.report;
    r += fmt::format("veltchan stats: {}: {} line{}, {} channel instance{}\n", f.path, Grouped(s.lines),
                     PluralS(s.lines), Grouped(s.instance_count), PluralS(s.instance_count));
    r += fmt::format("  {:>8} {:>17} {:>10} {:>11} {:>8} {:>8} {:>15} {:>15} {:>7}\n", "instance", "lines", "segments",
                     "compressed", "mean", "overall", "bytes before", "bytes after", "bytes");
    int n = 0;
    for (const StatsInstance& i : s.instances) {
      ++n;
      const bool bytes = i.segment_lines > 0;
      r += fmt::format("  {:>8} {:>17} {:>10} {:>11} {:>8} {:>8} {:>15} {:>15} {:>7}{}\n", n,
                       fmt::format("{}-{}", i.first_line, i.last_line), Grouped(i.segments), Grouped(i.compressed),
                       RatioText(i, i.mean_ratio), RatioText(i, i.overall_ratio), bytes ? Grouped(i.bytes_before) : "-",
                       bytes ? Grouped(i.bytes_after) : "-",
                       bytes ? fmt::format("{:.2f}", Ratio(i.bytes_before, i.bytes_after)) : "-",
                       i.closed ? "" : "  (no summary yet)");
    }
    const int64_t more = s.instance_count - static_cast<int64_t>(s.instances.size());
    if (more > 0) r += fmt::format("  ... {} more instance{}, counted in the total\n", Grouped(more), PluralS(more));
    const StatsInstance& t = s.total;
    const bool bytes = t.segment_lines > 0;
    r += fmt::format("  {:>8} {:>17} {:>10} {:>11} {:>8} {:>8} {:>15} {:>15} {:>7}\n", "all", "", Grouped(t.segments),
                     Grouped(t.compressed), "", "", bytes ? Grouped(t.bytes_before) : "-",
                     bytes ? Grouped(t.bytes_after) : "-",
                     bytes ? fmt::format("{:.2f}", Ratio(t.bytes_before, t.bytes_after)) : "-");
    r += "  (mean: of the compressed segments; overall: of all segments, a plain one counting 1.0; both as the\n"
         "   exit computes them; bytes: bytes before over bytes after, from the per-segment lines)\n";
    const bool out_of_step =
        std::any_of(s.instances.begin(), s.instances.end(), [](const StatsInstance& i) { return !i.lines_in_step; });
    if (out_of_step)
      r += "  note: the per-segment lines of some instance do not count up one by one: instances sharing the file "
           "wrote between them, so its bytes mix instances\n";
    if (s.unreadable > 0)
      r += fmt::format("  unreadable lines: {} (line {})\n", Grouped(s.unreadable),
                       LineList(s.unreadable_lines, s.unreadable));
    if (s.partial_last_line) r += "  the last line is cut short (the file is still being written): left out\n";
  }
  return r;
}

nlohmann::json InstanceJson(const StatsInstance& i) {
  nlohmann::json j = {{"first_line", i.first_line},
                      {"last_line", i.last_line},
                      {"closed", i.closed},
                      {"segments", i.segments},
                      {"compressed", i.compressed},
                      {"mean_ratio", i.has_ratios ? nlohmann::json(i.mean_ratio) : nlohmann::json(nullptr)},
                      {"overall_ratio", i.has_ratios ? nlohmann::json(i.overall_ratio) : nlohmann::json(nullptr)},
                      {"segment_lines", i.segment_lines},
                      {"lines_in_step", i.lines_in_step}};
  if (i.segment_lines > 0) {
    j["bytes_before"] = i.bytes_before;
    j["bytes_after"] = i.bytes_after;
    j["byte_ratio"] = Ratio(i.bytes_before, i.bytes_after);
  } else {
    j["bytes_before"] = nullptr;
    j["bytes_after"] = nullptr;
    j["byte_ratio"] = nullptr;
  }
  return j;
}

// Bytes are known only from per-segment lines (Statistics 2).
nlohmann::json TotalJson(const StatsInstance& t) {
  const bool bytes = t.segment_lines > 0;
  return {{"segments", t.segments},
          {"compressed", t.compressed},
          {"bytes_before", bytes ? nlohmann::json(t.bytes_before) : nlohmann::json(nullptr)},
          {"bytes_after", bytes ? nlohmann::json(t.bytes_after) : nlohmann::json(nullptr)},
          {"byte_ratio", bytes ? nlohmann::json(Ratio(t.bytes_before, t.bytes_after)) : nlohmann::json(nullptr)}};
}

std::string Json(const std::vector<FileReport>& files) {
  nlohmann::json all = nlohmann::json::array();
  for (const FileReport& f : files) {
    const StatsReport& s = f.report;
    nlohmann::json instances = nlohmann::json::array();
    for (const StatsInstance& i : s.instances) instances.push_back(InstanceJson(i));
    all.push_back({{"file", f.path},
                   {"lines", s.lines},
                   {"instance_count", s.instance_count},
                   {"instances", instances},
                   {"total", TotalJson(s.total)},
                   {"unreadable", s.unreadable},
                   {"unreadable_lines", s.unreadable_lines},
                   {"partial_last_line", s.partial_last_line}});
  }
  return nlohmann::json{{"files", all}}.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// The ratio of bytes before to bytes after over the run, per point of the
// reader's chart and so far, one pair of lines per file.
std::string Svg(const std::vector<FileReport>& files) {
  constexpr int kWidth = 760, kHeight = 420, kLeft = 70, kRight = 730, kTop = 60, kBottom = 360;
  double high = 1.0;
  for (const FileReport& f : files)
    for (const readers::ChartPoint& p : f.report.chart) high = std::max(high, Ratio(p.bytes_before, p.bytes_after));
  const double top = std::ceil(high * 1.1);
  const auto y_of = [&](double ratio) {
    return kBottom - static_cast<int>(std::lround(ratio / top * (kBottom - kTop)));
  };
  std::string s = fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} {1}\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n"
      "<rect x=\"0\" y=\"0\" width=\"{0}\" height=\"{1}\" fill=\"white\"/>\n"
      "<text x=\"{2}\" y=\"30\" font-size=\"15\" font-weight=\"bold\">Compression ratio over the run (bytes before / "
      "after, from the send exit's statistics)</text>\n",
      kWidth, kHeight, kLeft);
  s += fmt::format("<line x1=\"{0}\" y1=\"{1}\" x2=\"{0}\" y2=\"{2}\" stroke=\"#333\"/>\n", kLeft, kTop, kBottom);
  s += fmt::format("<line x1=\"{0}\" y1=\"{1}\" x2=\"{2}\" y2=\"{1}\" stroke=\"#333\"/>\n", kLeft, kBottom, kRight);
  for (const double v : AxisTicks(top))
    s += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"end\" font-size=\"10\">{:g}</text>\n", kLeft - 6,
                     y_of(v) + 4, v);
  const char* colours[] = {"#c43", "#37a", "#4a9", "#a6c", "#c93"};
  int legend_y = kBottom + 30;
  for (std::size_t k = 0; k < files.size(); ++k) {
    const std::vector<readers::ChartPoint>& chart = files[k].report.chart;
    const char* colour = colours[k % std::size(colours)];
    std::string points;
    int64_t before = 0, after = 0;
    for (std::size_t i = 0; i < chart.size(); ++i) {
      before += chart[i].bytes_before;
      after += chart[i].bytes_after;
      const int x =
          kLeft + static_cast<int>((2 * i + 1) * (kRight - kLeft) / (2 * std::max<std::size_t>(chart.size(), 1)));
      points += fmt::format("{},{} ", x, y_of(Ratio(before, after)));
    }
    if (!points.empty())
      s += fmt::format("<polyline points=\"{}\" fill=\"none\" stroke=\"{}\" stroke-width=\"2\"/>\n", points, colour);
    if (legend_y < kHeight - 4) {
      s += fmt::format(
          "<line x1=\"{0}\" y1=\"{1}\" x2=\"{2}\" y2=\"{1}\" stroke=\"{3}\" stroke-width=\"2\"/><text x=\"{4}\" "
          "y=\"{5}\">{6} (so far; {7:.2f} at the end)</text>\n",
          kLeft, legend_y, kLeft + 20, colour, kLeft + 26, legend_y + 4, XmlEscape(files[k].path),
          Ratio(before, after));
      legend_y += 16;
    }
  }
  s += fmt::format(
      "<text x=\"{}\" y=\"{}\" text-anchor=\"end\" font-size=\"10\">per-segment lines, in file order</text>\n", kRight,
      kBottom + 14);
  s += "</svg>\n";
  return s;
}

}  // namespace

int RunStatsCommand(const StatsOptions& o) {
  AtomicOutput svg;
  if (!o.svg.empty()) svg.Open(o.svg);
  std::vector<FileReport> files;
  for (const std::string& path : o.files) files.push_back(FileReport{path, ReadStatsFile(path)});
  if (!o.svg.empty()) svg.Commit(Svg(files));
  WriteOut(o.json ? Json(files) : Text(files));
  return kExitPass;
}

}  // namespace velt::chan
