#include "host/log.h"

#include <cstdarg>
#include <cstdio>

#include "host/context.h"
#include "host/log_lines.h"

namespace velt {

static bool OpenLog(ExitContext* ctx) {
  if (ctx->LogStream == nullptr) ctx->LogStream = std::fopen(ctx->LogFile, "a+");
  return ctx->LogStream != nullptr;
}

void WriteLog(int16_t level, ExitContext* ctx, const char* format, ...) {
  if (level > ctx->LogLevel) return;
  if (!OpenLog(ctx)) return;

  const TimeOfDay now = LocalTimeOfDay();
  // One buffered write per message keeps lines of instances that share the
  // file from interleaving inside a line.
  char line[1024];
  int used = std::snprintf(line, sizeof line, kLogPrefix, now.hour, now.minute, now.second, static_cast<int>(level),
                           ctx->LogTag);
  if (used < 0) return;
  va_list args;
  va_start(args, format);
  int body = std::vsnprintf(line + used, sizeof line - static_cast<size_t>(used), format, args);
  va_end(args);
  if (body < 0) return;
  if (static_cast<size_t>(used) + static_cast<size_t>(body) < sizeof line) {
    std::fwrite(line, 1, static_cast<size_t>(used + body), ctx->LogStream);
  } else {
    // A message longer than the line buffer: prefix, then format it again
    // straight into the stream.
    std::fwrite(line, 1, static_cast<size_t>(used), ctx->LogStream);
    va_start(args, format);
    std::vfprintf(ctx->LogStream, format, args);
    va_end(args);
  }
  std::fflush(ctx->LogStream);
}

void DumpBuffer(const void* data, int32_t size, ExitContext* ctx) {
  if (ctx->LogLevel < kLogTrace) return;
  if (ctx->LogLevel == kLogTrace && size > 30) size = 30;
  WriteLog(kLogDump, ctx, "dumping buffer: sz = %ld\n", static_cast<long>(size));
  if (ctx->LogStream == nullptr) return;

  // Other instances may append to the same file between two writes of a
  // long dump, so the dump goes out in whole lines: a flush after every 32
  // lines (at most 71 characters each) keeps the stream's buffer from
  // writing out part of a line by itself.
  constexpr int kLinesPerWrite = 32;
  const auto* bytes = static_cast<const unsigned char*>(data);
  int on_line = 0;
  int lines = 0;
  for (int32_t i = 0; i < size; ++i) {
    const unsigned value = bytes[i];
    if (value == 0xAB) {
      std::fputs("ESC[ ] ", ctx->LogStream);
    } else if (value >= 32 && value <= 126) {
      std::fprintf(ctx->LogStream, "%03d[%c] ", static_cast<int>(value), static_cast<int>(value));
    } else {
      std::fprintf(ctx->LogStream, "%03d[?] ", static_cast<int>(value));
    }
    if (++on_line == 10) {
      std::fputc('\n', ctx->LogStream);
      on_line = 0;
      if (++lines % kLinesPerWrite == 0) std::fflush(ctx->LogStream);
    }
  }
  std::fputc('\n', ctx->LogStream);
  std::fflush(ctx->LogStream);
}

}  // namespace velt
