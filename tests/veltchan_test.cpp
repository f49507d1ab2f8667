// veltchan run as a user runs it: the built program as a subprocess, on a
// small seeded built-in workload and on files, with its text and JSON
// reports, its chart and its error answers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "exit_library.h"
#include "support.h"
#include "veltchan_run.h"

namespace velt::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A few documents of each text kind, so that the workload does not depend on
// what the machine has installed.
std::string MakeCorpus(const ScratchDir& dir) {
  const fs::path corpus = dir.path / "corpus";
  fs::create_directories(corpus / "nested");
  std::string xml = "<?xml version=\"1.0\"?>\n<catalogue>\n";
  // Appended piece by piece: GCC 12 building for i386 takes `literal + string`
  // for an overlapping copy (-Wrestrict).
  for (int i = 0; i < 40; ++i) xml.append("  <item id=\"").append(std::to_string(i)).append("\">  widget  </item>\n");
  xml += "</catalogue>\n";
  WriteFile((corpus / "a.xml").string(), xml);
  WriteFile((corpus / "nested" / "b.xml").string(), xml + "<!-- second -->\n");
  std::string js = "{\n  \"rows\": [\n";
  for (int i = 0; i < 30; ++i) js += "    {\"n\": " + std::to_string(i) + ", \"name\": \"row\"},\n";
  js += "    {}\n  ]\n}\n";
  WriteFile((corpus / "c.json").string(), js);
  return corpus.string();
}

