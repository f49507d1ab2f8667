// The receive end through the real libraries: what it refuses, with the
// level-0 line that says why, and what it passes untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exit_support.h"

namespace velt::test {
namespace {

// The receive end alone, fed hand-made marked segments.
struct Receiver {
  ExitFixture fixture;
  agent::ChannelEnd end;
  explicit Receiver(int32_t max_segment, const std::string& settings = "LogLevel = 1") : fixture(settings) {
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
    ExpectRefused(r, Marked(5, 0, 0x01, {0xAB, 0x00, 0x0F}),
                  "ProcessXmitRecv: Decoded segment shorter than its header");
  }
  {
    // A further segment whose expansion holds no message header: what a peer
    // that sent it in header & data form (stream from byte 12) leaves when
    // read in data-only form.
    Receiver r(4096);
    Bytes stream = {0x00, 0x00, 0x00, 0x00, 'M', 'S', 'H', ' ', 0x02, 0x00, 0x00, 0x00};
    stream.resize(60, 'z');
    Bytes further = Marked(4, 0, 0x11, {}, 12);
    further.insert(further.end(), stream.begin(), stream.end());
    ExpectRefused(r, further, "0] RCVR :ProcessXmitRecv: failed to locate message header TO.QM2              ");
    EXPECT_TRUE(
        r.fixture.Logged("0] RCVR :ProcessXmitRecv: Decoded data-only segment holds no message header (length = 72)"));
  }
  {
    // Before MQXR_INIT there is no channel descriptor to restore against.
    ExitFixture f("LogLevel = 1");
    agent::ChannelEnd end;
    agent::EndSettings s = EndWith(4096);
    s.exit_id = MQXT_CHANNEL_RCV_EXIT;
    agent::SetUpEnd(&end, RecvLibrary().entry, s);
    const Bytes marked = Marked(5, 0, 0x01, {0xAB, 0x00, 0x20});
    EXPECT_EQ(agent::TransmitOnEnd(&end, marked.data(), Len(marked)).response, MQXCC_CLOSE_CHANNEL);
    EXPECT_TRUE(f.Logged("1] RCVR :ProcessXmitRecv: failed to lookup channel :TO.QM2              :"));
    // The end never started, so StopEnd would not end the instance; a closed
    // channel ends with MQXR_TERM, which releases what the call created.
    agent::CallEnd(&end, MQXR_TERM);
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
