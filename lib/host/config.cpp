#include "host/config.h"

#include <cstdio>
#include <cstring>

#include "host/context.h"
#include "host/log.h"
#include "host/log_lines.h"
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

// Where the reader is, for the observer; observer is null in the exits.
struct Reading {
  const CfgObserver* observer;
  CfgSource source;
  int line;
  bool continued;
};

void Tell(const Reading& at, CfgEvent event, const char* key, const char* keyword, const char* value,
          uint32_t number = 0, int32_t stored = 0) {
  if (at.observer == nullptr) return;
  at.observer->note(at.observer->user,
                    CfgNote{event, at.source, at.line, at.continued, key, keyword, value, number, stored});
}

// A value token of a file line without its line end, for the observer.
struct ShownValue {
  char text[kLinePiece + 2];
};
ShownValue Shown(const char* token) {
  ShownValue shown{};
  std::size_t length = std::strcspn(token, "\r\n");
  if (length > kLinePiece) length = kLinePiece;
  std::memcpy(shown.text, token, length);
  shown.text[length] = '\0';
  return shown;
}

// Tells what a file line holds after its value, which the reader passes over.
void TellRest(const Reading& at, const char* key, const char* keyword, char* cursor) {
  if (at.observer == nullptr) return;
  while (IsSeparator(*cursor, kCfgSeparators)) ++cursor;
  const ShownValue rest = Shown(cursor);
  if (rest.text[0] != '\0') Tell(at, CfgEvent::kRestIgnored, key, keyword, rest.text);
}

void StoreNumber(const Reading& at, ExitContext* ctx, int16_t ExitContext::*field, const char* key, const char* keyword,
                 const char* value) {
  const uint32_t number = ParseNumber(value);
  ctx->*field = LowSigned16(number);
  if (at.observer != nullptr) Tell(at, CfgEvent::kSet, key, keyword, Shown(value).text, number, ctx->*field);
}

void StoreTableSize(const Reading& at, ExitContext* ctx, const char* key, const char* value) {
  const uint32_t number = ParseNumber(value);
  ctx->HdrTblSize = LimitTableSize(number);
  if (at.observer == nullptr) return;
  const bool limited = (number & 0xFFFFu) != ctx->HdrTblSize || number > 0xFFFFu;
  Tell(at, limited ? CfgEvent::kClamped : CfgEvent::kSet, key, "HdrTblSize", Shown(value).text, number,
       ctx->HdrTblSize);
}

// A file name is told as stored, without its line end.
void StoreFileName(const Reading& at, char (&field)[kFileNameCapacity], std::FILE** stream, const char* key,
                   const char* keyword, const char* value) {
  CopyFileName(field, value);
  if (*stream != nullptr) {
    std::fclose(*stream);
    *stream = nullptr;
  }
  Tell(at, CfgEvent::kSet, key, keyword, field);
}

void ReadFileLine(ExitContext* ctx, char* line, const Reading& at) {
  char* cursor = line;
  while (*cursor == ' ' || *cursor == '\t') ++cursor;
  if (*cursor == '\n' || *cursor == '#' || *cursor == '!') return;

  const char* key = GetToken(&cursor, kCfgSeparators);
  if (key == nullptr) return;
  const char* value = nullptr;

  for (const NumberKey& setting : kNumberKeys) {
    if (KeyIs(key, setting.file_key)) {
      if (TakeValue(&cursor, &value)) {
        StoreNumber(at, ctx, setting.field, key, setting.file_key, value);
        TellRest(at, key, setting.file_key, cursor);
      } else {
        Tell(at, CfgEvent::kNoValue, key, setting.file_key, nullptr);
      }
      return;
    }
  }
  if (ctx->Initialised != 0) {
    if (at.observer == nullptr) return;
    static constexpr const char* kOnceOnly[] = {"LogFile", "HdrTblSize", "StatsFile"};
    for (const char* keyword : kOnceOnly) {
      if (KeyIs(key, keyword)) return Tell(at, CfgEvent::kOnceOnlyIgnored, key, keyword, nullptr);
    }
    if (*key != '\0') Tell(at, CfgEvent::kUnknownKey, key, nullptr, nullptr);
    return;
  }

  const char* keyword = nullptr;
  if (KeyIs(key, "LogFile")) {
    keyword = "LogFile";
    if (TakeValue(&cursor, &value)) StoreFileName(at, ctx->LogFile, &ctx->LogStream, key, keyword, value);
  } else if (KeyIs(key, "HdrTblSize")) {
    keyword = "HdrTblSize";
    if (TakeValue(&cursor, &value)) StoreTableSize(at, ctx, key, value);
  } else if (KeyIs(key, "StatsFile")) {
    keyword = "StatsFile";
    if (TakeValue(&cursor, &value)) StoreFileName(at, ctx->StatsFile, &ctx->StatsStream, key, keyword, value);
  }
  if (at.observer == nullptr) return;
  if (keyword == nullptr) {
    // A line of separators alone gives an empty key, which is no keyword
    // either but not worth telling.
    if (Shown(key).text[0] != '\0') Tell(at, CfgEvent::kUnknownKey, key, nullptr, nullptr);
  } else if (value == nullptr) {
    Tell(at, CfgEvent::kNoValue, key, keyword, nullptr);
  } else {
    TellRest(at, key, keyword, cursor);
  }
}

