// The byte formats the fuzz targets read, shared with fuzz_seeds which writes
// seed inputs in them. All integers are little-endian; a reader that runs out
// of input yields zeros and reports that it is done.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace velt::fuzz {

struct Reader {
  const uint8_t* data;
  std::size_t size;
  std::size_t at = 0;

  bool Done() const { return at >= size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  uint16_t U16() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  // Up to count bytes (fewer at the end of the input).
  std::vector<unsigned char> Bytes(std::size_t count) {
    const std::size_t take = std::min(count, size - std::min(at, size));
    std::vector<unsigned char> out(data + at, data + at + take);
    at += take;
    return out;
  }
};

struct Writer {
  std::vector<unsigned char> out;
  void Byte(unsigned value) { out.push_back(static_cast<unsigned char>(value)); }
  void U16(unsigned value) {
    Byte(value & 0xFFu);
    Byte((value >> 8) & 0xFFu);
  }
  void Bytes(const unsigned char* data, std::size_t size) { out.insert(out.end(), data, data + size); }
  template <typename Container>
  void Bytes(const Container& bytes) {
    Bytes(bytes.data(), bytes.size());
  }
};

// Segment sizes a channel is set up with: selector & 3.
inline int32_t MaxSegmentFor(unsigned selector, uint16_t custom) {
  switch (selector & 3u) {
    case 0: return 600;
    case 1: return 4096;
    case 2: return 32768;
    default: return 29 + custom % 40000;
  }
}

// --- fuzz_recv -----------------------------------------------------------------
// settings   byte: bits 0-3 HdrTblSize - 1, bits 4-5 segment size selector,
//                  bits 6-7 log level (-1, -1, 5, 6)
// custom     u16:  size when the selector is 3
// records    until the input ends (at most kMaxRecords):
//   op       byte: bit 0 compress the segment here (mark it and encode its
//                  tail as the sending end would, with cache index op >> 4);
//                  op % 16 == 14 is a call with another exit reason instead
//   length   u16   (cut to the segment size)
//   bytes    length bytes
inline constexpr int kMaxRecords = 24;
inline constexpr uint8_t kOpCompress = 0x01;
inline constexpr uint8_t kOpOtherReason = 0x0E;

inline int16_t LogLevelFor(unsigned settings) {
  switch ((settings >> 6) & 3u) {
    case 2: return 5;
    case 3: return 6;
    default: return -1;
  }
}

// --- fuzz_roundtrip ------------------------------------------------------------
// settings   byte: bits 0-3 HdrTblSize - 1, bits 4-6 Compression (0..7)
// shape      byte: bits 0-1 segment size selector, bit 2 big-endian stream,
//                  bits 3-7 wrap value selector (small values wrap often)
// custom     u16
// records    until the input ends (at most kMaxRecords):
//   kind     byte: kind % 5 selects
//     0 raw segment: u16 length, bytes (TSH byte 11 is forced to 0, as an
//       agent builds it)
//     1 message: byte destination, u16 payload length, byte fill, then
//       payload bytes; a payload shorter than its length is filled up with
//       the fill byte (runs, as real data has)
//     2 status: byte flags, byte body length, body bytes
//     3 initial data, 4 resynchronisation or reset (kind bit 7 picks reset)
enum RecordKind : uint8_t { kRaw = 0, kMessage = 1, kStatus = 2, kInitData = 3, kControl = 4 };
inline constexpr int kRecordKinds = 5;

// --- fuzz_config ---------------------------------------------------------------
// exit data  32 bytes (blank-padded when the input is shorter)
// role       byte: bit 0 receive end (ExitId 14) instead of send end
// file       the rest: the configuration file's contents
inline constexpr std::size_t kExitDataBytes = 32;

// --- fuzz_decode ---------------------------------------------------------------
// capacity   u16, minus 8 (so that capacities 0 and below occur)
// stream     the rest
inline constexpr int32_t kCapacityBias = 8;

}  // namespace velt::fuzz
