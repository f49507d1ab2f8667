// The send exit with every allocation failing in turn: the context, the
// channel descriptor, its header cache and queue-key table at MQXR_INIT, and
// the exit buffer at the first transmission. The send exit is linked into
// this program with the failing allocator; the receiving end is the real
// VELTRECV library. Whatever fails, no segment arrives altered and nothing
// stays allocated once the instance is over.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "alloc_seam.h"
#include "sim_channel.h"
#include "support.h"
#include "workload.h"

extern "C" void velt_exit(void*, void*, int32_t*, int32_t*, void*, int32_t*, void**);

namespace velt::test {
namespace {

struct Fixture {
  ScratchDir dir;
  std::string log;
  Fixture() {
    log = dir.File("velt.log");
    UseConfig(dir.File("velt.cfg"), "LogLevel = 1\nStatistics = 2\nLogFile = " + log +
                                        "\nStatsFile = " + dir.File("velt.dat") + "\n");
    ResetAllocations();
  }
  bool Logged(const std::string& line) const {
    for (const std::string& l : LogLines(log))
      if (l == line) return true;
    return false;
  }
};

agent::EndSettings Settings() {
  agent::EndSettings s;
  s.channel_name = "TO.REMOTE";
  s.max_segment_length = 4096;
  s.exit_data = "HDR=4";
  return s;
}

// The channel name as "%s" prints it: all 20 characters.
const std::string kName = "TO.REMOTE" + std::string(11, ' ');

bool UserAreaZero(const ExitParms& parms) {
  static const unsigned char zero[kExitUserAreaLength] = {};
  return std::memcmp(parms.ExitUserArea, zero, sizeof zero) == 0;
}

// Carries a seeded stream of n segments; counts what arrived.
struct Outcome {
  int sent = 0;
  int delivered = 0;
  int altered = 0;
  int compressed = 0;
};
Outcome Carry(agent::SimChannel* channel, int n, uint64_t seed) {
  agent::WorkloadSettings settings;
  settings.seed = seed;
  settings.max_segment_length = 4096;
  settings.max_payload = 9000;
  agent::Workload workload;
  agent::SetUpWorkload(&workload, settings);
  Outcome outcome;
  agent::Step step;
  while (outcome.sent < n) {
    agent::NextStep(&workload, &step);
    for (const agent::Segment& s : step.segments) {
      const agent::Hop hop = agent::Transmit(channel, s.data(), static_cast<int32_t>(s.size()));
      outcome.delivered += hop.delivered ? 1 : 0;
      outcome.altered += hop.delivered && !hop.intact ? 1 : 0;
      outcome.compressed += hop.compressed ? 1 : 0;
      ++outcome.sent;
    }
  }
  return outcome;
}

TEST(SendAllocation, NoContextSuppressesTheExitAndLeavesTheUserAreaAlone) {
  Fixture f;
  agent::SimChannel channel;
  FailAllocation(1);
  EXPECT_FALSE(agent::OpenChannel(&channel, velt_exit, RecvLibrary().entry, Settings(), Settings()));
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
    EXPECT_FALSE(agent::OpenChannel(&channel, velt_exit, RecvLibrary().entry, Settings(), Settings()));
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
  ASSERT_TRUE(agent::OpenChannel(&channel, velt_exit, RecvLibrary().entry, Settings(), Settings()));
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

// Every allocation of a channel's life failing in turn, and all of them at
// once: the stream still arrives exactly as built.
TEST(SendAllocation, EveryAllocationFailingInTurn) {
  int calls = 0;
  {
    Fixture f;
    agent::SimChannel channel;
    ASSERT_TRUE(agent::OpenChannel(&channel, velt_exit, RecvLibrary().entry, Settings(), Settings()));
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
    agent::OpenChannel(&channel, velt_exit, RecvLibrary().entry, Settings(), Settings());
    const Outcome outcome = Carry(&channel, 50, 5);
    EXPECT_EQ(outcome.delivered, outcome.sent);
    EXPECT_EQ(outcome.altered, 0);
    agent::CloseChannel(&channel);
    EXPECT_EQ(OutstandingBlocks(), 0);
  }
}

}  // namespace
}  // namespace velt::test
