// veltchan config: the report of what each side took from its configuration
// file and exit data (config_reading.h), and for a sender and receiver pair
// whether the two can work together and what to change.
#include <memory>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "config_reading.h"
#include "text_out.h"

namespace velt::chan {

namespace {

std::string Meaning(const ExitContext& ctx, int setting) {
  switch (setting) {
    case 0:
      if (ctx.Compression == 0) return "off: segments travel plain";
      if (ctx.Compression <= 1) return "first segments of messages only";
      if (ctx.Compression == 3) return "further segments while they compress by 1.15 or more";
      return "every segment";
    case 1:
      if (ctx.Statistics == 0) return "none";
      if (ctx.Statistics == 2) return "a line per segment and a summary";
      return "a summary per channel instance";
    case 2:
      if (ctx.LogLevel < 0) return "nothing is logged";
      if (ctx.LogLevel < 4) return "failures only";
      if (ctx.LogLevel == 4) return "a line per call";
      return "tracing and dumps: for diagnosis only";
    case 4: return "header cache entries";
    default: return "";
  }
}

struct Pair {
  bool checked = false;
  bool works = true;
  std::string verdict;
  std::string change;
};

Pair CheckPair(const Side& sender, const Side* receiver) {
  Pair p;
  if (receiver == nullptr) return p;
  p.checked = true;
  const int s = sender.ctx.HdrTblSize;
  const int r = receiver->ctx.HdrTblSize;
  p.works = r >= s;
  if (p.works) {
    p.verdict = fmt::format("the pair works: the receiver's HdrTblSize {} is at least the sender's {}", r, s);
    return p;
  }
  p.verdict = fmt::format(
      "the pair cannot work: the receiver's HdrTblSize {} ({}) is smaller than the sender's {} ({}); the receive exit "
      "closes the channel at the first segment with a cache index of {} or more",
      r, receiver->source[4].label, s, sender.source[4].label, r);
  const Source& from = receiver->source[4];
  if (from.label == "exit data") {
    p.change =
        fmt::format("set HDR={} in the receiver channel's exit data (or lower the sender's HdrTblSize to {})", s, r);
  } else if (from.line > 0) {
    p.change = fmt::format("change line {} of {} to \"HdrTblSize = {}\" (or lower the sender's HdrTblSize to {})",
                           from.line, receiver->file, s, r);
  } else {
    p.change = fmt::format(
        "add \"HdrTblSize = {}\" to {} or HDR={} to the receiver channel's exit data (or lower the "
        "sender's HdrTblSize to {})",
        s, receiver->file, s, r);
  }
  return p;
}

std::string SideText(const Side& side) {
  std::string r = fmt::format("{}: configuration file {}{}\n", side.name, side.file,
                              side.file_read ? "" : " (cannot be read: the exit would take the defaults)");
  std::string data = side.exit_data;
  while (!data.empty() && data.back() == ' ') data.pop_back();
  r += fmt::format("  exit data: {}\n", data.empty() ? "(blank)" : fmt::format("\"{}\"", Printable(data)));
  r += fmt::format("  {:<12} {:<32} {:<14} {}\n", "setting", "value", "from", "meaning");
  for (int i = 0; i < kSettings; ++i)
    r += fmt::format("  {:<12} {:<32} {:<14} {}\n", kFileKeywords[i], Stored(side.ctx, i), side.source[i].label,
                     Meaning(side.ctx, i));
  int problems = 0;
  for (const Finding& f : side.findings) problems += f.problem ? 1 : 0;
  if (problems == 0) {
    r += "  every line and token set what it says\n";
    return r;
  }
  r += "  set nothing, or not what it says:\n";
  for (const Finding& f : side.findings) {
    if (!f.problem) continue;
    r += fmt::format("    {}: {}\n      {}\n", f.where, f.text, f.why);
  }
  return r;
}

nlohmann::json SideJson(const Side& side) {
  nlohmann::json settings = nlohmann::json::object();
  for (int i = 0; i < kSettings; ++i) {
    nlohmann::json value;
    if (i == 3 || i == 5) {
      value = Stored(side.ctx, i);
    } else {
      value = std::stoi(Stored(side.ctx, i));
    }
    settings[kFileKeywords[i]] = {
        {"value", value},
        {"source", side.source[i].label},
        {"line", side.source[i].line > 0 ? nlohmann::json(side.source[i].line) : nlohmann::json(nullptr)}};
  }
  nlohmann::json findings = nlohmann::json::array();
  for (const Finding& f : side.findings)
    if (f.problem) findings.push_back({{"where", f.where}, {"text", f.text}, {"why", f.why}});
  std::string data = side.exit_data;
  while (!data.empty() && data.back() == ' ') data.pop_back();
  return {{"file", side.file},
          {"file_read", side.file_read},
          {"exit_data", data},
          {"settings", settings},
          {"findings", findings}};
}

}  // namespace

int RunConfigCommand(const ConfigOptions& o) {
  auto sender = std::make_unique<Side>();
  ReadSide(sender.get(), o.sender, "sender");
  std::unique_ptr<Side> receiver;
  if (o.receiver) {
    ConfigSide given = *o.receiver;
    // The receiver reads the sender's file unless told otherwise, and like
    // the sender may find none where the exits look by default.
    if (!given.file) given.file = o.sender.file;
    receiver = std::make_unique<Side>();
    ReadSide(receiver.get(), given, "receiver");
  }
  const Pair pair = CheckPair(*sender, receiver.get());
  if (o.json) {
    nlohmann::json j = {{"sender", SideJson(*sender)}};
    if (receiver) j["receiver"] = SideJson(*receiver);
    j["pair"] = pair.checked
                    ? nlohmann::json{{"works", pair.works},
                                     {"verdict", pair.verdict},
                                     {"change", pair.works ? nlohmann::json(nullptr) : nlohmann::json(pair.change)}}
                    : nlohmann::json(nullptr);
    WriteOut(j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  } else {
    std::string r = SideText(*sender);
    if (receiver) {
      r += '\n';
      r += SideText(*receiver);
    }
    if (pair.checked) {
      r += fmt::format("\n{}\n", pair.verdict);
      if (!pair.works) r += fmt::format("  change: {}\n", pair.change);
    }
    WriteOut(r);
  }
  return pair.works ? kExitPass : kExitFail;
}

}  // namespace velt::chan