// Receive-side processing of one transmission segment: restores every
// segment the sending end marked as compressed, keeps the channel state in
// step with the sending end, and refuses what cannot be restored exactly.
#include <cstring>

#include "recv/process_recv.h"

#include "channel/channel.h"
#include "codec/codec.h"
#include "exit/xmit_job.h"
#include "host/log.h"
#include "host/log_lines.h"
#include "wire/segment.h"

namespace velt {

namespace {

using RecvJob = XmitJob;

// What a step concludes, with the response code its trace line reports:
// -6 for a broken sequence (the segment still goes on) and for a refused
// segment, -5 when a plain segment passes without channel state.
struct Outcome {
  XmitOutcome xmit;
  int32_t traced;
};
constexpr Outcome kPassed{kXmitPassed, MQXCC_OK};
constexpr Outcome kRefused{kXmitRefused, MQXCC_CLOSE_CHANNEL};
constexpr Outcome SequenceBroken(XmitOutcome xmit) { return {xmit, MQXCC_CLOSE_CHANNEL}; }

// A plain message segment still moves the sequence state, as it did at the
// sending end; the segment itself passes untouched.
Outcome PassPlain(RecvJob& job) {
  WriteLog(kLogTrace, job.ctx, "ProcessXmitRecv: Uncompressed data: line (%d)\n", 2029);
  if (job.type != kSegMessage) return kPassed;
  const unsigned char* msh = FindWhole(FindMSH, job.segment, job.length, job.t + kMshSearchFrom, kMshLength);
  if (msh == nullptr || CheckMsgSequence(msh, job.cd, job.peer_order, job.ctx) != 0) return kPassed;
  WriteLog(kLogReject, job.ctx, kLogRecvOutOfSequence, job.channel);
  return SequenceBroken(kXmitPassed);
}

Outcome Restore(RecvJob& job) {
  if ((job.mark & kMarkCompressed) == 0) return PassPlain(job);

  const bool header_form = job.type == kSegStatus || (job.flags & MQP_TCF_FIRST) != 0;
  int32_t h = 0;
  if (header_form) {
    h = job.t + kTshRest;
    WriteLog(kLogTrace, job.ctx, "ProcessXmitRecv: Header & Data compressed\n");
  } else {
    h = job.t + kTshLength;
    WriteLog(kLogTrace, job.ctx, "ProcessXmitRecv: Data only is compressed\n");
  }

  const int32_t length = job.length;
  if (length <= h) {
    WriteLog(kLogReject, job.ctx, kLogRecvTooShort, static_cast<long>(length), static_cast<long>(h));
    return kRefused;
  }
  if (h >= job.room) {
    WriteLog(kLogReject, job.ctx, kLogRecvLeadTooLong, static_cast<long>(h), static_cast<long>(job.room));
    return kRefused;
  }

  std::memcpy(job.out, job.segment, static_cast<std::size_t>(h));
  RleDecodeInfo info{};
  const int32_t n = DecodeRLEChecked(job.segment + h, job.out + h, length - h, job.room - h, &info);
  WriteLog(kLogTrace, job.ctx, "ProcessXmitRecv: decoded length is %ld\n", static_cast<long>(n));
  if (!RleFits(n, job.room - h)) {
    WriteLog(kLogReject, job.ctx, kLogRecvDecodeOverflow, static_cast<long>(n), static_cast<long>(job.room - h));
    return kRefused;
  }
  if (info.truncated) {
    WriteLog(kLogReject, job.ctx, kLogRecvDecodeIncomplete, static_cast<long>(info.consumed),
             static_cast<long>(length - h));
    return kRefused;
  }
  const int32_t restored = h + n;

  if (header_form) {
    const int32_t region = job.type == kSegStatus ? kStatusHeaderRegion : kMessageHeaderRegion;
    if (restored < job.t + kTshRest + region) {
      WriteLog(kLogReject, job.ctx, kLogRecvShorterThanHeader, static_cast<long>(restored),
               static_cast<long>(job.t + kTshRest + region));
      return kRefused;
    }
    uint16_t index = kStatusImageIndex;
    if (job.type == kSegStatus) {
      WriteLog(kLogTrace, job.ctx, "ProcessXmitRecv: line (%d)\n", 2092);
    } else {
      index = IndexOfMark(job.mark);
      WriteLog(kLogTrace, job.ctx, "ProcessXmitRecv: got cache index %d\n", static_cast<int>(index));
      if (index >= job.ctx->HdrTblSize) {
        WriteLog(kLogReject, job.ctx, kLogRecvCacheTooSmall, static_cast<int>(index),
                 static_cast<int>(job.ctx->HdrTblSize));
        WriteLog(kLogReject, job.ctx, kLogRecvAdjustTable);
        return kRefused;
      }
    }
    XorHeader(job.cd, job.out + job.t + kTshRest, 0, index);
    WriteLog(kLogTrace, job.ctx, "ProcessXmitRecv: done Diff\n");
    DumpBuffer(job.out, restored, job.ctx);
  }
  job.out[job.t + kTshMark] = 0;
  const Outcome restored_whole{HandedOver(restored), MQXCC_OK};
  if (job.type == kSegStatus) return restored_whole;

  const unsigned char* msh = FindWhole(FindMSH, job.out, restored, job.t + kMshSearchFrom, kMshLength);
  if (msh == nullptr) {
    WriteLog(kLogReject, job.ctx, "ProcessXmitRecv: failed to locate message header %s\n", job.channel);
    // In data-only form the message header lies in the expanded part, and a
    // sending end compresses a message segment only once it has found that
    // header: expanded without one, the segment is not what was sent (a
    // further segment a peer sent in header & data form reads so).
    if (!header_form) {
      WriteLog(kLogReject, job.ctx, kLogRecvNoMessageHeader, static_cast<long>(restored));
      return kRefused;
    }
    return SequenceBroken(restored_whole.xmit);
  }
  if (CheckMsgSequence(msh, job.cd, job.peer_order, job.ctx) == 0) {
    WriteLog(kLogReject, job.ctx, kLogRecvOutOfSequence, job.channel);
    return SequenceBroken(restored_whole.xmit);
  }
  return restored_whole;
}

// Without a descriptor or an exit buffer nothing can be restored: a marked
// segment is refused, since the agent's buffer holds it compressed; a plain
// one passes as it is.
Outcome CannotRestore(const unsigned char* segment, int32_t length) {
  int32_t t = 0;
  const unsigned char* tsh = FindSegmentHeader(segment, length, &t);
  const bool marked = tsh != nullptr && (tsh[kTshType] == kSegMessage || tsh[kTshType] == kSegStatus) &&
                      (tsh[kTshMark] & kMarkCompressed) != 0;
  return marked ? kRefused : Outcome{kXmitPassed, MQXCC_SUPPRESS_EXIT};
}

XmitOutcome Finish(ExitContext* ctx, Outcome outcome) {
  WriteLog(kLogTrace, ctx, "ProcessXmitRecv: returning response = %ld\n", static_cast<long>(outcome.traced));
  return outcome.xmit;
}

}  // namespace

XmitOutcome ProcessXmitRecv(const XmitCall& call) {
  ExitContext* ctx = call.ctx;
  WriteLog(kLogTrace, ctx, "ProcessXmitRecv: Original data..\n");
  DumpBuffer(call.segment, call.length, ctx);
  const ChannelNameText channel = NameText(call.cd_def);
  ChannelDescr* cd = ctx->Cd;
  if (cd == nullptr) {
    WriteLog(kLogFail, ctx, "ProcessXmitRecv: failed to lookup channel :%s:\n", channel.text);
    return Finish(ctx, CannotRestore(call.segment, call.length));
  }
  WriteLog(kLogTrace, ctx, "ProcessXmitRecv: Allocating exit buffer (line %d)\n", 1904);
  if (AcquireExitBuffer(call.parms, cd, call.exit_buffer_length, call.exit_buffer_addr) == nullptr) {
    WriteLog(kLogFail, ctx, kLogRecvNoBuffer, channel.text);
    return Finish(ctx, CannotRestore(call.segment, call.length));
  }
  WriteLog(kLogTrace, ctx, "ProcessXmitRecv: Looking for TSH  (line %d)\n", 1929);

  int32_t t = 0;
  const unsigned char* tsh = FindSegmentHeader(call.segment, call.length, &t);
  if (tsh == nullptr) {
    WriteLog(kLogFail, ctx, "ProcessXmitRecv: failed to locate transmission header %s\n", channel.text);
    return Finish(ctx, kPassed);
  }
  WriteLog(kLogTrace, ctx, "ProcessXmitRecv: found TSH\n");

  RecvJob job = MakeXmitJob(call, channel.text, t);
  Outcome outcome = kPassed;
  switch (job.type) {
    case kSegInitData:
      if (!TakeWrapValue(job)) WriteLog(kLogFail, ctx, "ProcessXmitRecv: failed to locate INITDATA %s\n", channel.text);
      break;
    case kSegResynch:
    case kSegReset:
      // Both ends reset on the same segments, so their caches stay in step.
      WriteLog(kLogTrace, ctx, "ProcessXmitRecv:RESYNCH, Resetting XOR buffer (%d)\n", 1982);
      ResetHeaderCache(cd, ctx);
      cd->LastMsgNum = 0;
      break;
    case kSegMessage:
    case kSegStatus: outcome = Restore(job); break;
    default: break;
  }
  return Finish(ctx, outcome);
}

}  // namespace velt
