#include "host/stats.h"

#include <cstdint>
#include <cstdio>

#include "host/context.h"
#include "host/stats_lines.h"

namespace velt {

static bool OpenStats(ExitContext* ctx) {
  if (ctx->StatsStream == nullptr) ctx->StatsStream = std::fopen(ctx->StatsFile, "a+");
  return ctx->StatsStream != nullptr;
}

// The counts are 32-bit like the figures the file shows, and a channel
// instance may outlive them: past 2^31 - 1 they wrap instead of overflowing.
static int32_t CountOn(int32_t count) { return static_cast<int32_t>(static_cast<uint32_t>(count) + 1u); }

// A count read as the unsigned 32 bits it holds, so that the figures and
// ratios stay right up to 2^32 - 1 segments, not only to 2^31 - 1. Where
// long is 32 bits wide (Windows) the file still shows a negative figure from
// 2^31 on; the statistics reader takes that back as its 32 bits too.
static uint32_t Counted(int32_t count) { return static_cast<uint32_t>(count); }

void UpdateStats(int32_t before, int32_t after, ExitContext* ctx) {
  ctx->TotalSegs = CountOn(ctx->TotalSegs);
  ctx->LastBefore = before;
  ctx->LastAfter = after;
  // An empty or negative result has no finite ratio: count it as sent plain.
  if (after > 0 && after < before) {
    ctx->CompressedSegs = CountOn(ctx->CompressedSegs);
    ctx->LastRatio = static_cast<double>(before) / static_cast<double>(after);
    ctx->SumRatios += ctx->LastRatio;
    ctx->MeanRatio = ctx->SumRatios / static_cast<double>(Counted(ctx->CompressedSegs));
  } else {
    ctx->LastRatio = 1.0;
  }
}

void WriteStats(ExitContext* ctx) {
  if (ctx->Statistics != 2) return;
  if (!OpenStats(ctx)) return;
  if (ctx->MeanRatio > 0.0) {
    std::fprintf(ctx->StatsStream, kStatsSegmentLine, static_cast<long>(Counted(ctx->TotalSegs)),
                 static_cast<long>(Counted(ctx->CompressedSegs)), static_cast<long>(ctx->LastBefore),
                 static_cast<long>(ctx->LastAfter), ctx->LastRatio, ctx->MeanRatio);
  } else {
    std::fprintf(ctx->StatsStream, kStatsSegmentLineNoMean, static_cast<long>(Counted(ctx->TotalSegs)),
                 static_cast<long>(Counted(ctx->CompressedSegs)), static_cast<long>(ctx->LastBefore),
                 static_cast<long>(ctx->LastAfter), ctx->LastRatio);
  }
  std::fflush(ctx->StatsStream);
}

void WriteStatsSummary(ExitContext* ctx) {
  if (ctx->Statistics == 0 || ctx->TotalSegs == 0) return;
  if (!OpenStats(ctx)) return;
  std::fprintf(ctx->StatsStream, kStatsTotalLine, static_cast<long>(Counted(ctx->TotalSegs)),
               static_cast<long>(Counted(ctx->CompressedSegs)));
  if (ctx->CompressedSegs != 0) {
    const double overall =
        (static_cast<double>(Counted(ctx->TotalSegs) - Counted(ctx->CompressedSegs)) + ctx->SumRatios) /
        static_cast<double>(Counted(ctx->TotalSegs));
    std::fprintf(ctx->StatsStream, kStatsMeanLine, ctx->MeanRatio);
    std::fprintf(ctx->StatsStream, kStatsOverallLine, overall);
  }
  std::fflush(ctx->StatsStream);
  std::fclose(ctx->StatsStream);
  ctx->StatsStream = nullptr;
}

}  // namespace velt
