// Run-length decoder of the compressed segments (receive side).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codec.h"
#include "codec_simd.h"

namespace velt {

using rle::Byte;
using rle::kEsc;

// Token by token: a byte other than 0xAB stands for itself, 0xAB 0xAB for one
// 0xAB, 0xAB b n for n copies of b. Stretches of plain bytes and of escaped
// escapes are copied in bulk; output stops exactly at the capacity, even
// inside a run. A token cut off by the end of the input is not expanded.
int32_t DecodeRLEChecked(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity,
                         RleDecodeInfo* info) {
  RleDecodeInfo unused;
  RleDecodeInfo& out = info != nullptr ? *info : unused;
  out.consumed = 0;
  out.truncated = false;
  // No room means nothing is written, not even a first byte.
  if (length <= 0 || capacity <= 0) return 0;

  const std::size_t n = static_cast<std::size_t>(length);
  const std::size_t cap = static_cast<std::size_t>(capacity);
  std::size_t i = 0;  // input bytes of tokens expanded in full
  std::size_t o = 0;  // bytes written
  for (;;) {
    const std::size_t lit = rle::CopyUntilByte(src + i, dst + o, std::min(n - i, cap - o), kEsc);
    i += lit;
    o += lit;
    if (o == cap || i == n) break;

    // src[i] is an escape.
    if (n - i < 2) {
      out.truncated = true;
      break;
    }
    const Byte c = src[i + 1];
    if (c == kEsc) {
      // A stretch of escape bytes: each pair is one 0xAB. An odd last one
      // starts the next token.
      const std::size_t room = cap - o;
      const std::size_t pairs = rle::SkipByte(src + i, std::min(n - i, 2 * room), kEsc) / 2;
      rle::Fill(dst + o, kEsc, pairs);
      o += pairs;
      i += 2 * pairs;
      continue;
    }
    if (n - i < 3) {
      out.truncated = true;
      break;
    }
    const std::size_t r = src[i + 2];
    const std::size_t room = cap - o;
    if (r >= room) {
      // The capacity ends inside this run (or exactly at its end).
      rle::Fill(dst + o, c, room);
      o = cap;
      if (r == room) i += 3;
      break;
    }
    rle::Fill(dst + o, c, r);
    o += r;
    i += 3;
  }
  out.consumed = static_cast<int32_t>(i);
  return static_cast<int32_t>(o);
}

int32_t DecodeRLE(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity) {
  return DecodeRLEChecked(src, dst, length, capacity, nullptr);
}

}  // namespace velt
