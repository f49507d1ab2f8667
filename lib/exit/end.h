// What makes an exit library one end of the channel, and what the end's
// processing answers. send/ and recv/ each describe their end and forward
// velt_exit to RunExit with that description; nothing in the layers below
// calls up into a library.
//
// The path of one segment: velt_exit (send/ or recv/) -> RunExit (here) ->
// the end's process step (send/process_send.cpp or recv/process_recv.cpp) ->
// channel state, wire format and codec -> back to RunExit, the one place
// that answers the agent.
#pragma once

#include <cstdint>

#include "host/context.h"
#include "velt/velt_exit.h"

namespace velt {

// Which way a segment travels, taken from the call's ExitId.
enum class Direction { kSend, kReceive };

// One MQXR_XMIT call, as the process step sees it.
struct XmitCall {
  ExitParms* parms;
  const ChannelDef* cd_def;
  unsigned char* segment;  // the agent's buffer
  int32_t length;          // the segment's length in it
  int32_t* exit_buffer_length;
  unsigned char** exit_buffer_addr;
  ExitContext* ctx;
};

// What a process step concludes. RunExit turns it into the answer:
//   kPassed      the agent's buffer goes on as it is    (MQXCC_OK, agent buffer)
//   kHandedOver  the segment in the exit buffer goes on (MQXCC_OK, exit buffer,
//                data length = length)
//   kRefused     nothing can go on: the channel closes  (MQXCC_CLOSE_CHANNEL,
//                agent buffer, data length as received)
enum class XmitAnswer { kPassed, kHandedOver, kRefused };
struct XmitOutcome {
  XmitAnswer answer;
  int32_t length;  // kHandedOver only
};
inline constexpr XmitOutcome kXmitPassed{XmitAnswer::kPassed, 0};
inline constexpr XmitOutcome kXmitRefused{XmitAnswer::kRefused, 0};
inline constexpr XmitOutcome HandedOver(int32_t length) { return {XmitAnswer::kHandedOver, length}; }

using XmitStep = XmitOutcome (*)(const XmitCall& call);

// One end of the channel.
struct ExitEnd {
  const char* log_tag;    // written into every log line: "SDR" or "RCVR"
  bool keeps_queue_keys;  // the send end chooses cache entries by remote queue
  Direction direction;    // the segments `process` handles; those of the
                          // other direction pass untouched
  XmitStep process;
};

// The entry point of either end: finds the instance's context, traces and
// checks the call, dispatches on the exit reason and answers the agent.
void RunExit(const ExitEnd& end, void* exit_parms, void* channel_def, int32_t* data_length,
             int32_t* agent_buffer_length, void* agent_buffer, int32_t* exit_buffer_length, void** exit_buffer_addr);

}  // namespace velt
