// The configuration reader: the file's syntax, the exit data, which keys are
// honoured at each reading, and the conversions of values.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "host/config.h"
#include "host/context.h"
#include "support.h"

namespace velt::test {
namespace {

struct Settings {
  int compression = 3;
  int statistics = 0;
  int log_level = 1;
  int table_size = 4;
};

struct ConfigCase {
  const char* name;
  const char* file;       // configuration file text (null: no file)
  const char* exit_data;  // up to 32 characters, blank-padded
  Settings expected;
};

ExitParms ParmsWith(const char* exit_data) {
  ExitParms parms{};
  std::memset(parms.ExitData, ' ', sizeof parms.ExitData);
  std::memcpy(parms.ExitData, exit_data, std::min(std::strlen(exit_data), sizeof parms.ExitData));
  return parms;
}

Settings Read(ExitContext* ctx) { return Settings{ctx->Compression, ctx->Statistics, ctx->LogLevel, ctx->HdrTblSize}; }

class ConfigTable : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigTable, SettingsAfterCreation) {
  const ConfigCase& c = GetParam();
  ScratchDir dir;
  if (c.file != nullptr) {
    UseConfig(dir.File("velt.cfg"), c.file);
  } else {
    setenv("VELT_EXIT_CFG", dir.File("missing.cfg").c_str(), 1);
  }
  ExitParms parms = ParmsWith(c.exit_data);
  ExitContext* ctx = Init(&parms, "SDR");
  ASSERT_NE(ctx, nullptr);
  const Settings got = Read(ctx);
  EXPECT_EQ(got.compression, c.expected.compression);
  EXPECT_EQ(got.statistics, c.expected.statistics);
  EXPECT_EQ(got.log_level, c.expected.log_level);
  EXPECT_EQ(got.table_size, c.expected.table_size);
  ReleaseContext(&parms, ctx);
}

constexpr Settings Defaults() { return Settings{}; }
constexpr Settings With(int compression, int statistics, int log_level, int table_size) {
  return Settings{compression, statistics, log_level, table_size};
}

const ConfigCase kCases[] = {
    {"NoFile", nullptr, "", Defaults()},
    {"EmptyFile", "", "", Defaults()},
    {"ExampleFile", "! exit configuration\nCompression = 3\nStatistics = 2\nLogLevel = -1\nHdrTblSize = 8\n", "",
     With(3, 2, -1, 8)},
    {"LowerCaseKeyIgnored", "compression = 2\n", "", Defaults()},
    {"KeyBeginningWithKeyword", "CompressionLevel = 2\n", "", With(2, 0, 1, 4)},
    {"KeyShorterThanKeyword", "Stat = 2\n", "", Defaults()},
    {"OneSettingPerLine", "Compression 2 LogLevel 5\n", "", With(2, 0, 1, 4)},
    {"TabIsNoSeparator", "Compression\t2\n", "", Defaults()},
    {"EmptyValueGivesZero", "Compression =\n", "", With(0, 0, 1, 4)},
    {"KeyAloneChangesNothing", "Compression\n", "", Defaults()},
    {"ColonAndEqualsSeparate", "Statistics::==:2\n", "", With(3, 2, 1, 4)},
    {"NotANumberGivesZero", "Compression = high\n", "", With(0, 0, 1, 4)},
    {"Low16Bits", "Statistics = 70000\n", "", With(3, 4464, 1, 4)},
    // 10^20 - 1 is -1 modulo 2^16.
    {"LongNumberKeepsLow16Bits", "Statistics = 99999999999999999999\n", "", With(3, -1, 1, 4)},
    {"TableSizeZeroGivesOne", "HdrTblSize = 0\n", "", With(3, 0, 1, 1)},
    {"TableSize17GivesSixteen", "HdrTblSize = 17\n", "", With(3, 0, 1, 16)},
    {"TableSizeMinusOneGivesSixteen", "HdrTblSize = -1\n", "", With(3, 0, 1, 16)},
    {"TableSize65537GivesOne", "HdrTblSize = 65537\n", "", With(3, 0, 1, 1)},
    {"CommentsAfterBlanks", "   # Compression = 1\n\t! Statistics = 2\n\n   \n", "", Defaults()},
    {"LastLineWithoutNewline", "LogLevel = -1\nCompression = 2", "", With(2, 0, -1, 4)},
    {"ExitDataOverridesFile", "Compression = 3\n", "COMP=0", With(0, 0, 1, 4)},
    {"ExitDataLeadingBlankIgnored", "", " COMP=0", Defaults()},
    {"ExitDataLongKeys", "", "COMPRESSION=2 STATISTICS=2", With(2, 2, 1, 4)},
    {"ExitDataUnknownTokensDropped", "", "X COMP=1 Y LOG=-1 HDR=9", With(1, 0, -1, 9)},
    {"ExitDataThirtyTwoCharacters", "", "COMP=2                      LOG=-1", With(2, 0, 1, 4)},
};

INSTANTIATE_TEST_SUITE_P(Cases, ConfigTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ConfigCase>& info) { return info.param.name; });

