// The readers of the statistics file and the log against the writers
// themselves: what the exit writes is read back with the exit's own figures,
// whatever the chunks the file arrives in, and lines that are not the
// writer's (binary, enormous, cut short, from the other file) are counted
// and named without disturbing the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/context.h"
#include "host/log.h"
#include "host/log_lines.h"
#include "host/stats.h"
#include "readers/log_reader.h"
#include "readers/stats_reader.h"
#include "support.h"

namespace velt::test {
namespace {

// A context with its files in a scratch directory.
struct Writer {
  ScratchDir dir;
  ExitParms parms{};
  ExitContext* ctx = nullptr;
  explicit Writer(const std::string& settings) {
    UseConfig(dir.File("velt.cfg"),
              settings + "\nLogFile = " + dir.File("velt.log") + "\nStatsFile = " + dir.File("velt.dat") + "\n");
    std::memset(parms.ExitData, ' ', sizeof parms.ExitData);
    ctx = Init(&parms, "RCVR");
  }
  ~Writer() { ReleaseContext(&parms, ctx); }
};

// The three segments of the statistics' worked example and their summary,
// as the exit writes them.
std::string WrittenStatistics() {
  Writer w("Statistics = 2");
  const int32_t segments[][2] = {{1000, 500}, {300, 300}, {1200, 400}};
  for (const auto& s : segments) {
    UpdateStats(s[0], s[1], w.ctx);
    WriteStats(w.ctx);
  }
  WriteStatsSummary(w.ctx);
  return ReadFile(w.dir.File("velt.dat"));
}

template <typename Reader, typename Feed>
void FeedInChunks(Reader* reader, const std::string& text, std::size_t chunk, Feed feed) {
  for (std::size_t at = 0; at < text.size(); at += chunk)
    feed(reader, text.data() + at, std::min(chunk, text.size() - at));
}

readers::StatsReport ReadStats(const std::string& text, std::size_t chunk) {
  readers::StatsReader reader;
  FeedInChunks(&reader, text, chunk, readers::FeedStats);
  readers::FinishStats(&reader);
  return reader.report;
}

readers::LogReport ReadLog(const std::string& text, std::size_t chunk) {
  readers::LogReader reader;
  FeedInChunks(&reader, text, chunk, readers::FeedLog);
  readers::FinishLog(&reader);
  return reader.report;
}

// What comes around two copies of a real file, and what the reader must
// make of it.
struct HostileCase {
  const char* name;
  std::string before, between, after;
  std::vector<int64_t> unreadable;  // line numbers
  bool partial;
};

std::vector<HostileCase> HostileCases(const std::string& foreign_line) {
  const std::string binary("\x00\xff\x01\x02 B= \xab\xab\n", 11);
  return {
      {"Clean", "", "", "", {}, false},
      {"CutShort", "", "", " 00001  0000", {}, true},
      {"Binary", binary, "", "", {1}, false},
      {"EnormousLine", "", std::string(3 * readers::kMaxLine, 'x') + "\n", "", {7}, false},
      {"EnormousLastLineCutShort", "", "", std::string(2 * readers::kMaxLine, 'y'), {}, true},
      {"MixedWithTheOtherFile", foreign_line + "\n", foreign_line + "\r\n", "", {1, 8}, false},
      // The exit writes no negative length, and no count below -2^31.
      {"NegativeNumbers",
       "",
       " 00001  00001  B=-05000 A= 00500 Ratio = 2.0000 (Mean = 2.0000) \n"
       "Total msgs -2147483649 of which  00001 were compressed\n",
       "",
       {7, 8},
       false},
  };
}

TEST(StatisticsReader, ReadsBackWhatTheExitWroteInAnyChunksAndAroundHostileLines) {
  const std::string written = WrittenStatistics();
  for (const HostileCase& c : HostileCases("09:05:03 [4] SDR :ReadCfg: Log level  = 4")) {
    const std::string text = c.before + written + c.between + written + c.after;
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{5}, std::size_t{4096}, text.size()}) {
      SCOPED_TRACE(std::string(c.name) + ", chunks of " + std::to_string(chunk));
      const readers::StatsReport r = ReadStats(text, chunk);
      EXPECT_EQ(r.unreadable_lines, c.unreadable);
      EXPECT_EQ(r.unreadable, static_cast<int64_t>(c.unreadable.size()));
      EXPECT_EQ(r.partial_last_line, c.partial);
      ASSERT_EQ(r.instance_count, 2);
      for (const readers::StatsInstance& i : r.instances) {
        EXPECT_TRUE(i.closed);
        EXPECT_TRUE(i.lines_in_step);
        EXPECT_EQ(i.segments, 3);
        EXPECT_EQ(i.compressed, 2);
        EXPECT_EQ(i.segment_lines, 3);
        EXPECT_DOUBLE_EQ(i.mean_ratio, 2.5);
        EXPECT_DOUBLE_EQ(i.overall_ratio, 2.0);
        EXPECT_EQ(i.bytes_before, 2500);
        EXPECT_EQ(i.bytes_after, 1200);
      }
      EXPECT_EQ(r.total.bytes_before, 5000);
    }
  }
}

