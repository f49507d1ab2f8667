// What the decoder fuzz target checks for one input, shared with the test
// that replays earlier findings (tests/codec_findings_test.cpp) so that they
// also run against the production compiler's codec paths.
//
// Input: a 16-bit capacity (little-endian, minus kCapacityBias, so that
// capacities of 0 and below occur) and the stream. Returns null when every
// check holds, otherwise what failed.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/codec.h"
#include "codec_oracle.h"
#include "fuzz_input.h"

namespace velt::fuzz {

namespace codec_checks {

// Heap blocks of exactly the requested size, so that the address sanitizer
// sees every byte beyond them.
inline std::unique_ptr<unsigned char[]> Block(int32_t size) {
  return std::make_unique<unsigned char[]>(static_cast<std::size_t>(size > 0 ? size : 0));
}

// The decoder never writes beyond the capacity or reads beyond the stream and
// agrees byte for byte, and in what it reports, with the reference decoder.
inline const char* Decode(const unsigned char* stream, int32_t length, int32_t capacity) {
  auto out = Block(capacity);
  auto expected = Block(capacity);
  RleDecodeInfo info{};
  RleDecodeInfo oracle_info{};
  const int32_t n = DecodeRLEChecked(stream, out.get(), length, capacity, &info);
  const int32_t m = oracle::Decode(stream, expected.get(), length, capacity, &oracle_info);
  if (n < 0 || n > (capacity > 0 ? capacity : 0)) return "decoded count outside the capacity";
  if (n != m || std::memcmp(out.get(), expected.get(), static_cast<std::size_t>(n)) != 0)
    return "decoder differs from the reference";
  if (info.consumed != oracle_info.consumed || info.truncated != oracle_info.truncated)
    return "decoder reports another outcome than the reference";
  auto plain = Block(capacity);
  if (DecodeRLE(stream, plain.get(), length, capacity) != n ||
      std::memcmp(plain.get(), out.get(), static_cast<std::size_t>(n)) != 0)
    return "DecodeRLE differs from DecodeRLEChecked";
  return nullptr;
}

// Encoding the bytes with room to spare and decoding the stream gives them
// back; with less room a result below the capacity is the same whole stream.
inline const char* Encode(const unsigned char* bytes, int32_t length, int32_t capacity) {
  auto stream = Block(2 * length);
  const int32_t n = EncodeRLE(bytes, stream.get(), length, 2 * length);
  if (n < 0 || n > 2 * length) return "encoded length outside twice the input";
  auto expected = Block(2 * length);
  if (oracle::Encode(bytes, expected.get(), length, 2 * length) != n ||
      std::memcmp(stream.get(), expected.get(), static_cast<std::size_t>(n)) != 0)
    return "encoder differs from the reference";
  auto back = Block(length + 1);
  RleDecodeInfo info{};
  if (DecodeRLEChecked(stream.get(), back.get(), n, length + 1, &info) != length || info.truncated ||
      info.consumed != n || (length > 0 && std::memcmp(back.get(), bytes, static_cast<std::size_t>(length)) != 0))
    return "encoded stream does not decode to the input";

  auto tight = Block(capacity);
  auto tight_expected = Block(capacity);
  const int32_t t = EncodeRLE(bytes, tight.get(), length, capacity);
  const int32_t u = oracle::Encode(bytes, tight_expected.get(), length, capacity);
  if (t != u) return "encoder with little room returns another count than the reference";
  if (capacity > 0 && t < capacity &&
      (t != n || std::memcmp(tight.get(), stream.get(), static_cast<std::size_t>(t)) != 0))
    return "encoder with little room wrote another stream";
  return nullptr;
}

}  // namespace codec_checks

inline const char* CheckCodec(const uint8_t* data, std::size_t size) {
  Reader in{data, size};
  const int32_t capacity = static_cast<int32_t>(in.U16()) - kCapacityBias;
  // The stream in a block of its own exact size.
  const std::vector<unsigned char> rest = in.Bytes(size);
  const auto length = static_cast<int32_t>(rest.size());
  auto stream = codec_checks::Block(length);
  if (length > 0) std::memcpy(stream.get(), rest.data(), rest.size());
  if (const char* failed = codec_checks::Decode(stream.get(), length, capacity)) return failed;
  // Once more with more room, where the decoder stores whole vectors past
  // its tokens for longer before its exact end.
  if (capacity > 0) {
    if (const char* failed = codec_checks::Decode(stream.get(), length, capacity + 512)) return failed;
  }
  return codec_checks::Encode(stream.get(), length, capacity);
}

}  // namespace velt::fuzz
