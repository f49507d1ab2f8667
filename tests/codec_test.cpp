// Run-length codec: the documented stream examples, every capacity rule, and
// a random comparison with the byte-at-a-time reference codec.
//
// VELT_CODEC_ITERATIONS scales the random comparison (default 1500 rounds of
// each kind, well under a second in a release build). A long run, some
// millions of encodings and decodings in a few minutes:
//   VELT_CODEC_ITERATIONS=1000000 build/release/bin/codec_test --gtest_filter='CodecRandom.*'
// (likewise codec_sse2_test and codec_portable_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec_oracle.h"

namespace velt {
namespace {

using Bytes = std::vector<unsigned char>;
constexpr unsigned char kUntouched = 0x5A;

Bytes Hex(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  unsigned v;
  while (in >> std::hex >> v) out.push_back(static_cast<unsigned char>(v));
  return out;
}

Bytes Repeat(unsigned char b, std::size_t n) { return Bytes(n, b); }

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Buffers are allocated at their exact size so that the sanitizer build
// catches a read or write one byte past them.
struct Encoded {
  int32_t result;
  Bytes dst;  // the whole destination, capacity bytes, pre-filled with kUntouched
};

Encoded Encode(const Bytes& in, int32_t capacity) {
  Bytes src(in);
  Encoded e{0, Bytes(static_cast<std::size_t>(capacity > 0 ? capacity : 0), kUntouched)};
  e.result = EncodeRLE(src.data(), e.dst.data(), static_cast<int32_t>(src.size()), capacity);
  return e;
}

Encoded OracleEncode(const Bytes& in, int32_t capacity) {
  Encoded e{0, Bytes(static_cast<std::size_t>(capacity > 0 ? capacity : 0), kUntouched)};
  e.result = oracle::Encode(in.data(), e.dst.data(), static_cast<int32_t>(in.size()), capacity);
  return e;
}

// The whole stream, with room to spare.
Bytes EncodeAll(const Bytes& in) {
  Encoded e = Encode(in, static_cast<int32_t>(2 * in.size() + 8));
  e.dst.resize(static_cast<std::size_t>(e.result));
  return e.dst;
}

struct Decoded {
  int32_t result;
  RleDecodeInfo info;
  Bytes dst;  // the bytes written, result of them
};

// The decoder may overwrite its room past the count but never a byte at or
// past the capacity: the destination is followed by canary bytes (a vector
// store or a run written over would hit them).
constexpr std::size_t kCanary = 512;
constexpr unsigned char kCanaryByte = 0xC3;

Decoded Decode(const Bytes& in, int32_t capacity) {
  Bytes src(in);
  const auto room = static_cast<std::size_t>(capacity > 0 ? capacity : 0);
  Bytes area(room + kCanary, kCanaryByte);
  std::fill(area.begin(), area.begin() + static_cast<std::ptrdiff_t>(room), kUntouched);
  Decoded d{0, {-1, true}, {}};
  d.result = DecodeRLEChecked(src.data(), area.data(), static_cast<int32_t>(src.size()), capacity, &d.info);
  EXPECT_EQ(d.result, DecodeRLE(src.data(), area.data(), static_cast<int32_t>(src.size()), capacity));
  EXPECT_EQ(std::count(area.begin() + static_cast<std::ptrdiff_t>(room), area.end(), kCanaryByte),
            static_cast<std::ptrdiff_t>(kCanary))
      << "written past the capacity " << capacity;
  if (d.result >= 0 && static_cast<std::size_t>(d.result) <= room) area.resize(static_cast<std::size_t>(d.result));
  d.dst = std::move(area);
  return d;
}

Decoded OracleDecode(const Bytes& in, int32_t capacity) {
  Decoded d{0, {-1, true}, Bytes(static_cast<std::size_t>(capacity > 0 ? capacity : 0), kUntouched)};
  d.result = oracle::Decode(in.data(), d.dst.data(), static_cast<int32_t>(in.size()), capacity, &d.info);
  d.dst.resize(static_cast<std::size_t>(d.result));
  return d;
}

Bytes Prefix(const Bytes& b, int32_t n) { return Bytes(b.begin(), b.begin() + n); }

// --- documented examples ------------------------------------------------------

TEST(CodecExamples, EncodeAndDecodeBack) {
  struct Case {
    Bytes in;
    Bytes stream;
  };
  const Case cases[] = {
      {Hex("41 42 AB 43 43 43 43 43 43 44"), Hex("41 42 AB AB AB 43 06 44")},
      {Repeat(0x00, 300), Hex("AB 00 FF AB 00 2D")},
      {Hex("AB AB AB AB 00 00 00 00"), Hex("AB AB AB AB AB AB AB AB AB 00 04")},
      {Bytes{}, Bytes{}},
      {Hex("00 00 00"), Hex("00 00 00")},
      {Hex("00 00 00 00"), Hex("AB 00 04")},
      {Hex("78 61 61 61"), Hex("78 61 61 61")},
      {Hex("78 61 61 61 61"), Hex("78 AB 61 04")},
      {Repeat(0x20, 255), Hex("AB 20 FF")},
      {Repeat(0x20, 256), Hex("AB 20 FF 20")},
      {Repeat(0x20, 258), Hex("AB 20 FF 20 20 20")},
      {Repeat(0x20, 259), Hex("AB 20 FF AB 20 04")},
      {Repeat(0xAB, 5), Repeat(0xAB, 10)},
      {Cat(Repeat(0x20, 171), Hex("41")), Hex("AB 20 AB 41")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in.size()));
    EXPECT_EQ(EncodeAll(c.in), c.stream);
    const Decoded d = Decode(c.stream, static_cast<int32_t>(c.in.size() + 16));
    EXPECT_EQ(Prefix(d.dst, d.result), c.in);
    EXPECT_FALSE(d.info.truncated);
    EXPECT_EQ(d.info.consumed, static_cast<int32_t>(c.stream.size()));
  }
}

TEST(CodecExamples, EncoderStopsWhenTheNextTokenDoesNotFit) {
  struct Case {
    Bytes in;
    int32_t capacity;
    int32_t result;
    Bytes written;
  };
  const Bytes ab_then_run = Cat(Repeat(0xAB, 4), Repeat(0x11, 6));
  const Case cases[] = {
      {Hex("61 62 AB AB"), 5, 5, Hex("61 62 AB AB")},
      {Hex("61 62 AB AB"), 4, 4, Hex("61 62 AB AB")},
      {Hex("61 62 AB AB"), 3, 3, Hex("61 62")},
      {ab_then_run, 10, 11, Repeat(0xAB, 8)},
      {ab_then_run, 11, 11, Hex("AB AB AB AB AB AB AB AB AB 11 06")},
      {Hex("00 00 00 00 00 71"), 3, 3, Hex("AB 00 05")},
      {Hex("41 42 43"), 2, 2, Hex("41 42")},  // literals up to the capacity
      {Hex("41 00 00 00 00"), 2, 4, Hex("41")},
      {Hex("41 00 00 00 00"), 3, 4, Hex("41")},
      {Hex("41 AB"), 2, 2, Hex("41")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.capacity));
    const Encoded e = Encode(c.in, c.capacity);
    EXPECT_EQ(e.result, c.result);
    const Bytes rest(c.capacity - c.written.size(), kUntouched);
    EXPECT_EQ(e.dst, Cat(c.written, rest));
  }
}