// Twelve lines of the largest numbers the reader takes: the tenth would
// carry the sums past int64, so it and the two after it are unreadable,
// whether the bytes of one instance or the counts of many add up.
TEST(StatisticsReader, LinesThatWouldWrapTheTotalsAreUnreadable) {
  std::string bytes, counts;
  for (int i = 1; i <= 12; ++i) {
    // Appended piece by piece: "literal" + std::string trips GCC 12's -Wrestrict.
    bytes += ' ';
    bytes += std::to_string(i);
    bytes += "  00001  B= 999999999999999999 A= 00001 Ratio = 1.0000 (Mean = 1.0000) \n";
    counts += "Total msgs 999999999999999999 of which  00001 were compressed\n";
  }
  const int64_t nine = 9 * int64_t{999999999999999999};
  const readers::StatsReport b = ReadStats(bytes, 4096);
  EXPECT_EQ(b.unreadable_lines, (std::vector<int64_t>{10, 11, 12}));
  EXPECT_EQ(b.total.bytes_before, nine);
  EXPECT_EQ(b.total.bytes_after, 9);
  const readers::StatsReport c = ReadStats(counts, 4096);
  EXPECT_EQ(c.unreadable_lines, (std::vector<int64_t>{10, 11, 12}));
  EXPECT_EQ(c.instance_count, 9);
  EXPECT_EQ(c.total.segments, nine);
}

// Past 2^31 - 1 segments the exit prints its 32-bit counts as they are
// where long is 64 bits wide, and negative where it is 32 bits (Windows).
TEST(StatisticsReader, CountsPastTwoToThe31AreReadInEitherForm) {
  for (const char* next : {" 2147483648", "-2147483648"}) {
    SCOPED_TRACE(next);
    const std::string n = next;
    const std::string text = " 2147483647  2147483647  B= 00100 A= 00050 Ratio = 2.0000 (Mean = 2.0000) \n" + n + " " +
                             n + "  B= 00100 A= 00050 Ratio = 2.0000 (Mean = 2.0000) \n" + "Total msgs " + n +
                             " of which  " + n.substr(n[0] == ' ') + " were compressed\n" +
                             "Mean compression ratio of compressed segs =   2.0000\n" +
                             "Overall compression ratio of all data     =   2.0000\n";
    const readers::StatsReport r = ReadStats(text, 4096);
    EXPECT_EQ(r.unreadable, 0);
    ASSERT_EQ(r.instances.size(), 1u);
    EXPECT_EQ(r.total.segments, int64_t{1} << 31);
    EXPECT_EQ(r.total.compressed, int64_t{1} << 31);
  }
}

TEST(StatisticsReader, AnInstanceStillRunningHasTheFiguresOfItsLastLine) {
  const std::string written = WrittenStatistics();
  const std::string running = written.substr(0, written.find("Total msgs"));
  const readers::StatsReport r = ReadStats(written + running, 64);
  ASSERT_EQ(r.instances.size(), 2u);
  const readers::StatsInstance& open = r.instances[1];
  EXPECT_FALSE(open.closed);
  EXPECT_EQ(open.segments, 3);
  EXPECT_EQ(open.compressed, 2);
  EXPECT_DOUBLE_EQ(open.mean_ratio, 2.5);
  // As the summary would say: (3 - 2 + 2.5 * 2) / 3.
  EXPECT_DOUBLE_EQ(open.overall_ratio, 2.0);
}

