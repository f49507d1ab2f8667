// The log writer's line format and level test, the buffer dump, and the
// statistics lines and summary.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "host/context.h"
#include "host/log.h"
#include "host/stats.h"
#include "support.h"

namespace velt::test {
namespace {

// A context made the way the entry point makes one, with its files in a
// scratch directory.
struct Fixture {
  ScratchDir dir;
  ExitParms parms{};
  ExitContext* ctx = nullptr;
  explicit Fixture(const std::string& settings) {
    UseConfig(dir.File("velt.cfg"),
              settings + "\nLogFile = " + dir.File("velt.log") + "\nStatsFile = " + dir.File("velt.dat") + "\n");
    std::memset(parms.ExitData, ' ', sizeof parms.ExitData);
    ctx = Init(&parms, "SDR");
  }
  ~Fixture() { ReleaseContext(&parms, ctx); }
  std::string Log() const { return ReadFile(dir.File("velt.log")); }
  std::string Stats() const { return ReadFile(dir.File("velt.dat")); }
};

// Replaces every "hh:mm:ss" time in text by "dd:dd:dd".
std::string MaskTimes(std::string text) {
  auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
  for (std::size_t i = 0; i + 8 <= text.size(); ++i) {
    if (digit(i) && digit(i + 1) && text[i + 2] == ':' && digit(i + 3) && digit(i + 4) && text[i + 5] == ':' &&
        digit(i + 6) && digit(i + 7))
      text.replace(i, 8, "dd:dd:dd");
  }
  return text;
}

TEST(WriteLog, PrefixAndLevels) {
  Fixture f("LogLevel = 4");
  WriteLog(4, f.ctx, "ReadCfg: Log level  = %d\n", 5);
  WriteLog(5, f.ctx, "not written %d\n", 1);
  WriteLog(0, f.ctx, "no line end,");
  WriteLog(1, f.ctx, "joined\n\n");
  const std::string log = MaskTimes(f.Log());
  EXPECT_EQ(log,
            "dd:dd:dd [4] SDR :ReadCfg: Log level  = 4\n"  // from Init
            "dd:dd:dd [4] SDR :ReadCfg: Log level  = 5\n"
            "dd:dd:dd [0] SDR :no line end,dd:dd:dd [1] SDR :joined\n\n");
}

TEST(WriteLog, NothingAboveTheLevelAndNoFileUntilNeeded) {
  Fixture f("LogLevel = -1");
  WriteLog(0, f.ctx, "never %d\n", 0);
  DumpBuffer("abc", 3, f.ctx);
  EXPECT_FALSE(FileExists(f.dir.File("velt.log")));
  f.ctx->LogLevel = 4;
  WriteLog(5, f.ctx, "still not %d\n", 0);
  EXPECT_FALSE(FileExists(f.dir.File("velt.log")));
}

TEST(WriteLog, UnopenableFileIsRetriedByTheNextMessage) {
  Fixture f("LogLevel = 1");
  const std::string missing = f.dir.File("later");
  std::snprintf(f.ctx->LogFile, sizeof f.ctx->LogFile, "%s/velt.log", missing.c_str());
  WriteLog(0, f.ctx, "lost\n");
  EXPECT_EQ(f.ctx->LogStream, nullptr);
  std::filesystem::create_directory(missing);
  WriteLog(0, f.ctx, "lands\n");
  const auto lines = LogLines(missing + "/velt.log");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "0] SDR :lands");
}

std::string DumpOf(const std::vector<unsigned char>& bytes, int level) {
  Fixture f("LogLevel = 4");
  WriteLog(0, f.ctx, "open\n");
  f.ctx->LogLevel = static_cast<int16_t>(level);
  DumpBuffer(bytes.data(), static_cast<int32_t>(bytes.size()), f.ctx);
  std::string log = f.Log();
  log = log.substr(log.find("open\n") + 5);
  // Drop the time of a "dumping buffer" line.
  if (log.size() > 9 && log[2] == ':') log = log.substr(9);
  return log;
}

TEST(DumpBuffer, EntryForms) {
  const std::vector<unsigned char> bytes = {32, 126, 127, 9, 171, 128, 65, 0, 255};
  EXPECT_EQ(DumpOf(bytes, 5), "032[ ] 126[~] 127[?] 009[?] ESC[ ] 128[?] 065[A] 000[?] 255[?] \n");
}

TEST(DumpBuffer, ThirtyBytesAtLevelFiveAllAtSix) {
  const std::vector<unsigned char> hundred(100, 'x');
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += "120[x] ";
  ten += "\n";
  EXPECT_EQ(DumpOf(hundred, 5), ten + ten + ten + "\n");
  std::string full = "[6] SDR :dumping buffer: sz = 100\n";
  for (int i = 0; i < 10; ++i) full += ten;
  EXPECT_EQ(DumpOf(hundred, 6), full + "\n");
}

TEST(DumpBuffer, TenBytesAndNone) {
  const std::vector<unsigned char> ten_bytes(10, 'A');
  std::string line;
  for (int i = 0; i < 10; ++i) line += "065[A] ";
  EXPECT_EQ(DumpOf(ten_bytes, 5), line + "\n\n");
  EXPECT_EQ(DumpOf({}, 6), "[6] SDR :dumping buffer: sz = 0\n\n");
}

TEST(DumpBuffer, NeedsAnOpenLogAtLevelFive) {
  Fixture f("LogLevel = 5");
  std::fclose(f.ctx->LogStream);
  f.ctx->LogStream = nullptr;
  std::filesystem::remove(f.dir.File("velt.log"));
  DumpBuffer("abc", 3, f.ctx);
  EXPECT_FALSE(FileExists(f.dir.File("velt.log")));
}

TEST(Statistics, WorkedExample) {
  Fixture f("Statistics = 2");
  const int32_t segments[][2] = {{1000, 500}, {300, 300}, {1200, 400}};
  for (const auto& s : segments) {
    UpdateStats(s[0], s[1], f.ctx);
    WriteStats(f.ctx);
  }
  WriteStatsSummary(f.ctx);
  EXPECT_EQ(f.Stats(),
            " 00001  00001  B= 01000 A= 00500 Ratio = 2.0000 (Mean = 2.0000) \n"
            " 00002  00001  B= 00300 A= 00300 Ratio = 1.0000 (Mean = 2.0000) \n"
            " 00003  00002  B= 01200 A= 00400 Ratio = 3.0000 (Mean = 2.5000) \n"
            "Total msgs  00003 of which  00002 were compressed\n"
            "Mean compression ratio of compressed segs =   2.5000\n"
            "Overall compression ratio of all data     =   2.0000\n");
}

TEST(Statistics, AllUncompressedAndEmptyResults) {
  Fixture f("Statistics = 2");
  UpdateStats(100, 100, f.ctx);
  WriteStats(f.ctx);
  UpdateStats(100, 120, f.ctx);
  UpdateStats(100, 0, f.ctx);  // no finite ratio: counted as sent plain
  UpdateStats(100, -4, f.ctx);
  EXPECT_DOUBLE_EQ(f.ctx->LastRatio, 1.0);
  EXPECT_EQ(f.ctx->CompressedSegs, 0);
  WriteStatsSummary(f.ctx);
  EXPECT_EQ(f.Stats(),
            " 00001  00000  B= 00100 A= 00100 Ratio = 1.0000 (Mean = N/A) \n"
            "Total msgs  00004 of which  00000 were compressed\n");

  // A long-lived instance passes 2^31 - 1 segments: the counts go on as
  // unsigned 32 bits, with no overflow, and the mean and the figures stay
  // right (negative where long is 32 bits wide, as the reader expects).
  f.ctx->TotalSegs = INT32_MAX;
  f.ctx->CompressedSegs = INT32_MAX;
  f.ctx->SumRatios = 2.0 * INT32_MAX;
  UpdateStats(100, 50, f.ctx);
  EXPECT_EQ(f.ctx->TotalSegs, INT32_MIN);
  EXPECT_EQ(f.ctx->CompressedSegs, INT32_MIN);
  EXPECT_DOUBLE_EQ(f.ctx->MeanRatio, 2.0);
  WriteStats(f.ctx);
  WriteStatsSummary(f.ctx);
  // "% 5.5ld" gives the sign's place, "%5.5ld" does not.
  const std::string plain = sizeof(long) == 8 ? "2147483648" : "-2147483648";
  const std::string sign = plain[0] == '-' ? plain : " " + plain;
  const std::string tail = sign + " " + sign + "  B= 00100 A= 00050 Ratio = 2.0000 (Mean = 2.0000) \n" + "Total msgs " +
                           sign + " of which  " + plain + " were compressed\n" +
                           "Mean compression ratio of compressed segs =   2.0000\n" +
                           "Overall compression ratio of all data     =   2.0000\n";
  const std::string written = f.Stats();
  EXPECT_EQ(written.substr(written.size() - std::min(written.size(), tail.size())), tail);
}

TEST(Statistics, SettingsZeroAndOne) {
  {
    Fixture f("Statistics = 0");
    UpdateStats(1000, 10, f.ctx);
    WriteStats(f.ctx);
    WriteStatsSummary(f.ctx);
    EXPECT_DOUBLE_EQ(f.ctx->LastRatio, 100.0);
    EXPECT_FALSE(FileExists(f.dir.File("velt.dat")));
  }
  {
    Fixture f("Statistics = 1");
    WriteStatsSummary(f.ctx);  // nothing counted: no file
    EXPECT_FALSE(FileExists(f.dir.File("velt.dat")));
    UpdateStats(1000, 500, f.ctx);
    WriteStats(f.ctx);
    WriteStatsSummary(f.ctx);
    EXPECT_EQ(f.Stats(),
              "Total msgs  00001 of which  00001 were compressed\n"
              "Mean compression ratio of compressed segs =   2.0000\n"
              "Overall compression ratio of all data     =   2.0000\n");
  }
}

}  // namespace
}  // namespace velt::test
