// veltchan's commands for deployed exits, each on the files a real round
// trip of the simulated channel leaves behind: the statistics file read
// back with the exit's own figures, the log with its action lines (also
// while it grows), the configuration as the exits' reader takes it, and the
// advice over levels and table sizes. Every JSON answer goes through
// python3 -m json.tool.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.h"
#include "veltchan_run.h"

namespace velt::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A few documents, so that the workload does not depend on the machine.
std::string MakeCorpus(const ScratchDir& dir) {
  const fs::path corpus = dir.path / "corpus";
  fs::create_directories(corpus);
  std::string xml = "<?xml version=\"1.0\"?>\n<orders>\n";
  for (int i = 0; i < 60; ++i) {
    // Appended piece by piece: "literal" + std::string trips GCC 12's
    // -Wrestrict on i386.
    xml += "  <order id=\"";
    xml += std::to_string(i);
    xml += "\">   pending   </order>\n";
  }
  WriteFile((corpus / "a.xml").string(), xml + "</orders>\n");
  return corpus.string();
}

std::vector<std::string> Workload(const std::string& corpus, std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--messages", "300", "--seed", "3", "--corpus", corpus, "--max-segment", "4096"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::string Grouped(int64_t value) {
  const std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// Parses standard output as JSON after python3 -m json.tool has accepted it.
json CheckedJson(const ScratchDir& dir, const Result& r) {
  const std::string path = dir.File("answer.json");
  WriteFile(path, r.out);
  EXPECT_EQ(std::system(("python3 -m json.tool " + Quoted(path) + " > /dev/null").c_str()), 0) << r.out;
  return json::parse(r.out);
}

// The ratio the exit printed in a summary line of the run's report.
double SummaryRatio(const json& report, const std::string& starts) {
  for (const auto& line : report["exit_statistics"]) {
    const std::string text = line.get<std::string>();
    if (text.rfind(starts, 0) == 0) return std::stod(text.substr(text.find('=') + 1));
  }
  ADD_FAILURE() << "no summary line " << starts;
  return 0;
}

TEST(VeltchanStats, ReadsBackExactlyWhatTheSendExitCountedInARoundTrip) {
  ScratchDir dir;
  const std::string kept = dir.File("kept");
  const Result run = RunVeltchan(dir, Workload(MakeCorpus(dir), {"--statistics", "2", "--keep-dir", kept, "--json"}));
  ASSERT_EQ(run.status, 0) << run.err;
  const json report = json::parse(run.out);

  const Result r = RunVeltchan(dir, {"stats", kept + "/velt_exit.dat", "--json", "--svg", dir.File("ratio.svg")});
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = CheckedJson(dir, r);
  ASSERT_EQ(j["files"].size(), 1u);
  const json& file = j["files"][0];
  EXPECT_EQ(file["unreadable"], 0);
  EXPECT_FALSE(file["partial_last_line"]);
  ASSERT_EQ(file["instance_count"], 1);
  const json& i = file["instances"][0];
  EXPECT_TRUE(i["closed"]);
  EXPECT_TRUE(i["lines_in_step"]);
  // Every segment went through the send exit; it counted as compressed
  // exactly those it sent from its own buffer.
  EXPECT_EQ(i["segments"], report["total"]["segments"]);
  EXPECT_EQ(i["segment_lines"], report["total"]["segments"]);
  EXPECT_EQ(i["compressed"], report["outcome"]["compressed"]);
  EXPECT_EQ(i["bytes_before"], report["total"]["bytes_in"]);
  EXPECT_EQ(i["bytes_after"], report["total"]["bytes_wire"]);
  EXPECT_EQ(i["mean_ratio"].get<double>(), SummaryRatio(report, "Mean compression ratio"));
  EXPECT_EQ(i["overall_ratio"].get<double>(), SummaryRatio(report, "Overall compression ratio"));
  const std::string svg = ReadFile(dir.File("ratio.svg"));
  EXPECT_NE(svg.find("<polyline"), std::string::npos);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);

  // The same figures as text, and a file still being written read up to
  // its last whole line.
  const std::string written = ReadFile(kept + "/velt_exit.dat");
  WriteFile(dir.File("growing.dat"), written + written.substr(0, 30));
  const Result text = RunVeltchan(dir, {"stats", dir.File("growing.dat")});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find(Grouped(report["total"]["bytes_in"].get<int64_t>())), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("the last line is cut short"), std::string::npos) << text.out;
}

