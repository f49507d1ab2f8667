// The receive exit with every allocation failing in turn: the context, the
// channel descriptor and its header cache at MQXR_INIT, and the exit buffer at
// the first transmission. The receive exit is linked into this program with
// the failing allocator; the sending end is the real VELTSEND library.
//
// A receive exit that cannot run must not let a compressed segment reach its
// agent: it closes the channel (the message stays on the transmission queue)
// rather than stepping aside, and a marked segment it has no buffer for is
// refused. Nothing stays allocated once the instance is over.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "alloc_channel.h"
#include "channel_end.h"
#include "recv/recv_exit.h"
#include "segments.h"
#include "sim_channel.h"
#include "support.h"
#include "workload.h"

namespace velt::test {
namespace {

struct Fixture : AllocFixture {
  Fixture() : AllocFixture() {}
};

using Outcome = Carried;
const std::string& kName = kAllocChannelName;
agent::EndSettings Settings() { return AllocChannelSettings(); }

TEST(RecvAllocation, NoContextClosesTheChannel) {
  Fixture f;
  agent::SimChannel channel;
  FailAllocation(1);
  EXPECT_FALSE(agent::OpenChannel(&channel, SendLibrary().entry, ReceiveExit, Settings(), Settings()));
  EXPECT_EQ(channel.recv.parms.ExitResponse, MQXCC_CLOSE_CHANNEL);
  EXPECT_TRUE(UserAreaZero(channel.recv.parms));
  agent::CloseChannel(&channel);
  EXPECT_EQ(OutstandingBlocks(), 0);
}

TEST(RecvAllocation, DescriptorFailuresNameTheirSiteAndCloseTheChannel) {
  const struct {
    int call;
    int line;
  } kSites[] = {{2, 889}, {3, 902}};
  for (const auto& site : kSites) {
    SCOPED_TRACE("allocation " + std::to_string(site.call));
    Fixture f;
    agent::SimChannel channel;
    FailAllocation(site.call);
    EXPECT_FALSE(agent::OpenChannel(&channel, SendLibrary().entry, ReceiveExit, Settings(), Settings()));
    EXPECT_EQ(channel.recv.parms.ExitResponse, MQXCC_CLOSE_CHANNEL);
    EXPECT_TRUE(f.Logged("0] RCVR :NewChannelDescr: _getMem failed: line" + std::to_string(site.line) + " "));
    EXPECT_TRUE(f.Logged("1] RCVR :velt_exit: failed to allocate channel descriptor for " + kName));
    agent::CloseChannel(&channel);
    EXPECT_EQ(OutstandingBlocks(), 0);
  }
}

// What the sending exit hands over for initial data, a first message (which
// always travels plain) and a second one, compressed.
std::vector<agent::Segment> Wire() {
  agent::StreamBuilder builder;
  agent::SetUpBuilder(&builder, 2, 4096, 999999999);
  builder.destinations = agent::StandardDestinations(2);
  std::vector<agent::Segment> built = {agent::BuildInitData(&builder)};
  const std::vector<unsigned char> payload(700, 'x');
  for (int i = 0; i < 2; ++i) built.push_back(agent::BuildMessage(&builder, 0, payload).front());

  agent::ChannelEnd send;
  agent::SetUpEnd(&send, SendLibrary().entry, Settings());
  EXPECT_EQ(agent::StartEnd(&send), MQXCC_OK);
  std::vector<agent::Segment> wire;
  for (const agent::Segment& s : built) {
    const agent::Delivery d = agent::TransmitOnEnd(&send, s.data(), static_cast<int32_t>(s.size()));
    wire.emplace_back(d.data, d.data + d.length);
  }
  agent::StopEnd(&send);
  EXPECT_EQ(wire[2][11], 0x01) << "the second message travels compressed";
  return wire;
}

TEST(RecvAllocation, NoExitBufferPassesAPlainSegmentAndRefusesAMarkedOne) {
  const std::vector<agent::Segment> wire = Wire();
  Fixture f;
  agent::EndSettings settings = Settings();
  settings.exit_id = MQXT_CHANNEL_RCV_EXIT;

  // Plain: the agent's own buffer holds it as built.
  agent::ChannelEnd plain;
  agent::SetUpEnd(&plain, ReceiveExit, settings);
  ASSERT_EQ(agent::StartEnd(&plain), MQXCC_OK);
  FailAllocation(1);
  agent::Delivery d = agent::TransmitOnEnd(&plain, wire[1].data(), static_cast<int32_t>(wire[1].size()));
  EXPECT_EQ(d.response, MQXCC_OK);
  EXPECT_FALSE(d.from_exit_buffer);
  EXPECT_TRUE(f.Logged("1] RCVR :ProcessXmitRecv: failed to allocate exit buffer " + kName));
  agent::StopEnd(&plain);

  // Marked: there is nowhere to restore it, and the agent must not take it
  // as it is.
  agent::ChannelEnd marked;
  agent::SetUpEnd(&marked, ReceiveExit, settings);
  ASSERT_EQ(agent::StartEnd(&marked), MQXCC_OK);
  FailAllocation(1);
  d = agent::TransmitOnEnd(&marked, wire[2].data(), static_cast<int32_t>(wire[2].size()));
  EXPECT_EQ(d.response, MQXCC_CLOSE_CHANNEL);
  EXPECT_EQ(marked.parms.ExitResponse2, MQXR2_USE_AGENT_BUFFER);
  agent::StopEnd(&marked);
  EXPECT_EQ(OutstandingBlocks(), 0);
}

TEST(RecvAllocation, EveryAllocationFailingInTurn) {
  int calls = 0;
  {
    Fixture f;
    agent::SimChannel channel;
    ASSERT_TRUE(agent::OpenChannel(&channel, SendLibrary().entry, ReceiveExit, Settings(), Settings()));
    Carry(&channel, 50, 7);
    agent::CloseChannel(&channel);
    calls = AllocationCalls();
    ASSERT_EQ(OutstandingBlocks(), 0);
  }
  ASSERT_EQ(calls, 4) << "context, descriptor, header cache, exit buffer";
  for (int k = 0; k <= calls; ++k) {
    SCOPED_TRACE(k == 0 ? std::string("every allocation") : "allocation " + std::to_string(k));
    Fixture f;
    if (k == 0) {
      FailEveryAllocation(true);
    } else {
      FailAllocation(k);
    }
    agent::SimChannel channel;
    const bool open = agent::OpenChannel(&channel, SendLibrary().entry, ReceiveExit, Settings(), Settings());
    // A channel that did not open carries nothing; one that did, everything.
    if (open) {
      const Outcome outcome = Carry(&channel, 50, 7);
      EXPECT_EQ(outcome.altered, 0);
      EXPECT_EQ(outcome.delivered, outcome.sent);
    } else {
      EXPECT_EQ(channel.recv.parms.ExitResponse, MQXCC_CLOSE_CHANNEL);
    }
    FailEveryAllocation(false);
    agent::CloseChannel(&channel);
    EXPECT_EQ(OutstandingBlocks(), 0);
  }
}

}  // namespace
}  // namespace velt::test
