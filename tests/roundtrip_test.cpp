// End to end through the real libraries: seeded streams of every segment type
// over channels of every compression level, header table size and segment
// size; every delivered segment must equal the one built, and no channel
// may close.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "sim_channel.h"
#include "support.h"
#include "workload.h"

namespace velt::test {
namespace {

struct RoundTripCase {
  int compression;
  int table_size;
  int32_t max_segment;
  uint8_t byte_order;
  int destinations;
  int segments;
};

std::string ExitData(const RoundTripCase& c) {
  return "COMP=" + std::to_string(c.compression) + " HDR=" + std::to_string(c.table_size);
}

uint64_t BaseSeed() {
  const char* text = std::getenv("VELT_SEED");
  return text != nullptr ? std::strtoull(text, nullptr, 10) : 20261209u;
}

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, EverySegmentArrivesAsBuilt) {
  const RoundTripCase c = GetParam();
  ScratchDir dir;
  UseConfig(dir.File("velt.cfg"), "LogLevel = 1\nLogFile = " + dir.File("velt.log") + "\n");
  const uint64_t seed = BaseSeed() + static_cast<uint64_t>(c.compression * 1000 + c.table_size * 10 + c.max_segment);

  agent::SimChannel channel;
  agent::EndSettings send;
  send.max_segment_length = c.max_segment;
  send.exit_data = ExitData(c);
  agent::EndSettings recv = send;
  recv.channel_type = 3;
  ASSERT_TRUE(agent::OpenChannel(&channel, SendLibrary().entry, RecvLibrary().entry, send, recv));

  agent::WorkloadSettings settings;
  settings.seed = seed;
  settings.max_segment_length = c.max_segment;
  settings.byte_order = c.byte_order;
  settings.destinations = c.destinations;
  settings.max_payload = static_cast<std::size_t>(c.max_segment) * 3;
  settings.wrap_value = 500;  // message numbers wrap many times
  settings.resync_per_mille = 3;
  settings.reset_per_mille = 3;
  agent::Workload workload;
  agent::SetUpWorkload(&workload, settings);

  int sent = 0, compressed = 0, full_length = 0, incompressible = 0;
  agent::Step step;
  while (sent < c.segments) {
    agent::NextStep(&workload, &step);
    incompressible += step.incompressible ? 1 : 0;
    for (const agent::Segment& segment : step.segments) {
      const agent::Hop hop = agent::Transmit(&channel, segment.data(), static_cast<int32_t>(segment.size()));
      ASSERT_TRUE(hop.delivered) << "channel closed at segment " << sent << ", seed " << seed;
      ASSERT_TRUE(hop.intact) << "segment " << sent << " (type " << int(segment[9]) << ", " << segment.size()
                              << " bytes, mark " << int(hop.mark) << ") delivered altered, seed " << seed;
      ASSERT_EQ(hop.recv_response, MQXCC_OK) << "segment " << sent << ", seed " << seed;
      compressed += hop.compressed ? 1 : 0;
      full_length += static_cast<int32_t>(segment.size()) == c.max_segment ? 1 : 0;
      ++sent;
    }
  }
  agent::CloseChannel(&channel);
  // At level 1 further segments always travel plain; elsewhere most of the
  // stream travels compressed.
  EXPECT_GT(compressed, c.compression == 1 ? sent / 20 : sent / 4) << "seed " << seed;
  if (c.max_segment <= 4096) {
    EXPECT_GT(full_length, 0) << "the stream should hold full-length segments";
  }
  // Nothing worse than a missing structure was logged, but for the refused
  // compressions of incompressible messages, which did happen.
  int refused = 0;
  for (const std::string& line : LogLines(dir.File("velt.log"))) {
    if (IsRefusedCompression(line)) {
      ++refused;
      continue;
    }
    EXPECT_NE(line.rfind("0]", 0), 0u) << line;
  }
  // A 600-byte segment has room for too little payload to outgrow what the
  // header difference saves.
  EXPECT_GT(incompressible, 0) << "seed " << seed;
  if (c.max_segment >= 4096) {
    EXPECT_GT(refused, 0) << "no incompressible message met the header & data form, seed " << seed;
  }
}

// 24 channels of about 4,200 segments: over 100,000 segments per run.
std::vector<RoundTripCase> Cases() {
  std::vector<RoundTripCase> cases;
  const int32_t sizes[] = {600, 4096, 32768};
  for (int compression : {1, 2, 3, 4}) {
    for (int table_size : {1, 4, 16}) {
      for (int s = 0; s < 2; ++s) {
        const int32_t max_segment = sizes[(compression + table_size + s) % 3];
        const uint8_t order = static_cast<uint8_t>(s == 0 ? 2 : 1);
        const int segments = max_segment == 32768 ? 2200 : 5200;
        cases.push_back({compression, table_size, max_segment, order, table_size + 3, segments});
      }
    }
  }
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<RoundTripCase>& info) {
  const RoundTripCase& c = info.param;
  return "comp" + std::to_string(c.compression) + "_hdr" + std::to_string(c.table_size) + "_seg" +
         std::to_string(c.max_segment) + (c.byte_order == 1 ? "_big" : "_little");
}

INSTANTIATE_TEST_SUITE_P(Channels, RoundTrip, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
}  // namespace velt::test
