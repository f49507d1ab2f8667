// Send-side processing of one transmission segment: keeps the channel state
// in step with the receiving end and hands message and status segments over
// compressed when that makes them shorter.
#include <cstring>

#include "send/process_send.h"

#include "channel/channel.h"
#include "codec/codec.h"
#include "exit/xmit_job.h"
#include "host/config.h"
#include "host/log.h"
#include "host/log_lines.h"
#include "wire/segment.h"

namespace velt {

namespace {

using SendJob = XmitJob;

XmitOutcome HandOver(SendJob& job, int32_t length, uint8_t mark) {
  job.out[job.t + kTshMark] = mark;
  return HandedOver(length);
}

// Header & data form: the header region becomes its difference from the
// reference of index, and everything from t + 12 is run-length encoded.
XmitOutcome CompressHeaderAndData(SendJob& job, uint16_t index) {
  const int32_t length = job.length;
  unsigned char* region = job.segment + job.t + kTshRest;
  XorHeader(job.cd, region, 1, index);

  const int32_t start = job.t + kTshRest;
  std::memcpy(job.out, job.segment, static_cast<std::size_t>(start));
  WriteLog(kLogTrace, job.ctx, "ProcessXmitSend: rl_offset = %ld *data_length = %ld\n", static_cast<long>(start),
           static_cast<long>(length));
  WriteLog(kLogTrace, job.ctx, "ProcessXmitSend: Encoding data for %ld bytes\n", static_cast<long>(length - start));
  const int32_t capacity = job.room - start;
  const int32_t n = EncodeRLE(job.segment + start, job.out + start, length - start, capacity);
  WriteLog(kLogTrace, job.ctx, "ProcessXmitSend: Encoded data  to %ld bytes\n", static_cast<long>(n));
  WriteLog(kLogTrace, job.ctx, "ProcessXmitSend: Encoded o/p length %ld bytes\n", static_cast<long>(start + n));

  if (!RleFits(n, capacity) || start + n > length) {
    WriteLog(kLogReject, job.ctx, kLogRefusedCompression, static_cast<long>(start + n), static_cast<long>(length));
    // The segment leaves plain, so the receiving end never sees this header:
    // the reference goes back to what it held, as it still does there.
    UndoXorHeader(job.cd, region, index);
    job.segment[job.t + kTshMark] = 0;
    return kXmitPassed;
  }
  WriteLog(kLogTrace, job.ctx, "ProcessXmitSend: Encode len (%ld) , original = (%ld) \n", static_cast<long>(start + n),
           static_cast<long>(length));
  const XmitOutcome outcome = HandOver(job, start + n, job.type == kSegMessage ? MarkForIndex(index) : kMarkCompressed);
  DumpBuffer(job.out, start + n, job.ctx);
  return outcome;
}

// Data-only form: the TSH travels as it is and the rest is encoded.
XmitOutcome CompressDataOnly(SendJob& job) {
  const int32_t length = job.length;
  const int32_t start = job.t + kTshLength;
  WriteLog(kLogTrace, job.ctx, "ProcessXmitSend: rl_offset = %ld *data_length = %ld\n", static_cast<long>(start),
           static_cast<long>(length));
  if (start >= length) return kXmitPassed;
  std::memcpy(job.out, job.segment, static_cast<std::size_t>(start));

  WriteLog(kLogTrace, job.ctx, "ProcessXmitSend: Encoding data for %ld bytes\n", static_cast<long>(length - start));
  const int32_t capacity = job.room - start;
  const int32_t n = EncodeRLE(job.segment + start, job.out + start, length - start, capacity);
  WriteLog(kLogTrace, job.ctx, "ProcessXmitSend: Encoded data  to %ld bytes\n", static_cast<long>(n));
  // An encoder out of room reports more than it wrote; show only the buffer.
  DumpBuffer(job.out, RleFits(n, capacity) ? start + n : job.room, job.ctx);

  if (RleFits(n, capacity) && n < length - start) return HandOver(job, start + n, kMarkCompressed);
  return kXmitPassed;
}

// A segment the receiving end could not take back at full length, or too
// short to hold the header region, leaves plain with no state change.
bool FitsForCompression(SendJob& job, int32_t header_end) {
  const int32_t length = job.length;
  if (length >= job.room) {
    WriteLog(kLogDump, job.ctx, "ProcessXmitSend: full-length segment (%ld bytes) sent uncompressed\n",
             static_cast<long>(length));
    return false;
  }
  if (length < header_end) {
    WriteLog(kLogDump, job.ctx, "ProcessXmitSend: segment (%ld bytes) shorter than its header, sent uncompressed\n",
             static_cast<long>(length));
    return false;
  }
  return true;
}

XmitOutcome SendFirstSegment(SendJob& job) {
  if (!FitsForCompression(job, job.t + kTshRest + kMessageHeaderRegion)) return kXmitPassed;
  const unsigned char* xqh = FindWhole(FindXQH, job.segment, job.length, job.t + kXqhSearchFrom, kXqhReadLength);
  if (xqh == nullptr) {
    WriteLog(kLogFail, job.ctx, "ProcessXmitSend: failed to locate transmission queue header %s\n", job.channel);
    return kXmitPassed;
  }
  WriteLog(kLogTrace, job.ctx, "ProcessXmitSend: found TXQ\n");
  const uint16_t index = FindCacheEntry(xqh, job.cd, job.ctx->HdrTblSize);
  WriteLog(kLogTrace, job.ctx, "ProcessXmitSend: using cache entry %d\n", static_cast<int>(index));
  return CompressHeaderAndData(job, index);
}

// A segment out of sequence is logged and leaves plain: the receiving end
// checks the sequence of what it gets and says the same.
XmitOutcome SendMessage(SendJob& job) {
  ExitContext* ctx = job.ctx;
  if (ctx->FirstMsg != 0) {
    ctx->FirstMsg = 0;
    WriteLog(kLogTrace, ctx, "ProcessXmitSend: first message\n");
    return kXmitPassed;
  }
  const unsigned char* msh = FindWhole(FindMSH, job.segment, job.length, job.t + kMshSearchFrom, kMshLength);
  if (msh == nullptr) {
    WriteLog(kLogFail, ctx, "ProcessXmitSend: failed to locate message header %s\n", job.channel);
    return kXmitPassed;
  }
  WriteLog(kLogTrace, ctx, "ProcessXmitSend: found MSH\n");
  WriteLog(kLogTrace, ctx, "Msg# %ld Total_length %ld,Seg# %ld, SegLen %ld\n",
           static_cast<long>(LoadInt32(msh + kMshMsgNum)), static_cast<long>(LoadInt32(msh + kMshTotalLength)),
           static_cast<long>(LoadInt32(msh + kMshSegNum)), static_cast<long>(LoadInt32(msh + kMshSegLength)));
  if (CheckMsgSequence(msh, job.cd, job.peer_order, ctx) == 0) {
    WriteLog(kLogReject, ctx, kLogSendOutOfSequence, job.channel);
    return kXmitPassed;
  }

  if ((job.flags & MQP_TCF_FIRST) != 0) return SendFirstSegment(job);
  if (FurtherSegmentsPlain(ctx->Compression)) {
    // The receiving end reads every further segment in data-only form, so a
    // further segment never goes out in header & data form. The search
    // through the segment is only for the log line: skipped when the level
    // leaves it out.
    if (ctx->LogLevel >= kLogFail && FindXQH(job.segment, job.length, job.t + kXqhSearchFrom) == nullptr)
      WriteLog(kLogFail, ctx, "ProcessXmitSend: failed to locate transmission queue header %s\n", job.channel);
    return kXmitPassed;
  }
  if (FurtherSegmentsFollowRatio(ctx->Compression) && ctx->LastRatio < kPoorRatio) {
    WriteLog(kLogDump, ctx, "1st seg# compression LOW(%5.2f), compression disabled for rest of this message\n",
             ctx->LastRatio);
    return kXmitPassed;
  }
  return FitsForCompression(job, 0) ? CompressDataOnly(job) : kXmitPassed;
}

XmitOutcome SendStatus(SendJob& job) {
  if ((job.flags & (MQP_TCF_ERROR | MQP_TCF_CLOSE_CHANNEL)) != 0) {
    WriteLog(kLogTrace, job.ctx, "MQP_TCF_ERROR | MQP_TCF_CLOSE_CHANNEL\n");
    return kXmitPassed;
  }
  return FitsForCompression(job, job.t + kTshLength) ? CompressHeaderAndData(job, kStatusImageIndex) : kXmitPassed;
}

}  // namespace

XmitOutcome ProcessXmitSend(const XmitCall& call) {
  ExitContext* ctx = call.ctx;
  ExitParms* parms = call.parms;
  DumpBuffer(call.segment, call.length, ctx);
  const ChannelNameText channel = NameText(call.cd_def);
  ChannelDescr* cd = ctx->Cd;
  if (cd == nullptr) {
    WriteLog(kLogFail, ctx, "ProcessXmitSend: failed to lookup channel :%s:\n", channel.text);
    return kXmitPassed;
  }
  unsigned char** exit_buffer_addr = call.exit_buffer_addr;
  if (*exit_buffer_addr == nullptr) {
    WriteLog(kLogCall, ctx, "ProcessXmitSend: Allocating o/p buffer  ,for %ld bytes\n",
             static_cast<long>(parms->MaxSegmentLength));
    if (AcquireExitBuffer(parms, cd, call.exit_buffer_length, exit_buffer_addr) == nullptr) {
      WriteLog(kLogFail, ctx, kLogSendNoBuffer, channel.text, static_cast<long>(parms->MaxSegmentLength));
      return kXmitPassed;
    }
  }

  int32_t t = 0;
  const unsigned char* tsh = FindSegmentHeader(call.segment, call.length, &t);
  if (tsh == nullptr) {
    WriteLog(kLogFail, ctx, "ProcessXmitSend: failed to locate transmission header %s\n", channel.text);
    return kXmitPassed;
  }
  WriteLog(kLogTrace, ctx, "ProcessXmitSend: found TSH\n");

  SendJob job = MakeXmitJob(call, channel.text, t);
  switch (job.type) {
    case kSegInitData:
      if (!TakeWrapValue(job)) WriteLog(kLogFail, ctx, "ProcessXmitSend: failed to locate INITDATA %s\n", channel.text);
      break;
    case kSegResynch:
    case kSegReset:
      ResetHeaderCache(cd, ctx);
      cd->LastMsgNum = 0;
      break;
    case kSegMessage: return SendMessage(job);
    case kSegStatus: return SendStatus(job);
    default: break;
  }
  return kXmitPassed;
}

}  // namespace velt
