// Compression statistics of the send path and the statistics file.
#pragma once

#include <cstdint>

namespace velt {

struct ExitContext;

// Counts one segment with its lengths before and after the send processing.
// A segment is compressed when after < before; an after of 0 or less counts
// as uncompressed with ratio 1.0.
void UpdateStats(int32_t before, int32_t after, ExitContext* ctx);

// Appends the per-segment line when Statistics is 2.
void WriteStats(ExitContext* ctx);

// Appends the summary (unless Statistics is 0 or nothing was counted) and
// closes the statistics stream.
void WriteStatsSummary(ExitContext* ctx);

}  // namespace velt
