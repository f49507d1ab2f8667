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

// What one line of the file, or one token of the exit data, did. The exits
// pass no observer; veltchan passes one to show an administrator what each
// line set, and why a line set nothing, without a reader of its own.
enum class CfgEvent : uint8_t {
  kSet,              // setting took the value (number_stored or the file name in value)
  kClamped,          // HdrTblSize outside 1 to 16, limited
  kUnknownKey,       // key matches no keyword: the line or token sets nothing
  kNoValue,          // keyword without a value: the setting keeps its value
  kOnceOnlyIgnored,  // LogFile, StatsFile or HdrTblSize after the context exists
  kRestIgnored,      // text after the value on a file line (value holds it)
  kExitDataIgnored,  // exit data beginning with a blank: all of it ignored
};

enum class CfgSource : uint8_t { kFile, kExitData };

struct CfgNote {
  CfgEvent event;
  CfgSource source;
  int line;             // the file's line (pieces of a long line counted apart); 0 in the exit data
  bool continued;       // the line is a further piece of a line longer than the reader's piece
  const char* key;      // the key token as read (may hold a tab or the line end)
  const char* keyword;  // the setting it names, in the file's spelling; null when none
  const char* value;    // the value token as read, without the line end; null when none
  uint32_t number;      // the value as converted, before it was cut to 16 bits or limited
  int32_t stored;       // what the setting now holds (numbers only)
};

// Null in the exits; the reader runs only at channel start, so the test for
// it costs nothing per segment.
struct CfgObserver {
  void (*note)(void* user, const CfgNote& note);
  void* user;
};

// The reading itself, from the named file (skipped when it cannot be opened)
// and the 32 characters of exit_data, without the log line ReadCfg adds.
// observer may be null. Returns whether the file could be opened.
bool ReadSettings(ExitContext* ctx, const char* file_name, const char* exit_data, const CfgObserver* observer);

}  // namespace velt
