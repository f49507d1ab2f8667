// The transmission routines the entry point dispatches to. Each library links
// the real routine for its own direction and a do-nothing one for the other.
#pragma once

#include <cstdint>

#include "context.h"
#include "exit_iface.h"

namespace velt {

// What a transmission routine returns; the response itself is stored in
// ExitResponse.
enum XmitResult : int32_t {
  kXmitOk = 0,       // response MQXCC_OK
  kXmitFailed = -1,  // response not OK; the entry point answers MQXCC_OK anyway
  // The received segment cannot be restored and neither buffer holds it plain:
  // the entry point lets MQXCC_CLOSE_CHANNEL stand.
  kXmitUnrestorable = -2,
};

int32_t ProcessXmitSend(ExitParms* parms, ChannelDef* cd_def, int32_t* data_length, int32_t* agent_buffer_length,
                        unsigned char* agent_buffer, int32_t* exit_buffer_length, unsigned char** exit_buffer_addr,
                        ExitContext* ctx);

int32_t ProcessXmitRecv(ExitParms* parms, ChannelDef* cd_def, int32_t* data_length, int32_t* agent_buffer_length,
                        unsigned char* agent_buffer, int32_t* exit_buffer_length, unsigned char** exit_buffer_addr,
                        ExitContext* ctx);

}  // namespace velt
