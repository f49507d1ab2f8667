// Bulk byte primitives of the run-length codec, private to codec_encode.cpp
// and codec_decode.cpp.
//
// The codec loops live in codec_kernels.h, which each of the two sources
// includes once per instruction set, inside a namespace that supplies the
// vector operations defined here:
//   word    a machine word at a time (processors without SSE2; forced with
//           VELT_RLE_PORTABLE so that it can be tested on x86 too)
//   sse2    16 bytes, the x86 baseline (also on 32-bit builds whose flags
//           leave it off: every processor the exits run on has it)
//   avx512  64 bytes (AVX-512BW; the encoder also VBMI and VBMI2, else
//           it takes sse2), x86-64 with glibc only, chosen per call from
//           the processor description the C library keeps
// Each namespace names a narrower one that finishes the last bytes of a
// buffer, down to `scalar`, so that no load ever reaches past a buffer.
// A 32-byte AVX2 path was measured too and brought nothing over SSE2 (text
// alike, padded records slower), so it is not kept. VELT_RLE_BASELINE holds
// x86-64 to SSE2, for the tests and for the benchmark that shows what the
// wide path brings. GCC and clang (the fuzz targets) both build the wide
// path; with clang the processor is asked through __builtin_cpu_supports.
//
// The encoder's stores write exactly the bytes asked for: nothing past the
// count it returns is touched. The decoder's fast loop (codec_run_decode.h)
// also writes whole vectors past the bytes it keeps, within the capacity:
// the *Over operations below.
#pragma once

#include <algorithm>
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
#if defined(VELT_RLE_SSE2) && defined(__x86_64__) && defined(__GNUC__) && defined(__has_include)
#if __has_include(<sys/platform/x86.h>)
#define VELT_RLE_WIDE 1
#endif
#endif
#endif

#if defined(VELT_RLE_WIDE)
// The wide path's functions are compiled for the extensions they use, one
// region of the source at a time: GCC's target pragmas, or clang's
// attribute pragma (the fuzz targets).
#define VELT_RLE_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define VELT_RLE_TARGET_BEGIN(features) \
  VELT_RLE_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define VELT_RLE_TARGET_END VELT_RLE_PRAGMA(clang attribute pop)
#else
#define VELT_RLE_TARGET_BEGIN(features) VELT_RLE_PRAGMA(GCC push_options) VELT_RLE_PRAGMA(GCC target(features))
#define VELT_RLE_TARGET_END VELT_RLE_PRAGMA(GCC pop_options)
#endif
// AVX-512BW, and for the encoder's byte compress and permutes VBMI2 and VBMI.
#define VELT_RLE_AVX512 "avx512f,avx512bw,bmi,bmi2,lzcnt,popcnt"
#define VELT_RLE_AVX512_VBMI "avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,bmi2,lzcnt,popcnt"
#endif

// The decoder's placement (Decode in codec_kernels.h says why): on x86-64,
// where it was measured, a 64-byte boundary and a gap of 48 bytes after the
// entry, a 2-byte jump over 46.
#if defined(__x86_64__) && defined(__GNUC__)
#define VELT_RLE_DECODE_ALIGN [[gnu::aligned(64), gnu::noinline]]
#define VELT_RLE_DECODE_GAP() asm volatile("jmp 1f\n\t.skip 46, 0xcc\n1:")
#else
#define VELT_RLE_DECODE_ALIGN
#define VELT_RLE_DECODE_GAP() static_cast<void>(0)
#endif

#if defined(VELT_RLE_WIDE)
#include <immintrin.h>
#if !defined(__clang__)
#include <sys/platform/x86.h>  // C, not C++, for clang: it names _Bool
#endif
#elif defined(VELT_RLE_SSE2)
#include <emmintrin.h>
#endif

