// The run-length codec with any stream and any capacity: the decoder must
// never write beyond the capacity or read beyond the stream and must agree
// byte for byte with the reference decoder; the encoder must agree with the
// reference encoder, and its output decode back to the input.
#include <cstdio>
#include <cstdlib>

#include "codec_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (const char* failed = velt::fuzz::CheckCodec(data, size)) {
    std::fprintf(stderr, "codec check failed: %s\n", failed);
    std::abort();
  }
  return 0;
}
