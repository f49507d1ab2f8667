// The configuration reader: the configuration file, then the channel's
// 32-character ExitData.
#pragma once

#include <cstdint>

#include "velt/velt_exit.h"

namespace velt {

struct ExitContext;

// What the Compression setting asks of the send exit. Level 0 is off: the
// send direction passes every segment untouched and counts nothing. Any other
// level compresses first segments of messages and status segments; further
// segments of a message go plain at level 1 and below, are compressed from
// level 2 up, and at level 3 only while the segment before compressed by at
// least kPoorRatio.
inline constexpr double kPoorRatio = 1.15;
inline constexpr bool CompressionOff(int16_t level) { return level == 0; }
inline constexpr bool FurtherSegmentsPlain(int16_t level) { return level <= 1; }
inline constexpr bool FurtherSegmentsFollowRatio(int16_t level) { return level == 3; }

// The only separators of the configuration syntax.
inline constexpr const char* kCfgSeparators = ":= ";

// Returns the next token of the modifiable text at *cursor, or null when the
// cursor is at the end. Leading separators are skipped; the first separator
// after the token is overwritten with '\0' and the cursor moves past it.
// A token may be empty when only separators were left.
char* GetToken(char** cursor, const char* separators);

// Reads the configuration into ctx. While ctx->Initialised is 0 every key is
// honoured; afterwards only Compression, Statistics and LogLevel.
void ReadCfg(ExitContext* ctx, const ExitParms* parms);

}  // namespace velt