void ReadExitData(ExitContext* ctx, const char* exit_data, const CfgObserver* observer) {
  const Reading at{observer, CfgSource::kExitData, 0, false};
  if (exit_data[0] == ' ') {
    if (observer != nullptr) {
      char shown[kExitDataLength + 1];
      std::memcpy(shown, exit_data, kExitDataLength);
      shown[kExitDataLength] = '\0';
      Tell(at, CfgEvent::kExitDataIgnored, nullptr, nullptr, shown);
    }
    return;
  }
  char text[kExitDataLength + 1];
  std::memcpy(text, exit_data, kExitDataLength);
  text[kExitDataLength] = '\0';

  char* cursor = text;
  while (const char* key = GetToken(&cursor, kCfgSeparators)) {
    const char* value = nullptr;
    bool matched = false;
    for (const NumberKey& setting : kNumberKeys) {
      if (KeyIs(key, setting.data_key)) {
        if (TakeValue(&cursor, &value)) {
          StoreNumber(at, ctx, setting.field, key, setting.file_key, value);
        } else {
          Tell(at, CfgEvent::kNoValue, key, setting.file_key, nullptr);
        }
        matched = true;
        break;
      }
    }
    if (matched) continue;
    if (ctx->Initialised == 0 && KeyIs(key, "HDR")) {
      if (TakeValue(&cursor, &value)) {
        StoreTableSize(at, ctx, key, value);
      } else {
        Tell(at, CfgEvent::kNoValue, key, "HdrTblSize", nullptr);
      }
    } else if (observer != nullptr && *key != '\0') {
      Tell(at, KeyIs(key, "HDR") ? CfgEvent::kOnceOnlyIgnored : CfgEvent::kUnknownKey, key,
           KeyIs(key, "HDR") ? "HdrTblSize" : nullptr, nullptr);
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

bool ReadSettings(ExitContext* ctx, const char* file_name, const char* exit_data, const CfgObserver* observer) {
  std::FILE* file = std::fopen(file_name, "r");
  if (file != nullptr) {
    char line[kLinePiece + 2];
    Reading at{observer, CfgSource::kFile, 0, false};
    bool line_ended = true;
    while (std::fgets(line, kLinePiece + 1, file) != nullptr) {
      // A piece of a long line is read as a line of its own; the observer
      // is told the line it belongs to.
      at.continued = !line_ended;
      if (line_ended) ++at.line;
      line_ended = std::strchr(line, '\n') != nullptr;
      ReadFileLine(ctx, line, at);
    }
    std::fclose(file);
  }
  ReadExitData(ctx, exit_data, observer);
  return file != nullptr;
}

void ReadCfg(ExitContext* ctx, const ExitParms* parms) {
  ReadSettings(ctx, ConfigFilePath(), parms->ExitData, nullptr);
  WriteLog(kLogCall, ctx, kLogConfigRead, static_cast<int>(ctx->LogLevel));
}

}  // namespace velt
