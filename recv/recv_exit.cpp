// The receive end: its log tag and its process step. It keeps no queue keys
// (the cache index travels in the mark). Segments it is asked to send pass
// untouched.
#include "recv/recv_exit.h"

#include "exit/end.h"
#include "recv/process_recv.h"

namespace velt {

namespace {
constexpr ExitEnd kReceiveEnd{"RCVR", false, Direction::kReceive, ProcessXmitRecv};
}  // namespace

void VELT_CALL ReceiveExit(void* exit_parms, void* channel_def, int32_t* data_length, int32_t* agent_buffer_length,
                           void* agent_buffer, int32_t* exit_buffer_length, void** exit_buffer_addr) {
  RunExit(kReceiveEnd, exit_parms, channel_def, data_length, agent_buffer_length, agent_buffer, exit_buffer_length,
          exit_buffer_addr);
}

}  // namespace velt