namespace velt::rle {

using Byte = unsigned char;
inline constexpr Byte kEsc = 0xAB;

// ---------------------------------------------------------------------------
// Exact copies and fills of fewer than 16 bytes through overlapping
// fixed-size moves, so that no library call is made for a few bytes.

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

// ---------------------------------------------------------------------------
// One byte at a time: the last bytes of a buffer.

namespace scalar {

inline std::size_t SkipByte(const Byte* s, std::size_t limit, std::size_t /*avail*/, Byte c) {
  std::size_t k = 0;
  while (k < limit && s[k] == c) ++k;
  return k;
}

inline std::size_t CopyUntilByte(const Byte* s, Byte* d, std::size_t limit, std::size_t /*avail*/, Byte c) {
  std::size_t k = 0;
  for (; k < limit && s[k] != c; ++k) d[k] = s[k];
  return k;
}

// Literal stretch of the encoder: bytes before the first 0xAB or the first
// place where four equal bytes begin (avail bounds the look-ahead).
inline std::size_t CopyLiterals(const Byte* s, Byte* d, std::size_t limit, std::size_t avail) {
  std::size_t k = 0;
  for (; k < limit; ++k) {
    const Byte b = s[k];
    if (b == kEsc || (avail - k >= 4 && s[k + 1] == b && s[k + 2] == b && s[k + 3] == b)) break;
    d[k] = b;
  }
  return k;
}

}  // namespace scalar

// ---------------------------------------------------------------------------
// Vector operations per instruction set. A Mask has one flag per byte of a
// block; First gives the position of the first flagged byte (callers make
// sure one is flagged). Special flags the bytes that are 0xAB or begin four
// equal bytes, for the first S positions of the block.

#if defined(VELT_RLE_SSE2)

namespace sse2 {
namespace narrower = scalar;
using Vec = __m128i;
using Mask = std::uint32_t;
inline constexpr std::size_t W = 16;
inline Vec Load(const Byte* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(Byte* p, Vec v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline Vec Splat(Byte c) { return _mm_set1_epi8(static_cast<char>(c)); }
inline Mask Eq(Vec a, Vec b) { return static_cast<Mask>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))); }
inline Mask Invert(Mask m) { return m ^ 0xFFFFu; }
inline std::size_t First(Mask m) { return static_cast<std::size_t>(std::countr_zero(m)); }
// Flags the bytes p[j] that are 0xAB or start four equal bytes; reads W + 3.
inline Mask Special(const Byte* p, Vec esc) {
  const Vec a = Load(p);
  const Vec run = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(a, Load(p + 1)), _mm_cmpeq_epi8(a, Load(p + 2))),
                                _mm_cmpeq_epi8(a, Load(p + 3)));
  return static_cast<Mask>(_mm_movemask_epi8(_mm_or_si128(run, _mm_cmpeq_epi8(a, esc))));
}
// The first k (< W) bytes of s, whose block is a, to d.
inline void CopyHead(Byte* d, const Byte* s, Vec /*a*/, std::size_t k) { CopyShort(d, s, k); }
inline void FillHead(Byte* d, Vec /*v*/, Byte c, std::size_t k) { FillShort(d, c, k); }
inline void CopyRange(Byte* d, const Byte* s, std::size_t k) { CopyShort(d, s, k); }
// Copies bytes from to to-1 of the block a loaded at p, to d.
inline void CopyPart(Byte* d, const Byte* p, Vec /*a*/, std::size_t from, std::size_t to) {
  CopyShort(d, p + from, to - from);
}
inline Mask ClearBelow(Mask m, std::size_t k) { return m & (~Mask{0} << k); }
inline constexpr std::size_t S = W;
inline void StoreSpan(Byte* d, Vec a) { Store(d, a); }
// The decoder's block loop is inlined beside the run-block loop (see
// avx512::kCallDecodeBlocks).
inline constexpr bool kCallDecodeBlocks = false;