TEST(Config, PiecesOfLongLinesCountAsLines) {
  ScratchDir dir;
  // 510 characters of comment, then "Statistics = 2" as the rest of the line.
  std::string line = "#" + std::string(509, 'x') + "Statistics = 2\n";
  UseConfig(dir.File("velt.cfg"), line + std::string(600, 'y') + "\nLogLevel = -1\n");
  ExitParms parms = ParmsWith("");
  ExitContext* ctx = Init(&parms, "SDR");
  EXPECT_EQ(ctx->Statistics, 2);
  EXPECT_EQ(ctx->LogLevel, -1);
  ReleaseContext(&parms, ctx);
}

TEST(Config, FileNamesAndOnceOnlyKeys) {
  ScratchDir dir;
  UseConfig(dir.File("velt.cfg"), "LogFile = " + dir.File("a.log") + "\nStatsFile = C:\\x.dat\nHdrTblSize = 8\n");
  ExitParms parms = ParmsWith("HDR=2");
  ExitContext* ctx = Init(&parms, "SDR");
  EXPECT_EQ(std::string(ctx->LogFile), dir.File("a.log"));  // no newline kept
  EXPECT_EQ(std::string(ctx->StatsFile), "C");              // the colon separates
  EXPECT_EQ(ctx->HdrTblSize, 2);                            // exit data is read last

  // The second reading honours only Compression, Statistics and LogLevel.
  UseConfig(dir.File("velt.cfg"),
            "LogFile = " + dir.File("b.log") + "\nHdrTblSize = 16\nStatsFile = other.dat\nCompression = 2\n");
  std::memcpy(parms.ExitData, "HDR=9 STAT=1                    ", 32);
  ReadCfg(ctx, &parms);
  EXPECT_EQ(std::string(ctx->LogFile), dir.File("a.log"));
  EXPECT_EQ(std::string(ctx->StatsFile), "C");
  EXPECT_EQ(ctx->HdrTblSize, 2);
  EXPECT_EQ(ctx->Compression, 2);
  EXPECT_EQ(ctx->Statistics, 1);
  ReleaseContext(&parms, ctx);
}

TEST(Config, FileNamesFromLinesEndingInCarriageReturn) {
  ScratchDir dir;
  UseConfig(dir.File("velt.cfg"), "LogLevel = 4\r\nLogFile = " + dir.File("crlf.log") + "\r\nStatsFile = s.dat\r");
  ExitParms parms = ParmsWith("");
  ExitContext* ctx = Init(&parms, "SDR");
  EXPECT_EQ(std::string(ctx->LogFile), dir.File("crlf.log"));
  EXPECT_EQ(std::string(ctx->StatsFile), "s.dat");
  EXPECT_EQ(ctx->LogLevel, 4);
  ReleaseContext(&parms, ctx);
  EXPECT_TRUE(FileExists(dir.File("crlf.log")));
}

TEST(Config, ConfiguredLogFileReceivesInitLines) {
  ScratchDir dir;
  UseConfig(dir.File("velt.cfg"), "LogLevel = 5\nLogFile = " + dir.File("chan.log") + "\n");
  ExitParms parms = ParmsWith("");
  ExitContext* ctx = Init(&parms, "SDR");
  const auto lines = LogLines(dir.File("chan.log"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "4] SDR :ReadCfg: Log level  = 5");
  EXPECT_EQ(lines[1], "5] SDR :Init: invoked");
  EXPECT_EQ(lines[2], "5] SDR :Init: local_byte order 2");
  EXPECT_DOUBLE_EQ(ctx->LastRatio, 1.15);
  EXPECT_EQ(ctx->LastBefore, 1);
  EXPECT_EQ(ctx->LastAfter, 1);
  // A second call finds the same context and reads nothing.
  EXPECT_EQ(Init(&parms, "SDR"), ctx);
  EXPECT_EQ(LogLines(dir.File("chan.log")).size(), 3u);
  ReleaseContext(&parms, ctx);
  void* anchor = &parms;
  std::memcpy(&anchor, parms.ExitUserArea, sizeof anchor);
  EXPECT_EQ(anchor, nullptr) << "the released context must not stay reachable";
}

TEST(GetToken, SeparatorsAndEmptyTokens) {
  char text[] = "::Key= value:rest";
  char* cursor = text;
  EXPECT_STREQ(GetToken(&cursor, ":= "), "Key");
  EXPECT_STREQ(GetToken(&cursor, ":= "), "value");
  EXPECT_STREQ(GetToken(&cursor, ":= "), "rest");
  EXPECT_EQ(GetToken(&cursor, ":= "), nullptr);

  char trailing[] = "a ::";
  cursor = trailing;
  EXPECT_STREQ(GetToken(&cursor, ":= "), "a");
  EXPECT_STREQ(GetToken(&cursor, ":= "), "");
  EXPECT_EQ(GetToken(&cursor, ":= "), nullptr);
}

}  // namespace
}  // namespace velt::test