std::vector<std::string> SmallWorkload(const std::string& corpus) {
  return {"--messages", "400", "--seed", "7", "--corpus", corpus, "--max-segment", "4096"};
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

int64_t Number(const std::string& grouped) {
  std::string digits;
  for (const char c : grouped)
    if (c != ',') digits += c;
  return std::stoll(digits);
}

// The "all" row of the text report: messages, segments, bytes in, bytes on wire.
std::vector<int64_t> AllRow(const std::string& report) {
  const std::size_t at = report.find("\n  all ");
  if (at == std::string::npos) return {};
  std::istringstream row(report.substr(at + 7, report.find('\n', at + 1) - at - 7));
  std::vector<int64_t> values;
  std::string field;
  while (values.size() < 4 && row >> field) values.push_back(Number(field));
  return values;
}

// Minimal XML check: one root element, every tag closed in order.
bool WellFormedSvg(const std::string& text, std::string* why) {
  std::vector<std::string> open;
  std::string root;
  std::size_t at = 0;
  while ((at = text.find('<', at)) != std::string::npos) {
    const std::size_t end = text.find('>', at);
    if (end == std::string::npos) return *why = "unterminated tag", false;
    const std::string tag = text.substr(at + 1, end - at - 1);
    at = end + 1;
    if (tag.empty()) return *why = "empty tag", false;
    if (tag[0] == '?' || tag[0] == '!') continue;
    if (tag[0] == '/') {
      if (open.empty() || open.back() != tag.substr(1)) return *why = "unbalanced </" + tag.substr(1) + ">", false;
      open.pop_back();
      continue;
    }
    const std::string name = tag.substr(0, tag.find_first_of(" \n/"));
    if (open.empty()) {
      if (!root.empty()) return *why = "second root element " + name, false;
      root = name;
    }
    if (tag.back() != '/') open.push_back(name);
  }
  if (!open.empty()) return *why = "<" + open.back() + "> never closed", false;
  if (root != "svg") return *why = "root is <" + root + ">", false;
  return true;
}

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// --- the built-in workload -------------------------------------------------

TEST(VeltchanBuiltIn, TextAndJsonReportsAgreeOnASeededWorkload) {
  ScratchDir dir;
  const std::string corpus = MakeCorpus(dir);
  const Result text = RunVeltchan(dir, SmallWorkload(corpus));
  ASSERT_EQ(text.status, 0) << text.out << text.err;
  EXPECT_EQ(text.err, "");
  EXPECT_NE(text.out.find("verdict: PASS"), std::string::npos) << text.out;
  const std::vector<int64_t> row = AllRow(text.out);
  ASSERT_EQ(row.size(), 4u) << text.out;
  EXPECT_EQ(row[0], 400);

  const Result js = RunVeltchan(dir, With(SmallWorkload(corpus), {"--json"}));
  ASSERT_EQ(js.status, 0) << js.err;
  const json j = json::parse(js.out);  // throws, failing the test, when malformed
  EXPECT_EQ(j["total"]["messages"], 400);
  // The workload is the same for one seed; the byte counts on the wire may
  // not be, as the exits choose header table entries partly by the clock.
  EXPECT_EQ(j["total"]["segments"], row[1]);
  EXPECT_EQ(j["total"]["bytes_in"], row[2]);
  EXPECT_TRUE(j["verdict"]["passed"]);
  EXPECT_EQ(j["verdict"]["intact"], row[1]);
  EXPECT_EQ(j["verdict"]["first_bad"], nullptr);

  // Every segment is compressed, plain or refused; message segments of
  // every kind add up to the message type's row.
  const json& outcome = j["outcome"];
  EXPECT_EQ(outcome["compressed"].get<int64_t>() + outcome["plain"].get<int64_t>() + outcome["refused"].get<int64_t>(),
            row[1]);
  EXPECT_GT(outcome["compressed"].get<int64_t>(), 0);
  EXPECT_GT(outcome["plain"].get<int64_t>(), 0);
  int64_t kind_messages = 0, kind_segments = 0, kind_bytes = 0;
  for (const auto& [name, counts] : j["by_kind"].items()) {
    kind_messages += counts["messages"].get<int64_t>();
    kind_segments += counts["segments"].get<int64_t>();
    kind_bytes += counts["bytes_in"].get<int64_t>();
  }
  EXPECT_EQ(kind_messages, 400);
  EXPECT_EQ(kind_segments, j["by_type"]["message"]["segments"]);
  EXPECT_EQ(kind_bytes, j["by_type"]["message"]["bytes_in"]);
  for (const char* kind : {"xml", "json", "records", "binary"}) EXPECT_TRUE(j["by_kind"].contains(kind)) << kind;

  // The channel starts with its initial data, resynchronises once, carries
  // status segments, and some messages span several 4 KiB segments.
  EXPECT_EQ(j["by_type"]["initial data"]["segments"], 1);
  EXPECT_EQ(j["by_type"]["resynchronisation"]["segments"], 1);
  EXPECT_GT(j["by_type"]["status"]["segments"].get<int64_t>(), 0);
  EXPECT_GT(j["by_type"]["message"]["segments"].get<int64_t>(), 400);

  EXPECT_GT(j["zlib"]["ratio"].get<double>(), 1.0);
  EXPECT_EQ(j["zlib"]["mismatches"], 0);
  // CPU time is measured, not computed: on a loaded machine a short run may
  // round to nothing once the clock's own cost is taken off.
  EXPECT_GE(j["time"]["send"]["nanos"].get<int64_t>(), 0);
  EXPECT_GE(j["time"]["recv"]["nanos"].get<int64_t>(), 0);

  // The rows share out the exits' measured time (send and receive) and
  // nothing else: the segment types add up to it, the payload kinds to the
  // message type's share.
  auto exit_micros = [](const json& row) {
    return row["exit_us_per_segment"].get<double>() * row["segments"].get<double>();
  };
  const double measured =
      static_cast<double>(j["time"]["send"]["nanos"].get<int64_t>() + j["time"]["recv"]["nanos"].get<int64_t>()) /
      1000.0;
  double by_type = 0, by_kind = 0;
  for (const auto& [name, row] : j["by_type"].items()) by_type += exit_micros(row);
  for (const auto& [name, row] : j["by_kind"].items()) by_kind += exit_micros(row);
  EXPECT_NEAR(exit_micros(j["total"]), measured, 0.01 + measured * 1e-6);
  EXPECT_NEAR(by_type, measured, 0.01 + measured * 1e-6);
  EXPECT_NEAR(by_kind, exit_micros(j["by_type"]["message"]), 0.01 + measured * 1e-6);
}

TEST(VeltchanBuiltIn, OptionsReachTheExitsThroughARealConfigurationFile) {
  ScratchDir dir;
  const std::string corpus = MakeCorpus(dir);
  const std::string keep = dir.File("kept");
  const Result r =
      RunVeltchan(dir, With(SmallWorkload(corpus), {"--compression", "2", "--hdr-table", "8", "--log-level", "4",
                                                    "--statistics", "1", "--keep-dir", keep}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string config = ReadFile(keep + "/velt_exit.cfg");
  for (const char* line : {"Compression = 2\n", "HdrTblSize = 8\n", "LogLevel = 4\n", "Statistics = 1\n"})
    EXPECT_NE(config.find(line), std::string::npos) << line << " missing from\n" << config;
  EXPECT_NE(config.find("LogFile = " + keep + "/velt_exit.log\n"), std::string::npos) << config;
  // The exits honoured the file: level-4 lines in the log, and the send
  // exit's statistics summary, which the report repeats.
  EXPECT_NE(ReadFile(keep + "/velt_exit.log").find("ReadCfg: Log level  = 4"), std::string::npos);
  EXPECT_NE(ReadFile(keep + "/velt_exit.dat").find("Total msgs"), std::string::npos);
  EXPECT_NE(r.out.find("send exit statistics:\n  Total msgs"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Compression 2, HdrTblSize 8"), std::string::npos);

  // A TMPDIR whose file names would not fit a line of the configuration:
  // the run's files go where the exits can be told about them, not to a
  // name cut short beside it.
  std::string long_tmp = dir.File("tmp");
  while (long_tmp.size() < 470) long_tmp += "/" + std::string(40, 'd');
  fs::create_directories(long_tmp);
  const char* old_tmp = std::getenv("TMPDIR");
  const std::string saved_tmp = old_tmp != nullptr ? old_tmp : "";
  setenv("TMPDIR", long_tmp.c_str(), 1);
  const Result in_tmp = RunVeltchan(dir, With(SmallWorkload(corpus), {"--statistics", "1"}));
  if (old_tmp != nullptr) {
    setenv("TMPDIR", saved_tmp.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  ASSERT_EQ(in_tmp.status, 0) << in_tmp.out << in_tmp.err;
  EXPECT_NE(in_tmp.out.find("send exit statistics:\n  Total msgs"), std::string::npos) << in_tmp.out;
  EXPECT_TRUE(fs::is_empty(long_tmp));
}

// Through the option or the exit data: the report gives the level the send
// exit took.
TEST(VeltchanBuiltIn, CompressionOffSendsEverySegmentPlain) {
  ScratchDir dir;
  const std::string corpus = MakeCorpus(dir);
  for (const std::vector<std::string>& off :
       {std::vector<std::string>{"--compression", "0"}, std::vector<std::string>{"--exit-data", "COMP=0"}}) {
    SCOPED_TRACE(off[0]);
    std::vector<std::string> args = off;
    args.push_back("--json");
    const Result r = RunVeltchan(dir, With(SmallWorkload(corpus), args));
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["configuration"]["compression"], 0);
    EXPECT_EQ(j["outcome"]["compressed"], 0);
    EXPECT_EQ(j["outcome"]["refused"], nullptr);  // nothing tried, nothing to tell apart
    EXPECT_EQ(j["total"]["bytes_wire"], j["total"]["bytes_in"]);
    EXPECT_TRUE(j["verdict"]["passed"]);
  }
}

// --- replaying files -------------------------------------------------------

struct ReplayFiles {
  std::string root;
  explicit ReplayFiles(const ScratchDir& dir) {
    root = dir.File("traffic");
    fs::create_directories(root + "/sub");
    std::string records;
    for (int i = 0; i < 50; ++i) records += "CUST" + std::to_string(1000 + i) + std::string(60, ' ') + "000012.50\n";
    WriteFile(root + "/b-records.txt", records);
    WriteFile(root + "/a-order.xml", "<order>\n" + std::string(300, ' ') + "<id>42</id>\n</order>\n");
    WriteFile(root + "/sub/c-doc.json", "{ \"a\": [1, 2, 3],        \"b\": \"x\" }\n");
    std::string binary;
    for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 7919) % 251);
    WriteFile(root + "/sub/d.bin", binary);
  }
};

TEST(VeltchanReplay, WalksDirectoriesInOrderAndRepeats) {
  ScratchDir dir;
  const ReplayFiles files(dir);
  const Result r =
      RunVeltchan(dir, {files.root, "--queue", "ORDERS.IN", "--queue", "AUDIT@QM.B", "--repeat", "3", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["workload"]["source"], "replay");
  EXPECT_EQ(j["workload"]["destinations"], 2);
  EXPECT_EQ(j["total"]["messages"], 12);
  EXPECT_EQ(j["by_kind"]["xml"]["messages"], 3);
  EXPECT_EQ(j["by_kind"]["json"]["messages"], 3);
  EXPECT_EQ(j["by_kind"]["text"]["messages"], 3);
  EXPECT_EQ(j["by_kind"]["binary"]["messages"], 3);
  EXPECT_EQ(j["by_type"]["initial data"]["segments"], 1);
  EXPECT_TRUE(j["verdict"]["passed"]);
  EXPECT_LT(j["total"]["bytes_wire"].get<int64_t>(), j["total"]["bytes_in"].get<int64_t>());
}

TEST(VeltchanReplay, LinesMakeOneMessageEachAndSkipBlankOnes) {
  ScratchDir dir;
  WriteFile(dir.File("feed.txt"), "first line\n\nsecond line\r\nthird\n");
  WriteFile(dir.File("more.txt"), "fourth without newline");
  const Result r = RunVeltchan(dir, {dir.File("feed.txt"), dir.File("more.txt"), "--lines", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["total"]["messages"], 4);
  // Only the payloads travel: 4 x (28 + 20 + 428) header bytes plus the text.
  EXPECT_EQ(j["by_type"]["message"]["bytes_in"], 4 * 476 + 10 + 11 + 5 + 22);

  // A message's limit (100 MiB) is each line's, not the whole file's.
  {
    std::ofstream large(dir.File("large.bin"), std::ios::binary);
    const std::string line(51u << 20, '\0');
    large << line << '\n' << line << '\n';
  }
  const Result big = RunVeltchan(dir, {dir.File("large.bin"), "--lines", "--max-segment", "1048576", "--json"});
  ASSERT_EQ(big.status, 0) << big.err;
  EXPECT_EQ(json::parse(big.out)["total"]["messages"], 2);

  // A file that says it holds 0 bytes, as those of /proc do, is read to its end.
  const Result proc = RunVeltchan(dir, {"/proc/self/status", "--lines", "--json"});
  ASSERT_EQ(proc.status, 0) << proc.err;
  EXPECT_GT(json::parse(proc.out)["total"]["messages"], 10);
}

TEST(VeltchanReplay, ALargeMessageTravelsInManySegments) {
  ScratchDir dir;
  std::string big;
  while (big.size() < 2000000) big += "ACCOUNT " + std::to_string(big.size()) + std::string(50, ' ') + "\n";
  big.resize(2000000);
  WriteFile(dir.File("big.txt"), big);
  const Result r = RunVeltchan(dir, {dir.File("big.txt"), "--max-segment", "4096", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const json j = json::parse(r.out);
  // 3620 payload bytes fit beside the first segment's headers, 4048 in each
  // further one.
  EXPECT_EQ(j["by_type"]["message"]["segments"], 1 + (2000000 - 3620 + 4047) / 4048);
  EXPECT_EQ(j["by_type"]["message"]["messages"], 1);
  EXPECT_EQ(j["by_type"]["message"]["bytes_in"], 2000000 + 476 + 48 * ((2000000 - 3620 + 4047) / 4048));
  EXPECT_TRUE(j["verdict"]["passed"]);
}

// What a walk cannot replay is counted in the report, not dropped without a
// word; a subdirectory that cannot be read is named, not the PATH above it.
TEST(VeltchanReplay, AWalkCountsWhatItLeavesOutAndNamesWhatItCannotRead) {
  ScratchDir dir;
  const std::string root = dir.File("odd");
  fs::create_directories(root + "/sub");
  WriteFile(root + "/sub/only.txt", "the one message");
  fs::create_symlink("nowhere", root + "/dangling");
  fs::create_symlink("loop", root + "/loop");
  fs::create_directory_symlink("sub", root + "/sub-link");
  ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0600), 0);
  const Result text = RunVeltchan(dir, {root});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.rfind("veltchan: replay: 1 message from 1 path, 1 time, to 1 queue; 4 directory entries left "
                           "out as no regular file",
                           0),
            0u)
      << text.out;
  const Result js = RunVeltchan(dir, {root, "--json"});
  ASSERT_EQ(js.status, 0) << js.err;
  EXPECT_EQ(json::parse(js.out)["workload"]["entries_left_out"], 4);

  // Root reads any directory, unless it gives up overriding file modes.
  std::vector<std::string> as_user;
  if (geteuid() == 0) {
    as_user = {"setpriv", "--inh-caps", "-dac_override,-dac_read_search", "--bounding-set",
               "-dac_override,-dac_read_search"};
    if (std::system("setpriv --inh-caps -dac_override --bounding-set -dac_override true 2>/dev/null") != 0)
      GTEST_SKIP() << "root, and setpriv cannot drop the override of file modes";
  }
  fs::create_directories(root + "/sub/locked");
  fs::permissions(root + "/sub/locked", fs::perms::none);
  const Result locked = RunVeltchan(dir, {root}, as_user);
  fs::permissions(root + "/sub/locked", fs::perms::owner_all);
  EXPECT_EQ(locked.status, 2) << locked.out;
  EXPECT_NE(locked.err.find("cannot read directory " + root + "/sub/locked: "), std::string::npos) << locked.err;
}

// A receive end that does not expand what the send end compressed: the
// report names the first segment that arrived altered, and the status is 1.
TEST(VeltchanReplay, AnAlteredSegmentFailsTheRunAndIsNamed) {
  ScratchDir dir;
  const ReplayFiles files(dir);
  const std::string libs = dir.File("libs");
  fs::create_directories(libs);
  fs::copy_file(SendLibrary().path, agent::SendLibraryPath(libs));
  fs::copy_file(SendLibrary().path, agent::RecvLibraryPath(libs));
  const Result r = RunVeltchan(dir, {files.root, "--lib-dir", libs, "--svg", dir.File("chart.svg")});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  // The first message of a channel always travels plain; the second, the
  // records file in sorted order, is the first one compressed.
  EXPECT_NE(r.out.find("verdict: FAIL, first bad segment #3 (segment 1 of 1 of message 2 (" + files.root +
                       "/b-records.txt, to VELTCHAN.REPLAY)"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(FileExists(dir.File("chart.svg")));  // the report and chart still come out

  const Result js = RunVeltchan(dir, {files.root, "--lib-dir", libs, "--json"});
  EXPECT_EQ(js.status, 1);
  const json j = json::parse(js.out);
  EXPECT_FALSE(j["verdict"]["passed"]);
  EXPECT_EQ(j["verdict"]["first_bad"]["segment"], 3);
  EXPECT_EQ(j["verdict"]["first_bad"]["what"].get<std::string>().rfind("delivered ", 0), 0u) << j["verdict"];

  // A line end in the bad message's file name leaves the verdict one line.
  fs::create_directories(dir.File("named"));
  WriteFile(dir.File("named/a.xml"), "<a/>");
  WriteFile(dir.File("named/b\nc.xml"), "<order>" + std::string(300, ' ') + "</order>");
  const Result named = RunVeltchan(dir, {dir.File("named"), "--lib-dir", libs});
  EXPECT_EQ(named.status, 1);
  EXPECT_NE(named.out.find("/named/b?c.xml, to VELTCHAN.REPLAY)"), std::string::npos) << named.out;
}

// --- the chart -------------------------------------------------------------

TEST(VeltchanChart, SvgIsWrittenWholeAndWellFormed) {
  ScratchDir dir;
  const std::string corpus = MakeCorpus(dir);
  const std::string chart = dir.File("out") + "/chart.svg";
  fs::create_directories(dir.File("out"));
  const Result r = RunVeltchan(dir, With(SmallWorkload(corpus), {"--svg", chart}));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = ReadFile(chart);
  std::string why;
  EXPECT_TRUE(WellFormedSvg(svg, &why)) << why;
  for (const char* piece : {">xml (ratio ", ">records (ratio ", ">binary (ratio ", "<polyline ", "zlib level 1 ("})
    EXPECT_NE(svg.find(piece), std::string::npos) << piece;
  EXPECT_EQ(Listing(dir.File("out")), std::vector<std::string>{"chart.svg"});  // no temporary left behind
  EXPECT_EQ(fs::status(chart).permissions() & fs::perms::others_read, fs::perms::others_read);
}

// --- errors ----------------------------------------------------------------

struct BadCall {
  std::vector<std::string> args;
  std::string says;  // part of the one error line
};

class VeltchanErrors : public ::testing::TestWithParam<BadCall> {};

TEST_P(VeltchanErrors, OneLineStatusTwoAndNothingWritten) {
  ScratchDir dir;
  fs::create_directories(dir.File("out"));
  std::vector<std::string> args;
  for (std::string a : GetParam().args) {
    if (a.rfind("@/", 0) == 0) a = dir.File(a.substr(2));
    args.push_back(a);
  }
  args.insert(args.end(), {"--svg", dir.File("out/chart.svg")});
  const Result r = RunVeltchan(dir, args);
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_EQ(r.err.rfind("veltchan: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
  EXPECT_TRUE(Listing(dir.File("out")).empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadArguments, VeltchanErrors,
    ::testing::Values(BadCall{{"--bogus"}, "--bogus"}, BadCall{{"--compression", "9"}, "--compression"},
                      BadCall{{"--hdr-table", "0"}, "--hdr-table"}, BadCall{{"--hdr-table", "x"}, "--hdr-table"},
                      BadCall{{"--max-segment", "100"}, "--max-segment"}, BadCall{{"--log-level", "7"}, "--log-level"},
                      BadCall{{"--statistics", "3"}, "--statistics"}, BadCall{{"--lines"}, "--lines"},
                      BadCall{{"@/missing.xml"}, "missing.xml"},
                      BadCall{{"/dev/null"}, "cannot read /dev/null: not a regular file"},
                      BadCall{{"@/out", "--messages", "5"}, "--messages"},
                      BadCall{{"@/out", "--queue", std::string(49, 'Q')}, "--queue"},
                      BadCall{{"--lib-dir", "@/out"}, "cannot load the send exit"},
                      BadCall{{"--keep-dir", "@/with blank"}, "cannot be named in the exit configuration"},
                      BadCall{{"--corpus", "@/nowhere"}, "--corpus"}, BadCall{{"--seed", "-1"}, "--seed"},
                      BadCall{{"--seed", "18446744073709551616"}, "--seed"},
                      BadCall{{"--compression", "2", "stats", "@/out"}, "--compression before the stats command"}));

TEST(VeltchanErrorsOther, EmptyDirectoryAndUnwritableChartAreRefusedBeforeTheRun) {
  ScratchDir dir;
  fs::create_directories(dir.File("empty"));
  Result r = RunVeltchan(dir, {dir.File("empty")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no messages to replay"), std::string::npos) << r.err;

  r = RunVeltchan(dir, {"--messages", "5", "--svg", dir.File("no/such/dir/chart.svg")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
}

TEST(VeltchanHelp, ExplainsEveryOption) {
  ScratchDir dir;
  const Result r = RunVeltchan(dir, {"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* option :
       {"--lines", "--queue", "--repeat", "--compression", "--hdr-table", "--max-segment", "--log-level",
        "--statistics", "--lib-dir", "--seed", "--json", "--svg", "--messages", "--keep-dir", "--corpus"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace velt::test
