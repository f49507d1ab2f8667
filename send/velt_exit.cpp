// VELTSEND's exports: exactly velt_exit and WEP.
#include "velt/velt_exit.h"
#include "send/send_exit.h"

extern "C" {

VELT_API void VELT_CALL velt_exit(void* exit_parms, void* channel_def, int32_t* data_length,
                                  int32_t* agent_buffer_length, void* agent_buffer, int32_t* exit_buffer_length,
                                  void** exit_buffer_addr) {
  velt::SendExit(exit_parms, channel_def, data_length, agent_buffer_length, agent_buffer, exit_buffer_length,
                 exit_buffer_addr);
}

VELT_API uint16_t VELT_CALL WEP(int32_t) { return 1; }

}  // extern "C"
