// The scenarios in which the two ends could fall out of step: each sends a
// stream through both real libraries and checks that the receiving end's
// state stays what the sending end's is.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exit_support.h"

namespace velt::test {
namespace {

// A refused compression must not move the sending end's reference.
TEST(EndsInStep, RefusedCompressionLeavesTheReferenceAsTheReceiverHasIt) {
  ExitFixture f("LogLevel = 1");
  Channel c(8192);
  c.Message(0, Text(10));
  c.Message(0, Text(500));                    // Reference of index 0 = header of this message
  c.Message(0, Noise(3000, 2));               // Refused: travels plain
  const auto hops = c.Message(0, Text(500));  // Must be restored against the same reference
  EXPECT_TRUE(hops[0].compressed);
  EXPECT_TRUE(f.LoggedSomething("LARGER than original"));
}

// A message that travels plain still moves the receiver's sequence state.
TEST(EndsInStep, PlainMessageKeepsTheSequence) {
  ExitFixture f("LogLevel = 1");
  Channel c(8192);
  c.Message(0, Text(10));
  c.Message(0, Text(500));
  c.Message(1, Noise(3000, 3));  // Plain
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(c.Message(0, Text(500))[0].compressed);
  EXPECT_FALSE(f.LoggedSomething("out of synch"));
  // A message that really is out of sequence is still reported.
  Bytes skipped = agent::BuildMessage(&c.builder, 0, Text(500))[0];
  c.builder.next_message += 5;
  Bytes late = agent::BuildMessage(&c.builder, 0, Text(500))[0];
  c.Expect(late);
  EXPECT_TRUE(f.Logged("0] SDR :ProcessXmitSend: message sequence out of synch... TO.QM2              "));
  EXPECT_TRUE(f.Logged("0] RCVR :ProcessXmitRecv: message sequence out of synch... TO.QM2              "));
}

// A full-length segment leaves plain, and the receiver could not have
// Taken it back compressed.
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

// At level 1 a further segment that happens to hold "XQH " leaves plain.
TEST(EndsInStep, LevelOneFurtherSegmentsNeverInHeaderForm) {
  ExitFixture f("LogLevel = 1");
  Channel c(1000, "COMP=1");
  c.Message(0, Text(10));
  Bytes payload(1500, ' ');
  std::memcpy(payload.data() + 600, "XQH ", 4);  // Lands in the second segment
  const auto hops = c.Message(0, payload);
  ASSERT_EQ(hops.size(), 3u);
  EXPECT_FALSE(hops[1].compressed);
  EXPECT_FALSE(hops[2].compressed);
  EXPECT_TRUE(f.LoggedSomething("1] SDR :ProcessXmitSend: failed to locate transmission queue header TO.QM2"));
}

// Segments too short for their header region leave plain and untouched.
TEST(EndsInStep, ShortSegmentsTravelPlain) {
  ExitFixture f("LogLevel = 1");
  Channel c(8192, "COMP=2");
  c.Message(0, Text(10));
  Bytes first = agent::BuildMessage(&c.builder, 0, Text(100))[0];
  first.resize(300);  // The first-segment flag, but no room for the 464-byte region
  EXPECT_FALSE(c.Expect(first).compressed);
  Bytes status = agent::BuildStatus(&c.builder, 0, Bytes(0, 0));
  status.resize(24);
  EXPECT_FALSE(c.Expect(status).compressed);
  EXPECT_TRUE(c.Message(0, Text(500))[0].compressed);
}

// A reset segment resets both ends.
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

}  // namespace
}  // namespace velt::test
