// The run-length codec of the compressed segments.
//
// Stream: a sequence of tokens with the escape byte 0xAB.
//   literal        b            (b != 0xAB)      one byte b
//   escaped escape 0xAB 0xAB                     one byte 0xAB
//   run            0xAB b n     (b != 0xAB)      n copies of b (n 0..255)
// The encoder writes runs of 4 to 255 only; a longer run is cut after 255 and
// the rest looked at afresh. The stream has no header and no terminator.
//
// The contract, once for every function below:
//   - Lengths, capacities and results are signed 32-bit values; length <= 0
//     or capacity <= 0 gives 0 and writes nothing.
//   - src is read only within its length; dst is written only below its
//     capacity; source and destination never overlap.
//   - A result below the capacity is a whole output; a result that reaches
//     the capacity may have been cut short. RleFits says which, for both
//     directions, and is the one test callers make.
//   - The encoder touches no byte past the tokens it wrote. The decoder may
//     write scratch bytes between its result and the capacity (whole vector
//     stores that the next token overwrites), never at or past the capacity.
#pragma once

#include <cstdint>

namespace velt {

inline constexpr unsigned char kRleEscape = 0xAB;
inline constexpr int kRleMinRun = 4;
inline constexpr int kRleMaxRun = 255;

// Encodes length bytes of src into dst, writing a token only when it fits
// whole. Returns the stream length when the whole input was encoded; out of
// room, a value >= capacity (count + 1 at an escaped escape, count + 3 at a
// run, capped at INT32_MAX, or the count when it equals the capacity). A
// caller whose capacity is at least length uses the stream exactly when the
// result fits and is below length.
int32_t EncodeRLE(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity);

// Expands the stream of length bytes at src into dst. Stops as soon as the
// output reaches capacity, even inside a run, and returns the bytes expanded;
// a result equal to capacity cannot tell an exact fit from a cut expansion
// (DecodeRLEChecked can). A stream that ends inside a token (a lone 0xAB, or
// 0xAB and one byte other than 0xAB) expands to everything before it.
int32_t DecodeRLE(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity);

// What DecodeRLE cannot tell through its count.
struct RleDecodeInfo {
  int32_t consumed;  // input bytes of the tokens expanded in full
  bool truncated;    // the input ended inside a token
};

// DecodeRLE with the outcome for callers that must refuse an incomplete
// stream. The stream was whole and fully used exactly when
// !info->truncated && info->consumed == length; with a result equal to the
// capacity this tells an exact fit from a cut expansion (a run cut by the
// capacity is not consumed, one that ends exactly at it is). info may be
// null.
int32_t DecodeRLEChecked(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity,
                         RleDecodeInfo* info);

// Did it fit: true when a result of EncodeRLE or DecodeRLE with this capacity
// is a whole output that left room to spare. Both directions use it: a stream
// (or an expansion) that reaches the capacity may have been cut short.
inline constexpr bool RleFits(int32_t result, int32_t capacity) { return result < capacity; }

}  // namespace velt