// --- 64-byte blocks as four vectors (the run-block loops) ---
using Mask64 = std::uint64_t;
// Bit j: a[j] == b[j], for j < 64.
inline Mask64 Eq64(const Byte* a, const Byte* b) {
  Mask64 m = 0;
  for (std::size_t k = 0; k < 64; k += W) m |= Mask64{Eq(Load(a + k), Load(b + k))} << k;
  return m;
}
inline Mask64 EqByte64(const Byte* a, Vec v) {
  Mask64 m = 0;
  for (std::size_t k = 0; k < 64; k += W) m |= Mask64{Eq(Load(a + k), v)} << k;
  return m;
}
// Bits set in a 64-bit mask, without the instruction the baseline lacks.
inline std::size_t Count64(Mask64 m) {
  m -= (m >> 1) & 0x5555555555555555ULL;
  m = (m & 0x3333333333333333ULL) + ((m >> 2) & 0x3333333333333333ULL);
  m = (m + (m >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<std::size_t>((m * 0x0101010101010101ULL) >> 56);
}
// The run-block decoder's stores: whole vectors that may reach past the
// bytes they keep, by less than kOverReach. Two vectors at least, since
// most literal stretches and runs of padded records are shorter than 32
// bytes and a branch on their length mispredicts.
inline constexpr std::size_t kOverReach = 2 * W;
// k bytes of s to d; may write and read up to k rounded up to 16, and at
// least 32.
inline void CopyOver(Byte* d, const Byte* s, std::size_t k) {
  Store(d, Load(s));
  Store(d + W, Load(s + W));
  if (k > 2 * W) [[unlikely]] {
    for (std::size_t j = 2 * W; j < k; j += W) Store(d + j, Load(s + j));
  }
}
// Every byte value 16 times: SSE2 has no byte broadcast, and a run's
// splat as one load from here takes three instructions fewer per token
// than a multiply, a move and a shuffle.
struct Splats {
  alignas(16) Byte of[256][16];
  constexpr Splats() : of() {
    for (int c = 0; c < 256; ++c) {
      for (int k = 0; k < 16; ++k) of[c][k] = static_cast<Byte>(c);
    }
  }
};
inline constexpr Splats kSplats{};
// k (<= 255) copies of c; may write up to k rounded up to 16, and at least
// 32.
inline void FillOver(Byte* d, Byte c, std::size_t k) {
  const Vec v = _mm_load_si128(reinterpret_cast<const __m128i*>(kSplats.of[c]));
  Store(d, v);
  Store(d + W, v);
  if (k > 2 * W) [[unlikely]] {
    for (std::size_t j = 2 * W; j < k; j += W) Store(d + j, v);
  }
}
// countr_zero of a mask that is not zero. On x86-64 without the xor GCC
// puts before it, and without widening the count (as avx512::LowestBit);
// rep bsf is tzcnt where the processor has it and bsf, the same for a mask
// that is not zero, elsewhere.
inline std::size_t LowestBit(Mask64 m) {
#if defined(__x86_64__) && defined(__GNUC__)
  std::uint64_t r;
  asm("rep bsf %1, %0" : "=r"(r) : "r"(m));
  return static_cast<std::size_t>(r);
#else
  return static_cast<std::size_t>(std::countr_zero(m));
#endif
}
// Whether a 0xAB of the block lies one or two bytes after another, also
// into the next block, whose 0xAB bytes are ahead.
inline bool EscapesClose(const Byte* /*p*/, Mask64 tokens, Mask64 ahead) {
  return (tokens & ((tokens >> 1) | (tokens >> 2) | (ahead << 62) | (ahead << 63))) != 0;
}
}  // namespace sse2

#else

namespace word {
namespace narrower = scalar;
using Vec = std::size_t;
using Mask = std::size_t;  // the top bit of each flagged byte
inline constexpr std::size_t W = sizeof(Vec);
inline constexpr Vec kOnes = ~Vec{0} / 0xFF;
inline constexpr Vec kLow7 = kOnes * 0x7F;
inline constexpr Vec kHigh = kOnes * 0x80;
inline Vec Load(const Byte* p) {
  Vec w;
  std::memcpy(&w, p, sizeof w);
  return w;
}
inline void Store(Byte* p, Vec v) { std::memcpy(p, &v, sizeof v); }
inline Vec Splat(Byte c) { return kOnes * c; }
// Exact zero-byte test (the shorter one lets borrows flag a byte above a zero).
inline Mask Zero(Vec x) { return ~(((x & kLow7) + kLow7) | x | kLow7); }
inline Mask Eq(Vec a, Vec b) { return Zero(a ^ b); }
inline Mask Invert(Mask m) { return m ^ kHigh; }
inline std::size_t First(Mask m) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::size_t>(std::countr_zero(m)) / 8;
  } else {
    return static_cast<std::size_t>(std::countl_zero(m)) / 8;
  }
}
inline Mask Special(const Byte* p, Vec esc) {
  const Vec a = Load(p);
  return Zero((a ^ Load(p + 1)) | (a ^ Load(p + 2)) | (a ^ Load(p + 3))) | Zero(a ^ esc);
}
inline void CopyHead(Byte* d, const Byte* s, Vec /*a*/, std::size_t k) { CopyShort(d, s, k); }
inline void FillHead(Byte* d, Vec /*v*/, Byte c, std::size_t k) { FillShort(d, c, k); }
inline constexpr std::size_t S = W;
inline void StoreSpan(Byte* d, Vec a) { Store(d, a); }
}  // namespace word

