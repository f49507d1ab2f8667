// The entry point of both ends: finds the instance's context, traces and
// checks the call, dispatches on the exit reason and answers the agent. This
// is the only place that writes ExitResponse and ExitResponse2.
#include <cstdio>
#include <cstring>

#include "channel/channel.h"
#include "exit/end.h"
#include "host/config.h"
#include "host/context.h"
#include "host/log.h"
#include "host/log_lines.h"
#include "host/platform.h"
#include "host/stats.h"

namespace velt {

namespace {

constexpr const char* kExitIdNames[] = {"SEC_EXIT", "MSG_EXIT", "SEND_EXIT", "RCV_EXIT", "MSG_RETRY_EXIT"};
constexpr const char* kReasonNames[] = {"MQXR_INIT",    "MQXR_TERM",     "MQXR_MSG",  "MQXR_XMIT",
                                        "MQXR_SEC_MSG", "MQXR_INIT_SEC", "MQXR_RETRY"};
constexpr const char* kUnknownName = "UNKNOWN";

// Name of code in a table indexed by code - 11; a placeholder outside it.
template <std::size_t N>
const char* NameOf(const char* const (&table)[N], int32_t code) {
  const int64_t index = static_cast<int64_t>(code) - 11;
  if (index < 0 || index >= static_cast<int64_t>(N)) return kUnknownName;
  return table[index];
}

// The answer to the agent: response and secondary response.
struct Answer {
  int32_t response;
  int32_t response2;
};
constexpr Answer kAnswerOk{MQXCC_OK, MQXR2_USE_AGENT_BUFFER};

void FollowProcess(ExitContext* ctx) {
  if (SameProcessSurely(ctx->Watch)) return;
  const int32_t pid = CurrentProcessId();
  ArmProcessWatch(&ctx->Watch);
  if (pid == ctx->Pid) return;
  if (ctx->LogStream != nullptr) ctx->LogStream = std::freopen(ctx->LogFile, "a+", ctx->LogStream);
  ctx->Pid = pid;
}

// An exit that cannot run steps aside with MQXCC_SUPPRESS_EXIT, and its
// segments travel plain. Not in the receive role: segments the partner
// compressed would then reach the agent as they are, so the channel closes
// instead and the messages stay on the transmission queue.
int32_t CannotRun(const ExitParms* parms) {
  const bool receives = parms->ExitId == MQXT_CHANNEL_MSG_EXIT || parms->ExitId == MQXT_CHANNEL_RCV_EXIT;
  return receives ? MQXCC_CLOSE_CHANNEL : MQXCC_SUPPRESS_EXIT;
}

// The agent calls a suppressed exit no more, MQXR_TERM included: what the
// instance holds (descriptor, context, open log stream) goes now or never.
// ctx must not be used after the call.
void ReleaseSuppressed(ExitParms* parms, ExitContext* ctx) {
  FreeChannelDescr(ctx->Cd);
  ReleaseContext(parms, ctx);
}

// When the descriptor cannot be made and the exit steps aside, no further
// call comes for the instance, MQXR_TERM included: the context is released
// here, and ctx must not be used after the call.
Answer OnInit(const ExitEnd& end, ExitParms* parms, const ChannelDef* cd_def, ExitContext* ctx) {
  ReadCfg(ctx, parms);
  Answer answer = kAnswerOk;
  ChannelDescr* cd = NewChannelDescr(cd_def, ctx, end.keeps_queue_keys);
  if (cd != nullptr) {
    WriteLog(kLogCall, ctx, "velt_exit: MQXR_INIT, cd = 0x%x\n",
             static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(cd)));
    if (ctx->Cd != nullptr) {
      // MQXR_INIT again in one instance: the new descriptor replaces the old
      // one, but the agent still holds the old one's exit buffer and hands it
      // back on the next transmission, so the buffer moves over.
      cd->ExitBuffer = ctx->Cd->ExitBuffer;
      ctx->Cd->ExitBuffer = nullptr;
      FreeChannelDescr(ctx->Cd);
    }
    ctx->Cd = cd;
  } else {
    WriteLog(kLogFail, ctx, kLogNoDescriptor, NameText(cd_def).text);
    answer.response = CannotRun(parms);
  }
  ctx->FirstMsg = 1;
  // The descriptor released may be one from an earlier MQXR_INIT.
  if (answer.response == MQXCC_SUPPRESS_EXIT) ReleaseSuppressed(parms, ctx);
  return answer;
}

void OnTerm(ExitContext* ctx) {
  WriteLog(kLogTrace, ctx, "velt_exit: MQXR_TERM, cd = 0x%x\n",
           static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(ctx->Cd)));
  FreeChannelDescr(ctx->Cd);
  ctx->Cd = nullptr;
  WriteStatsSummary(ctx);
}

