// The levelled log writer and the byte-by-byte buffer dump.
#pragma once

#include <cstdint>

#include "host/platform.h"

namespace velt {

struct ExitContext;

// Log levels as the messages use them.
inline constexpr int16_t kLogReject = 0;  // rejected call, unusable data, broken sequence
inline constexpr int16_t kLogFail = 1;    // failed allocation, missing structure
inline constexpr int16_t kLogCall = 4;    // one line per call and per transmission
inline constexpr int16_t kLogTrace = 5;   // step-by-step tracing, short dumps
inline constexpr int16_t kLogDump = 6;    // full dumps and compression decisions

// Appends "hh:mm:ss [level] TAG :" and the formatted message to the context's
// log file when level <= LogLevel; otherwise costs one comparison. Opens the
// file on first use ("a+") and flushes after every message. Never reports a
// failure: a file that cannot be opened is tried again by the next message.
void WriteLog(int16_t level, ExitContext* ctx, const char* format, ...) VELT_PRINTF(3, 4);

// Writes one entry per byte (at most 30 bytes at LogLevel 5, all at 6 and
// above) to an already open log stream; nothing below LogLevel 5.
void DumpBuffer(const void* data, int32_t size, ExitContext* ctx);

}  // namespace velt
