// Builds transmission segments as a sending channel agent does: initial data,
// messages split into segments with their MSH and (in the first segment) the
// XQH and message descriptor, status, resynchronisation and reset segments.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velt::agent {

using Segment = std::vector<unsigned char>;

// A destination of messages: a remote queue on a remote queue manager, with
// the parts of its message descriptors that change from message to message.
struct Destination {
  std::string queue;
  std::string queue_manager;
  std::string reply_queue;
  std::string user;
  std::string put_application;
  std::string format = "MQSTR";
  int32_t persistence = 1;
  int32_t priority = 4;
  uint32_t message_counter = 0;
};

struct StreamBuilder {
  uint8_t byte_order = 2;  // of the integers in the segments: 1 big, 2 little endian
  int32_t max_segment_length = 32768;
  int32_t wrap_value = 999999999;
  int32_t next_message = 1;
  unsigned char tsh_rest[16] = {};          // TSH bytes 12-27, constant within a channel
  unsigned char queue_manager_id[16] = {};  // first 16 bytes of every message id
  uint32_t clock = 0;                       // advances the put time from message to message
  std::vector<Destination> destinations;
};

// Sets up a builder for a channel with realistic constant header bytes.
void SetUpBuilder(StreamBuilder* builder, uint8_t byte_order, int32_t max_segment_length, int32_t wrap_value);

// Initial data segment carrying the ID with the wrap value.
Segment BuildInitData(StreamBuilder* builder);

// Resynchronisation (type 2) or reset (type 3) segment; the message numbers
// start again at 1.
Segment BuildResync(StreamBuilder* builder);
Segment BuildReset(StreamBuilder* builder);

// Status segment (type 5) with control flags and a short body.
Segment BuildStatus(StreamBuilder* builder, uint8_t flags, std::span<const unsigned char> body);

// One message of payload to destination dest, split into as many type-4
// segments as MaxSegmentLength needs. Takes the next message number.
std::vector<Segment> BuildMessage(StreamBuilder* builder, std::size_t dest, std::span<const unsigned char> payload);

// Writes a 4-byte integer in the given byte order.
void PutInt32(unsigned char* at, int32_t value, uint8_t byte_order);

// Header bytes in front of the payload: first segment and further segments.
inline constexpr int32_t kFirstSegmentHeader = 28 + 20 + 428;
inline constexpr int32_t kFurtherSegmentHeader = 28 + 20;

}  // namespace velt::agent
