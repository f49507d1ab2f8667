// The report of a run: as text for a terminal, as one JSON document, and as
// an SVG chart.
#include <algorithm>
#include <cmath>
#include <string>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "text_out.h"
#include "veltchan.h"

namespace velt::chan {

namespace {

double PerSegment(int64_t nanos, int64_t segments) {
  return segments > 0 ? static_cast<double>(nanos) / static_cast<double>(segments) : 0.0;
}

// Megabytes (10^6 bytes) per second.
double Throughput(int64_t bytes, int64_t nanos) {
  return nanos > 0 ? static_cast<double>(bytes) * 1000.0 / static_cast<double>(nanos) : 0.0;
}

std::string Micros(double nanos) { return fmt::format("{:.2f} us", nanos / 1000.0); }

const char* TypeName(int type) {
  switch (type) {
    case 1: return "initial data";
    case 2: return "resynchronisation";
    case 3: return "reset";
    case 4: return "message";
    case 5: return "status";
    default: return "other";
  }
}

int64_t ExitNanos(const Tally& t) { return t.send_nanos + t.recv_nanos; }
int64_t ZlibNanos(const Tally& t) { return t.zlib_deflate_nanos + t.zlib_inflate_nanos; }
int64_t Lz4Nanos(const Tally& t) { return t.lz4_compress_nanos + t.lz4_decompress_nanos; }

const char* SizeClassName(int c) {
  switch (c) {
    case 0: return "under 1 KiB";
    case 1: return "1 to 8 KiB";
    default: return "8 KiB and more";
  }
}
const char* SizeClassKey(int c) {
  switch (c) {
    case 0: return "under_1k";
    case 1: return "1k_to_8k";
    default: return "8k_and_more";
  }
}

double Speedup(const Tally& t) {
  return ExitNanos(t) > 0 ? static_cast<double>(ZlibNanos(t)) / static_cast<double>(ExitNanos(t)) : 0.0;
}

std::string VerdictLine(const Tally& t) {
  if (t.interrupted)
    return fmt::format("verdict: INTERRUPTED after {} segment{}", Grouped(t.total.segments), PluralS(t.total.segments));
  if (Passed(t))
    return fmt::format("verdict: PASS, all {} segments delivered equal to the ones built", Grouped(t.total.segments));
  if (!t.first_bad) return "verdict: FAIL";
  const BadSegment& b = *t.first_bad;
  if (b.number == 0) return fmt::format("verdict: FAIL, {}: {}", b.where, b.what);
  // The verdict stays one line whatever the file's name holds, as ls shows it.
  std::string where = b.where;
  for (char& c : where) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return fmt::format("verdict: FAIL, first bad segment #{} ({}, {} bytes): {}; {} of {} delivered intact", b.number,
                     where, b.length, b.what, Grouped(t.intact), Grouped(t.total.segments));
}

// Microseconds of exit CPU time (send and receive) per segment of a row.
double ExitMicros(const Counts& c) {
  return c.segments > 0 ? static_cast<double>(c.exit_nanos) / 1000.0 / static_cast<double>(c.segments) : 0.0;
}

std::string CountsRow(const std::string& label, const Counts& c, bool with_messages) {
  return fmt::format("  {:<20}{:>10}{:>10}{:>15}{:>15}{:>8.2f}{:>12.2f}\n", label,
                     with_messages ? Grouped(c.messages) : "-", Grouped(c.segments), Grouped(c.bytes_in),
                     Grouped(c.bytes_wire), Ratio(c.bytes_in, c.bytes_wire), ExitMicros(c));
}

nlohmann::json CountsJson(const Counts& c) {
  return {{"messages", c.messages},
          {"segments", c.segments},
          {"bytes_in", c.bytes_in},
          {"bytes_wire", c.bytes_wire},
          {"ratio", Ratio(c.bytes_in, c.bytes_wire)},
          {"exit_us_per_segment", ExitMicros(c)}};
}

std::string Size(double bytes) {
  if (bytes >= 1e9) return fmt::format("{:.1f} GB", bytes / 1e9);
  if (bytes >= 1e6) return fmt::format("{:.1f} MB", bytes / 1e6);
  if (bytes >= 1e3) return fmt::format("{:.1f} kB", bytes / 1e3);
  return fmt::format("{:.0f} B", bytes);
}

}  // namespace

std::string TextReport(const Options& o, const RunInfo& info, const Tally& t) {
  std::string r;
  r += fmt::format("veltchan: {}\n", info.workload);
  r += fmt::format("channel: Compression {}, HdrTblSize {}, MaxSegmentLength {}, LogLevel {}, Statistics {}\n",
                   info.compression, info.hdr_table, o.max_segment, info.log_level, info.statistics);
  r += fmt::format("exits: {}\n\n", info.lib_dir);

  r += fmt::format("  {:<20}{:>10}{:>10}{:>15}{:>15}{:>8}{:>12}\n", "", "messages", "segments", "bytes in",
                   "bytes on wire", "ratio", "exits us");
  r += CountsRow("all", t.total, true);
  r += "  payload kind\n";
  for (int k = 0; k < agent::kTrafficKinds; ++k) {
    if (t.by_kind[k].segments == 0) continue;
    r += CountsRow(fmt::format("  {}", agent::TrafficKindName(static_cast<agent::TrafficKind>(k))), t.by_kind[k], true);
  }
  r += "  segment type\n";
  for (int type = 1; type <= kSegmentTypes; ++type) {
    const int i = type % kSegmentTypes;  // "other" last
    if (t.by_type[i].segments == 0) continue;
    r += CountsRow(fmt::format("  {}", TypeName(i)), t.by_type[i], i == 4);
  }
  r += "  (exits us: CPU time per segment in the two exits together, send and receive)\n";

  r += fmt::format("\nsegments: {} compressed, {} plain, {}\n", Grouped(t.compressed), Grouped(t.plain),
                   t.refusals_known        ? fmt::format("{} refused", Grouped(t.refused))
                   : info.compression == 0 ? std::string("compression off")
                                           : std::string("refusals not told apart (counted as plain)"));
  if (t.refusals_known)
    r += "  (refused: the send exit compressed the segment, logged that the result was longer, and sent it plain)\n";
  if (t.suppressed > 0)
    r += fmt::format("  {} segment{} passed unprocessed after an exit answered MQXCC_SUPPRESS_EXIT\n",
                     Grouped(t.suppressed), PluralS(t.suppressed));

  r += fmt::format("\n  {:<22}{:>14}{:>14}\n", "time per segment", "time", "throughput");
  r += fmt::format("  {:<22}{:>14}{:>10.0f} MB/s\n", "VELTSEND", Micros(PerSegment(t.send_nanos, t.total.segments)),
                   Throughput(t.total.bytes_in, t.send_nanos));
  r += fmt::format("  {:<22}{:>14}{:>10.0f} MB/s\n", "VELTRECV", Micros(PerSegment(t.recv_nanos, t.total.segments)),
                   Throughput(t.delivered_bytes, t.recv_nanos));
  r += fmt::format("  {:<22}{:>14}{:>10.0f} MB/s\n", "zlib level 1 deflate",
                   Micros(PerSegment(t.zlib_deflate_nanos, t.total.segments)),
                   Throughput(t.total.bytes_in, t.zlib_deflate_nanos));
  r += fmt::format("  {:<22}{:>14}{:>10.0f} MB/s\n", "zlib level 1 inflate",
                   Micros(PerSegment(t.zlib_inflate_nanos, t.total.segments)),
                   Throughput(t.total.bytes_in, t.zlib_inflate_nanos));
  r += fmt::format("  {:<22}{:>14}{:>10.0f} MB/s\n", "LZ4 compress",
                   Micros(PerSegment(t.lz4_compress_nanos, t.total.segments)),
                   Throughput(t.total.bytes_in, t.lz4_compress_nanos));
  r += fmt::format("  {:<22}{:>14}{:>10.0f} MB/s\n", "LZ4 decompress",
                   Micros(PerSegment(t.lz4_decompress_nanos, t.total.segments)),
                   Throughput(t.total.bytes_in, t.lz4_decompress_nanos));
  r += fmt::format(
      "  (thread CPU time, all six measured side by side in this run of {:.2f} s; the simulated agent's own\n"
      "   copying of segments in and out of its buffers is timed apart, {}, and not counted)\n",
      t.seconds, Micros(PerSegment(t.agent_copy_nanos[0] + t.agent_copy_nanos[1], t.total.segments)));
  r += fmt::format(
      "\nzlib level 1 on the same segments: ratio {:.2f} against the exits' {:.2f}; the exits take {} per segment "
      "(send + receive), zlib {} (deflate + inflate): {:.1f}x faster\n",
      Ratio(t.total.bytes_in, t.zlib_bytes), Ratio(t.total.bytes_in, t.total.bytes_wire),
      Micros(PerSegment(ExitNanos(t), t.total.segments)), Micros(PerSegment(ZlibNanos(t), t.total.segments)),
      Speedup(t));
  r += fmt::format(
      "LZ4 (default acceleration) on the same segments: ratio {:.2f}; {} per segment (compress + decompress): {}\n",
      Ratio(t.total.bytes_in, t.lz4_bytes), Micros(PerSegment(Lz4Nanos(t), t.total.segments)),
      fmt::format("{:.1f}x the exits' CPU (send + receive)",
                  ExitNanos(t) > 0 ? static_cast<double>(Lz4Nanos(t)) / static_cast<double>(ExitNanos(t)) : 0.0));
  if (t.zlib_mismatches > 0)
    r += fmt::format("  warning: zlib gave back {} segment{} altered\n", Grouped(t.zlib_mismatches),
                     PluralS(t.zlib_mismatches));
  if (t.lz4_mismatches > 0)
    r += fmt::format("  warning: LZ4 gave back {} segment{} altered\n", Grouped(t.lz4_mismatches),
                     PluralS(t.lz4_mismatches));

  r += fmt::format("\n  {:<22}{:>10}{:>15}{:>8}{:>8}{:>8}\n", "ratio by segment size", "segments", "bytes in", "exits",
                   "zlib-1", "LZ4");
  for (int c = 0; c < kSizeClasses; ++c) {
    const SizeClass& z = t.by_size[c];
    if (z.segments == 0) continue;
    r += fmt::format("    {:<20}{:>10}{:>15}{:>8.2f}{:>8.2f}{:>8.2f}\n", SizeClassName(c), Grouped(z.segments),
                     Grouped(z.bytes_in), Ratio(z.bytes_in, z.bytes_wire), Ratio(z.bytes_in, z.zlib_bytes),
                     Ratio(z.bytes_in, z.lz4_bytes));
  }

  if (!t.exit_statistics.empty()) {
    r += "\nsend exit statistics:\n";
    for (const std::string& line : t.exit_statistics) r += fmt::format("  {}\n", line);
  }
  if (!info.config_file.empty())
    r += fmt::format("\nexit configuration, log and statistics kept: {}\n", info.config_file);
  r += fmt::format("\n{}\n", VerdictLine(t));
  return r;
}

std::string JsonReport(const Options& o, const RunInfo& info, const Tally& t) {
  nlohmann::json j;
  j["workload"] = {{"description", info.workload},
                   {"source", o.paths.empty() ? "built-in" : "replay"},
                   {"seed", o.seed},
                   {"destinations", info.destinations},
                   {"planned_messages", t.planned_messages},
                   {"entries_left_out", info.left_out}};
  j["configuration"] = {{"compression", info.compression}, {"hdr_table", info.hdr_table},
                        {"max_segment", o.max_segment},    {"log_level", info.log_level},
                        {"statistics", info.statistics},   {"lib_dir", info.lib_dir}};
  j["total"] = CountsJson(t.total);
  nlohmann::json kinds = nlohmann::json::object();
  for (int k = 0; k < agent::kTrafficKinds; ++k) {
    if (t.by_kind[k].segments == 0) continue;
    kinds[std::string(agent::TrafficKindName(static_cast<agent::TrafficKind>(k)))] = CountsJson(t.by_kind[k]);
  }
  j["by_kind"] = kinds;
  nlohmann::json types = nlohmann::json::object();
  for (int i = 0; i < kSegmentTypes; ++i) {
    if (t.by_type[i].segments == 0) continue;
    types[TypeName(i)] = CountsJson(t.by_type[i]);
  }
  j["by_type"] = types;
  j["outcome"] = {{"compressed", t.compressed},
                  {"plain", t.plain},
                  {"refused", t.refusals_known ? nlohmann::json(t.refused) : nlohmann::json(nullptr)},
                  {"suppressed", t.suppressed}};
  j["time"] = {
      {"clock", "thread-cpu"},
      {"seconds", t.seconds},
      {"send",
       {{"nanos", t.send_nanos},
        {"ns_per_segment", PerSegment(t.send_nanos, t.total.segments)},
        {"mb_per_s", Throughput(t.total.bytes_in, t.send_nanos)}}},
      {"recv",
       {{"nanos", t.recv_nanos},
        {"ns_per_segment", PerSegment(t.recv_nanos, t.total.segments)},
        {"mb_per_s", Throughput(t.delivered_bytes, t.recv_nanos)}}},
      {"agent_copy_nanos", {t.agent_copy_nanos[0], t.agent_copy_nanos[1]}},
  };
  j["zlib"] = {{"level", 1},
               {"bytes", t.zlib_bytes},
               {"ratio", Ratio(t.total.bytes_in, t.zlib_bytes)},
               {"deflate_nanos", t.zlib_deflate_nanos},
               {"inflate_nanos", t.zlib_inflate_nanos},
               {"deflate_ns_per_segment", PerSegment(t.zlib_deflate_nanos, t.total.segments)},
               {"inflate_ns_per_segment", PerSegment(t.zlib_inflate_nanos, t.total.segments)},
               {"mismatches", t.zlib_mismatches}};
  j["exits_faster_than_zlib"] = Speedup(t);
  j["lz4"] = {{"acceleration", 1},
              {"bytes", t.lz4_bytes},
              {"ratio", Ratio(t.total.bytes_in, t.lz4_bytes)},
              {"compress_nanos", t.lz4_compress_nanos},
              {"decompress_nanos", t.lz4_decompress_nanos},
              {"compress_ns_per_segment", PerSegment(t.lz4_compress_nanos, t.total.segments)},
              {"decompress_ns_per_segment", PerSegment(t.lz4_decompress_nanos, t.total.segments)},
              {"mismatches", t.lz4_mismatches}};
  nlohmann::json sizes = nlohmann::json::object();
  for (int c = 0; c < kSizeClasses; ++c) {
    const SizeClass& z = t.by_size[c];
    sizes[SizeClassKey(c)] = {{"segments", z.segments},
                              {"bytes_in", z.bytes_in},
                              {"exits_bytes", z.bytes_wire},
                              {"zlib_bytes", z.zlib_bytes},
                              {"lz4_bytes", z.lz4_bytes},
                              {"exits_ratio", Ratio(z.bytes_in, z.bytes_wire)},
                              {"zlib_ratio", Ratio(z.bytes_in, z.zlib_bytes)},
                              {"lz4_ratio", Ratio(z.bytes_in, z.lz4_bytes)}};
  }
  j["by_size"] = sizes;
  j["exit_statistics"] = t.exit_statistics;
  j["kept_config_file"] = info.config_file.empty() ? nlohmann::json(nullptr) : nlohmann::json(info.config_file);
  nlohmann::json verdict = {{"passed", Passed(t)},          {"delivered", t.delivered},
                            {"intact", t.intact},           {"channel_closed", t.channel_closed},
                            {"interrupted", t.interrupted}, {"text", VerdictLine(t)}};
  if (t.first_bad) {
    verdict["first_bad"] = {{"segment", t.first_bad->number},
                            {"type", t.first_bad->type},
                            {"length", t.first_bad->length},
                            {"where", t.first_bad->where},
                            {"what", t.first_bad->what}};
  } else {
    verdict["first_bad"] = nullptr;
  }
  j["verdict"] = verdict;
  // Invalid UTF-8 in a file name is replaced rather than thrown on.
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string SvgChart(const Options& o, const RunInfo& info, const Tally& t) {
  constexpr int kWidth = 760;
  constexpr int kHeight = 600;
  constexpr int kLeft = 80;
  constexpr int kRight = 730;
  std::string s;
  s += fmt::format(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" viewBox=\"0 0 {0} {1}\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n"
      "<rect x=\"0\" y=\"0\" width=\"{0}\" height=\"{1}\" fill=\"white\"/>\n",
      kWidth, kHeight);
  s += fmt::format("<text x=\"{}\" y=\"24\" font-size=\"15\" font-weight=\"bold\">{}</text>\n", kLeft,
                   XmlEscape(fmt::format("veltchan: Compression {}, HdrTblSize {}, MaxSegmentLength {}",
                                         info.compression, info.hdr_table, o.max_segment)));
  // The workload's description, a clause per line.
  std::string rest = info.workload;
  for (int y = 40; !rest.empty() && y <= 52; y += 12) {
    const std::size_t cut = y == 52 ? std::string::npos : rest.find("; ");
    s += fmt::format("<text x=\"{}\" y=\"{}\" fill=\"#555\" font-size=\"11\">{}</text>\n", kLeft, y,
                     XmlEscape(rest.substr(0, cut)));
    rest = cut == std::string::npos ? std::string() : rest.substr(cut + 2);
  }

  // Bytes before and after, per payload kind.
  constexpr int kBarsTop = 90;
  constexpr int kBarsBottom = 280;
  s += fmt::format(
      "<text x=\"{}\" y=\"76\" font-weight=\"bold\">Bytes handed to the send exit and bytes on the wire, "
      "per payload kind</text>\n",
      kLeft);
  std::vector<int> kinds;
  int64_t top = 1;
  for (int k = 0; k < agent::kTrafficKinds; ++k) {
    if (t.by_kind[k].segments == 0) continue;
    kinds.push_back(k);
    top = std::max(top, t.by_kind[k].bytes_in);
  }
  s += fmt::format("<line x1=\"{0}\" y1=\"{1}\" x2=\"{2}\" y2=\"{1}\" stroke=\"#333\"/>\n", kLeft, kBarsBottom, kRight);
  const int group = kinds.empty() ? 0 : (kRight - kLeft) / static_cast<int>(kinds.size());
  for (std::size_t g = 0; g < kinds.size(); ++g) {
    const Counts& c = t.by_kind[kinds[g]];
    const int x = kLeft + static_cast<int>(g) * group + group / 2 - 50;
    const auto height = [&](int64_t bytes) {
      return static_cast<int>(
          std::lround(static_cast<double>(bytes) / static_cast<double>(top) * (kBarsBottom - kBarsTop - 20)));
    };
    const int before = height(c.bytes_in);
    const int after = height(c.bytes_wire);
    s += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"45\" height=\"{}\" fill=\"#7f9fc9\"/>\n", x, kBarsBottom - before,
                     before);
    s += fmt::format("<rect x=\"{}\" y=\"{}\" width=\"45\" height=\"{}\" fill=\"#e8875b\"/>\n", x + 50,
                     kBarsBottom - after, after);
    s += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"middle\" font-size=\"10\">{}</text>\n", x + 22,
                     kBarsBottom - before - 4, Size(static_cast<double>(c.bytes_in)));
    s += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"middle\" font-size=\"10\">{}</text>\n", x + 72,
                     kBarsBottom - after - 4, Size(static_cast<double>(c.bytes_wire)));
    s += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"middle\">{} (ratio {:.2f})</text>\n", x + 47,
                     kBarsBottom + 16, agent::TrafficKindName(static_cast<agent::TrafficKind>(kinds[g])),
                     Ratio(c.bytes_in, c.bytes_wire));
  }
  s += fmt::format(
      "<rect x=\"{0}\" y=\"304\" width=\"12\" height=\"12\" fill=\"#7f9fc9\"/><text x=\"{1}\" y=\"314\">before</text>\n"
      "<rect x=\"{2}\" y=\"304\" width=\"12\" height=\"12\" fill=\"#e8875b\"/><text x=\"{3}\" y=\"314\">on the "
      "wire</text>\n",
      kLeft, kLeft + 16, kLeft + 80, kLeft + 96);

  // Compression ratio over the run: per hundredth of the messages, and
  // cumulative; zlib level 1 over the whole run for comparison.
  constexpr int kPlotTop = 370;
  constexpr int kPlotBottom = 550;
  s += fmt::format("<text x=\"{}\" y=\"352\" font-weight=\"bold\">Compression ratio over the run</text>\n", kLeft);
  std::vector<std::pair<double, double>> points;  // (slice ratio, cumulative ratio)
  std::vector<int> at;
  int64_t sum_in = 0;
  int64_t sum_wire = 0;
  double high = std::max(1.0, Ratio(t.total.bytes_in, t.zlib_bytes));
  for (int i = 0; i < kSlices; ++i) {
    const Slice& sl = t.slices[i];
    if (sl.bytes_wire == 0) continue;
    sum_in += sl.bytes_in;
    sum_wire += sl.bytes_wire;
    points.emplace_back(Ratio(sl.bytes_in, sl.bytes_wire), Ratio(sum_in, sum_wire));
    at.push_back(i);
    high = std::max({high, points.back().first, points.back().second});
  }
  const double scale_top = std::ceil(high * 1.1);
  const auto y_of = [&](double ratio) {
    return kPlotBottom - static_cast<int>(std::lround(ratio / scale_top * (kPlotBottom - kPlotTop)));
  };
  const auto x_of = [&](int slice) { return kLeft + (slice * 2 + 1) * (kRight - kLeft) / (2 * kSlices); };
  s += fmt::format("<line x1=\"{0}\" y1=\"{1}\" x2=\"{0}\" y2=\"{2}\" stroke=\"#333\"/>\n", kLeft, kPlotTop,
                   kPlotBottom);
  s += fmt::format("<line x1=\"{0}\" y1=\"{1}\" x2=\"{2}\" y2=\"{1}\" stroke=\"#333\"/>\n", kLeft, kPlotBottom, kRight);
  for (const double v : AxisTicks(scale_top)) {
    s += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"end\" font-size=\"10\">{:g}</text>\n", kLeft - 6,
                     y_of(v) + 4, v);
  }
  s += fmt::format("<line x1=\"{0}\" y1=\"{1}\" x2=\"{2}\" y2=\"{1}\" stroke=\"#999\" stroke-dasharray=\"4 3\"/>\n",
                   kLeft, y_of(1.0), kRight);
  const double zlib_ratio = Ratio(t.total.bytes_in, t.zlib_bytes);
  if (zlib_ratio > 0)
    s += fmt::format("<line x1=\"{0}\" y1=\"{1}\" x2=\"{2}\" y2=\"{1}\" stroke=\"#4a9\" stroke-dasharray=\"8 4\"/>\n",
                     kLeft, y_of(zlib_ratio), kRight);
  std::string slice_line;
  std::string total_line;
  for (std::size_t i = 0; i < points.size(); ++i) {
    slice_line += fmt::format("{},{} ", x_of(at[i]), y_of(points[i].first));
    total_line += fmt::format("{},{} ", x_of(at[i]), y_of(points[i].second));
  }
  if (!points.empty()) {
    s += fmt::format("<polyline points=\"{}\" fill=\"none\" stroke=\"#9ab\" stroke-width=\"1\"/>\n", slice_line);
    s += fmt::format("<polyline points=\"{}\" fill=\"none\" stroke=\"#c43\" stroke-width=\"2\"/>\n", total_line);
  }
  s += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"middle\" font-size=\"10\">0</text>\n", kLeft,
                   kPlotBottom + 14);
  s += fmt::format("<text x=\"{}\" y=\"{}\" text-anchor=\"end\" font-size=\"10\">{} message{}</text>\n", kRight,
                   kPlotBottom + 14, Grouped(t.planned_messages), PluralS(t.planned_messages));
  s += fmt::format(
      "<line x1=\"{0}\" y1=\"580\" x2=\"{1}\" y2=\"580\" stroke=\"#9ab\"/><text x=\"{2}\" y=\"584\">per 1/100 of the "
      "run</text>\n"
      "<line x1=\"{3}\" y1=\"580\" x2=\"{4}\" y2=\"580\" stroke=\"#c43\" stroke-width=\"2\"/><text x=\"{5}\" "
      "y=\"584\">so far "
      "({6:.2f} at the end)</text>\n"
      "<line x1=\"{7}\" y1=\"580\" x2=\"{8}\" y2=\"580\" stroke=\"#4a9\" stroke-dasharray=\"8 4\"/><text x=\"{9}\" "
      "y=\"584\">zlib level 1 ({10:.2f})</text>\n",
      kLeft, kLeft + 20, kLeft + 26, kLeft + 170, kLeft + 190, kLeft + 196, Ratio(t.total.bytes_in, t.total.bytes_wire),
      kLeft + 370, kLeft + 390, kLeft + 396, zlib_ratio);
  s += "</svg>\n";
  return s;
}

}  // namespace velt::chan