TEST(CodecExamples, DecoderRunsAndCapacity) {
  Decoded d = Decode(Hex("AB 61 00 7A"), 16);
  EXPECT_EQ(Prefix(d.dst, d.result), Hex("7A"));
  d = Decode(Hex("AB 61 02 7A"), 16);
  EXPECT_EQ(Prefix(d.dst, d.result), Hex("61 61 7A"));
  d = Decode(Hex("AB 61 AB"), 200);  // a count of 0xAB is an ordinary count
  EXPECT_EQ(Prefix(d.dst, d.result), Repeat(0x61, 171));

  // Cut inside the run: the run is not consumed.
  d = Decode(Hex("AB 61 04"), 3);
  EXPECT_EQ(d.result, 3);
  EXPECT_EQ(d.dst, Hex("61 61 61"));
  EXPECT_EQ(d.info.consumed, 0);
  // The run ends exactly at the capacity: consumed in full.
  d = Decode(Hex("AB 61 04"), 4);
  EXPECT_EQ(d.result, 4);
  EXPECT_EQ(d.dst, Hex("61 61 61 61"));
  EXPECT_EQ(d.info.consumed, 3);
  EXPECT_FALSE(d.info.truncated);
  // Output full with input left over, after a literal and after an escape.
  d = Decode(Hex("41 42 43"), 2);
  EXPECT_EQ(d.result, 2);
  EXPECT_EQ(d.info.consumed, 2);
  d = Decode(Hex("AB AB AB AB 41"), 2);
  EXPECT_EQ(d.result, 2);
  EXPECT_EQ(d.dst, Hex("AB AB"));
  EXPECT_EQ(d.info.consumed, 4);
  d = Decode(Hex("AB AB AB AB 41"), 1);
  EXPECT_EQ(d.dst, Hex("AB"));
  EXPECT_EQ(d.info.consumed, 2);
}

