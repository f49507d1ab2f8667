// The log reader on any bytes, fed whole and again in chunks of sizes taken
// from the input: both readings must agree, and what is kept stays within
// its bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "readers/log_reader.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

velt::readers::LogReport Read(const uint8_t* data, std::size_t size, std::size_t chunk) {
  velt::readers::LogReader reader;
  for (std::size_t at = 0; at < size; at += chunk)
    velt::readers::FeedLog(&reader, reinterpret_cast<const char*>(data) + at, chunk < size - at ? chunk : size - at);
  velt::readers::FinishLog(&reader);
  return reader.report;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = 1 + data[0] % 64;
  const velt::readers::LogReport whole = Read(data + 1, size - 1, size);
  const velt::readers::LogReport pieces = Read(data + 1, size - 1, chunk);
  Require(whole.lines == pieces.lines && whole.messages == pieces.messages && whole.unreadable == pieces.unreadable);
  Require(whole.dump_lines == pieces.dump_lines && whole.blank_lines == pieces.blank_lines);
  Require(whole.unreadable_lines == pieces.unreadable_lines);
  Require(whole.partial_last_line == pieces.partial_last_line);
  Require(whole.action_count == pieces.action_count && whole.actions.size() == pieces.actions.size());
  for (std::size_t i = 0; i < whole.actions.size(); ++i)
    Require(whole.actions[i].line == pieces.actions[i].line && whole.actions[i].text == pieces.actions[i].text);
  int64_t by_level = 0;
  int64_t by_kind = 0;
  for (const int64_t n : whole.by_level) by_level += n;
  for (const auto& k : whole.kinds) by_kind += k.count;
  Require(by_level == whole.messages && by_kind == whole.messages);
  Require(whole.dump_lines + whole.blank_lines + whole.unreadable <= whole.lines);
  Require(whole.unreadable_lines.size() <= velt::readers::kNamedLines);
  Require(whole.actions.size() <= velt::readers::kKeptActions);
  for (const auto& a : whole.actions) Require(a.text.size() <= velt::readers::kMaxLine);
  return 0;
}
