#include "exit/xmit_job.h"

#include "wire/segment.h"

namespace velt {

XmitJob MakeXmitJob(const XmitCall& call, const char* channel, int32_t t) {
  const unsigned char* tsh = call.segment + t;
  return XmitJob{call.ctx,
                 call.ctx->Cd,
                 channel,
                 call.segment,
                 call.length,
                 *call.exit_buffer_addr,
                 ExitBufferRoom(call.parms, call.exit_buffer_length),
                 t,
                 tsh[kTshByteOrder],
                 tsh[kTshType],
                 tsh[kTshFlags],
                 tsh[kTshMark]};
}

bool TakeWrapValue(XmitJob& job) {
  const unsigned char* id = FindWhole(FindID, job.segment, job.length, job.t + kMshSearchFrom, kIdReadLength);
  if (id == nullptr) {
    job.cd->SeqWrap = 0;
    return false;
  }
  job.cd->SeqWrap = ConvertLong(LoadInt32(id + kIdWrapValue), job.peer_order, job.ctx->LocalByteOrder);
  return true;
}

}  // namespace velt
