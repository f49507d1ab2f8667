#include "host/config.h"

#include <cstdio>
#include <cstring>

#include "host/context.h"
#include "host/log.h"
#include "host/platform.h"

namespace velt {

namespace {

// A line of the file is read in pieces of at most this many characters.
constexpr int kLinePiece = 510;

enum class ValueKind { Number, LimitedNumber, FileName };

bool IsSeparator(char c, const char* separators) { return c != '\0' && std::strchr(separators, c) != nullptr; }

// A key names a keyword when it begins with the whole keyword (case matters).
bool KeyIs(const char* key, const char* keyword) { return std::strncmp(key, keyword, std::strlen(keyword)) == 0; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Decimal conversion: leading white space, an optional sign, the digits up to
// the first other character; 0 without digits. Computed modulo 2^32, so the
// low 16 bits are those of the written number however long it is.
uint32_t ParseNumber(const char* text) {
  while (IsSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = (*text++ == '-');
  uint32_t value = 0;
  while (*text >= '0' && *text <= '9') value = value * 10u + static_cast<uint32_t>(*text++ - '0');
  return negative ? 0u - value : value;
}

int16_t LowSigned16(uint32_t value) { return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFFu)); }

uint16_t LimitTableSize(uint32_t value) {
  uint16_t size = static_cast<uint16_t>(value & 0xFFFFu);
  if (size == 0) return 1;
  if (size > kMaxHdrTblSize) return kMaxHdrTblSize;
  return size;
}

// The token without its line end; a file written with CR LF line ends names
// the same file as one written with LF.
void CopyFileName(char (&field)[kFileNameCapacity], const char* token) {
  std::size_t length = std::strcspn(token, "\n");
  if (length > 0 && token[length - 1] == '\r') --length;
  if (length >= kFileNameCapacity) length = kFileNameCapacity - 1;
  std::memcpy(field, token, length);
  field[length] = '\0';
}

// Settings keyed by number; the once-only keys come after them.
struct NumberKey {
  const char* file_key;
  const char* data_key;
  int16_t ExitContext::*field;
};
constexpr NumberKey kNumberKeys[] = {
    {"Compression", "COMP", &ExitContext::Compression},
    {"Statistics", "STAT", &ExitContext::Statistics},
    {"LogLevel", "LOG", &ExitContext::LogLevel},
};

// Takes the next token as a value; false when there is none.
bool TakeValue(char** cursor, const char** value) {
  *value = GetToken(cursor, kCfgSeparators);
  return *value != nullptr;
}

void ReadFileLine(ExitContext* ctx, char* line) {
  char* cursor = line;
  while (*cursor == ' ' || *cursor == '\t') ++cursor;
  if (*cursor == '\n' || *cursor == '#' || *cursor == '!') return;

  const char* key = GetToken(&cursor, kCfgSeparators);
  if (key == nullptr) return;
  const char* value = nullptr;

  for (const NumberKey& setting : kNumberKeys) {
    if (KeyIs(key, setting.file_key)) {
      if (TakeValue(&cursor, &value)) ctx->*setting.field = LowSigned16(ParseNumber(value));
      return;
    }
  }
  if (ctx->Initialised != 0) return;

  if (KeyIs(key, "LogFile")) {
    if (!TakeValue(&cursor, &value)) return;
    CopyFileName(ctx->LogFile, value);
    if (ctx->LogStream != nullptr) {
      std::fclose(ctx->LogStream);
      ctx->LogStream = nullptr;
    }
  } else if (KeyIs(key, "HdrTblSize")) {
    if (TakeValue(&cursor, &value)) ctx->HdrTblSize = LimitTableSize(ParseNumber(value));
  } else if (KeyIs(key, "StatsFile")) {
    if (!TakeValue(&cursor, &value)) return;
    CopyFileName(ctx->StatsFile, value);
    if (ctx->StatsStream != nullptr) {
      std::fclose(ctx->StatsStream);
      ctx->StatsStream = nullptr;
    }
  }
}

void ReadExitData(ExitContext* ctx, const ExitParms* parms) {
  if (parms->ExitData[0] == ' ') return;
  char text[kExitDataLength + 1];
  std::memcpy(text, parms->ExitData, kExitDataLength);
  text[kExitDataLength] = '\0';

  char* cursor = text;
  while (const char* key = GetToken(&cursor, kCfgSeparators)) {
    const char* value = nullptr;
    bool matched = false;
    for (const NumberKey& setting : kNumberKeys) {
      if (KeyIs(key, setting.data_key)) {
        if (TakeValue(&cursor, &value)) ctx->*setting.field = LowSigned16(ParseNumber(value));
        matched = true;
        break;
      }
    }
    if (!matched && ctx->Initialised == 0 && KeyIs(key, "HDR")) {
      if (TakeValue(&cursor, &value)) ctx->HdrTblSize = LimitTableSize(ParseNumber(value));
    }
  }
}

}  // namespace

char* GetToken(char** cursor, const char* separators) {
  char* position = *cursor;
  if (*position == '\0') return nullptr;
  while (IsSeparator(*position, separators)) ++position;
  char* token = position;
  while (*position != '\0' && !IsSeparator(*position, separators)) ++position;
  if (*position != '\0') {
    *position = '\0';
    *cursor = position + 1;
  } else {
    *cursor = position;
  }
  return token;
}

void ReadCfg(ExitContext* ctx, const ExitParms* parms) {
  std::FILE* file = std::fopen(ConfigFilePath(), "r");
  if (file != nullptr) {
    char line[kLinePiece + 2];
    while (std::fgets(line, kLinePiece + 1, file) != nullptr) ReadFileLine(ctx, line);
  }
  ReadExitData(ctx, parms);
  WriteLog(kLogCall, ctx, "ReadCfg: Log level  = %d\n", static_cast<int>(ctx->LogLevel));
  if (file != nullptr) std::fclose(file);
}

}  // namespace velt
