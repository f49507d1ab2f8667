// The exit context: everything one channel instance keeps between the agent's
// calls, anchored in the first pointer-sized part of ExitUserArea.
#pragma once

#include <cstdint>
#include <cstdio>

#include "host/platform.h"
#include "velt/velt_exit.h"
#include "wire/segment.h"

namespace velt {

struct ChannelDescr;

// A file name from the configuration is one token of a line piece of at most
// 510 characters, so it always fits with its terminator.
inline constexpr std::size_t kFileNameCapacity = 512;

struct ExitContext {
  const char* LogTag;  // the end's name in every log line: "SDR" or "RCVR"
  ChannelDescr* Cd;
  int32_t FirstMsg;
  std::FILE* LogStream;
  std::FILE* StatsStream;
  uint16_t Initialised;
  unsigned char InitHdrImage[kMessageHeaderRegion];
  int32_t Pid;
  int32_t LastBefore;
  int32_t LastAfter;
  double MeanRatio;
  double SumRatios;
  int32_t CompressedSegs;
  int32_t TotalSegs;
  double LastRatio;
  char LogFile[kFileNameCapacity];
  char StatsFile[kFileNameCapacity];
  int16_t LogLevel;
  int16_t Compression;
  int16_t Statistics;
  uint16_t HdrTblSize;
  uint16_t LocalByteOrder;
  ProcessWatch Watch;  // spares a system call per call while Pid cannot have changed
};

// Byte-order codes of the segment header's byte-order byte.
inline constexpr uint16_t kBigEndian = 1;
inline constexpr uint16_t kLittleEndian = 2;

// Returns the context referred to by ExitUserArea, or creates one for the end
// whose log tag is given, anchors it there and reads the whole configuration. Returns null only when no memory
// could be had for a new context; ExitUserArea is then left all zero.
ExitContext* Init(ExitParms* parms, const char* log_tag);

// Fills a context with the values it holds before the configuration is
// read: the defaults of every setting and counter, no streams.
void SetDefaults(ExitContext* ctx, const char* log_tag);

// Reads the context reference from ExitUserArea (null when none).
ExitContext* ContextOf(const ExitParms* parms);

// Closes the streams, frees the context and clears ExitUserArea, so that no
// later call can reach freed memory. Does not touch the descriptor.
void ReleaseContext(ExitParms* parms, ExitContext* ctx);

}  // namespace velt
