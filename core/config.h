// The configuration reader: the configuration file, then the channel's
// 32-character ExitData.
#pragma once

#include "exit_iface.h"

namespace velt {

struct ExitContext;

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
