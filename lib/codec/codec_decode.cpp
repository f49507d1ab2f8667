// Run-length decoder of the compressed segments (receive side).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codec.h"
#include "codec_simd.h"

#define VELT_RLE_DECODER 1

#include "codec_instances.h"

namespace velt {

int32_t DecodeRLEChecked(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity,
                         RleDecodeInfo* info) {
  RleDecodeInfo unused;
  RleDecodeInfo& out = info != nullptr ? *info : unused;
  out.consumed = 0;
  out.truncated = false;
  // No room means nothing is written, not even a first byte.
  if (length <= 0 || capacity <= 0) return 0;
  const auto n = static_cast<std::size_t>(length);
  const auto cap = static_cast<std::size_t>(capacity);
#if defined(VELT_RLE_WIDE)
  // The wide path only where a few of its blocks fit.
  if (n >= 256 && cap >= 256 && rle::UseAvx512()) return rle::avx512::Decode(src, dst, n, cap, out);
#endif
#if defined(VELT_RLE_SSE2)
  return rle::sse2::Decode(src, dst, n, cap, out);
#else
  return rle::word::Decode(src, dst, n, cap, out);
#endif
}

int32_t DecodeRLE(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity) {
  return DecodeRLEChecked(src, dst, length, capacity, nullptr);
}

}  // namespace velt
