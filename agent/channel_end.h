// One end of a simulated message channel: the parameter block, channel
// definition, segment buffer and exit buffer fields the agent owns, and the
// calls it makes of the exit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exit_library.h"
#include "velt/velt_exit.h"

namespace velt::agent {

// The agent's channel definition is longer than what the exits read.
struct AgentChannelDef {
  ChannelDef head;
  unsigned char rest[1992];
};

struct ChannelEnd {
  ExitFunction entry = nullptr;
  ExitParms parms{};
  AgentChannelDef definition{};
  std::vector<unsigned char> buffer;  // the agent's own buffer, MaxSegmentLength bytes
  int32_t exit_buffer_length = 0;
  void* exit_buffer = nullptr;
  bool suppressed = false;  // the exit answered MQXCC_SUPPRESS_EXIT
  bool closed = false;      // the exit answered MQXCC_CLOSE_CHANNEL
  bool started = false;
};

struct EndSettings {
  int32_t exit_id = MQXT_CHANNEL_SEND_EXIT;
  std::string channel_name = "TO.REMOTE";
  int32_t channel_type = 1;  // 1 sender, 3 receiver
  int32_t max_segment_length = 32768;
  std::string exit_data;  // up to 32 characters, blank-padded
};

// Prepares an end: zeroed parameter block, blank-padded names, buffer of
// max_segment_length bytes.
void SetUpEnd(ChannelEnd* end, ExitFunction entry, const EndSettings& settings);

// Calls the exit with MQXR_INIT. Returns ExitResponse.
int32_t StartEnd(ChannelEnd* end);

// What the agent takes after one MQXR_XMIT.
struct Delivery {
  const unsigned char* data = nullptr;  // exit buffer or agent buffer
  int32_t length = 0;
  int32_t response = MQXCC_OK;
  int32_t response2 = MQXR2_USE_AGENT_BUFFER;
  bool from_exit_buffer = false;
};

// Copies the segment into the end's buffer and calls the exit with MQXR_XMIT
// (unless it was suppressed: then the segment passes unchanged). The view in
// the result stays valid until the next call on this end.
Delivery TransmitOnEnd(ChannelEnd* end, const unsigned char* segment, int32_t length);

// Calls the exit with MQXR_TERM (also after a close) and forgets its buffer.
int32_t StopEnd(ChannelEnd* end);

// Calls the exit with any reason and no data; returns ExitResponse.
int32_t CallEnd(ChannelEnd* end, int32_t reason);

}  // namespace velt::agent
