// A simulated message channel: a send end running VELTSEND and a receive end
// running VELTRECV, joined so that what the send end hands over is what the
// receive end gets, with a check that every delivered segment equals the one
// the sending agent built.
#pragma once

#include <cstdint>
#include <vector>

#include "channel_end.h"
#include "segments.h"

namespace velt::agent {

struct SimChannel {
  ChannelEnd send;
  ChannelEnd recv;
  std::vector<unsigned char> wire;       // the last segment as it travelled
  std::vector<unsigned char> delivered;  // the last segment the receiving agent took
  bool closed = false;                   // an exit closed the channel
};

// Sets up both ends (send end ExitId 13, receive end ExitId 14) with the
// given entries and settings, and starts them with MQXR_INIT. Returns false
// when either end answers other than MQXCC_OK.
bool OpenChannel(SimChannel* channel, ExitFunction send_entry, ExitFunction recv_entry, EndSettings send_settings,
                 EndSettings recv_settings);

// What happened to one segment.
struct Hop {
  int32_t built_length = 0;
  int32_t wire_length = 0;
  int32_t delivered_length = 0;
  uint8_t mark = 0;         // TSH byte 11 on the wire (0 when no TSH at 0)
  bool compressed = false;  // the send exit handed over its exit buffer
  bool delivered = false;   // the receiving agent took a segment
  bool intact = false;      // ... equal byte for byte to the one built
  int32_t send_response = 0;
  int32_t recv_response = 0;
};

// Carries one segment over the channel. Once closed, nothing is delivered.
Hop Transmit(SimChannel* channel, const unsigned char* segment, int32_t length);

// Ends both instances with MQXR_TERM.
void CloseChannel(SimChannel* channel);

}  // namespace velt::agent
