// Bulk byte primitives of the run-length codec, private to codec_encode.cpp
// and codec_decode.cpp. Each translation unit gets its own inline copies, so
// the encoder and the decoder stay free of references to each other.
//
// x86 uses SSE2, 16 bytes at a time (also on 32-bit builds whose compiler
// flags leave it off: every processor the exits run on has it). Other
// processors use a machine word at a time. Defining VELT_RLE_PORTABLE forces
// the word path, so that it can be tested on x86 too.
//
// Every load stays inside the buffer it reads: bulk loops stop while a whole
// block still fits and the last few bytes are handled one at a time. Every
// store writes exactly the bytes it is asked for.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if !defined(VELT_RLE_PORTABLE)
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define VELT_RLE_SSE2 1
#elif defined(__GNUC__) && defined(__i386__)
#pragma GCC target("sse2")
#define VELT_RLE_SSE2 1
#endif
#endif

#if defined(VELT_RLE_SSE2)
#include <emmintrin.h>
#endif

namespace velt::rle {

using Byte = unsigned char;
inline constexpr Byte kEsc = 0xAB;

// ---------------------------------------------------------------------------
// Short exact copies and fills (fewer than 16 bytes) through overlapping
// fixed-size moves, so that no call to the library is made for a few bytes.

inline void CopyShort(Byte* d, const Byte* s, std::size_t k) {
  if (k >= 8) {
    std::uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + k - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + k - 8, &b, 8);
  } else if (k >= 4) {
    std::uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + k - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + k - 4, &b, 4);
  } else if (k > 0) {
    d[0] = s[0];
    d[k / 2] = s[k / 2];
    d[k - 1] = s[k - 1];
  }
}

inline void FillShort(Byte* d, Byte c, std::size_t k) {
  if (k >= 8) {
    const std::uint64_t v = 0x0101010101010101ULL * c;
    std::memcpy(d, &v, 8);
    std::memcpy(d + k - 8, &v, 8);
  } else if (k >= 4) {
    const std::uint32_t v = 0x01010101U * c;
    std::memcpy(d, &v, 4);
    std::memcpy(d + k - 4, &v, 4);
  } else if (k > 0) {
    d[0] = c;
    d[k / 2] = c;
    d[k - 1] = c;
  }
}

// Writes k copies of c.
inline void Fill(Byte* d, Byte c, std::size_t k) {
#if defined(VELT_RLE_SSE2)
  if (k < 16) {
    FillShort(d, c, k);
    return;
  }
  const __m128i v = _mm_set1_epi8(static_cast<char>(c));
  if (k <= 64) {
    std::size_t p = 0;
    for (; p + 16 <= k; p += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(d + p), v);
    if (p < k) _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k - 16), v);
    return;
  }
#else
  if (k < 16) {
    FillShort(d, c, k);
    return;
  }
#endif
  std::memset(d, c, k);
}

// ---------------------------------------------------------------------------
// Block scanning.

#if defined(VELT_RLE_SSE2)

inline constexpr std::size_t kBlock = 16;

inline __m128i Load(const Byte* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(Byte* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline unsigned Mask(__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }

#else

using Word = std::size_t;
inline constexpr std::size_t kBlock = sizeof(Word);
inline constexpr Word kOnes = ~Word{0} / 0xFF;
inline constexpr Word kLow7 = kOnes * 0x7F;

inline Word LoadWord(const Byte* p) {
  Word w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The top bit set in every byte of x that is zero, and nothing else (exact,
// unlike the shorter test whose borrows can flag a byte above a zero byte).
inline Word ZeroBytes(Word x) { return ~(((x & kLow7) + kLow7) | x | kLow7); }

// Position in memory order of the first byte flagged by ZeroBytes.
inline std::size_t FirstFlagged(Word m) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(std::countr_zero(m)) / 8;
  } else {
    return static_cast<std::size_t>(std::countl_zero(m)) / 8;
  }
}

#endif

// Number of leading bytes of s equal to c, at most limit.
inline std::size_t SkipByte(const Byte* s, std::size_t limit, Byte c) {
  std::size_t k = 0;
#if defined(VELT_RLE_SSE2)
  const __m128i v = _mm_set1_epi8(static_cast<char>(c));
  for (; k + kBlock <= limit; k += kBlock) {
    const unsigned m = Mask(_mm_cmpeq_epi8(Load(s + k), v)) ^ 0xFFFFu;
    if (m != 0) return k + static_cast<std::size_t>(std::countr_zero(m));
  }
#else
  const Word v = kOnes * c;
  for (; k + kBlock <= limit; k += kBlock) {
    const Word m = ZeroBytes(LoadWord(s + k) ^ v) ^ (kOnes * 0x80);
    if (m != 0) return k + FirstFlagged(m);
  }
#endif
  while (k < limit && s[k] == c) ++k;
  return k;
}

// Copies the leading bytes of s that differ from c to d, at most limit of
// them, and returns how many were copied.
inline std::size_t CopyUntilByte(const Byte* s, Byte* d, std::size_t limit, Byte c) {
  std::size_t k = 0;
#if defined(VELT_RLE_SSE2)
  const __m128i v = _mm_set1_epi8(static_cast<char>(c));
  for (; k + kBlock <= limit; k += kBlock) {
    const __m128i a = Load(s + k);
    const unsigned m = Mask(_mm_cmpeq_epi8(a, v));
    if (m != 0) {
      const std::size_t t = static_cast<std::size_t>(std::countr_zero(m));
      CopyShort(d + k, s + k, t);
      return k + t;
    }
    Store(d + k, a);
  }
#else
  const Word v = kOnes * c;
  for (; k + kBlock <= limit; k += kBlock) {
    const Word a = LoadWord(s + k);
    const Word m = ZeroBytes(a ^ v);
    if (m != 0) {
      const std::size_t t = FirstFlagged(m);
      CopyShort(d + k, s + k, t);
      return k + t;
    }
    std::memcpy(d + k, &a, sizeof a);
  }
#endif
  for (; k < limit && s[k] != c; ++k) d[k] = s[k];
  return k;
}

}  // namespace velt::rle
