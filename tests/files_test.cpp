// Files the exits cannot use, through the real libraries: a log or statistics
// file whose directory is missing, or whose parent is a regular file, until
// it becomes usable; and configuration files that are missing, empty, binary,
// made of 10,000-character lines or without a final line end. The channel
// carries every segment exactly throughout, the agent hears of nothing, and
// the first line written once the file can be opened lands whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sim_channel.h"
#include "support.h"
#include "workload.h"

namespace velt::test {
namespace {

namespace fs = std::filesystem;

agent::EndSettings Settings(const std::string& exit_data = "") {
  agent::EndSettings s;
  s.channel_name = "TO.REMOTE";
  s.max_segment_length = 4096;
  s.exit_data = exit_data;
  return s;
}

struct Traffic {
  agent::Workload workload;
  int sent = 0;
  int altered = 0;
  int not_ok = 0;  // any response but MQXCC_OK, at either end
  int compressed = 0;
  explicit Traffic(uint64_t seed) {
    agent::WorkloadSettings settings;
    settings.seed = seed;
    settings.max_segment_length = 4096;
    settings.max_payload = 9000;
    agent::SetUpWorkload(&workload, settings);
  }
  // Carries whole steps until at least n more segments went.
  void Carry(agent::SimChannel* channel, int n) {
    agent::Step step;
    for (const int until = sent + n; sent < until;) {
      agent::NextStep(&workload, &step);
      for (const agent::Segment& s : step.segments) {
        const agent::Hop hop = agent::Transmit(channel, s.data(), static_cast<int32_t>(s.size()));
        altered += hop.delivered && hop.intact ? 0 : 1;
        not_ok += hop.send_response == MQXCC_OK && hop.recv_response == MQXCC_OK ? 0 : 1;
        compressed += hop.compressed ? 1 : 0;
        ++sent;
      }
    }
  }
};

std::vector<std::string> StatsLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The log and statistics files sit in a directory that is first missing and
// then created, or whose place is first taken by a regular file.
void UnusableThenUsable(bool parent_is_file) {
  ScratchDir dir;
  const std::string place = dir.File("later");
  const std::string log = place + "/velt.log";
  const std::string stats = place + "/velt.dat";
  if (parent_is_file) WriteFile(place, "not a directory\n");
  UseConfig(dir.File("velt.cfg"), "LogLevel = 4\nStatistics = 2\nLogFile = " + log + "\nStatsFile = " + stats + "\n");

  agent::SimChannel channel;
  ASSERT_TRUE(agent::OpenChannel(&channel, SendLibrary().entry, RecvLibrary().entry, Settings(), Settings()));
  Traffic traffic(11);
  traffic.Carry(&channel, 200);
  EXPECT_EQ(traffic.altered, 0);
  EXPECT_EQ(traffic.not_ok, 0) << "the agent hears nothing of files that cannot be opened";
  EXPECT_GT(traffic.compressed, 50);
  EXPECT_FALSE(FileExists(log));

  if (parent_is_file) fs::remove(place);
  fs::create_directory(place);
  const int before = traffic.sent;
  traffic.Carry(&channel, 1);
  const int carried = traffic.sent - before;
  EXPECT_EQ(traffic.altered, 0);

  // The next line of each end lands, whole: the trace line of its next call.
  const std::vector<std::string> lines = LogLines(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("4] SDR :velt_exit: [", 0), 0u) << lines.front();
  EXPECT_NE(lines.front().find("Reason MQXR_XMIT, Ids SEND_EXIT"), std::string::npos) << lines.front();
  bool receive_end = false;
  for (const std::string& line : lines) receive_end |= line.rfind("4] RCVR :velt_exit: [", 0) == 0;
  EXPECT_TRUE(receive_end);

  // One statistics line per segment since, still counting from the first.
  const std::vector<std::string> stats_lines = StatsLines(stats);
  ASSERT_EQ(stats_lines.size(), static_cast<std::size_t>(carried));
  char first[16];
  std::snprintf(first, sizeof first, " %05d ", before + 1);
  EXPECT_EQ(stats_lines.front().rfind(first, 0), 0u) << stats_lines.front();

  agent::CloseChannel(&channel);
  const std::vector<std::string> summary = StatsLines(stats);
  ASSERT_EQ(summary.size(), static_cast<std::size_t>(carried) + 3);
  EXPECT_EQ(summary[static_cast<std::size_t>(carried)].rfind("Total msgs  ", 0), 0u);
}

TEST(UnusableFiles, LogAndStatisticsDirectoryMissingThenCreated) { UnusableThenUsable(false); }
TEST(UnusableFiles, LogAndStatisticsParentIsAFileThenADirectory) { UnusableThenUsable(true); }

// Configuration files no one should write. The exits keep going with the
// settings they can make out; logging is kept off the default path.
std::string BinaryBytes(uint64_t seed, std::size_t size) {
  std::mt19937_64 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
  return bytes;
}

TEST(HostileConfiguration, EveryKindStillCarriesTheChannel) {
  const struct {
    const char* name;
    std::string text;  // empty name of a file: no file at all
    bool present;
  } kFiles[] = {
      {"missing", "", false},
      {"empty", "", true},
      {"binary", BinaryBytes(1, 64 * 1024), true},
      {"binary with a setting on a line of its own",
       BinaryBytes(2, 5000) + "\nCompression = 2\n" + BinaryBytes(3, 5000), true},
      {"10,000-character lines",
       std::string(10000, 'x') + "\n" + "Compression = 2" + std::string(10000, ' ') + "\n" + std::string(10000, ':') +
           "\n" + std::string(10000, '=') + "\n",
       true},
      {"no final line end", "HdrTblSize = 16\nCompression = 4", true},
  };
  for (const auto& file : kFiles) {
    SCOPED_TRACE(file.name);
    ScratchDir dir;
    const std::string cfg = dir.File("velt.cfg");
    if (file.present) {
      UseConfig(cfg, file.text);
    } else {
      setenv("VELT_EXIT_CFG", cfg.c_str(), 1);
    }
    agent::SimChannel channel;
    ASSERT_TRUE(
        agent::OpenChannel(&channel, SendLibrary().entry, RecvLibrary().entry, Settings("LOG=-1"), Settings("LOG=-1")));
    Traffic traffic(12);
    traffic.Carry(&channel, 300);
    agent::CloseChannel(&channel);
    EXPECT_EQ(traffic.altered, 0);
    EXPECT_EQ(traffic.not_ok, 0);
    EXPECT_GT(traffic.compressed, 50);
  }
}

}  // namespace
}  // namespace velt::test