// A ratio far beyond any real one still gives a chart of a few labels.
TEST(VeltchanStats, AHugeRatioGivesASmallChart) {
  ScratchDir dir;
  WriteFile(dir.File("huge.dat"), " 00001  00001  B= 100000 A= 00001 Ratio =100000.0000 (Mean =100000.0000) \n");
  const Result r = RunVeltchan(dir, {"stats", dir.File("huge.dat"), "--svg", dir.File("huge.svg")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("huge.dat: 1 line, 1 channel instance\n"), std::string::npos) << r.out;
  EXPECT_LT(fs::file_size(dir.File("huge.svg")), 4096u);
}

struct LogCase {
  const char* name;
  std::vector<std::string> run;  // the round trip; "@corpus" and "@escapes" name files the test makes
  int run_status;
  int64_t channel_closed;  // messages of that kind at least
  int64_t configuration;
  bool actions;
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }

class VeltchanLog : public ::testing::TestWithParam<LogCase> {};

TEST_P(VeltchanLog, CountsTheRoundTripsLogByKind) {
  const LogCase& c = GetParam();
  ScratchDir dir;
  const std::string kept = dir.File("kept");
  // The codec's escape byte between other bytes: every one costs a token.
  std::string escapes;
  for (int i = 0; i < 8000; ++i) escapes += i % 2 == 0 ? '\xAB' : static_cast<char>('a' + i % 26);
  WriteFile(dir.File("escapes.bin"), escapes);
  std::vector<std::string> args = {"--keep-dir", kept, "--json"};
  for (const std::string& a : c.run)
    args.push_back(a == "@corpus" ? MakeCorpus(dir) : a == "@escapes" ? dir.File("escapes.bin") : a);
  const Result run = RunVeltchan(dir, args);
  ASSERT_EQ(run.status, c.run_status) << run.err;
  const json report = json::parse(run.out);

  const Result r = RunVeltchan(dir, {"log", kept + "/velt_exit.log", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json file = CheckedJson(dir, r)["files"][0];
  EXPECT_EQ(file["unreadable"], 0);
  EXPECT_GE(file["by_kind"]["channel_closed"]["count"].get<int64_t>(), c.channel_closed);
  EXPECT_EQ(file["by_kind"]["configuration"]["count"], c.configuration);
  EXPECT_EQ(file["by_kind"]["refused_compression"]["count"], report["outcome"]["refused"]);
  EXPECT_EQ(file["action_count"].get<int64_t>() > 0, c.actions);
  if (std::string(c.name) == "Refusals") {
    EXPECT_GT(file["by_kind"]["refused_compression"]["count"].get<int64_t>(), 0);
  }

  // Through a pipe, which has no size to go by: the same counts.
  const std::string piped = dir.File("piped.json");
  ASSERT_EQ(std::system(("cat " + Quoted(kept + "/velt_exit.log") + " | " + Quoted(VELTCHAN_PATH) +
                         " log /dev/stdin --json > " + Quoted(piped))
                            .c_str()),
            0);
  json through = json::parse(ReadFile(piped))["files"][0];
  through["file"] = file["file"];
  EXPECT_EQ(through, file);

  const Result text = RunVeltchan(dir, {"log", kept + "/velt_exit.log"});
  ASSERT_EQ(text.status, 0);
  if (c.actions) {
    EXPECT_NE(text.out.find("velt_exit.log:2: "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("RCVR :ProcessXmitRecv: adjust \"HdrTblSize\" in receiver's config file!\n"),
              std::string::npos)
        << text.out;
  } else {
    EXPECT_NE(text.out.find("no line needs action"), std::string::npos) << text.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    RoundTrips, VeltchanLog,
    ::testing::Values(
        // Each end reads the configuration twice at its start.
        LogCase{"CallsTraced", {"--messages", "300", "--corpus", "@corpus", "--log-level", "4"}, 0, 0, 4, false},
        // Payloads that grow: the send exit tries, refuses and logs.
        LogCase{"Refusals", {"@escapes", "--repeat", "5"}, 0, 0, 0, false},
        LogCase{"ReceiverTableSmaller",
                {"--messages", "300", "--corpus", "@corpus", "--hdr-table", "8", "--receiver-exit-data", "HDR=2"},
                1,
                2,
                0,
                true}),
    [](const ::testing::TestParamInfo<LogCase>& info) { return info.param.name; });

TEST(VeltchanLogFollow, PrintsEachActionLineAsItArrives) {
  ScratchDir dir;
  const std::string log = dir.File("growing.log");
  const std::string closed = "10:00:01 [0] RCVR :ProcessXmitRecv: adjust \"HdrTblSize\" in receiver's config file!\n";
  WriteFile(log, "10:00:00 [4] RCVR :ReadCfg: Log level  = 4\n" + closed);
  const std::string command =
      Quoted(VELTCHAN_PATH) + " log --follow --poll-ms 50 --idle-polls 30 " + Quoted(log) + " 2>&1";
  std::FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  {
    std::ofstream more(log, std::ios::app | std::ios::binary);
    more << "10:00:02 [0] RCVR :ProcessXmitRecv: Decode incomplete (stream ends";  // the writer is mid-line
    more.flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    more << " inside a token after 10 of 12 bytes)\n" << closed;
  }
  // Rotated by renaming, the new file already longer than what was read of
  // the old one: it is read from its start.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  std::filesystem::rename(log, log + ".1");
  std::string rotated;
  for (int i = 0; i < 8; ++i) rotated += "10:00:08 [4] RCVR :ReadCfg: Log level  = 4\n";
  WriteFile(log, rotated + closed);
  std::string got;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, out) != nullptr) got += buffer;
  const int status = pclose(out);
  EXPECT_EQ(WEXITSTATUS(status), 0) << got;
  const std::string prefix = log + ":";
  EXPECT_EQ(got.find(prefix + "2: " + closed), 0u) << got;
  EXPECT_NE(got.find(prefix + "3: 10:00:02 [0] RCVR :ProcessXmitRecv: Decode incomplete (stream ends inside a token "
                              "after 10 of 12 bytes)\n"),
            std::string::npos)
      << got;
  EXPECT_NE(got.find(prefix + "4: " + closed), std::string::npos) << got;
  EXPECT_NE(got.find(prefix + "9: " + closed), std::string::npos) << got;
  EXPECT_NE(got.find("decode failure, channel closed             4"), std::string::npos) << got;
}

struct ConfigCase {
  const char* name;
  std::string sender_file;
  std::string sender_data;
  std::string receiver_file;  // "" with no receiver side
  std::string receiver_data;
  int status;
  std::string finding;  // part of a "why", "" for none
  int sender_table;
};

void PrintTo(const ConfigCase& c, std::ostream* os) { *os << c.name; }

class VeltchanConfig : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(VeltchanConfig, CatchesWhatSetNothingAndPairsThatCannotWork) {
  const ConfigCase& c = GetParam();
  ScratchDir dir;
  WriteFile(dir.File("send.cfg"), c.sender_file);
  std::vector<std::string> args = {"config", "--json", "--file", dir.File("send.cfg"), "--exit-data", c.sender_data};
  if (!c.receiver_file.empty()) {
    WriteFile(dir.File("recv.cfg"), c.receiver_file);
    args.insert(args.end(), {"--receiver-file", dir.File("recv.cfg"), "--receiver-exit-data", c.receiver_data});
  }
  const Result r = RunVeltchan(dir, args);
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  const json j = CheckedJson(dir, r);
  EXPECT_EQ(j["sender"]["settings"]["HdrTblSize"]["value"], c.sender_table);
  std::string whys;
  for (const char* side : {"sender", "receiver"}) {
    if (!j.contains(side)) continue;
    for (const auto& f : j[side]["findings"])
      whys += f["where"].get<std::string>() + ": " + f["why"].get<std::string>() + "\n";
  }
  if (c.finding.empty()) {
    EXPECT_EQ(whys, "");
  } else {
    EXPECT_NE(whys.find(c.finding), std::string::npos) << whys;
  }
  if (!c.receiver_file.empty()) {
    EXPECT_EQ(j["pair"]["works"], c.status == 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VeltchanConfig,
    ::testing::Values(
        ConfigCase{"Clean", "Compression = 2\nHdrTblSize = 8\n", "", "HdrTblSize = 8\n", "", 0, "", 8},
        ConfigCase{"MisspeltKeyword", "Compresion = 2\n", "", "", "", 0, "line 1: \"Compresion\" is no keyword", 4},
        ConfigCase{"TableSizeZero", "HdrTblSize = 0\n", "", "", "", 0, "HdrTblSize 0 is outside 1 to 16: limited to 1",
                   1},
        ConfigCase{"TableSizeForty", "HdrTblSize = 40\n", "", "", "", 0,
                   "HdrTblSize 40 is outside 1 to 16: limited to 16", 16},
        ConfigCase{"TableSizeBeyond32Bits", "HdrTblSize = 4294967304\n", "", "", "", 0,
                   "HdrTblSize 4294967304 is outside 1 to 16: the exit reads it as 8", 8},
        ConfigCase{"HexadecimalLevel", "LogLevel = 0x5\n", "", "", "", 0,
                   "line 1: \"0x5\" is read up to the first character that is no digit: LogLevel set to 0", 4},
        ConfigCase{"RepeatedOnceOnlyKey", "HdrTblSize = 8\nLogLevel = 1\nHdrTblSize = 2\n", "", "", "", 0,
                   "line 1: HdrTblSize given again on line 3, which wins", 2},
        ConfigCase{"ExitDataOverridesOnceOnlyKey", "HdrTblSize = 8\n", "HDR=6", "", "", 0,
                   "line 1: HdrTblSize given again in the exit data, which wins", 6},
        ConfigCase{"SettingPastTheLinesPiece", "# " + std::string(508, 'x') + "Compression = 0\n", "", "", "", 0,
                   "line 1 (past its 510th character): the exit reads a line 510 characters at a time", 4},
        ConfigCase{"ExitDataBeginningWithABlank", "", " HDR=8", "", "", 0,
                   "exit data: exit data that begins with a blank is ignored", 4},
        ConfigCase{"ReceiverTableSmaller", "HdrTblSize = 8\n", "", "HdrTblSize = 4\n", "", 1, "", 8},
        ConfigCase{"ReceiverExitDataMendsIt", "HdrTblSize = 8\n", "", "HdrTblSize = 4\n", "HDR=12", 0,
                   "line 1: HdrTblSize given again in the exit data", 8}),
    [](const ::testing::TestParamInfo<ConfigCase>& info) { return info.param.name; });

TEST(VeltchanConfigPair, SaysWhatToChangeOnTheReceiver) {
  ScratchDir dir;
  WriteFile(dir.File("send.cfg"), "HdrTblSize = 8\n");
  WriteFile(dir.File("recv.cfg"), "! receiver\nHdrTblSize = 4\n");
  const Result r =
      RunVeltchan(dir, {"config", "--file", dir.File("send.cfg"), "--receiver-file", dir.File("recv.cfg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("the pair cannot work: the receiver's HdrTblSize 4 (file line 2) is smaller than the sender's 8 "
                       "(file line 1)"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("change: change line 2 of " + dir.File("recv.cfg") + " to \"HdrTblSize = 8\""),
            std::string::npos)
      << r.out;
}

// The configuration a round trip ran with, read back as the exits took it.
TEST(VeltchanConfigPair, ShowsWhereARunsSettingsCameFrom) {
  ScratchDir dir;
  const std::string kept = dir.File("kept");
  const Result run = RunVeltchan(dir, Workload(MakeCorpus(dir), {"--compression", "2", "--hdr-table", "8", "--keep-dir",
                                                                 kept, "--exit-data", "STAT=1"}));
  ASSERT_EQ(run.status, 0) << run.err;
  // The summary the exit wrote because of its exit data is in the report.
  EXPECT_NE(run.out.find("send exit statistics:\n  Total msgs"), std::string::npos) << run.out;
  const Result r = RunVeltchan(dir, {"config", "--json", "--file", kept + "/velt_exit.cfg", "--exit-data", "STAT=1"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json s = CheckedJson(dir, r)["sender"]["settings"];
  EXPECT_EQ(s["Compression"]["value"], 2);
  EXPECT_EQ(s["Compression"]["source"], "file line 2");
  EXPECT_EQ(s["HdrTblSize"]["value"], 8);
  EXPECT_EQ(s["Statistics"]["source"], "exit data");
  EXPECT_EQ(s["LogFile"]["value"], kept + "/velt_exit.log");
  EXPECT_NE(ReadFile(kept + "/velt_exit.dat").find("Total msgs"), std::string::npos);  // STAT=1 reached the exit
}

TEST(VeltchanAdvise, TriesEveryLevelAndTheSampledTablesAndRecommendsTheBest) {
  ScratchDir dir;
  const Result r =
      RunVeltchan(dir, {"advise", "--messages", "150", "--seed", "5", "--corpus", MakeCorpus(dir), "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = CheckedJson(dir, r);
  ASSERT_EQ(j["trials"].size(), 18u);
  int64_t best = 0;
  for (const auto& t : j["trials"]) {
    EXPECT_TRUE(t["passed"]);
    best = std::max(best, t["bytes_saved"].get<int64_t>());
  }
  const json& rec = j["recommendation"];
  ASSERT_FALSE(rec.is_null());
  EXPECT_GE(static_cast<double>(rec["bytes_saved"].get<int64_t>()), 0.995 * static_cast<double>(best));
  // No smaller table saves as much at any level.
  for (const auto& t : j["trials"]) {
    if (t["hdr_table"].get<int>() < rec["hdr_table"].get<int>()) {
      EXPECT_LT(static_cast<double>(t["bytes_saved"].get<int64_t>()), 0.995 * static_cast<double>(best)) << t;
    }
  }
}

TEST(VeltchanOperateErrors, OneLineAndStatusTwo) {
  ScratchDir dir;
  const std::vector<std::vector<std::string>> calls = {
      {"stats"},
      {"stats", dir.File("missing.dat")},
      {"log", dir.path.string()},
      {"config", "--file", dir.File("missing.cfg")},
      {"config", "--file", dir.path.string()},
      {"config", "--file", "/dev/null"},  // a device or pipe: read once, or never to its end
      {"config", "--exit-data", std::string(33, 'X')},
      {"advise", "--messages", "0"},
      {"log", "--poll-ms", "0", dir.File("missing.log")},
      {"log", "--idle-polls", "x", dir.File("missing.log")},
  };
  for (const auto& args : calls) {
    const Result r = RunVeltchan(dir, args);
    EXPECT_EQ(r.status, 2) << args[0] << " " << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("veltchan: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.err.find(": :"), std::string::npos) << "an option without its name: " << r.err;
    EXPECT_EQ(r.err.find(":  ="), std::string::npos) << "an option without its name: " << r.err;
  }

  // A directory where the exits look is no file they can read: they take
  // the defaults, and config says so.
  setenv("VELT_EXIT_CFG", dir.path.c_str(), 1);
  const Result r = RunVeltchan(dir, {"config", "--json"});
  unsetenv("VELT_EXIT_CFG");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(json::parse(r.out)["sender"]["file_read"]);
}

}  // namespace
}  // namespace velt::test
