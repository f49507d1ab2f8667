// Run-length encoder of the compressed segments (send side).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codec.h"
#include "codec_simd.h"

namespace velt {
namespace {

using rle::Byte;
using rle::kEsc;

// True when four equal bytes start at s[0]; the caller guarantees four bytes.
inline bool RunStarts(const Byte* s) { return s[1] == s[0] && s[2] == s[0] && s[3] == s[0]; }

// Copies the literal stretch at the start of s to d: the bytes before the
// first 0xAB or the first place where four equal bytes begin, at most limit
// of them. avail (>= limit) is the number of input bytes left, which bounds
// the three bytes of look-ahead. Returns the number of bytes copied.
std::size_t CopyLiterals(const Byte* s, Byte* d, std::size_t limit, std::size_t avail) {
  std::size_t k = 0;
#if defined(VELT_RLE_SSE2)
  // A run starts at byte j when s[j] == s[j+1] == s[j+2] == s[j+3]: four
  // loads shifted by one byte compare each position with its next three.
  const __m128i esc = _mm_set1_epi8(static_cast<char>(kEsc));
  for (; k + 16 <= limit && k + 19 <= avail; k += 16) {
    const __m128i a = rle::Load(s + k);
    const __m128i eq = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(a, rle::Load(s + k + 1)),
                                                   _mm_cmpeq_epi8(a, rle::Load(s + k + 2))),
                                     _mm_cmpeq_epi8(a, rle::Load(s + k + 3)));
    const unsigned m = rle::Mask(_mm_or_si128(eq, _mm_cmpeq_epi8(a, esc)));
    if (m != 0) {
      const std::size_t t = static_cast<std::size_t>(std::countr_zero(m));
      rle::CopyShort(d + k, s + k, t);
      return k + t;
    }
    rle::Store(d + k, a);
  }
#else
  // The same test a word at a time: a zero byte in (a ^ a1) | (a ^ a2) | (a ^ a3)
  // marks the start of a run, a zero byte in a ^ 0xABAB... an escape byte.
  constexpr std::size_t w = rle::kBlock;
  for (; k + w <= limit && k + w + 3 <= avail; k += w) {
    const rle::Word a = rle::LoadWord(s + k);
    const rle::Word same =
        (a ^ rle::LoadWord(s + k + 1)) | (a ^ rle::LoadWord(s + k + 2)) | (a ^ rle::LoadWord(s + k + 3));
    const rle::Word m = rle::ZeroBytes(same) | rle::ZeroBytes(a ^ (rle::kOnes * kEsc));
    if (m != 0) {
      const std::size_t t = rle::FirstFlagged(m);
      rle::CopyShort(d + k, s + k, t);
      return k + t;
    }
    std::memcpy(d + k, &a, sizeof a);
  }
#endif
  for (; k < limit; ++k) {
    const Byte b = s[k];
    if (b == kEsc || (avail - k >= 4 && RunStarts(s + k))) break;
    d[k] = b;
  }
  return k;
}

}  // namespace

// The loop below produces, token by token, the stream of the byte-at-a-time
// rules: a 0xAB becomes 0xAB 0xAB; four to 255 equal bytes b become 0xAB b n;
// any other byte stands for itself. Stretches of plain bytes and of 0xAB are
// handled in bulk; the capacity is checked once per stretch instead of per
// byte, with the same outcome.
int32_t EncodeRLE(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity) {
  if (length <= 0 || capacity <= 0) return 0;
  const std::size_t n = static_cast<std::size_t>(length);
  const std::size_t cap = static_cast<std::size_t>(capacity);
  std::size_t i = 0;  // input bytes consumed
  std::size_t o = 0;  // stream bytes written
  while (i < n && o < cap) {
    const std::size_t lit = CopyLiterals(src + i, dst + o, std::min(n - i, cap - o), n - i);
    i += lit;
    o += lit;
    if (i == n || o == cap) break;

    const Byte b = src[i];
    if (b == kEsc) {
      // k escape bytes become k escaped escapes of two bytes each.
      const std::size_t room_pairs = (cap - o) / 2;
      const std::size_t k = rle::SkipByte(src + i, std::min(n - i, room_pairs + 1), kEsc);
      if (k > room_pairs) {
        // The escaped escape after the last whole one does not fit. The
        // room left is then 0 (the count equals the capacity) or 1 (the
        // result is count + 1): the capacity in both cases.
        rle::Fill(dst + o, kEsc, 2 * room_pairs);
        return capacity;
      }
      rle::Fill(dst + o, kEsc, 2 * k);
      o += 2 * k;
      i += k;
      continue;
    }

    // Four equal bytes b begin here (CopyLiterals stopped on them).
    if (cap - o < 3) {
      // The token does not fit: count + 3, held within the result's range.
      return static_cast<int32_t>(std::min<std::size_t>(o + 3, INT32_MAX));
    }
    const std::size_t more = std::min<std::size_t>(n - i - 4, kRleMaxRun - 4);
    const std::size_t r = 4 + rle::SkipByte(src + i + 4, more, b);
    dst[o] = kEsc;
    dst[o + 1] = b;
    dst[o + 2] = static_cast<Byte>(r);
    o += 3;
    i += r;
  }
  return static_cast<int32_t>(o);
}

}  // namespace velt
