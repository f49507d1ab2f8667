// The token loops of codec_kernels.h and the run-block loops they hand over
// to (codec_run_decode.h, codec_run_encode_sse2.h, codec_run_encode_avx512.h),
// compiled once for every instruction set this build can use. Included by exactly one translation unit per
// direction, after it has defined VELT_RLE_ENCODER or VELT_RLE_DECODER, so
// that the send library holds only the encoder and the receive library only
// the decoder.
#pragma once

#if !defined(VELT_RLE_ENCODER) && !defined(VELT_RLE_DECODER)
#error "define VELT_RLE_ENCODER or VELT_RLE_DECODER first"
#endif

namespace velt::rle {
#if defined(VELT_RLE_SSE2)
#define VELT_RLE_BLOCK_TOKENS 1
namespace sse2 {
// The run-block loops first: the token loops hand over to them.
#include "codec_run_decode.h"
#include "codec_run_encode_sse2.h"

#include "codec_kernels.h"
}  // namespace sse2
#else
namespace word {
#include "codec_kernels.h"
}  // namespace word
#endif

#if defined(VELT_RLE_WIDE)
#if defined(VELT_RLE_ENCODER)
// The encoder compresses and permutes bytes (VBMI2, VBMI); it runs only
// where those are present.
VELT_RLE_TARGET_BEGIN(VELT_RLE_AVX512_VBMI)
#else
VELT_RLE_TARGET_BEGIN(VELT_RLE_AVX512)
#endif
namespace avx512 {
// The run-block loops first: the token loops hand over to them.
#include "codec_run_decode.h"
#include "codec_run_encode_avx512.h"

#include "codec_kernels.h"
}  // namespace avx512
VELT_RLE_TARGET_END
#endif
}  // namespace velt::rle