#endif

#if defined(VELT_RLE_WIDE)

VELT_RLE_TARGET_BEGIN(VELT_RLE_AVX512)
namespace avx512 {
namespace narrower = sse2;
using Vec = __m512i;
using Mask = std::uint64_t;
inline constexpr std::size_t W = 64;
inline Vec Load(const Byte* p) { return _mm512_loadu_si512(p); }
inline void Store(Byte* p, Vec v) { _mm512_storeu_si512(p, v); }
inline Vec Splat(Byte c) { return _mm512_set1_epi8(static_cast<char>(c)); }
inline Mask Eq(Vec a, Vec b) { return _mm512_cmpeq_epi8_mask(a, b); }
inline Mask Invert(Mask m) { return ~m; }
inline std::size_t First(Mask m) { return static_cast<std::size_t>(std::countr_zero(m)); }
// Decides the first S = W - 2 positions from one comparison of neighbours
// (a run starts where three neighbour pairs in a row are equal); reads W + 1.
inline constexpr std::size_t S = W - 2;
inline Mask Special(const Byte* p, Vec esc) {
  const Vec a = Load(p);
  const Mask eq = _mm512_cmpeq_epi8_mask(a, Load(p + 1));
  return ((eq & (eq >> 1) & (eq >> 2)) | _mm512_cmpeq_epi8_mask(a, esc)) & (~Mask{0} >> 2);
}
// Masked stores write exactly the first k bytes.
inline Mask Low(std::size_t k) { return _bzhi_u64(~0ULL, static_cast<unsigned>(k)); }
inline void CopyHead(Byte* d, const Byte* /*s*/, Vec a, std::size_t k) { _mm512_mask_storeu_epi8(d, Low(k), a); }
inline void FillHead(Byte* d, Vec v, Byte /*c*/, std::size_t k) { _mm512_mask_storeu_epi8(d, Low(k), v); }
// Copies k (< W) bytes reading no others.
inline void CopyRange(Byte* d, const Byte* s, std::size_t k) {
  const Mask m = Low(k);
  _mm512_mask_storeu_epi8(d, m, _mm512_maskz_loadu_epi8(m, s));
}
inline Mask ClearBelow(Mask m, std::size_t k) { return m & (~Mask{0} << k); }
// Stores the block itself, shifted so that byte `from` lands on d, with only
// the lanes from to to-1 enabled: no load, and no other byte is touched (the
// disabled lanes below d are not accessed).
inline void CopyPart(Byte* d, const Byte* /*p*/, Vec a, std::size_t from, std::size_t to) {
  void* base = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(d) - from);
  _mm512_mask_storeu_epi8(base, ClearBelow(Low(to), from), a);
}
// Writes the first S bytes of a.
inline void StoreSpan(Byte* d, Vec a) { _mm512_mask_storeu_epi8(d, Low(S), a); }
// Inlined beside the run-block loop, the decoder's block loop was left too
// few registers here and kept its input position in memory (random bytes
// decoded a fifth slower); it is called instead. The SSE2 loops are faster
// inlined.
inline constexpr bool kCallDecodeBlocks = true;

