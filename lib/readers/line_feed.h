// Cuts a byte stream, fed in chunks of any size, into lines: the common
// front of the readers of the exits' files. A line longer than kMaxLine is
// reported by its number and never held whole, so memory stays bounded on
// any input; a last line without its line end is held back, as the writer
// may still be writing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace velt::readers {

inline constexpr std::size_t kMaxLine = 4096;
// Readers name at most this many unreadable lines by number and count the rest.
inline constexpr std::size_t kNamedLines = 20;

struct LineFeed {
  std::string carry;      // the start of a line whose end has not come yet
  bool overlong = false;  // the line being carried is past kMaxLine: only its end is awaited
  int64_t lines = 0;      // whole lines handed on so far
};

// Whether a line was begun and not ended: a file still being written.
inline bool LinePending(const LineFeed& feed) { return feed.overlong || !feed.carry.empty(); }

// Calls on_line(number, text) for each whole line (text without "\n" or a
// "\r" before it) and on_overlong(number) for each line past kMaxLine.
template <typename OnLine, typename OnOverlong>
void FeedLines(LineFeed* feed, const char* data, std::size_t size, OnLine&& on_line, OnOverlong&& on_overlong) {
  while (size > 0) {
    const auto* end = static_cast<const char*>(std::memchr(data, '\n', size));
    const std::size_t piece = end != nullptr ? static_cast<std::size_t>(end - data) : size;
    if (end != nullptr && !feed->overlong && feed->carry.empty() && piece <= kMaxLine) {
      // The usual case: a whole line inside the chunk, handed on in place.
      std::string_view line(data, piece);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      on_line(++feed->lines, line);
    } else {
      if (!feed->overlong) {
        if (feed->carry.size() + piece > kMaxLine) {
          feed->overlong = true;
          feed->carry.clear();
          feed->carry.shrink_to_fit();
        } else {
          feed->carry.append(data, piece);
        }
      }
      if (end != nullptr) {
        if (feed->overlong) {
          on_overlong(++feed->lines);
        } else {
          std::string_view line(feed->carry);
          if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
          on_line(++feed->lines, line);
        }
        feed->carry.clear();
        feed->overlong = false;
      }
    }
    if (end == nullptr) break;
    data = end + 1;
    size -= piece + 1;
  }
}

// Matches a whole line against one of the writers' printf formats, as far
// as its conversions go: %d and %ld (flags, width and precision allowed)
// read a number after any blanks of padding, %f a decimal fraction; every
// other character must be there as written, and a "\n" ends the format.
// Fills integers and reals in the order of the format's conversions.
struct Matched {
  int64_t integers[4] = {0, 0, 0, 0};
  double reals[2] = {0.0, 0.0};
  int integer_count = 0;
  int real_count = 0;
};

// A format cut once into its literal runs and conversions, so that a line
// is matched with a comparison per run rather than a step per character.
struct LineFormat {
  struct Piece {
    std::string_view literal;  // compared as is; empty before a conversion at the start
    char conversion;           // 'd', 'f', or '\0' after the last literal
  };
  Piece pieces[16];
  int count = 0;
  bool valid = false;  // false: a conversion other than %d or %f, or too many pieces
};
LineFormat CompileFormat(const char* format);
bool MatchLine(const LineFormat& format, std::string_view line, Matched* out);

// The literal text a format begins with, up to its first conversion or line
// end: what a reader recognises a message by.
std::string_view LiteralHead(const char* format);

}  // namespace velt::readers