// --- what the count alone cannot tell --------------------------------------

TEST(CodecDecode, StreamCutInsideATokenIsDroppedAndReported) {
  struct Case {
    Bytes stream;
    Bytes out;
    int32_t consumed;
  };
  const Case cases[] = {
      {Hex("AB"), Bytes{}, 0},
      {Hex("41 AB"), Hex("41"), 1},
      {Hex("41 AB 61"), Hex("41"), 1},
      {Hex("AB AB AB"), Hex("AB"), 2},
      {Hex("AB 61 03 AB 62"), Hex("61 61 61"), 3},
      {Cat(Repeat(0x41, 40), Hex("AB")), Repeat(0x41, 40), 40},
  };
  for (const Case& c : cases) {
    const Decoded d = Decode(c.stream, 64);
    EXPECT_EQ(Prefix(d.dst, d.result), c.out);
    EXPECT_TRUE(d.info.truncated);
    EXPECT_EQ(d.info.consumed, c.consumed);
  }
}

TEST(CodecDecode, NoInputOrNoRoomWritesNothing) {
  const Bytes stream = Hex("41 AB 61 05");
  for (int32_t capacity : {0, -1}) {
    unsigned char guard[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    RleDecodeInfo info{-1, true};
    EXPECT_EQ(DecodeRLEChecked(stream.data(), guard, 4, capacity, &info), 0);
    EXPECT_EQ(info.consumed, 0);
    EXPECT_FALSE(info.truncated);
    EXPECT_EQ(guard[0], kUntouched);
  }
  unsigned char out[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
  EXPECT_EQ(DecodeRLE(stream.data(), out, 0, 4), 0);
  EXPECT_EQ(DecodeRLE(stream.data(), out, -5, 4), 0);
  EXPECT_EQ(out[0], kUntouched);
}

TEST(CodecEncode, NoInputOrNoRoomWritesNothing) {
  const Bytes in = Hex("41 42");
  unsigned char out[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
  EXPECT_EQ(EncodeRLE(in.data(), out, 0, 4), 0);
  EXPECT_EQ(EncodeRLE(in.data(), out, -3, 4), 0);
  EXPECT_EQ(EncodeRLE(in.data(), out, 2, 0), 0);
  EXPECT_EQ(EncodeRLE(in.data(), out, 2, -1), 0);
  EXPECT_EQ(out[0], kUntouched);
}

// --- comparison with the reference codec ------------------------------------

int Iterations() {
  const char* v = std::getenv("VELT_CODEC_ITERATIONS");
  if (v != nullptr && *v != '\0') return std::max(1, std::atoi(v));
  return 1500;
}

void ExpectEncodeAgrees(const Bytes& in, int32_t capacity) {
  const Encoded fast = Encode(in, capacity);
  const Encoded ref = OracleEncode(in, capacity);
  ASSERT_EQ(fast.result, ref.result) << "length " << in.size() << " capacity " << capacity;
  ASSERT_EQ(fast.dst, ref.dst) << "length " << in.size() << " capacity " << capacity;
}

void ExpectDecodeAgrees(const Bytes& stream, int32_t capacity) {
  const Decoded fast = Decode(stream, capacity);
  const Decoded ref = OracleDecode(stream, capacity);
  ASSERT_EQ(fast.result, ref.result) << "length " << stream.size() << " capacity " << capacity;
  ASSERT_EQ(fast.info.consumed, ref.info.consumed) << "length " << stream.size() << " capacity " << capacity;
  ASSERT_EQ(fast.info.truncated, ref.info.truncated);
  ASSERT_EQ(fast.dst, ref.dst) << "length " << stream.size() << " capacity " << capacity;
}

// Compares encoder and decoder on in and on its stream, at capacities just
// below, at and above what each needs, and checks the round trip.
void CheckAllCapacities(const Bytes& in, std::mt19937& rng) {
  const Bytes stream = EncodeAll(in);
  const auto size = static_cast<int32_t>(stream.size());
  const auto len = static_cast<int32_t>(in.size());
  for (int32_t cap : {size - 3, size - 2, size - 1, size, size + 1, len, 1, 2, 3}) {
    if (cap > 0) ExpectEncodeAgrees(in, cap);
  }
  if (size > 0) ExpectEncodeAgrees(in, 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(size)));

  const Decoded back = Decode(stream, len + 1);
  ASSERT_EQ(Prefix(back.dst, back.result), in);
  ASSERT_EQ(back.info.consumed, size);
  ASSERT_FALSE(back.info.truncated);
  // Also with the room ending a little after the output, where the decoder
  // leaves its whole-vector stores for exact ones.
  for (int32_t cap : {len - 1, len, 1, len + 1 + static_cast<int32_t>(rng() % 400)}) {
    if (cap > 0) ExpectDecodeAgrees(stream, cap);
  }
  if (len > 0) ExpectDecodeAgrees(stream, 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(len)));
}

unsigned char AnyButEscape(std::mt19937& rng) {
  const auto b = static_cast<unsigned char>(rng());
  return b == kRleEscape ? 0x41 : b;
}

// Inputs of the kinds that stress the stream: many escapes, runs near every
// threshold (3, 4, 255, 256, 258, 259 ...), all-equal buffers, plain text,
// padded records (runs at any offset of a block, going on into the next).
Bytes RandomInput(std::mt19937& rng) {
  const uint32_t pick = rng() % 100;
  const std::size_t len = pick < 70 ? rng() % 300 : pick < 95 ? rng() % 5000 : rng() % 70001;
  Bytes in;
  in.reserve(len);
  static constexpr unsigned char kAlphabet[] = {0x00, 0x20, kRleEscape, 0x41, 0x42};
  static constexpr std::size_t kRuns[] = {1, 2, 3, 4, 5, 15, 16, 17, 254, 255, 256, 257, 258, 259, 260, 510, 511};
  switch (rng() % 7) {
    case 0:  // uniform bytes
      while (in.size() < len) in.push_back(static_cast<unsigned char>(rng()));
      break;
    case 1:  // a small alphabet: short runs everywhere
      while (in.size() < len) in.push_back(kAlphabet[rng() % 5]);
      break;
    case 2:  // literal stretches and runs of the threshold lengths
      while (in.size() < len) {
        for (uint32_t k = rng() % 24; k > 0; --k) in.push_back(AnyButEscape(rng));
        const unsigned char b = rng() % 3 == 0 ? kAlphabet[rng() % 5] : static_cast<unsigned char>(rng());
        in.insert(in.end(), kRuns[rng() % std::size(kRuns)], b);
      }
      break;
    case 3:  // all equal
      in.assign(len, rng() % 4 == 0 ? kRleEscape : static_cast<unsigned char>(rng()));
      break;
    case 4:  // half escapes
      while (in.size() < len) in.push_back(rng() % 2 ? kRleEscape : static_cast<unsigned char>(rng()));
      break;
    case 5:  // fields padded with blanks or zeros to widths up to 300, the odd 0xAB
      while (in.size() < len) {
        const std::size_t width = 1 + rng() % (rng() % 4 == 0 ? 300 : 40);
        const std::size_t used = rng() % (width + 1);
        const unsigned char pad = rng() % 3 == 0 ? '0' : ' ';
        for (std::size_t k = 0; k < used; ++k) {
          in.push_back(rng() % 500 == 0 ? kRleEscape : static_cast<unsigned char>('A' + rng() % 26));
        }
        in.insert(in.end(), width - used, pad);
      }
      break;
    default:  // text with the odd run of blanks
      while (in.size() < len) {
        in.push_back(static_cast<unsigned char>('a' + rng() % 26));
        if (rng() % 16 == 0) in.insert(in.end(), rng() % 8, ' ');
      }
      break;
  }
  in.resize(len);
  return in;
}

// Streams the encoder never writes: any counts (0 to 255, 1 to 3 included),
// escapes of escapes in a row, and cuts at any point.
Bytes RandomStream(std::mt19937& rng) {
  const std::size_t tokens = rng() % 200;
  Bytes s;
  for (std::size_t t = 0; t < tokens; ++t) {
    switch (rng() % 4) {
      case 0: s.push_back(AnyButEscape(rng)); break;
      case 1:
        s.push_back(kRleEscape);
        s.push_back(kRleEscape);
        break;
      default:
        s.push_back(kRleEscape);
        s.push_back(AnyButEscape(rng));
        s.push_back(static_cast<unsigned char>(rng() % 3 == 0 ? rng() % 4 : rng()));
        break;
    }
  }
  if (!s.empty() && rng() % 2 == 0) s.resize(rng() % s.size());
  return s;
}

TEST(CodecRandom, AgreesWithReferenceOnRandomInputs) {
  std::mt19937 rng(20240611);
  const int rounds = Iterations();
  for (int r = 0; r < rounds; ++r) {
    const Bytes in = RandomInput(rng);
    CheckAllCapacities(in, rng);
    if (HasFatalFailure()) return;
  }
}

TEST(CodecRandom, AgreesWithReferenceOnAnyStream) {
  std::mt19937 rng(7);
  const int rounds = Iterations();
  for (int r = 0; r < rounds; ++r) {
    const Bytes s = RandomStream(rng);
    const int32_t needed = OracleDecode(s, 200 * 255 + 1).result;  // whole expansion
    for (int32_t cap : {needed - 1, needed, needed + 1, 1 + static_cast<int32_t>(rng() % 1000)}) {
      if (cap > 0) ExpectDecodeAgrees(s, cap);
    }
    if (HasFatalFailure()) return;
  }
}

// Runs and escape stretches placed at every offset of a 64-byte window, so
// that each crosses the block boundaries of the bulk paths in every way:
// alone, and after padded records that the run-block loops are already
// encoding when the run comes (they start once some output is written).
// Runs of 60 to 66 and 122 to 128 bytes also end just before, at and after
// the end of the block after their start, or of the one after that.
TEST(CodecRandom, RunsAtEveryBlockOffset) {
  std::mt19937 rng(3);
  const std::size_t lengths[] = {3,  4,  5,  15,  16,  17,  18,  19,  20,  31,  32,  33,  60,  61,  62, 63,
                                 64, 65, 66, 122, 123, 124, 125, 126, 127, 128, 129, 255, 256, 258, 259};
  const unsigned char fills[] = {0x00, 0x20, kRleEscape};
  for (const bool records : {false, true}) {
    for (const unsigned char fill : fills) {
      for (const std::size_t run : lengths) {
        for (std::size_t offset = 0; offset < 64; ++offset) {
          // 200: long enough for the 64-byte path at any run length, with a
          // second run of 8 bytes three bytes after the first.
          for (const std::size_t after : {std::size_t{0}, std::size_t{3}, std::size_t{40}, std::size_t{200}}) {
            Bytes in;
            if (records) {
              for (std::size_t r = 0; r < 8; ++r) {
                for (std::size_t k = 0; k < 10; ++k) in.push_back(static_cast<unsigned char>('A' + (r + k) % 26));
                in.insert(in.end(), 22, ' ');
              }
            }
            for (std::size_t k = 0; k < offset; ++k) in.push_back(static_cast<unsigned char>('a' + k % 26));
            in.insert(in.end(), run, fill);
            for (std::size_t k = 0; k < after; ++k) {
              in.push_back(after == 200 && k >= 3 && k < 11 ? fill : static_cast<unsigned char>('A' + k % 26));
            }
            CheckAllCapacities(in, rng);
            if (HasFatalFailure()) return;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace velt