// A message that leaves its line open (the decode overflow) is followed on
// the same line by the next message, which is counted in its own right.
std::string WrittenLog() {
  Writer w("LogLevel = 6");
  WriteLog(kLogReject, w.ctx, kLogRecvDecodeOverflow, 40000L, 32756L);
  WriteLog(kLogTrace, w.ctx, "ProcessXmitRecv: returning response = %ld\n", -6L);
  WriteLog(kLogReject, w.ctx, kLogRefusedCompression, 700L, 600L);
  WriteLog(kLogReject, w.ctx, kLogRecvCacheTooSmall, 5, 4);
  WriteLog(kLogReject, w.ctx, kLogRecvAdjustTable);
  WriteLog(kLogCall, w.ctx, "velt_exit: ProcessXmitRecv: before %ld after %ld\n\n", 10L, 20L);
  DumpBuffer("0123456789abcdef", 16, w.ctx);
  return ReadFile(w.dir.File("velt.log"));
}

TEST(LogReader, CountsWhatTheExitWroteInAnyChunksAndAroundHostileLines) {
  const std::string written = WrittenLog();
  for (const HostileCase& c : HostileCases(" 00001  00001  B= 01000 A= 00500 Ratio = 2.0000 (Mean = 2.0000) ")) {
    // The cases number lines for a statistics file of six lines; past the
    // first line, they shift by the log's own length.
    std::vector<int64_t> expected = c.unreadable;
    for (int64_t& line : expected)
      if (line > 1) line += static_cast<int64_t>(std::count(written.begin(), written.end(), '\n')) - 6;
    const std::string text = c.before + written + c.between + written + c.after;
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, text.size()}) {
      SCOPED_TRACE(std::string(c.name) + ", chunks of " + std::to_string(chunk));
      const readers::LogReport r = ReadLog(text, chunk);
      EXPECT_EQ(r.unreadable_lines, expected);
      EXPECT_EQ(r.partial_last_line, c.partial);
      EXPECT_EQ(r.kinds[static_cast<int>(LogKind::kChannelClosed)].count, 2 * 3);
      EXPECT_EQ(r.kinds[static_cast<int>(LogKind::kRefusedCompression)].count, 2);
      EXPECT_EQ(r.kinds[static_cast<int>(LogKind::kConfiguration)].count, 2);
      EXPECT_EQ(r.by_level[0], 2 * 4);
      EXPECT_EQ(r.recv_end, r.messages);
      EXPECT_EQ(r.dump_lines, 2 * 2);
      ASSERT_EQ(r.action_count, 2 * 3);
      // The overflow line is shown up to where the next message begins.
      const std::string& overflow = r.actions[0].text;
      EXPECT_EQ(overflow.substr(8),
                " [0] RCVR :ProcessXmitRecv: Decode overflow (msg_length = 40000, buffer length = 32756)");
      EXPECT_EQ(r.actions[2].text.substr(8),
                " [0] RCVR :ProcessXmitRecv: adjust \"HdrTblSize\" in receiver's config file!");
    }
  }
}

// Below level 4 nothing follows the overflow message of a closed channel:
// the log ends without a line end, and that last line is whole, not one
// still being written.
TEST(LogReader, AClosedChannelsLastMessageWithoutALineEndIsWhole) {
  std::string written;
  {
    Writer w("LogLevel = 1");
    WriteLog(kLogReject, w.ctx, kLogRecvDecodeOverflow, 40000L, 32756L);
    written = ReadFile(w.dir.File("velt.log"));
  }
  for (const std::size_t chunk : {std::size_t{1}, written.size()}) {
    const readers::LogReport r = ReadLog(written, chunk);
    EXPECT_FALSE(r.partial_last_line);
    EXPECT_EQ(r.kinds[static_cast<int>(LogKind::kChannelClosed)].count, 1);
    ASSERT_EQ(r.action_count, 1);
  }
  // Cut inside the message, it is a line still being written.
  EXPECT_TRUE(ReadLog(written.substr(0, written.size() - 30), 4096).partial_last_line);
}

}  // namespace
}  // namespace velt::test
