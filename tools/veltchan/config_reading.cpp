#include "config_reading.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fmt/format.h>

#include "host/config.h"
#include "host/platform.h"

namespace velt::chan {

namespace {

constexpr const char* kDataKeywords[] = {"COMP", "STAT", "LOG", "HDR"};

int SettingIndex(const char* keyword) {
  for (int i = 0; i < kSettings; ++i)
    if (std::strcmp(kFileKeywords[i], keyword) == 0) return i;
  return -1;
}

// Lower case, for the nearest keyword to a misspelt one.
std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The keyword a key that matched none was probably meant to be.
std::string Suggestion(const std::string& key, bool in_file) {
  const std::string lower = Lower(key);
  std::string best;
  std::size_t best_distance = 3;
  auto consider = [&](const char* keyword) {
    if (best_distance == 0) return;
    const std::string k = Lower(keyword);
    if (lower.rfind(k, 0) == 0 || (lower.size() >= 3 && k.rfind(lower, 0) == 0)) {
      best = keyword;
      best_distance = 0;
      return;
    }
    const std::size_t d = Distance(lower.substr(0, std::max(k.size(), std::min(lower.size(), k.size() + 2))), k);
    if (d < best_distance) {
      best_distance = d;
      best = keyword;
    }
  };
  if (in_file) {
    for (const char* k : kFileKeywords) consider(k);
  } else {
    for (const char* k : kDataKeywords) consider(k);
  }
  return best;
}

std::string Where(const CfgNote& note) {
  if (note.source == CfgSource::kExitData) return "exit data";
  return note.continued ? fmt::format("line {} (past its 510th character)", note.line)
                        : fmt::format("line {}", note.line);
}

std::string NoteText(const Side& side, const CfgNote& note) {
  if (note.source == CfgSource::kFile && note.line >= 1 &&
      static_cast<std::size_t>(note.line) <= side.file_lines.size())
    return Printable(side.file_lines[static_cast<std::size_t>(note.line) - 1]);
  std::string text = note.key != nullptr ? note.key : "";
  if (note.value != nullptr) text += fmt::format("={}", note.value);
  return Printable(text);
}

bool IsNumber(const char* value) {
  while (*value == ' ' || *value == '\t') ++value;
  if (*value == '+' || *value == '-') ++value;
  return *value >= '0' && *value <= '9';
}

// The number a value says as a person reads it, against which the exit's
// reading (digits until the first other character, modulo 2^32) is checked.
struct Said {
  bool fits = true;       // within 64 bits
  int64_t value = 0;      // when it fits
  bool trailing = false;  // something other than digits follows them
};
Said ReadSaid(const char* text) {
  Said said;
  while (*text == ' ' || *text == '\t') ++text;
  const bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  for (; *text >= '0' && *text <= '9'; ++text) {
    said.fits = said.fits && !__builtin_mul_overflow(said.value, 10, &said.value) &&
                !__builtin_add_overflow(said.value, *text - '0', &said.value);
  }
  if (negative) said.value = -said.value;
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
  said.trailing = *text != '\0';
  return said;
}

// Collects what the reader tells, for the first reading of an instance.
struct Collector {
  Side* side;
  std::vector<std::pair<int, Finding>> sets;  // setting, the line that set it (for "given again")
};

void OnNote(void* user, const CfgNote& note) {
  auto* c = static_cast<Collector*>(user);
  Side& side = *c->side;
  Finding f{Where(note), NoteText(side, note), "", true};
  const std::string key = note.key != nullptr ? Printable(note.key) : "";
  switch (note.event) {
    case CfgEvent::kSet:
    case CfgEvent::kClamped: {
      const int setting = SettingIndex(note.keyword);
      if (setting < 0) return;
      // An earlier line that set the same setting set nothing in the end.
      for (auto& [earlier_setting, earlier] : c->sets) {
        if (earlier_setting != setting || !earlier.problem) continue;
        earlier.why =
            fmt::format("{} given again {}, which wins", note.keyword,
                        note.source == CfgSource::kExitData ? std::string("in the exit data") : "on " + f.where);
        side.findings.push_back(earlier);
        earlier.problem = false;
      }
      Source& s = side.source[setting];
      s.label = note.source == CfgSource::kExitData ? "exit data" : fmt::format("file line {}", note.line);
      s.line = note.source == CfgSource::kFile ? note.line : 0;
      s.text = f.text;
      c->sets.push_back({setting, f});
      Finding remark = f;
      remark.problem = false;
      if (note.event == CfgEvent::kClamped) {
        remark.why =
            fmt::format("HdrTblSize {} is outside 1 to 16: limited to {}",
                        note.value != nullptr && IsNumber(note.value) ? Printable(note.value) : "0", note.stored);
        remark.problem = true;
      } else if (setting != 3 && setting != 5 && note.value != nullptr && !IsNumber(note.value)) {
        remark.why = fmt::format("\"{}\" is not a number: {} set to 0", Printable(note.value), note.keyword);
        remark.problem = true;
      } else if (setting != 3 && setting != 5 && note.value != nullptr) {
        const Said said = ReadSaid(note.value);
        if (said.trailing) {
          remark.why = fmt::format("\"{}\" is read up to the first character that is no digit: {} set to {}",
                                   Printable(note.value), note.keyword, note.stored);
          remark.problem = true;
        } else if (!said.fits || said.value != note.stored) {
          remark.why = setting == 4 ? fmt::format("HdrTblSize {} is outside 1 to 16: the exit reads it as {}",
                                                  Printable(note.value), note.stored)
                                    : fmt::format("{} does not fit 16 bits: {} set to {}", Printable(note.value),
                                                  note.keyword, note.stored);
          remark.problem = true;
        }
      }
      if (remark.problem) side.findings.push_back(remark);
      if (note.continued) {
        // Whatever the line's start says (a comment, another setting), the
        // exit took this piece as a line of its own.
        Finding piece = f;
        piece.why = fmt::format(
            "the exit reads a line 510 characters at a time: the text past them set {} as a line of its own",
            note.keyword);
        side.findings.push_back(piece);
      }
      return;
    }
    case CfgEvent::kUnknownKey: {
      const std::string near = Suggestion(note.key != nullptr ? note.key : "", note.source == CfgSource::kFile);
      f.why = fmt::format("{} is no keyword{}", key.empty() ? "the key" : fmt::format("\"{}\"", key),
                          near.empty() ? std::string()
                                       : fmt::format(" (keys are case-sensitive and begin with the whole "
                                                     "keyword: did you mean {}?)",
                                                     near));
      if (key.find("\\t") != std::string::npos) f.why += "; a tab is no separator";
      break;
    }
    case CfgEvent::kNoValue:
      f.why = fmt::format("{} has no value: the setting keeps its value{}", note.keyword,
                          key.find("\\t") != std::string::npos ? " (a tab is no separator)" : "");
      break;
    case CfgEvent::kOnceOnlyIgnored:
      f.why = fmt::format("{} is taken only when the instance starts", note.keyword);
      break;
    case CfgEvent::kRestIgnored:
      f.why = fmt::format("one setting per line: \"{}\" after the value is ignored", Printable(note.value));
      break;
    case CfgEvent::kExitDataIgnored: {
      // A channel without exit data has 32 blanks: nothing was meant.
      std::string text = note.value != nullptr ? note.value : "";
      while (!text.empty() && text.back() == ' ') text.pop_back();
      if (text.empty()) return;
      f.text = "\"" + Printable(text) + "\"";
      f.why = "exit data that begins with a blank is ignored, all of it";
      break;
    }
  }
  side.findings.push_back(f);
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (lines.size() < 100000 && std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace

std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\n' || c == '\r') {
      continue;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += '?';
    } else {
      out += c;
    }
  }
  if (out.size() > 120) out = out.substr(0, 117) + "...";
  return out;
}

std::string Stored(const ExitContext& ctx, int setting) {
  switch (setting) {
    case 0: return std::to_string(ctx.Compression);
    case 1: return std::to_string(ctx.Statistics);
    case 2: return std::to_string(ctx.LogLevel);
    case 3: return ctx.LogFile;
    case 4: return std::to_string(ctx.HdrTblSize);
    default: return ctx.StatsFile;
  }
}

void ReadSide(Side* side, const ConfigSide& given, const char* name) {
  side->name = name;
  side->file = given.file ? *given.file : ConfigFilePath();
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(side->file, ec);
  // Where the exits look by default, a directory opens and reads as empty:
  // they take the defaults, and the report says the file cannot be read.
  const bool directory = std::filesystem::is_directory(status);
  if (given.file && directory) throw UsageError(fmt::format("cannot read {}: it is a directory", *given.file));
  // The file is read three times (its lines, then the two readings of an
  // instance): a pipe would give its text to the first alone, a FIFO
  // without a writer or a device like /dev/zero would never end.
  if (std::filesystem::exists(status) && !directory && !std::filesystem::is_regular_file(status))
    throw UsageError(fmt::format("cannot read {}: not a regular file", side->file));
  if (given.file) {
    std::ifstream probe(*given.file);
    if (!probe) throw UsageError(fmt::format("cannot read {}: {}", *given.file, std::strerror(errno)));
  }
  const std::string data = given.exit_data.value_or("");
  if (data.size() > kExitDataLength)
    throw UsageError(fmt::format("exit data \"{}\" is longer than the channel's {} characters", data, kExitDataLength));
  side->exit_data = data + std::string(kExitDataLength - data.size(), ' ');
  side->file_lines = FileLines(side->file);

  // As an instance takes them: the first reading with every key, then the
  // reading at MQXR_INIT, which keeps LogFile, StatsFile and HdrTblSize.
  SetDefaults(&side->ctx, name);
  Collector collector{side, {}};
  const CfgObserver observer{OnNote, &collector};
  side->file_read = ReadSettings(&side->ctx, side->file.c_str(), side->exit_data.c_str(), &observer) && !directory;
  side->ctx.Initialised = 1;
  ReadSettings(&side->ctx, side->file.c_str(), side->exit_data.c_str(), nullptr);
  std::stable_sort(side->findings.begin(), side->findings.end(), [](const Finding& a, const Finding& b) {
    const auto rank = [](const Finding& f) { return f.where == "exit data" ? 1 : 0; };
    return rank(a) < rank(b);
  });
}

void ReadTakenSettings(const std::string& file, const std::string& exit_data, RunInfo* info) {
  Side taken;
  ReadSide(&taken, ConfigSide{file, exit_data}, "sender");
  info->compression = taken.ctx.Compression;
  info->hdr_table = taken.ctx.HdrTblSize;
  info->log_level = taken.ctx.LogLevel;
  info->statistics = taken.ctx.Statistics;
}

}  // namespace velt::chan
