// The configuration reader against files no one should write: binary bytes
// with NULs and every byte value, 10,000-character lines of every kind, file
// names longer than a line piece, and names on a last line without its line
// end. Whatever the file holds, the settings that come out are usable: a
// header table of 1 to 16 entries and file names that are terminated strings
// with no line end in them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "host/context.h"
#include "support.h"

namespace velt::test {
namespace {

// Reads a file into a new context. Settings taken from noise could name any
// log file and level, so the exit data keeps logging off unless the test
// names its own log file.
struct Read {
  ExitParms parms{};
  ExitContext* ctx = nullptr;
  Read(const std::string& file_text, const ScratchDir& dir, const char* exit_data = "LOG=-1") {
    UseConfig(dir.File("velt.cfg"), file_text);
    std::memset(parms.ExitData, ' ', sizeof parms.ExitData);
    std::memcpy(parms.ExitData, exit_data, std::strlen(exit_data));
    ctx = Init(&parms, "SDR");
  }
  ~Read() { ReleaseContext(&parms, ctx); }
};

void ExpectUsable(const ExitContext* ctx) {
  EXPECT_GE(ctx->HdrTblSize, 1);
  EXPECT_LE(ctx->HdrTblSize, 16);
  for (const char* name : {ctx->LogFile, ctx->StatsFile}) {
    const std::size_t used = strnlen(name, kFileNameCapacity);
    EXPECT_LT(used, kFileNameCapacity);
    EXPECT_EQ(std::memchr(name, '\n', used), nullptr);
  }
}

TEST(HostileConfigFile, BinaryBytesLeaveUsableSettings) {
  ScratchDir dir;
  for (uint64_t seed = 1; seed <= 20; ++seed) {
    std::mt19937_64 rng(seed);
    std::string bytes(16 * 1024, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() % 256);
    // Keys among the noise, so that values are taken from it too.
    for (const char* key : {"LogFile=", "StatsFile ", "HdrTblSize:", "LogLevel="})
      bytes.insert(rng() % bytes.size(), std::string("\n") + key);
    Read r(bytes, dir);
    ASSERT_NE(r.ctx, nullptr);
    ExpectUsable(r.ctx);
  }
  std::string every_value;
  // Appended piece by piece: GCC 12 building for i386 takes `literal + string`
  // for an overlapping copy (-Wrestrict).
  for (int b = 0; b < 256; ++b) {
    every_value += "LogFile = x";
    every_value += static_cast<char>(b);
    every_value += "y\n";
  }
  Read r(every_value, dir);
  ExpectUsable(r.ctx);
}

TEST(HostileConfigFile, NulEndsWhatALineSays) {
  ScratchDir dir;
  static constexpr char kText[] = "LogLevel = 5\0 junk\nCompression\0 = 2\nStatistics = 2\n";
  Read r("LogFile = " + dir.File("velt.log") + "\n" + std::string(kText, sizeof kText - 1), dir, "");
  EXPECT_EQ(r.ctx->LogLevel, 5);
  EXPECT_EQ(r.ctx->Compression, 3) << "the key has no value before the NUL";
  EXPECT_EQ(r.ctx->Statistics, 2);
}

TEST(HostileConfigFile, TenThousandCharacterLines) {
  ScratchDir dir;
  for (const char fill : {'x', ' ', '\t', ':', '=', '#', '!', '9', '\r'}) {
    SCOPED_TRACE(std::string("filled with '") + fill + "'");
    Read r("LogFile = " + dir.File("velt.log") + "\n" + std::string(10000, fill) + "\nLogLevel = 4\nCompression = 2 " +
               std::string(10000, fill) + "\n",
           dir, "");
    ExpectUsable(r.ctx);
    EXPECT_EQ(r.ctx->LogLevel, 4);
    EXPECT_EQ(r.ctx->Compression, 2);
  }
}

TEST(HostileConfigFile, FileNameLongerThanALinePieceIsCutToIt) {
  ScratchDir dir;
  // "LogFile = " takes 10 of the 510 characters of the first piece.
  Read r("LogFile = " + std::string(10000, 'a') + "\nStatsFile = /" + std::string(10000, 'b') + "\n", dir);
  ExpectUsable(r.ctx);
  EXPECT_EQ(std::string(r.ctx->LogFile), std::string(500, 'a'));
  EXPECT_EQ(std::string(r.ctx->StatsFile), "/" + std::string(497, 'b'));
}

TEST(HostileConfigFile, FileNamesOnALastLineWithoutLineEnd) {
  ScratchDir dir;
  {
    Read r("StatsFile = /var/tmp/a.dat\nLogFile = /var/tmp/b.log", dir);
    EXPECT_EQ(std::string(r.ctx->LogFile), "/var/tmp/b.log");
    EXPECT_EQ(std::string(r.ctx->StatsFile), "/var/tmp/a.dat");
  }
  {
    // The last line exactly one piece long.
    Read r("LogFile = /" + std::string(499, 'c'), dir);
    EXPECT_EQ(std::string(r.ctx->LogFile), "/" + std::string(499, 'c'));
  }
}

}  // namespace
}  // namespace velt::test
