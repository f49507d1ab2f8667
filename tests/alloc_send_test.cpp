// The send exit with every allocation failing in turn: the context, the
// channel descriptor, its header cache and queue-key table at MQXR_INIT, and
// the exit buffer at the first transmission. The send exit is linked into
// this program with the failing allocator; the receiving end is the real
// VELTRECV library. Whatever fails, no segment arrives altered and nothing
// stays allocated once the instance is over.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "alloc_channel.h"
#include "send/send_exit.h"
#include "sim_channel.h"
#include "support.h"
#include "workload.h"

namespace velt::test {
namespace {

struct Fixture : AllocFixture {
  Fixture() : AllocFixture("Statistics = 2\n") {}
};

using Outcome = Carried;
const std::string& kName = kAllocChannelName;
agent::EndSettings Settings() { return AllocChannelSettings(); }

TEST(SendAllocation, NoContextSuppressesTheExitAndLeavesTheUserAreaAlone) {
  Fixture f;
  agent::SimChannel channel;
  FailAllocation(1);
  EXPECT_FALSE(agent::OpenChannel(&channel, SendExit, RecvLibrary().entry, Settings(), Settings()));
  EXPECT_EQ(channel.send.parms.ExitResponse, MQXCC_SUPPRESS_EXIT);
  EXPECT_TRUE(UserAreaZero(channel.send.parms));
  EXPECT_FALSE(FileExists(f.log)) << "without a context there is nothing to log with";

  // The agent calls the exit no more; the segments travel plain.
  const Outcome outcome = Carry(&channel, 200, 1);
  EXPECT_EQ(outcome.delivered, outcome.sent);
  EXPECT_EQ(outcome.altered, 0);
  EXPECT_EQ(outcome.compressed, 0);
  agent::CloseChannel(&channel);
  EXPECT_EQ(OutstandingBlocks(), 0);
}

TEST(SendAllocation, DescriptorFailuresNameTheirSiteAndLeaveNothingBehind) {
  const struct {
    int call;
    int line;
  } kSites[] = {{2, 889}, {3, 902}, {4, 919}};
  for (const auto& site : kSites) {
    SCOPED_TRACE("allocation " + std::to_string(site.call));
    Fixture f;
    agent::SimChannel channel;
    FailAllocation(site.call);
    EXPECT_FALSE(agent::OpenChannel(&channel, SendExit, RecvLibrary().entry, Settings(), Settings()));
    EXPECT_EQ(channel.send.parms.ExitResponse, MQXCC_SUPPRESS_EXIT);
    EXPECT_TRUE(f.Logged("0] SDR :NewChannelDescr: _getMem failed: line" + std::to_string(site.line) + " "));
    EXPECT_TRUE(f.Logged("1] SDR :velt_exit: failed to allocate channel descriptor for " + kName));
    // No MQXR_TERM follows a suppressed exit, so the exit has released
    // everything itself, the context included.
    EXPECT_EQ(OutstandingBlocks(), 0);
    EXPECT_TRUE(UserAreaZero(channel.send.parms));

    const Outcome outcome = Carry(&channel, 100, 2);
    EXPECT_EQ(outcome.altered, 0);
    EXPECT_EQ(outcome.delivered, outcome.sent);
    agent::CloseChannel(&channel);
    EXPECT_EQ(OutstandingBlocks(), 0);
  }
}

TEST(SendAllocation, ExitBufferFailurePassesTheSegmentPlainAndTheNextOneRetries) {
  Fixture f;
  agent::SimChannel channel;
  ASSERT_TRUE(agent::OpenChannel(&channel, SendExit, RecvLibrary().entry, Settings(), Settings()));
  FailAllocation(1);
  const Outcome first = Carry(&channel, 1, 3);
  EXPECT_EQ(first.delivered, 1);
  EXPECT_EQ(first.altered, 0);
  EXPECT_EQ(channel.send.parms.ExitResponse, MQXCC_OK) << "a transmission failure answers MQXCC_OK";
  EXPECT_EQ(channel.send.parms.ExitResponse2, MQXR2_USE_AGENT_BUFFER);
  EXPECT_EQ(channel.send.exit_buffer, nullptr);
  EXPECT_TRUE(f.Logged("1] SDR :ProcessXmitSend: failed to allocate exit buffer " + kName + " ,for 4096 bytes"));

  const Outcome rest = Carry(&channel, 300, 4);
  EXPECT_NE(channel.send.exit_buffer, nullptr);
  EXPECT_EQ(rest.delivered, rest.sent);
  EXPECT_EQ(rest.altered, 0);
  EXPECT_GT(rest.compressed, 100);
  agent::CloseChannel(&channel);
  EXPECT_EQ(OutstandingBlocks(), 0);
}

// An agent that starts an instance twice: the second descriptor replaces the
// first, which is released, while the exit buffer the agent holds stays in
// use.
TEST(SendAllocation, ASecondInitReplacesTheDescriptorAndKeepsTheAgentsExitBuffer) {
  Fixture f;
  agent::SimChannel channel;
  ASSERT_TRUE(agent::OpenChannel(&channel, SendExit, RecvLibrary().entry, Settings(), Settings()));
  Carry(&channel, 50, 6);
  void* const buffer = channel.send.exit_buffer;
  ASSERT_NE(buffer, nullptr);
  const int blocks = OutstandingBlocks();
  ASSERT_EQ(agent::CallEnd(&channel.send, MQXR_INIT), MQXCC_OK);
  ASSERT_EQ(agent::CallEnd(&channel.recv, MQXR_INIT), MQXCC_OK);
  EXPECT_EQ(OutstandingBlocks(), blocks);

  const Outcome more = Carry(&channel, 100, 7);
  EXPECT_EQ(more.delivered, more.sent);
  EXPECT_EQ(more.altered, 0);
  EXPECT_GT(more.compressed, 0);
  EXPECT_EQ(channel.send.exit_buffer, buffer);
  agent::CloseChannel(&channel);
  EXPECT_EQ(OutstandingBlocks(), 0);
}

// Every allocation of a channel's life failing in turn, and all of them at
// once: the stream still arrives exactly as built.
TEST(SendAllocation, EveryAllocationFailingInTurn) {
  int calls = 0;
  {
    Fixture f;
    agent::SimChannel channel;
    ASSERT_TRUE(agent::OpenChannel(&channel, SendExit, RecvLibrary().entry, Settings(), Settings()));
    Carry(&channel, 50, 5);
    agent::CloseChannel(&channel);
    calls = AllocationCalls();
    ASSERT_EQ(OutstandingBlocks(), 0);
  }
  ASSERT_EQ(calls, 5) << "context, descriptor, header cache, queue keys, exit buffer";
  for (int k = 0; k <= calls; ++k) {
    SCOPED_TRACE(k == 0 ? std::string("every allocation") : "allocation " + std::to_string(k));
    Fixture f;
    if (k == 0) {
      FailEveryAllocation(true);
    } else {
      FailAllocation(k);
    }
    agent::SimChannel channel;
    agent::OpenChannel(&channel, SendExit, RecvLibrary().entry, Settings(), Settings());
    const Outcome outcome = Carry(&channel, 50, 5);
    EXPECT_EQ(outcome.delivered, outcome.sent);
    EXPECT_EQ(outcome.altered, 0);
    agent::CloseChannel(&channel);
    EXPECT_EQ(OutstandingBlocks(), 0);
  }
}

}  // namespace
}  // namespace velt::test
