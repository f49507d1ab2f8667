// What one transmission call of either direction works on, gathered once the
// segment header has been found.
#pragma once

#include <cstdint>

#include "channel/channel.h"
#include "exit/end.h"
#include "host/context.h"
#include "velt/velt_exit.h"

namespace velt {

struct XmitJob {
  ExitContext* ctx;
  ChannelDescr* cd;
  const char* channel;     // channel name, terminated
  unsigned char* segment;  // the agent's buffer
  int32_t length;          // the segment's length in it
  unsigned char* out;      // the exit buffer
  int32_t room;            // its usable length
  int32_t t;               // offset of the segment header
  uint16_t peer_order;     // byte order of the segment's integers
  uint8_t type;
  uint8_t flags;
  uint8_t mark;
};

// Gathers the job for the segment header found at offset t, with the exit
// buffer the call has by now.
XmitJob MakeXmitJob(const XmitCall& call, const char* channel, int32_t t);

// Takes the message sequence wrap value from the initial data behind the
// segment header. Returns false, with the wrap value set to 0, when the
// segment holds no whole ID.
bool TakeWrapValue(XmitJob& job);

}  // namespace velt
