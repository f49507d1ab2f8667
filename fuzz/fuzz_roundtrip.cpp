// The send exit feeding the receive exit over the simulated channel: whatever
// the send exit hands over, the receive exit must restore exactly. Segments
// are built as an agent builds them (messages of any size split into
// segments, status, initial data, resynchronisation and reset segments) or
// are arbitrary bytes with TSH byte 11 at 0, as every agent leaves it.
//
// Findings:
//   - a delivered segment that differs from the one built;
//   - the receive exit closing the channel on a segment the send exit
//     compressed (a plain segment it may refuse, e.g. one that breaks the
//     message sequence, but the send exit never hands over what cannot be
//     restored);
//   - a compressed segment longer than the plain one, or any close by the
//     send exit.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "recv/recv_exit.h"
#include "segments.h"
#include "send/send_exit.h"
#include "sim_channel.h"

// The two sides, built from the library sources under their own names.

namespace {

using velt::fuzz::Reader;
namespace agent = velt::agent;

void Require(bool condition) {
  if (!condition) std::abort();
}

constexpr int32_t kWrapValues[] = {999999999, 1, 2, 3, 7, 50, 500, 65535};

// The first TSH as the exits find it: "TSH " in ASCII or EBCDIC at a position
// p <= length - 5 whose first 12 bytes lie within the segment.
int32_t FirstTsh(const std::vector<unsigned char>& s) {
  static constexpr unsigned char kAscii[4] = {0x54, 0x53, 0x48, 0x20};
  static constexpr unsigned char kEbcdic[4] = {0xE3, 0xE2, 0xC8, 0x40};
  const auto length = static_cast<int64_t>(s.size());
  for (int64_t p = 0; p <= length - 5; ++p) {
    if (std::memcmp(&s[static_cast<std::size_t>(p)], kAscii, 4) == 0 ||
        std::memcmp(&s[static_cast<std::size_t>(p)], kEbcdic, 4) == 0)
      return p + 12 <= length ? static_cast<int32_t>(p) : -1;
  }
  return -1;
}

struct Run {
  agent::SimChannel channel;
  agent::StreamBuilder builder;
  int32_t max_segment = 0;
};

// Carries one segment; returns false once the channel is closed.
// Segments longer than the channel's segment size (the builder's headers
// alone exceed the smallest sizes) are never built by an agent: skipped.
bool Carry(Run* run, const std::vector<unsigned char>& segment) {
  const auto length = static_cast<int32_t>(segment.size());
  if (length > run->max_segment) return true;
  // An empty vector has no storage; the agent copies from a real address.
  static const unsigned char kNothing = 0;
  const unsigned char* bytes = segment.empty() ? &kNothing : segment.data();
  const agent::Hop hop = agent::Transmit(&run->channel, bytes, length);
  Require(hop.send_response != velt::MQXCC_CLOSE_CHANNEL);
  if (hop.compressed) {
    Require(hop.wire_length <= length);
    Require(hop.delivered);
  }
  if (hop.delivered) Require(hop.intact);
  return hop.delivered;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static std::string cfg = "/tmp/velt-fuzz-roundtrip-" + std::to_string(getpid()) + ".cfg";
  if (std::FILE* f = std::fopen(cfg.c_str(), "w")) {
    std::fputs("LogFile = /dev/null\nStatsFile = /dev/null\nLogLevel = -1\nStatistics = 2\n", f);
    std::fclose(f);
  }
  setenv("VELT_EXIT_CFG", cfg.c_str(), 1);
  std::atexit([] { unlink(cfg.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in{data, size};
  const unsigned settings = in.Byte();
  const unsigned shape = in.Byte();
  const uint16_t custom = in.U16();

  Run run;
  run.max_segment = velt::fuzz::MaxSegmentFor(shape, custom);
  const std::string exit_data =
      "COMP=" + std::to_string((settings >> 4) & 7u) + " HDR=" + std::to_string((settings & 15u) + 1);
  agent::EndSettings send;
  send.channel_name = "FUZZ.ROUNDTRIP";
  send.max_segment_length = run.max_segment;
  send.exit_data = exit_data;
  agent::EndSettings recv = send;
  recv.channel_type = 3;
  Require(agent::OpenChannel(&run.channel, velt::SendExit, velt::ReceiveExit, send, recv));

  const uint8_t order = (shape & 4u) != 0 ? 1 : 2;
  agent::SetUpBuilder(&run.builder, order, run.max_segment, kWrapValues[(shape >> 3) % 8]);
  run.builder.destinations = {
      {"PAYMENTS.IN", "QM.LONDON", "REPLY.PAY", "mqapp", "order-service"},
      {"ORDERS.NEW", "QM.FRANKFURT", "REPLY.ORD", "batch01", "nightly-batch"},
      {"STOCK.UPDATES", "QM.LONDON", "REPLY.STK", "mqapp", "order-service"},
      {"AUDIT.EVENTS", "QM.NEWYORK", "", "audit", "auditor"},
      {"PAYMENTS.IN", "QM.NEWYORK", "REPLY.PAY", "mqapp", "order-service"},
  };

  bool open = true;
  for (int record = 0; open && record < velt::fuzz::kMaxRecords && !in.Done(); ++record) {
    const uint8_t kind = in.Byte();
    switch (kind % velt::fuzz::kRecordKinds) {
      case velt::fuzz::kRaw: {
        std::vector<unsigned char> segment = in.Bytes(std::min<int32_t>(in.U16(), run.max_segment));
        const int32_t t = FirstTsh(segment);
        if (t >= 0) segment[static_cast<std::size_t>(t + 11)] = 0;
        open = Carry(&run, segment);
        break;
      }
      case velt::fuzz::kMessage: {
        const uint8_t dest = in.Byte();
        const uint16_t length = in.U16();
        const uint8_t fill = in.Byte();
        std::vector<unsigned char> payload = in.Bytes(length);
        payload.resize(length, fill);
        for (const agent::Segment& segment : agent::BuildMessage(&run.builder, dest, payload)) {
          open = Carry(&run, segment);
          if (!open) break;
        }
        break;
      }
      case velt::fuzz::kStatus: {
        const uint8_t flags = in.Byte();
        const std::vector<unsigned char> body = in.Bytes(in.Byte());
        open = Carry(&run, agent::BuildStatus(&run.builder, flags, body));
        break;
      }
      case velt::fuzz::kInitData: open = Carry(&run, agent::BuildInitData(&run.builder)); break;
      default:
        open = Carry(&run, (kind & 0x80u) != 0 ? agent::BuildReset(&run.builder) : agent::BuildResync(&run.builder));
        break;
    }
  }
  agent::CloseChannel(&run.channel);
  return 0;
}
