// veltchan advise: the same traffic through every compression level and a
// range of header table sizes, and the settings that save the most.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "text_out.h"

namespace velt::chan {

namespace {

struct Trial {
  int level = 0;
  int table = 0;
  int64_t segments = 0;
  int64_t bytes_in = 0;
  int64_t bytes_wire = 0;
  double ns_per_segment = 0;  // send + receive, thread CPU
  bool passed = false;
};

int64_t Saved(const Trial& t) { return t.bytes_in - t.bytes_wire; }

// Savings this close to the best count as equal: the choice then goes to the
// smaller table (less memory at both ends, and a receiver that needs less)
// and to the default level.
constexpr double kEqualSaving = 0.005;

bool NearlyAsGood(const Trial& t, int64_t best) {
  return static_cast<double>(Saved(t)) >=
         static_cast<double>(best) - kEqualSaving * static_cast<double>(std::max<int64_t>(best, 0));
}

const Trial* Recommend(const std::vector<Trial>& trials) {
  int64_t best = INT64_MIN;
  for (const Trial& t : trials)
    if (t.passed) best = std::max(best, Saved(t));
  const Trial* choice = nullptr;
  for (const Trial& t : trials) {
    if (!t.passed || !NearlyAsGood(t, best)) continue;
    const auto better = [](const Trial& a, const Trial& b) {
      if (a.table != b.table) return a.table < b.table;
      if ((a.level == 3) != (b.level == 3)) return a.level == 3;
      return a.level > b.level;
    };
    if (choice == nullptr || better(t, *choice)) choice = &t;
  }
  return choice;
}

}  // namespace

int RunAdviseCommand(const AdviseOptions& o) {
  std::vector<Trial> trials;
  RunInfo info;
  for (const int level : o.levels) {
    for (const int table : o.tables) {
      Options run = o.run;
      run.compression = level;
      run.hdr_table = table;
      run.log_level = -1;
      run.statistics = 0;
      run.compare = false;
      run.json = false;
      run.svg.clear();
      run.keep_dir.clear();
      run.progress = false;
      const Tally t = RunChannel(run, &info);
      if (t.interrupted) throw Interrupted();
      Trial trial;
      trial.level = level;
      trial.table = table;
      trial.segments = t.total.segments;
      trial.bytes_in = t.total.bytes_in;
      trial.bytes_wire = t.total.bytes_wire;
      trial.ns_per_segment = t.total.segments > 0 ? static_cast<double>(t.send_nanos + t.recv_nanos) /
                                                        static_cast<double>(t.total.segments)
                                                  : 0.0;
      trial.passed = Passed(t);
      trials.push_back(trial);
    }
  }
  const Trial* choice = Recommend(trials);
  bool all_passed = true;
  for (const Trial& t : trials) all_passed = all_passed && t.passed;

  if (o.json) {
    nlohmann::json rows = nlohmann::json::array();
    for (const Trial& t : trials)
      rows.push_back({{"compression", t.level},
                      {"hdr_table", t.table},
                      {"segments", t.segments},
                      {"bytes_in", t.bytes_in},
                      {"bytes_wire", t.bytes_wire},
                      {"bytes_saved", Saved(t)},
                      {"ratio", Ratio(t.bytes_in, t.bytes_wire)},
                      {"ns_per_segment", t.ns_per_segment},
                      {"passed", t.passed}});
    nlohmann::json j = {{"workload", info.workload}, {"destinations", info.destinations}, {"trials", rows}};
    j["recommendation"] = choice == nullptr ? nlohmann::json(nullptr)
                                            : nlohmann::json{{"compression", choice->level},
                                                             {"hdr_table", choice->table},
                                                             {"bytes_saved", Saved(*choice)},
                                                             {"ratio", Ratio(choice->bytes_in, choice->bytes_wire)},
                                                             {"ns_per_segment", choice->ns_per_segment}};
    WriteOut(j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    return all_passed ? kExitPass : kExitFail;
  }

  std::string r = fmt::format("veltchan advise: {}\n\n", info.workload);
  r += fmt::format("  {:>11} {:>10} {:>10} {:>15} {:>15} {:>7} {:>7} {:>12}\n", "Compression", "HdrTblSize", "segments",
                   "bytes in", "bytes saved", "saved", "ratio", "CPU/segment");
  for (const Trial& t : trials) {
    r += fmt::format("  {:>11} {:>10} {:>10} {:>15} {:>15} {:>6.1f}% {:>7.3f} {:>9.2f} us{}{}\n", t.level, t.table,
                     Grouped(t.segments), Grouped(t.bytes_in), Grouped(Saved(t)),
                     t.bytes_in > 0 ? 100.0 * static_cast<double>(Saved(t)) / static_cast<double>(t.bytes_in) : 0.0,
                     Ratio(t.bytes_in, t.bytes_wire), t.ns_per_segment / 1000.0, t.passed ? "" : "  FAILED",
                     &t == choice ? "  <-" : "");
  }
  r += "  (CPU: send + receive exit per segment, thread CPU time of this run)\n\n";
  if (choice == nullptr) {
    r += "no recommendation: no setting carried the traffic intact\n";
  } else {
    r += fmt::format(
        "recommended: Compression = {}, HdrTblSize = {}: saves {} byte{} of {} ({:.1f}%), {:.2f} us per segment\n"
        "  (the smallest table, and then the default level, within {:.1f}% of the best saving; set HdrTblSize = {} or "
        "more at the receiving end as well)\n",
        choice->level, choice->table, Grouped(Saved(*choice)), PluralS(Saved(*choice)), Grouped(choice->bytes_in),
        choice->bytes_in > 0 ? 100.0 * static_cast<double>(Saved(*choice)) / static_cast<double>(choice->bytes_in)
                             : 0.0,
        choice->ns_per_segment / 1000.0, kEqualSaving * 100, choice->table);
  }
  WriteOut(r);
  return all_passed ? kExitPass : kExitFail;
}

}  // namespace velt::chan
