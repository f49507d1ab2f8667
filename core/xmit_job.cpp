#include "xmit_job.h"

#include "segment.h"

namespace velt {

XmitJob MakeXmitJob(ExitParms* parms, ExitContext* ctx, const char* channel, unsigned char* segment,
                    int32_t* data_length, unsigned char* exit_buffer, const int32_t* exit_buffer_length, int32_t t) {
  const unsigned char* tsh = segment + t;
  return XmitJob{parms,
                 ctx,
                 ctx->Cd,
                 channel,
                 segment,
                 data_length,
                 exit_buffer,
                 ExitBufferRoom(parms, exit_buffer_length),
                 t,
                 tsh[kTshByteOrder],
                 tsh[kTshType],
                 tsh[kTshFlags],
                 tsh[kTshMark]};
}

bool TakeWrapValue(XmitJob& job) {
  const unsigned char* id = FindWhole(FindID, job.segment, *job.data_length, job.t + kMshSearchFrom, kIdReadLength);
  if (id == nullptr) {
    job.cd->SeqWrap = 0;
    return false;
  }
  job.cd->SeqWrap = ConvertLong(LoadInt32(id + kIdWrapValue), job.peer_order, job.ctx->LocalByteOrder);
  return true;
}

}  // namespace velt
