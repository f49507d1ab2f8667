// A channel end or a whole simulated channel over the real libraries, with
// its configuration, log and statistics files in a scratch directory.
#pragma once

#include <string>
#include <vector>

#include "channel_end.h"
#include "segments.h"
#include "sim_channel.h"
#include "support.h"

namespace velt::test {

struct ExitFixture {
  ScratchDir dir;
  std::string log_file;
  std::string stats_file;

  // Writes the configuration (settings plus the scratch file names).
  explicit ExitFixture(const std::string& settings) {
    log_file = dir.File("velt.log");
    stats_file = dir.File("velt.dat");
    UseConfig(dir.File("velt.cfg"), settings + "\nLogFile = " + log_file + "\nStatsFile = " + stats_file + "\n");
  }
  std::vector<std::string> Log() const { return LogLines(log_file); }
  std::string Stats() const { return ReadFile(stats_file); }
  bool Logged(const std::string& line) const {
    for (const std::string& l : Log())
      if (l == line) return true;
    return false;
  }
  bool LoggedSomething(const std::string& part) const {
    for (const std::string& l : Log())
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
};

inline agent::EndSettings EndWith(int32_t max_segment, const std::string& exit_data = "") {
  agent::EndSettings settings;
  settings.channel_name = "TO.QM2";
  settings.max_segment_length = max_segment;
  settings.exit_data = exit_data;
  return settings;
}

// A stream builder with two destinations, little-endian.
inline agent::StreamBuilder Builder(int32_t max_segment) {
  agent::StreamBuilder builder;
  agent::SetUpBuilder(&builder, 2, max_segment, 999999999);
  builder.destinations.push_back({"ORDERS.IN", "QM2", "REPLY.Q", "app", "orders"});
  builder.destinations.push_back({"PAYMENTS.IN", "QM2", "REPLY.Q", "app", "payments"});
  return builder;
}

inline std::vector<unsigned char> Text(std::size_t size) {
  static const std::string kText = "<item sku=\"HX-4410\" qty=\"12\">Hex bolts, zinc plated</item>\n";
  std::vector<unsigned char> out;
  while (out.size() < size) out.push_back(static_cast<unsigned char>(kText[out.size() % kText.size()]));
  return out;
}

inline std::vector<unsigned char> Noise(std::size_t size, unsigned seed) {
  std::vector<unsigned char> out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x);
    if (b == 0xAB) b = 0xAA;
  }
  // Every byte 0xAB makes it longer still when encoded.
  for (std::size_t i = 0; i < size; i += 3) out[i] = 0xAB;
  return out;
}

using Bytes = std::vector<unsigned char>;

inline int32_t Len(const Bytes& b) { return static_cast<int32_t>(b.size()); }

// A channel over both libraries, started, with the initial data sent.
struct Channel {
  agent::SimChannel sim;
  agent::StreamBuilder builder;
  explicit Channel(int32_t max_segment, const std::string& send_data = "", const std::string& recv_data = "")
      : builder(Builder(max_segment)) {
    agent::EndSettings recv = EndWith(max_segment, recv_data);
    recv.channel_type = 3;
    EXPECT_TRUE(
        agent::OpenChannel(&sim, SendLibrary().entry, RecvLibrary().entry, EndWith(max_segment, send_data), recv));
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

}  // namespace velt::test
