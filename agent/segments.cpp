#include "segments.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velt::agent {

namespace {

void PutText(unsigned char* at, std::size_t size, const std::string& text) {
  std::memset(at, ' ', size);
  std::memcpy(at, text.data(), std::min(size, text.size()));
}

Segment StartSegment(const StreamBuilder& b, int32_t length, uint8_t type, uint8_t flags) {
  Segment s(static_cast<std::size_t>(length), 0);
  std::memcpy(s.data(), "TSH ", 4);
  PutInt32(s.data() + 4, length, b.byte_order);
  s[8] = b.byte_order;
  s[9] = type;
  s[10] = flags;
  s[11] = 0;
  std::memcpy(s.data() + 12, b.tsh_rest, sizeof b.tsh_rest);
  return s;
}

void PutMsh(unsigned char* at, const StreamBuilder& b, int32_t message, int32_t total, int32_t segment,
            int32_t length) {
  std::memcpy(at, "MSH ", 4);
  PutInt32(at + 4, message, b.byte_order);
  PutInt32(at + 8, total, b.byte_order);
  PutInt32(at + 12, segment, b.byte_order);
  PutInt32(at + 16, length, b.byte_order);
}

// XQH with its 324-byte message descriptor; consecutive messages to one
// destination differ in the message id counter and the put time only.
void PutXqh(unsigned char* at, StreamBuilder* b, Destination* d) {
  std::memset(at, 0, 428);
  std::memcpy(at, "XQH ", 4);
  PutInt32(at + 4, 1, b->byte_order);
  PutText(at + 8, 48, d->queue);
  PutText(at + 56, 48, d->queue_manager);
  unsigned char* md = at + 104;
  std::memcpy(md, "MD  ", 4);
  PutInt32(md + 4, 2, b->byte_order);      // version
  PutInt32(md + 8, 0, b->byte_order);      // report
  PutInt32(md + 12, 8, b->byte_order);     // message type: datagram
  PutInt32(md + 16, -1, b->byte_order);    // expiry: unlimited
  PutInt32(md + 20, 0, b->byte_order);     // feedback
  PutInt32(md + 24, 273, b->byte_order);   // encoding
  PutInt32(md + 28, 1208, b->byte_order);  // coded character set id
  PutText(md + 32, 8, d->format);
  PutInt32(md + 40, d->priority, b->byte_order);
  PutInt32(md + 44, d->persistence, b->byte_order);
  std::memcpy(md + 48, b->queue_manager_id, 16);  // message id
  ++d->message_counter;
  PutInt32(md + 64, static_cast<int32_t>(d->message_counter), 1);
  PutInt32(md + 68, static_cast<int32_t>(b->clock), 1);
  std::memset(md + 72, 0, 24);          // correlation id
  PutInt32(md + 96, 0, b->byte_order);  // backout count
  PutText(md + 100, 48, d->reply_queue);
  PutText(md + 148, 48, d->queue_manager);
  PutText(md + 196, 12, d->user);
  std::memset(md + 208, 0, 32);  // accounting token
  md[208] = 0x16;
  PutText(md + 240, 32, "");             // application identity data
  PutInt32(md + 272, 6, b->byte_order);  // put application type: UNIX
  PutText(md + 276, 28, d->put_application);
  ++b->clock;
  const uint32_t centis = b->clock * 7u;
  const unsigned seconds = (centis / 100u) % 86400u;
  char when[17];
  std::snprintf(when, sizeof when, "20261209%02u%02u%02u%02u", (seconds / 3600u) % 24u, (seconds / 60u) % 60u,
                seconds % 60u, centis % 100u);
  std::memcpy(md + 304, when, 16);  // put date and put time
  PutText(md + 320, 4, "");         // application origin data
}

Segment ControlSegment(StreamBuilder* b, uint8_t type) {
  Segment s = StartSegment(*b, 28 + 8, type, 0);
  std::memcpy(s.data() + 28, "RSYN", 4);
  PutInt32(s.data() + 32, b->next_message - 1, b->byte_order);
  b->next_message = 1;
  return s;
}

}  // namespace

