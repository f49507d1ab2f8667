#include "host/context.h"

#include <cstring>

#include "host/alloc.h"
#include "host/config.h"
#include "host/log.h"
#include "host/platform.h"

namespace velt {

ExitContext* ContextOf(const ExitParms* parms) {
  ExitContext* ctx = nullptr;
  std::memcpy(&ctx, parms->ExitUserArea, sizeof ctx);
  return ctx;
}

static void Anchor(ExitParms* parms, ExitContext* ctx) { std::memcpy(parms->ExitUserArea, &ctx, sizeof ctx); }

static void CopyName(char (&field)[kFileNameCapacity], const char* name) {
  std::strncpy(field, name, kFileNameCapacity - 1);
  field[kFileNameCapacity - 1] = '\0';
}

static uint16_t DetectByteOrder() {
  const uint32_t probe = 1;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 1 ? kLittleEndian : kBigEndian;
}

void SetDefaults(ExitContext* ctx, const char* log_tag) {
  std::memset(ctx, 0, sizeof *ctx);
  ctx->LogTag = log_tag;
  ctx->Cd = nullptr;
  ctx->FirstMsg = 0;
  ctx->LogStream = nullptr;
  ctx->StatsStream = nullptr;
  ctx->Initialised = 0;
  ctx->LastBefore = 1;
  ctx->LastAfter = 1;
  ctx->MeanRatio = 0.0;
  ctx->SumRatios = 0.0;
  ctx->CompressedSegs = 0;
  ctx->TotalSegs = 0;
  ctx->LastRatio = kPoorRatio;
  CopyName(ctx->LogFile, kDefaultLogFile);
  CopyName(ctx->StatsFile, kDefaultStatsFile);
  ctx->LogLevel = 1;
  ctx->Compression = 3;
  ctx->Statistics = 0;
  ctx->HdrTblSize = 4;
  ctx->LocalByteOrder = 0;
}

ExitContext* Init(ExitParms* parms, const char* log_tag) {
  if (ExitContext* existing = ContextOf(parms)) return existing;

  auto* ctx = static_cast<ExitContext*>(VeltAlloc(sizeof(ExitContext)));
  if (ctx == nullptr) return nullptr;
  SetDefaults(ctx, log_tag);
  Anchor(parms, ctx);

  ReadCfg(ctx, parms);
  ctx->Initialised = 1;
  WriteLog(kLogTrace, ctx, "Init: invoked\n");
  std::memset(ctx->InitHdrImage, 0, sizeof ctx->InitHdrImage);
  ctx->LocalByteOrder = DetectByteOrder();
  WriteLog(kLogTrace, ctx, "Init: local_byte order %d\n", static_cast<int>(ctx->LocalByteOrder));
  ctx->Pid = CurrentProcessId();
  OpenProcessWatch(&ctx->Watch);
  ArmProcessWatch(&ctx->Watch);
  return ctx;
}

void ReleaseContext(ExitParms* parms, ExitContext* ctx) {
  if (ctx == nullptr) return;
  if (ctx->LogStream != nullptr) std::fclose(ctx->LogStream);
  if (ctx->StatsStream != nullptr) std::fclose(ctx->StatsStream);
  CloseProcessWatch(&ctx->Watch);
  VeltFree(ctx);
  std::memset(parms->ExitUserArea, 0, sizeof(void*));
}

}  // namespace velt