namespace velt::test {
namespace {

struct Told {
  CfgEvent event;
  CfgSource source;
  int line;
  std::string keyword;  // "" when none
  int32_t stored;
};

bool operator==(const Told& a, const Told& b) {
  return a.event == b.event && a.source == b.source && a.line == b.line && a.keyword == b.keyword &&
         a.stored == b.stored;
}

void PrintTo(const Told& t, std::ostream* os) {
  *os << "{event " << static_cast<int>(t.event) << ", line " << t.line << ", " << t.keyword << ", " << t.stored << "}";
}

void Record(void* user, const CfgNote& note) {
  static_cast<std::vector<Told>*>(user)->push_back(
      Told{note.event, note.source, note.line, note.keyword != nullptr ? note.keyword : "",
           note.event == CfgEvent::kSet || note.event == CfgEvent::kClamped ? note.stored : 0});
}

// What the observer is told at each reading, and that telling it changes
// nothing the reader stores.
TEST(ConfigObserver, ToldPerLineAndTokenWithoutChangingTheReading) {
  ScratchDir dir;
  const std::string file = dir.File("velt.cfg");
  WriteFile(file,
            "! comment\n"
            "Compresion = 2\n"               // 2: unknown
            "HdrTblSize = 40\n"              // 3: limited
            "Statistics = 2 LogLevel = 4\n"  // 4: set, rest ignored
            "LogLevel\n"                     // 5: no value
            "LogFile = " +
                dir.File("x.log") + "\n" +      // 6: set
                std::string(600, '#') + "\n");  // 7: a comment, read in two pieces
  const char exit_data[] = "HDR=0 COMP=1 X                  ";
  const char blank_data[] = " COMP=0                         ";

  for (const bool first_reading : {true, false}) {
    ExitContext observed{};
    ExitContext plain{};
    SetDefaults(&observed, "SDR");
    SetDefaults(&plain, "SDR");
    observed.Initialised = plain.Initialised = first_reading ? 0 : 1;
    std::vector<Told> told;
    const CfgObserver observer{Record, &told};
    EXPECT_TRUE(ReadSettings(&observed, file.c_str(), exit_data, &observer));
    ReadSettings(&plain, file.c_str(), exit_data, nullptr);
    EXPECT_EQ(std::memcmp(&observed, &plain, sizeof observed), 0);

    using E = CfgEvent;
    const CfgSource F = CfgSource::kFile, D = CfgSource::kExitData;
    std::vector<Told> expected = {{E::kUnknownKey, F, 2, "", 0}};
    if (first_reading) {
      expected.push_back({E::kClamped, F, 3, "HdrTblSize", 16});
    } else {
      expected.push_back({E::kOnceOnlyIgnored, F, 3, "HdrTblSize", 0});
    }
    expected.push_back({E::kSet, F, 4, "Statistics", 2});
    expected.push_back({E::kRestIgnored, F, 4, "Statistics", 0});
    expected.push_back({E::kNoValue, F, 5, "LogLevel", 0});
    if (first_reading) {
      expected.push_back({E::kSet, F, 6, "LogFile", 0});
      expected.push_back({E::kClamped, D, 0, "HdrTblSize", 1});
    } else {
      expected.push_back({E::kOnceOnlyIgnored, F, 6, "LogFile", 0});
      expected.push_back({E::kOnceOnlyIgnored, D, 0, "HdrTblSize", 0});
      expected.push_back({E::kUnknownKey, D, 0, "", 0});  // "0": the value of the ignored HDR, tried as a key
    }
    expected.push_back({E::kSet, D, 0, "Compression", 1});
    expected.push_back({E::kUnknownKey, D, 0, "", 0});
    EXPECT_EQ(told, expected) << (first_reading ? "first reading" : "reading at MQXR_INIT");
  }

  ExitContext ctx{};
  SetDefaults(&ctx, "SDR");
  std::vector<Told> told;
  const CfgObserver observer{Record, &told};
  ReadSettings(&ctx, dir.File("missing.cfg").c_str(), blank_data, &observer);
  EXPECT_EQ(told, (std::vector<Told>{{CfgEvent::kExitDataIgnored, CfgSource::kExitData, 0, "", 0}}));
  EXPECT_EQ(ctx.Compression, 3);
}

}  // namespace
}  // namespace velt::test
