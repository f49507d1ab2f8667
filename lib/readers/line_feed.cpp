#include "readers/line_feed.h"

#include <charconv>
#include <iterator>

namespace velt::readers {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Numbers longer than this are no number the exits write.
constexpr std::size_t kMaxDigits = 18;

constexpr double kPowersOfTen[kMaxDigits + 1] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                                 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

}  // namespace

LineFormat CompileFormat(const char* format) {
  LineFormat compiled;
  const char* literal = format;
  for (const char* f = format;; ++f) {
    if (*f != '\0' && *f != '\n' && *f != '%') continue;
    if (compiled.count == static_cast<int>(std::size(compiled.pieces))) return compiled;
    LineFormat::Piece& piece = compiled.pieces[compiled.count++];
    piece.literal = std::string_view(literal, static_cast<std::size_t>(f - literal));
    piece.conversion = '\0';
    if (*f != '%') break;
    ++f;
    while (*f == '-' || *f == '+' || *f == ' ' || *f == '#' || *f == '0') ++f;
    while (IsDigit(*f) || *f == '.') ++f;
    while (*f == 'l' || *f == 'h') ++f;
    if (*f != 'd' && *f != 'f') return compiled;
    piece.conversion = *f;
    literal = f + 1;
  }
  compiled.valid = true;
  return compiled;
}

bool MatchLine(const LineFormat& format, std::string_view line, Matched* out) {
  if (!format.valid) return false;
  out->integer_count = 0;
  out->real_count = 0;
  const char* at = line.data();
  const char* const end = at + line.size();
  for (int i = 0; i < format.count; ++i) {
    const LineFormat::Piece& piece = format.pieces[i];
    const std::size_t length = piece.literal.size();
    if (static_cast<std::size_t>(end - at) < length || std::memcmp(at, piece.literal.data(), length) != 0) return false;
    at += length;
    if (piece.conversion == '\0') return at == end;

    while (at < end && *at == ' ') ++at;
    const bool negative = at < end && *at == '-';
    if (negative) ++at;
    int64_t digits = 0;
    std::size_t count = 0;
    std::size_t decimals = 0;
    const char* number = at;
    // More digits than kMaxDigits would overflow: no number the exits write.
    for (; at < end && IsDigit(*at); ++at) {
      if (++count > kMaxDigits) return false;
      digits = digits * 10 + (*at - '0');
    }
    if (piece.conversion == 'f' && at < end && *at == '.') {
      for (++at; at < end && IsDigit(*at); ++at, ++decimals) {
        if (++count > kMaxDigits) return false;
        digits = digits * 10 + (*at - '0');
      }
    }
    if (count == 0) return false;
    if (piece.conversion == 'd') {
      if (out->integer_count == 4) return false;
      out->integers[out->integer_count++] = negative ? -digits : digits;
    } else {
      if (out->real_count == 2) return false;
      // Digits and power of ten are exact doubles below 2^53, so their
      // quotient is the correctly rounded value a full conversion gives.
      double value = 0;
      if (digits < (int64_t{1} << 53)) {
        value = static_cast<double>(digits) / kPowersOfTen[decimals];
      } else {
        std::from_chars(number, at, value);
      }
      out->reals[out->real_count++] = negative ? -value : value;
    }
  }
  return at == end;
}

std::string_view LiteralHead(const char* format) {
  std::string_view text(format);
  return text.substr(0, text.find_first_of("%\n"));
}

}  // namespace velt::readers
