#include "readers/line_feed.h"

#include <charconv>

namespace velt::readers {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Numbers longer than this are no number the exits write.
constexpr std::size_t kMaxDigits = 18;

}  // namespace

bool MatchLine(const char* format, std::string_view line, Matched* out) {
  *out = Matched{};
  std::size_t at = 0;
  for (const char* f = format; *f != '\0'; ++f) {
    if (*f == '\n') return at == line.size();
    if (*f != '%') {
      if (at >= line.size() || line[at] != *f) return false;
      ++at;
      continue;
    }
    ++f;
    while (*f == '-' || *f == '+' || *f == ' ' || *f == '#' || *f == '0') ++f;
    while (IsDigit(*f) || *f == '.') ++f;
    while (*f == 'l' || *f == 'h') ++f;
    const char conversion = *f;
    if (conversion != 'd' && conversion != 'f') return false;
    while (at < line.size() && line[at] == ' ') ++at;
    const std::size_t start = at;
    if (at < line.size() && line[at] == '-') ++at;
    const std::size_t digits_from = at;
    while (at < line.size() && IsDigit(line[at])) ++at;
    if (conversion == 'f' && at < line.size() && line[at] == '.') {
      ++at;
      while (at < line.size() && IsDigit(line[at])) ++at;
    }
    if (at == digits_from || at - digits_from > kMaxDigits) return false;
    const char* first = line.data() + start;
    const char* last = line.data() + at;
    if (conversion == 'd') {
      if (out->integer_count == 4) return false;
      int64_t value = 0;
      if (std::from_chars(first, last, value).ptr != last) return false;
      out->integers[out->integer_count++] = value;
    } else {
      if (out->real_count == 2) return false;
      double value = 0;
      if (std::from_chars(first, last, value).ptr != last) return false;
      out->reals[out->real_count++] = value;
    }
  }
  return at == line.size();
}

std::string_view LiteralHead(const char* format) {
  std::string_view text(format);
  return text.substr(0, text.find_first_of("%\n"));
}

}  // namespace velt::readers
