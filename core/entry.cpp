// The entry point of both exit libraries: finds the instance's context,
// traces and checks the call, dispatches on the exit reason and answers the
// agent in the exit parameter block.
#include <cstdio>
#include <cstring>

#include "channel.h"
#include "config.h"
#include "context.h"
#include "exit_iface.h"
#include "log.h"
#include "platform.h"
#include "process.h"
#include "stats.h"

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

// When the descriptor cannot be made and the exit steps aside, no further
// call comes for the instance, MQXR_TERM included: the context is released
// here, and ctx must not be used after the call.
void OnInit(ExitParms* parms, ChannelDef* cd_def, ExitContext* ctx) {
  ReadCfg(ctx, parms);
  ChannelDescr* cd = NewChannelDescr(cd_def, ctx);
  if (cd != nullptr) {
    WriteLog(kLogCall, ctx, "velt_exit: MQXR_INIT, cd = 0x%x\n",
             static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(cd)));
    ctx->Cd = cd;
  } else {
    WriteLog(kLogFail, ctx, "velt_exit: failed to allocate channel descriptor for %s\n", NameText(cd_def).text);
    parms->ExitResponse = CannotRun(parms);
  }
  ctx->FirstMsg = 1;
  if (parms->ExitResponse == MQXCC_SUPPRESS_EXIT) ReleaseContext(parms, ctx);
}

void OnTerm(ExitContext* ctx) {
  WriteLog(kLogTrace, ctx, "velt_exit: MQXR_TERM, cd = 0x%x\n",
           static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(ctx->Cd)));
  FreeChannelDescr(ctx->Cd);
  ctx->Cd = nullptr;
  WriteStatsSummary(ctx);
}

void OnXmit(ExitParms* parms, ChannelDef* cd_def, int32_t* data_length, int32_t* agent_buffer_length,
            unsigned char* agent_buffer, int32_t* exit_buffer_length, unsigned char** exit_buffer_addr,
            ExitContext* ctx) {
  const int32_t before = *data_length;
  int32_t result = kXmitOk;
  if (parms->ExitId == MQXT_CHANNEL_SEND_EXIT) {
    if (ctx->Compression == 0) return;
    ProcessXmitSend(parms, cd_def, data_length, agent_buffer_length, agent_buffer, exit_buffer_length,
                    exit_buffer_addr, ctx);
    WriteLog(kLogCall, ctx, "velt_exit: ProcessXmitSend: before %ld after %ld\n\n", static_cast<long>(before),
             static_cast<long>(*data_length));
    UpdateStats(before, *data_length, ctx);
    WriteStats(ctx);
  } else {
    result = ProcessXmitRecv(parms, cd_def, data_length, agent_buffer_length, agent_buffer, exit_buffer_length,
                             exit_buffer_addr, ctx);
    WriteLog(kLogCall, ctx, "velt_exit: ProcessXmitRecv: before %ld after %ld\n\n", static_cast<long>(before),
             static_cast<long>(*data_length));
  }
  // A segment that cannot be restored must not reach the agent as a plain
  // one: the channel closes and the message stays on the transmission queue.
  // Every other outcome answers MQXCC_OK.
  parms->ExitResponse = result == kXmitUnrestorable ? MQXCC_CLOSE_CHANNEL : MQXCC_OK;
}

}  // namespace

}  // namespace velt

using namespace velt;

VELT_EXPORT void VELT_CALL velt_exit(void* exit_parms, void* channel_def, int32_t* data_length,
                                     int32_t* agent_buffer_length, void* agent_buffer, int32_t* exit_buffer_length,
                                     void** exit_buffer_addr) {
  auto* parms = static_cast<ExitParms*>(exit_parms);
  auto* cd_def = static_cast<ChannelDef*>(channel_def);

  ExitContext* ctx = Init(parms);
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
    return;
  }

  parms->ExitResponse = MQXCC_OK;
  parms->ExitResponse2 = MQXR2_USE_AGENT_BUFFER;
  WriteLog(kLogTrace, ctx, "velt_exit: data length is         %ld bytes\n", static_cast<long>(*data_length));
  WriteLog(kLogTrace, ctx, "velt_exit: agent_buffer_length is %ld bytes\n", static_cast<long>(*agent_buffer_length));

  switch (parms->ExitReason) {
    case MQXR_INIT:
      OnInit(parms, cd_def, ctx);
      break;
    case MQXR_TERM:
      OnTerm(ctx);
      ReleaseContext(parms, ctx);
      break;
    case MQXR_XMIT:
      OnXmit(parms, cd_def, data_length, agent_buffer_length, static_cast<unsigned char*>(agent_buffer),
             exit_buffer_length, reinterpret_cast<unsigned char**>(exit_buffer_addr), ctx);
      break;
    default:
      break;
  }
}

VELT_EXPORT uint16_t VELT_CALL WEP(int32_t) { return 1; }