// --- 64-byte blocks (the run-block loops) ---
using Mask64 = std::uint64_t;
inline Mask64 Eq64(const Byte* a, const Byte* b) { return Eq(Load(a), Load(b)); }
inline Mask64 EqByte64(const Byte* a, Vec v) { return Eq(Load(a), v); }
inline std::size_t Count64(Mask64 m) { return static_cast<std::size_t>(std::popcount(m)); }
// The run-block decoder's stores are 32 bytes wide: a 64-byte store that
// crosses a cache line costs twice as much, and most literal stretches and
// runs of padded records are shorter than 32 bytes.
inline __m256i Load32(const Byte* s) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s)); }
inline void Store32(Byte* d, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), v); }
inline constexpr std::size_t kOverReach = 32;
// k bytes of s to d; may write up to k rounded up to 32 (reads as many).
inline void CopyOver(Byte* d, const Byte* s, std::size_t k) {
  Store32(d, Load32(s));
  if (k > 32) [[unlikely]] {
    std::size_t j = 32;
    do {
      Store32(d + j, Load32(s + j));
      j += 32;
    } while (j < k);
  }
}
// k (<= 255) copies of c; may write up to k rounded up to 32.
inline void FillOver(Byte* d, Byte c, std::size_t k) {
  const __m256i v = _mm256_set1_epi8(static_cast<char>(c));
  Store32(d, v);
  if (k > 32) [[unlikely]] {
    std::size_t j = 32;
    do {
      Store32(d + j, v);
      j += 32;
    } while (j < k);
  }
}
// countr_zero (64 for 0) without the dependency-breaking xor GCC puts
// before each tzcnt it emits: the run-block loops have no instruction to
// spare.
inline std::size_t LowestBit(Mask64 m) {
  std::uint64_t r;
  asm("tzcnt %1, %0" : "=r"(r) : "r"(m));
  return static_cast<std::size_t>(r);
}
// Whether a 0xAB of the block at p lies one or two bytes after another,
// also into the next block: two masked compares.
inline bool EscapesClose(const Byte* p, Mask64 tokens, Mask64 /*ahead*/) {
  const Vec esc = Splat(kEsc);
  return (_mm512_mask_cmpeq_epi8_mask(tokens, Load(p + 1), esc) |
          _mm512_mask_cmpeq_epi8_mask(tokens, Load(p + 2), esc)) != 0;
}
}  // namespace avx512
VELT_RLE_TARGET_END

