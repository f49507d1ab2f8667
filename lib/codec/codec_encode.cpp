// Run-length encoder of the compressed segments (send side).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codec.h"
#include "codec_simd.h"

#define VELT_RLE_ENCODER 1

#include "codec_instances.h"

namespace velt {

int32_t EncodeRLE(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity) {
  if (length <= 0 || capacity <= 0) return 0;
  const auto n = static_cast<std::size_t>(length);
  const auto cap = static_cast<std::size_t>(capacity);
#if defined(VELT_RLE_WIDE)
  // The wide path only where a few of its blocks fit.
  if (n >= 256 && rle::UseAvx512Vbmi2()) return rle::avx512::Encode(src, dst, n, cap);
#endif
#if defined(VELT_RLE_SSE2)
  return rle::sse2::Encode(src, dst, n, cap);
#else
  return rle::word::Encode(src, dst, n, cap);
#endif
}

}  // namespace velt