void PutInt32(unsigned char* at, int32_t value, uint8_t byte_order) {
  const auto v = static_cast<uint32_t>(value);
  if (byte_order == 1) {
    at[0] = static_cast<unsigned char>(v >> 24);
    at[1] = static_cast<unsigned char>(v >> 16);
    at[2] = static_cast<unsigned char>(v >> 8);
    at[3] = static_cast<unsigned char>(v);
  } else {
    at[0] = static_cast<unsigned char>(v);
    at[1] = static_cast<unsigned char>(v >> 8);
    at[2] = static_cast<unsigned char>(v >> 16);
    at[3] = static_cast<unsigned char>(v >> 24);
  }
}

void SetUpBuilder(StreamBuilder* builder, uint8_t byte_order, int32_t max_segment_length, int32_t wrap_value) {
  builder->byte_order = byte_order;
  builder->max_segment_length = max_segment_length;
  builder->wrap_value = wrap_value;
  builder->next_message = 1;
  builder->clock = 0;
  const unsigned char rest[16] = {0x00, 0x00, 0x01, 0x11, 0x00, 0x00, 0x04, 0xB8,
                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  std::memcpy(builder->tsh_rest, rest, sizeof rest);
  std::memcpy(builder->queue_manager_id, "AMQ QM1         ", 16);
}

Segment BuildInitData(StreamBuilder* b) {
  Segment s = StartSegment(*b, 28 + 36, 1, 0);
  unsigned char* id = s.data() + 28;
  std::memcpy(id, "ID  ", 4);
  PutInt32(id + 4, 12, b->byte_order);  // version
  id[8] = 0x01;                         // flags
  PutInt32(id + 12, b->max_segment_length, b->byte_order);
  PutInt32(id + 16, 50, b->byte_order);  // batch size
  PutInt32(id + 20, b->wrap_value, b->byte_order);
  PutInt32(id + 24, 1208, b->byte_order);
  return s;
}

Segment BuildResync(StreamBuilder* b) { return ControlSegment(b, 2); }
Segment BuildReset(StreamBuilder* b) { return ControlSegment(b, 3); }

Segment BuildStatus(StreamBuilder* b, uint8_t flags, std::span<const unsigned char> body) {
  const auto length = static_cast<int32_t>(28 + body.size());
  Segment s = StartSegment(*b, length, 5, flags);
  std::copy(body.begin(), body.end(), s.begin() + 28);
  return s;
}

std::vector<Segment> BuildMessage(StreamBuilder* b, std::size_t dest, std::span<const unsigned char> payload) {
  Destination* d = &b->destinations[dest % b->destinations.size()];
  const int32_t message = b->next_message;
  b->next_message = message >= b->wrap_value ? 1 : message + 1;

  const auto total = static_cast<int32_t>(payload.size());
  std::vector<Segment> segments;
  std::size_t taken = 0;
  int32_t number = 1;
  do {
    const int32_t header = number == 1 ? kFirstSegmentHeader : kFurtherSegmentHeader;
    const auto room = static_cast<std::size_t>(std::max(b->max_segment_length - header, 1));
    const std::size_t part = std::min(room, payload.size() - taken);
    const auto length = static_cast<int32_t>(header + part);
    Segment s = StartSegment(*b, length, 4, number == 1 ? 0x10 : 0x00);
    PutMsh(s.data() + 28, *b, message, total, number, static_cast<int32_t>(part));
    if (number == 1) PutXqh(s.data() + 48, b, d);
    std::copy(payload.begin() + static_cast<std::ptrdiff_t>(taken),
              payload.begin() + static_cast<std::ptrdiff_t>(taken + part), s.begin() + header);
    segments.push_back(std::move(s));
    taken += part;
    ++number;
  } while (taken < payload.size());
  return segments;
}

}  // namespace velt::agent
