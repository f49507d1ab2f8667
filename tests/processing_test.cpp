// Send and receive processing through the real libraries: the compressed
// forms on the wire, the log lines of the main paths, the receive side's
// refusals, and the scenarios in which the two ends could fall out of step.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exit_support.h"

namespace velt::test {
namespace {

using Bytes = std::vector<unsigned char>;

int32_t Len(const Bytes& b) { return static_cast<int32_t>(b.size()); }

// A channel over both libraries, started, with the initial data sent.
struct Channel {
  agent::SimChannel sim;
  agent::StreamBuilder builder;
  explicit Channel(int32_t max_segment, const std::string& send_data = "", const std::string& recv_data = "")
      : builder(Builder(max_segment)) {
    agent::EndSettings recv = EndWith(max_segment, recv_data);
    recv.channel_type = 3;
    EXPECT_TRUE(agent::OpenChannel(&sim, SendLibrary().entry, RecvLibrary().entry, EndWith(max_segment, send_data), recv));
    Expect(agent::BuildInitData(&builder));
  }
  ~Channel() { agent::CloseChannel(&sim); }
  agent::Hop Send(const Bytes& segment) { return agent::Transmit(&sim, segment.data(), Len(segment)); }
  // Sends a segment and expects it delivered as built.
  agent::Hop Expect(const Bytes& segment) {
    const agent::Hop hop = Send(segment);
    EXPECT_TRUE(hop.delivered && hop.intact) << "type " << int(segment[9]) << " of " << segment.size() << " bytes";
    EXPECT_EQ(hop.recv_response, MQXCC_OK);
    return hop;
  }
  std::vector<agent::Hop> Message(std::size_t dest, const Bytes& payload) {
    std::vector<agent::Hop> hops;
    for (const Bytes& s : agent::BuildMessage(&builder, dest, payload)) hops.push_back(Expect(s));
    return hops;
  }
};

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
  c.Message(0, Text(100));  // passes plain: first message
  c.Message(0, Text(100));  // index 0
  const auto hops = c.Message(1, Text(100));  // index 1
  EXPECT_EQ(hops[0].mark, 0x11);
  EXPECT_TRUE(f.Logged("5] SDR :ProcessXmitSend: found TXQ"));
  EXPECT_TRUE(f.Logged("5] SDR :ProcessXmitSend: using cache entry 1"));
  EXPECT_TRUE(f.Logged("5] SDR :ProcessXmitSend: rl_offset = 12 *data_length = 576"));
  EXPECT_TRUE(f.Logged("5] SDR :ProcessXmitSend: Encoding data for 564 bytes"));
  EXPECT_TRUE(f.LoggedSomething("5] SDR :ProcessXmitSend: Encode len ("));
  EXPECT_TRUE(f.Logged("5] RCVR :ProcessXmitRecv: Header & Data compressed"));
  EXPECT_TRUE(f.Logged("5] RCVR :ProcessXmitRecv: got cache index 1"));
  EXPECT_TRUE(f.Logged("5] RCVR :ProcessXmitRecv: done Diff"));
  EXPECT_TRUE(f.Logged("5] RCVR :ProcessXmitRecv: returning response = 0"));
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
  again[32] = segment[32] + 1;  // message number, little-endian low byte
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

// F1: a refused compression must not move the sending end's reference.
TEST(EndsInStep, RefusedCompressionLeavesTheReferenceAsTheReceiverHasIt) {
  ExitFixture f("LogLevel = 1");
  Channel c(8192);
  c.Message(0, Text(10));
  c.Message(0, Text(500));                // reference of index 0 = header of this message
  c.Message(0, Noise(3000, 2));           // refused: travels plain
  const auto hops = c.Message(0, Text(500));  // must be restored against the same reference
  EXPECT_TRUE(hops[0].compressed);
  EXPECT_TRUE(f.LoggedSomething("LARGER than original"));
}

// F2: a message that travels plain still moves the receiver's sequence state.
TEST(EndsInStep, PlainMessageKeepsTheSequence) {
  ExitFixture f("LogLevel = 1");
  Channel c(8192);
  c.Message(0, Text(10));
  c.Message(0, Text(500));
  c.Message(1, Noise(3000, 3));  // plain
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(c.Message(0, Text(500))[0].compressed);
  EXPECT_FALSE(f.LoggedSomething("out of synch"));
  // A message that really is out of sequence is still reported.
  Bytes skipped = agent::BuildMessage(&c.builder, 0, Text(500))[0];
  c.builder.next_message += 5;
  Bytes late = agent::BuildMessage(&c.builder, 0, Text(500))[0];
  c.Expect(late);
  EXPECT_TRUE(f.LoggedSomething("0] SDR :ProcessXmitSend: message sequence out of synch... TO.QM2"));
}

// F4: a full-length segment leaves plain, and the receiver could not have
// taken it back compressed.
TEST(EndsInStep, FullLengthSegmentsTravelPlain) {
  ExitFixture f("LogLevel = 1");
  Channel c(1000);
  c.Message(0, Text(10));
  Bytes full = agent::BuildMessage(&c.builder, 0, Bytes(1000 - 476, ' '))[0];
  ASSERT_EQ(full.size(), 1000u);
  EXPECT_FALSE(c.Expect(full).compressed);
  EXPECT_TRUE(c.Message(0, Bytes(300, ' '))[0].compressed);
  Bytes full_status = agent::BuildStatus(&c.builder, 0, Bytes(1000 - 28, ' '));
  EXPECT_FALSE(c.Expect(full_status).compressed);
  EXPECT_TRUE(c.Expect(agent::BuildStatus(&c.builder, 0, Bytes(100, ' '))).compressed);
}

// F5: at level 1 a further segment that happens to hold "XQH " leaves plain.
TEST(EndsInStep, LevelOneFurtherSegmentsNeverInHeaderForm) {
  ExitFixture f("LogLevel = 1");
  Channel c(1000, "COMP=1");
  c.Message(0, Text(10));
  Bytes payload(1500, ' ');
  std::memcpy(payload.data() + 600, "XQH ", 4);  // lands in the second segment
  const auto hops = c.Message(0, payload);
  ASSERT_EQ(hops.size(), 3u);
  EXPECT_FALSE(hops[1].compressed);
  EXPECT_FALSE(hops[2].compressed);
  EXPECT_TRUE(f.LoggedSomething("1] SDR :ProcessXmitSend: failed to locate transmission queue header TO.QM2"));
}

// F6: segments too short for their header region leave plain and untouched.
TEST(EndsInStep, ShortSegmentsTravelPlain) {
  ExitFixture f("LogLevel = 1");
  Channel c(8192, "COMP=2");
  c.Message(0, Text(10));
  Bytes first = agent::BuildMessage(&c.builder, 0, Text(100))[0];
  first.resize(300);  // the first-segment flag, but no room for the 464-byte region
  EXPECT_FALSE(c.Expect(first).compressed);
  Bytes status = agent::BuildStatus(&c.builder, 0, Bytes(0, 0));
  status.resize(24);
  EXPECT_FALSE(c.Expect(status).compressed);
  EXPECT_TRUE(c.Message(0, Text(500))[0].compressed);
}

// F7: a reset segment resets both ends.
TEST(EndsInStep, ResetSegmentResetsBothEnds) {
  ExitFixture f("LogLevel = 5");
  Channel c(8192);
  c.Message(0, Text(10));
  c.Message(0, Text(500));
  c.Expect(agent::BuildReset(&c.builder));
  EXPECT_TRUE(f.Logged("5] RCVR :ProcessXmitRecv:RESYNCH, Resetting XOR buffer (1982)"));
  EXPECT_TRUE(c.Message(0, Text(500))[0].compressed);
  c.Expect(agent::BuildResync(&c.builder));
  EXPECT_TRUE(c.Message(1, Text(500))[0].compressed);
  EXPECT_FALSE(f.LoggedSomething("out of synch"));
}

// The receive end alone, fed hand-made marked segments.
struct Receiver {
  ExitFixture fixture;
  agent::ChannelEnd end;
  explicit Receiver(int32_t max_segment, const std::string& settings = "LogLevel = 1")
      : fixture(settings) {
    agent::EndSettings s = EndWith(max_segment);
    s.exit_id = MQXT_CHANNEL_RCV_EXIT;
    agent::SetUpEnd(&end, RecvLibrary().entry, s);
    agent::StartEnd(&end);
  }
  ~Receiver() { agent::StopEnd(&end); }
  agent::Delivery Take(const Bytes& segment) { return agent::TransmitOnEnd(&end, segment.data(), Len(segment)); }
};

Bytes Marked(uint8_t type, uint8_t flags, uint8_t mark, const Bytes& stream, int32_t leading = 12) {
  Bytes s(static_cast<std::size_t>(leading), 0);
  std::memcpy(s.data(), "TSH ", 4);
  s[8] = 2;
  s[9] = type;
  s[10] = flags;
  s[11] = mark;
  s.insert(s.end(), stream.begin(), stream.end());
  return s;
}

void ExpectRefused(Receiver& r, const Bytes& segment, const std::string& line) {
  r.end.closed = false;  // keep feeding the same instance after a refusal
  const agent::Delivery d = r.Take(segment);
  EXPECT_EQ(d.response, MQXCC_CLOSE_CHANNEL) << line;
  EXPECT_EQ(d.response2, MQXR2_USE_AGENT_BUFFER) << line;
  EXPECT_EQ(d.length, Len(segment)) << line;
  EXPECT_TRUE(r.fixture.LoggedSomething(line)) << line;
}

TEST(ReceiveSide, RefusesWhatCannotBeRestored) {
  {
    Receiver r(1000);  // expands to 1000 bytes: no room for a restored segment
    ExpectRefused(r, Marked(5, 0, 0x01, {0xAB, 0x00, 0xFF, 0xAB, 0x00, 0xFF, 0xAB, 0x00, 0xFF, 0xAB, 0x00, 0xFF}),
                  "0] RCVR :ProcessXmitRecv: Decode overflow (msg_length = 988, buffer length = 988)");
  }
  {
    Receiver r(4096);
    ExpectRefused(r, Marked(4, 0x10, 0x41, {0xAB, 0x00, 0xFF, 0xAB, 0x00, 0xD1}),
                  "0] RCVR :ProcessXmitRecv: header cache size too small (index = 4, table_size = 4)!");
    EXPECT_TRUE(r.fixture.Logged("0] RCVR :ProcessXmitRecv: adjust \"HdrTblSize\" in receiver's config file!"));
  }
  {
    Receiver r(4096);
    ExpectRefused(r, Marked(5, 0, 0x01, {0xAB, 0x00, 0x10, 0x41, 0xAB}), "ProcessXmitRecv: Decode incomplete");
    ExpectRefused(r, Marked(5, 0, 0x01, {0xAB, 0x00, 0x10, 0xAB, 0x41}), "ProcessXmitRecv: Decode incomplete");
  }
  {
    Receiver r(4096);
    ExpectRefused(r, Marked(5, 0, 0x01, {}), "ProcessXmitRecv: Compressed segment too short");
    ExpectRefused(r, Marked(4, 0, 0x01, Bytes(16, 0)), "ProcessXmitRecv: Compressed segment too short");
  }
  {
    Receiver r(4096);
    ExpectRefused(r, Marked(4, 0x10, 0x01, {0xAB, 0x00, 0x40}),
                  "ProcessXmitRecv: Decoded segment shorter than its header (length = 76, header ends at 476)");
    ExpectRefused(r, Marked(5, 0, 0x01, {0xAB, 0x00, 0x0F}), "ProcessXmitRecv: Decoded segment shorter than its header");
  }
  {
    // An agent that hands back a shorter exit buffer than the one it was given.
    Receiver r(4096);
    r.Take(Marked(6, 0, 0, Bytes(20, 'z')));
    r.end.exit_buffer_length = 20;
    ExpectRefused(r, Marked(4, 0, 0x01, {0x41, 0x42}, 28),
                  "ProcessXmitRecv: Leading part does not fit exit buffer (leading length = 28, buffer length = 20)");
  }
}

TEST(ReceiveSide, AcceptsEveryIndexOfItsTable) {
  Receiver r(4096, "LogLevel = 1\nHdrTblSize = 4");
  Bytes stream = {0xAB, 0x00, 0xFF, 0xAB, 0x00, 0xD1, 'd', 'a', 't', 'a'};
  const agent::Delivery d = r.Take(Marked(4, 0x10, 0x31, stream));
  EXPECT_EQ(d.response, MQXCC_OK);
  EXPECT_EQ(d.response2, MQXR2_USE_EXIT_BUFFER);
  ASSERT_EQ(d.length, 12 + 464 + 4);
  EXPECT_EQ(d.data[11], 0);  // mark cleared
  // No MSH in a restored message segment: logged, the channel stays open.
  EXPECT_TRUE(r.fixture.Logged("0] RCVR :ProcessXmitRecv: failed to locate message header TO.QM2              "));
}

TEST(ReceiveSide, PlainAndOtherSegmentsPassUntouched) {
  Receiver r(4096, "LogLevel = 5");
  for (uint8_t type : {uint8_t{0}, uint8_t{4}, uint8_t{5}, uint8_t{6}, uint8_t{200}}) {
    const Bytes segment = Marked(type, 0, type == 4 || type == 5 ? 0 : 0x01, Bytes(50, 'z'));
    const agent::Delivery d = r.Take(segment);
    EXPECT_EQ(d.response, MQXCC_OK);
    EXPECT_EQ(d.response2, MQXR2_USE_AGENT_BUFFER);
    EXPECT_EQ(Bytes(d.data, d.data + d.length), segment);
  }
  EXPECT_TRUE(r.fixture.Logged("5] RCVR :ProcessXmitRecv: Uncompressed data: line (2029)"));
  EXPECT_TRUE(r.fixture.Logged("5] RCVR :ProcessXmitRecv: Looking for TSH  (line 1929)"));
  EXPECT_TRUE(r.fixture.Logged("5] RCVR :ProcessXmitRecv: Allocating exit buffer (line 1904)"));
  const Bytes no_tsh(100, 'q');
  EXPECT_EQ(r.Take(no_tsh).response, MQXCC_OK);
  EXPECT_TRUE(r.fixture.Logged("1] RCVR :ProcessXmitRecv: failed to locate transmission header TO.QM2              "));
}

TEST(ReceiveSide, InitialDataSetsTheWrapValue) {
  Receiver r(4096);
  agent::StreamBuilder big = Builder(4096);
  agent::SetUpBuilder(&big, 1, 4096, 777);
  EXPECT_EQ(r.Take(agent::BuildInitData(&big)).response, MQXCC_OK);
  const Bytes no_id = Marked(1, 0, 0, Bytes(40, ' '), 28);
  EXPECT_EQ(r.Take(no_id).response, MQXCC_OK);
  EXPECT_TRUE(r.fixture.Logged("1] RCVR :ProcessXmitRecv: failed to locate INITDATA TO.QM2              "));
}

}  // namespace
}  // namespace velt::test
