// The send end through the real libraries: the compressed forms on the wire
// and the log lines of the main paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exit_support.h"

namespace velt::test {
namespace {

TEST(SendSide, FirstMessageOfAnInstanceLeavesPlain) {
  ExitFixture f("LogLevel = 5");
  Channel c(8192);
  const auto first = c.Message(0, Text(3000));
  EXPECT_FALSE(first[0].compressed);
  EXPECT_TRUE(f.Logged("5] SDR :ProcessXmitSend: first message"));
  const auto second = c.Message(0, Text(3000));
  EXPECT_TRUE(second[0].compressed);
  EXPECT_EQ(second[0].mark, 0x01);  // cache index 0
}

TEST(SendSide, HeaderAndDataFormOnTheWire) {
  ExitFixture f("LogLevel = 5");
  Channel c(8192, "HDR=8", "HDR=8");
  c.Message(0, Text(100));                    // passes plain: first message
  c.Message(0, Text(100));                    // index 0
  const auto hops = c.Message(1, Text(100));  // index 1
  EXPECT_EQ(hops[0].mark, 0x11);
  // Administrators' scripts read these lines: each is checked word for word.
  for (const char* line : {
           "4] SDR :ProcessXmitSend: Allocating o/p buffer  ,for 8192 bytes",
           "5] SDR :ProcessXmitSend: found TSH",
           "5] SDR :ProcessXmitSend: found MSH",
           "5] SDR :Msg# 3 Total_length 100,Seg# 1, SegLen 100",
           "5] SDR :ProcessXmitSend: found TXQ",
           "5] SDR :ProcessXmitSend: using cache entry 1",
           "5] SDR :ProcessXmitSend: rl_offset = 12 *data_length = 576",
           "5] SDR :ProcessXmitSend: Encoding data for 564 bytes",
           "5] SDR :ProcessXmitSend: Encoded data  to 282 bytes",
           "5] SDR :ProcessXmitSend: Encoded o/p length 294 bytes",
           "5] SDR :ProcessXmitSend: Encode len (294) , original = (576) ",
           "5] RCVR :ProcessXmitRecv: Original data..",
           "5] RCVR :ProcessXmitRecv: found TSH",
           "5] RCVR :ProcessXmitRecv: Header & Data compressed",
           "5] RCVR :ProcessXmitRecv: decoded length is 564",
           "5] RCVR :ProcessXmitRecv: got cache index 1",
           "5] RCVR :ProcessXmitRecv: done Diff",
           "5] RCVR :ProcessXmitRecv: returning response = 0",
       })
    EXPECT_TRUE(f.Logged(line)) << line;
}

TEST(SendSide, RepeatedHeaderTravelsAsZeroRuns) {
  ExitFixture f("LogLevel = 1");
  Channel c(8192);
  c.Message(0, Text(50));
  Bytes segment = agent::BuildMessage(&c.builder, 0, Text(50))[0];
  c.Expect(segment);
  // The same header again (same message number would break the sequence, so
  // take the next one and copy the rest of the header region).
  Bytes again = agent::BuildMessage(&c.builder, 0, Bytes(50, 'x'))[0];
  std::memcpy(again.data() + 12, segment.data() + 12, 464);
  again[32] = segment[32] + 1;                                 // message number, little-endian low byte
  Bytes diff_expected = {0xAB, 0x00, 0xFF, 0xAB, 0x00, 0xD0};  // 464 bytes less one
  const agent::Hop hop = c.Expect(again);
  ASSERT_TRUE(hop.compressed);
  // Bytes 12.. of the wire: zeros, the one changed byte, zeros, then the data.
  EXPECT_EQ(c.sim.wire[11], 0x01);
  EXPECT_EQ(Bytes(c.sim.wire.begin() + 12, c.sim.wire.begin() + 15), Bytes({0xAB, 0x00, 0x14}));
}

TEST(SendSide, StatusSegments) {
  ExitFixture f("LogLevel = 5");
  Channel c(8192);
  // The worked example: header equal to the (zero) status image, twelve blanks.
  Bytes status = agent::BuildStatus(&c.builder, 0, Bytes(12, 0x20));
  std::memset(status.data() + 12, 0, 16);
  const agent::Hop hop = c.Expect(status);
  ASSERT_TRUE(hop.compressed);
  EXPECT_EQ(hop.wire_length, 18);
  EXPECT_EQ(Bytes(c.sim.wire.begin() + 11, c.sim.wire.end()), Bytes({0x01, 0xAB, 0x00, 0x10, 0xAB, 0x20, 0x0C}));
  EXPECT_TRUE(f.Logged("5] RCVR :ProcessXmitRecv: line (2092)"));

  for (uint8_t flags : {uint8_t{0x02}, uint8_t{0x08}}) {
    const agent::Hop plain = c.Expect(agent::BuildStatus(&c.builder, flags, Bytes(40, 0x20)));
    EXPECT_FALSE(plain.compressed);
  }
  EXPECT_TRUE(f.Logged("5] SDR :MQP_TCF_ERROR | MQP_TCF_CLOSE_CHANNEL"));
}

TEST(SendSide, DataOnlyFormOfFurtherSegments) {
  ExitFixture f("LogLevel = 5");
  Channel c(1000, "COMP=2");
  c.Message(0, Text(10));
  const auto hops = c.Message(0, Bytes(2000, ' '));
  ASSERT_EQ(hops.size(), 3u);
  EXPECT_FALSE(hops[0].compressed);  // full length: sent plain
  EXPECT_FALSE(hops[1].compressed);
  EXPECT_TRUE(hops[2].compressed);
  EXPECT_EQ(hops[2].mark, 0x01);
  EXPECT_TRUE(f.Logged("5] RCVR :ProcessXmitRecv: Data only is compressed"));
}

TEST(SendSide, LevelThreeHoldsBackAfterAPoorRatio) {
  ExitFixture f("LogLevel = 6");
  Channel c(1000);
  c.Message(0, Text(10));
  // The full-length first segment travels plain (ratio 1.0), so the rest of
  // the message is held back.
  const auto hops = c.Message(0, Bytes(2000, ' '));
  EXPECT_FALSE(hops[2].compressed);
  EXPECT_TRUE(f.Logged("6] SDR :1st seg# compression LOW( 1.00), compression disabled for rest of this message"));
}

// What the send end cannot find leaves plain, with the level-1 line that
// names the channel.
TEST(SendSide, MissingStructuresLeavePlainWithTheirLine) {
  ExitFixture f("LogLevel = 1");
  agent::ChannelEnd end;
  agent::SetUpEnd(&end, SendLibrary().entry, EndWith(4096));
  const Bytes no_tsh(100, 'q');
  agent::TransmitOnEnd(&end, no_tsh.data(), Len(no_tsh));  // before MQXR_INIT: no descriptor
  agent::StartEnd(&end);
  agent::StreamBuilder builder = Builder(4096);
  agent::BuildMessage(&builder, 0, Text(10));
  const Bytes first = agent::BuildMessage(&builder, 0, Text(10))[0];
  agent::TransmitOnEnd(&end, first.data(), Len(first));  // first message: plain, clears the flag
  Bytes no_id(40, ' ');
  std::memcpy(no_id.data(), "TSH ", 4);
  no_id[8] = 2;
  no_id[9] = 1;
  Bytes no_msh = no_id;
  no_msh[9] = 4;
  for (const Bytes& segment : {no_tsh, no_id, no_msh}) {
    const agent::Delivery d = agent::TransmitOnEnd(&end, segment.data(), Len(segment));
    EXPECT_EQ(d.response2, MQXR2_USE_AGENT_BUFFER);
    EXPECT_EQ(Bytes(d.data, d.data + d.length), segment);
  }
  for (const char* line : {"1] SDR :ProcessXmitSend: failed to lookup channel :TO.QM2              :",
                           "1] SDR :ProcessXmitSend: failed to locate transmission header TO.QM2              ",
                           "1] SDR :ProcessXmitSend: failed to locate INITDATA TO.QM2              ",
                           "1] SDR :ProcessXmitSend: failed to locate message header TO.QM2              "})
    EXPECT_TRUE(f.Logged(line)) << line;
  agent::StopEnd(&end);
}

TEST(SendSide, RefusedCompressionRestoresTheAgentBuffer) {
  ExitFixture f("LogLevel = 1");
  agent::StreamBuilder builder = Builder(4096);
  agent::ChannelEnd end;
  agent::SetUpEnd(&end, SendLibrary().entry, EndWith(4096));
  agent::StartEnd(&end);
  agent::BuildMessage(&builder, 0, Text(10));
  const Bytes warm = agent::BuildMessage(&builder, 0, Text(10))[0];
  agent::TransmitOnEnd(&end, warm.data(), Len(warm));  // first message: plain
  const Bytes segment = agent::BuildMessage(&builder, 0, Noise(3000, 1))[0];
  const agent::Delivery d = agent::TransmitOnEnd(&end, segment.data(), Len(segment));
  EXPECT_EQ(d.response2, MQXR2_USE_AGENT_BUFFER);
  ASSERT_EQ(d.length, Len(segment));
  EXPECT_EQ(std::memcmp(d.data, segment.data(), segment.size()), 0);
  EXPECT_TRUE(f.LoggedSomething("0] SDR :ProcessXmitSend: Compressed header ("));
  EXPECT_TRUE(f.LoggedSomething(") LARGER than original (3476)"));
  agent::StopEnd(&end);
}

}  // namespace
}  // namespace velt::test