// The encoder's 62-byte steps (AVX-512 VBMI2 for the byte compress, VBMI for
// the byte permutes). Only the encoder's wide loop, built for those
// extensions too, calls them.
VELT_RLE_TARGET_BEGIN(VELT_RLE_AVX512_VBMI)
namespace avx512 {
// The bits set, without the dependency-breaking xor GCC puts before popcnt
// (as LowestBit).
inline std::size_t Popcount(Mask64 m) {
  Mask64 r;
  asm("popcnt %1, %0" : "=r"(r) : "r"(m));
  return static_cast<std::size_t>(r);
}
// Offset of the first 0xAB in p[0, k), or k; reads nothing past p + k.
// Eight vectors to a test: a byte xor 0xAB is zero only for 0xAB, and the
// least of eight such bytes only where one of them is (four to a test
// measured a little slower).
inline std::size_t FirstEscape(const Byte* p, std::size_t k) {
  const Vec esc = Splat(kEsc);
  std::size_t j = 0;
  for (; j + 8 * W <= k; j += 8 * W) {
    const Vec x0 = _mm512_min_epu8(
        _mm512_min_epu8(_mm512_xor_si512(Load(p + j), esc), _mm512_xor_si512(Load(p + j + W), esc)),
        _mm512_min_epu8(_mm512_xor_si512(Load(p + j + 2 * W), esc), _mm512_xor_si512(Load(p + j + 3 * W), esc)));
    const Vec x1 = _mm512_min_epu8(
        _mm512_min_epu8(_mm512_xor_si512(Load(p + j + 4 * W), esc), _mm512_xor_si512(Load(p + j + 5 * W), esc)),
        _mm512_min_epu8(_mm512_xor_si512(Load(p + j + 6 * W), esc), _mm512_xor_si512(Load(p + j + 7 * W), esc)));
    const Vec x = _mm512_min_epu8(x0, x1);
    if (_mm512_testn_epi8_mask(x, x) != 0) break;
  }
  for (; j < k; j += W) {
    const Mask e = Eq(_mm512_maskz_loadu_epi8(Low(std::min(k - j, W)), p + j), esc);
    if (e != 0) return j + First(e);
  }
  return k;
}
// The permute indices of EmitKept62, made once per call of the loop.
struct KeptConsts62 {
  __m512i iota;   // lane j: j
  __m512i next1;  // lane j: j + 1, lane 63 itself
  __m512i back2;  // lane j: j - 2
};
inline KeptConsts62 MakeKeptConsts62() {
  const __m512i iota =
      _mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41, 40,
                      39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16,
                      15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  return {iota, _mm512_min_epu8(_mm512_add_epi8(iota, _mm512_set1_epi8(1)), _mm512_set1_epi8(63)),
          _mm512_sub_epi8(iota, _mm512_set1_epi8(2))};
}
// EmitKept for a 62-byte step: a holds its bytes 0 to 63, a_next bytes 62
// to 125, and `end` (at most 255 more than the last run's start) is where
// the last run ends. keep has no bit 62 or 63, so at most 62 bytes are kept
// and their offsets, compressed, fill at most 62 lanes: the lanes after
// them hold `end`, and one single-source permute gives each kept byte's
// successor. The kept bytes themselves are picked from a by those offsets
// (a permute of both loads, where the compress and its fill cost more). A
// token that starts at 60 or 61 ends by lane 63; from 61, its byte is the
// lane past the kept bytes, whose offset `end` (mod 128) picks a_next's
// byte end - 2, inside the run where end is below 128. The escapes and
// lengths go in afterwards, at the starts' lanes and two after them.
inline void EmitKept62(Byte* d, Vec a, Vec a_next, Mask64 keep, Mask64 starts, std::size_t end, std::size_t total,
                       const KeptConsts62& k) {
  const __m512i at = _mm512_mask_compress_epi8(_mm512_set1_epi8(static_cast<char>(end)), keep, k.iota);
  const __m512i length = _mm512_sub_epi8(_mm512_mask_permutexvar_epi8(at, ~Mask64{0}, k.next1, at),
                                         _mm512_mask_permutexvar_epi8(at, ~Mask64{0}, k.back2, at));
  const __mmask64 ls = _cvtu64_mask64(_pext_u64(starts, keep));
  Vec v = _mm512_permutex2var_epi8(a, at, a_next);
  v = _mm512_mask_mov_epi8(v, ls, Splat(kEsc));
  v = _mm512_mask_mov_epi8(v, _kshiftli_mask64(ls, 2), length);
  _mm512_mask_storeu_epi8(d, Low(total), v);
}
}  // namespace avx512
VELT_RLE_TARGET_END

// Whether the 64-byte path can run: the C library has read the processor
// and the register state the system enables at start-up.
inline bool UseAvx512() {
#if defined(VELT_RLE_BASELINE)
  return false;
#elif defined(__clang__)
  return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("bmi2");
#else
  return CPU_FEATURE_ACTIVE(AVX512BW) && CPU_FEATURE_ACTIVE(BMI2);
#endif
}

// The encoder's wide path compresses and permutes bytes, which takes VBMI2
// and VBMI as well.
inline bool UseAvx512Vbmi2() {
#if defined(VELT_RLE_BASELINE)
  return false;
#elif defined(__clang__)
  return UseAvx512() && __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2");
#else
  return UseAvx512() && CPU_FEATURE_ACTIVE(AVX512_VBMI) && CPU_FEATURE_ACTIVE(AVX512_VBMI2);
#endif
}

#endif

}  // namespace velt::rle
