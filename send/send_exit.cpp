// The send end: its log tag, the queue keys it chooses cache entries by, and
// its process step. Segments it is asked to receive pass untouched.
#include "send/send_exit.h"

#include "exit/end.h"
#include "send/process_send.h"

namespace velt {

namespace {
constexpr ExitEnd kSendEnd{"SDR", true, Direction::kSend, ProcessXmitSend};
}  // namespace

void VELT_CALL SendExit(void* exit_parms, void* channel_def, int32_t* data_length, int32_t* agent_buffer_length,
                        void* agent_buffer, int32_t* exit_buffer_length, void** exit_buffer_addr) {
  RunExit(kSendEnd, exit_parms, channel_def, data_length, agent_buffer_length, agent_buffer, exit_buffer_length,
          exit_buffer_addr);
}

}  // namespace velt
