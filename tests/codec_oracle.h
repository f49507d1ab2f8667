// Byte-at-a-time reference codec for the tests: the encoding and decoding
// steps exactly as the stream rules state them, one byte per loop turn, with
// no bulk work. The fast codec must agree with it byte for byte and in every
// returned value.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace velt::oracle {

inline int32_t Encode(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity) {
  int64_t count = 0;
  if (length <= 0) return 0;
  int32_t i = 0;
  while (i < length && count < capacity) {
    const unsigned char b = src[i];
    if (b == kRleEscape) {
      if (count + 2 > capacity) return static_cast<int32_t>(count + 1);
      dst[count] = kRleEscape;
      dst[count + 1] = kRleEscape;
      count += 2;
      i += 1;
    } else if (length - i >= 4 && src[i + 1] == b && src[i + 2] == b && src[i + 3] == b) {
      if (count + 3 > capacity) return static_cast<int32_t>(count + 3 > INT32_MAX ? INT32_MAX : count + 3);
      dst[count] = kRleEscape;
      dst[count + 1] = b;
      i += 4;
      int run = 4;
      while (i < length && src[i] == b && run < kRleMaxRun) {
        ++run;
        ++i;
      }
      dst[count + 2] = static_cast<unsigned char>(run);
      count += 3;
    } else {
      dst[count] = b;
      count += 1;
      i += 1;
    }
  }
  return static_cast<int32_t>(count);
}

// Decodes as the steps say; a token cut off by the end of the input is
// dropped and reported. With no room at all nothing is written.
inline int32_t Decode(const unsigned char* src, unsigned char* dst, int32_t length, int32_t capacity,
                      RleDecodeInfo* info) {
  int32_t count = 0;
  int32_t i = 0;
  info->consumed = 0;
  info->truncated = false;
  if (length <= 0 || capacity <= 0) return 0;
  while (i < length) {
    const unsigned char b = src[i];
    if (b != kRleEscape) {
      dst[count++] = b;
      i += 1;
      if (count == capacity) break;
      continue;
    }
    if (i + 1 >= length) {
      info->truncated = true;
      break;
    }
    if (src[i + 1] == kRleEscape) {
      dst[count++] = kRleEscape;
      i += 2;
      if (count == capacity) break;
      continue;
    }
    if (i + 2 >= length) {
      info->truncated = true;
      break;
    }
    const unsigned char c = src[i + 1];
    const int n = src[i + 2];
    bool full = false;
    for (int k = 0; k < n; ++k) {
      dst[count++] = c;
      if (count == capacity) {
        full = true;
        if (k + 1 == n) i += 3;  // the run ended exactly at the capacity
        break;
      }
    }
    if (full) break;
    i += 3;
  }
  info->consumed = i;
  return count;
}

}  // namespace velt::oracle