Answer OnXmit(const ExitEnd& end, const XmitCall& call, int32_t* data_length) {
  ExitContext* ctx = call.ctx;
  const Direction direction = call.parms->ExitId == MQXT_CHANNEL_SEND_EXIT ? Direction::kSend : Direction::kReceive;
  // Compression off: the send direction passes every segment untouched,
  // and counts and logs nothing.
  if (direction == Direction::kSend && CompressionOff(ctx->Compression)) return kAnswerOk;

  const XmitOutcome outcome = direction == end.direction ? end.process(call) : kXmitPassed;
  Answer answer = kAnswerOk;
  switch (outcome.answer) {
    case XmitAnswer::kPassed: break;
    case XmitAnswer::kHandedOver:
      answer.response2 = MQXR2_USE_EXIT_BUFFER;
      *data_length = outcome.length;
      break;
    case XmitAnswer::kRefused:
      // A segment that cannot be restored must not reach the agent as a
      // plain one: the channel closes and the message stays on the
      // transmission queue.
      answer.response = MQXCC_CLOSE_CHANNEL;
      break;
  }
  const bool sends = direction == Direction::kSend;
  WriteLog(kLogCall, ctx, "velt_exit: %s: before %ld after %ld\n\n", sends ? "ProcessXmitSend" : "ProcessXmitRecv",
           static_cast<long>(call.length), static_cast<long>(*data_length));
  if (sends) {
    UpdateStats(call.length, *data_length, ctx);
    WriteStats(ctx);
  }
  return answer;
}

}  // namespace

void RunExit(const ExitEnd& end, void* exit_parms, void* channel_def, int32_t* data_length,
             int32_t* agent_buffer_length, void* agent_buffer, int32_t* exit_buffer_length, void** exit_buffer_addr) {
  auto* parms = static_cast<ExitParms*>(exit_parms);
  auto* cd_def = static_cast<const ChannelDef*>(channel_def);

  ExitContext* ctx = Init(parms, end.log_tag);
  if (ctx == nullptr) {
    parms->ExitResponse = CannotRun(parms);
    return;
  }
  FollowProcess(ctx);

  // The trace line's "%04.4d" carries a 0 flag that the precision overrides
  // (at least four digits either way); the compiler says so, and is told
  // that the text is meant.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
  WriteLog(kLogCall, ctx, "velt_exit: [%04.4d] %.20s: Reason %s, Ids %s\n", static_cast<int>(ctx->Pid),
           cd_def->ChannelName, NameOf(kReasonNames, parms->ExitReason), NameOf(kExitIdNames, parms->ExitId));
#pragma GCC diagnostic pop

  if (parms->ExitId != MQXT_CHANNEL_MSG_EXIT && parms->ExitId != MQXT_CHANNEL_SEND_EXIT &&
      parms->ExitId != MQXT_CHANNEL_RCV_EXIT) {
    WriteLog(kLogReject, ctx, "velt_exit invoked with wrong type of exit id (%ld)\n", static_cast<long>(parms->ExitId));
    parms->ExitResponse = MQXCC_SUPPRESS_EXIT;
    ReleaseSuppressed(parms, ctx);
    return;
  }

  WriteLog(kLogTrace, ctx, "velt_exit: data length is         %ld bytes\n", static_cast<long>(*data_length));
  WriteLog(kLogTrace, ctx, "velt_exit: agent_buffer_length is %ld bytes\n", static_cast<long>(*agent_buffer_length));

  Answer answer = kAnswerOk;
  switch (parms->ExitReason) {
    case MQXR_INIT: answer = OnInit(end, parms, cd_def, ctx); break;
    case MQXR_TERM:
      OnTerm(ctx);
      ReleaseContext(parms, ctx);
      break;
    case MQXR_XMIT:
      answer = OnXmit(end,
                      XmitCall{parms, cd_def, static_cast<unsigned char*>(agent_buffer), *data_length,
                               exit_buffer_length, reinterpret_cast<unsigned char**>(exit_buffer_addr), ctx},
                      data_length);
      break;
    default: break;
  }
  parms->ExitResponse = answer.response;
  parms->ExitResponse2 = answer.response2;
}

}  // namespace velt
