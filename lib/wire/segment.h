// Transmission segment structures as the exits read them, the scanners that
// find them and the compression mark.
//
// Offsets are relative to the structure; t names the offset at which the
// segment header (TSH) was found in the transmission buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velt {

// Segment header.
inline constexpr int32_t kTshLength = 28;
inline constexpr int32_t kTshByteOrder = 8;
inline constexpr int32_t kTshType = 9;
inline constexpr int32_t kTshFlags = 10;
inline constexpr int32_t kTshMark = 11;
inline constexpr int32_t kTshRest = 12;  // start of the header & data region

// Segment types (TSH byte 9).
enum SegmentType : uint8_t {
  kSegInitData = 1,
  kSegResynch = 2,
  kSegReset = 3,
  kSegMessage = 4,
  kSegStatus = 5,
};

// Control flags (TSH byte 10).
inline constexpr uint8_t MQP_TCF_ERROR = 0x02;
inline constexpr uint8_t MQP_TCF_CLOSE_CHANNEL = 0x08;
inline constexpr uint8_t MQP_TCF_FIRST = 0x10;

// Message segment header: the exits read its first 20 bytes.
inline constexpr int32_t kMshLength = 20;
inline constexpr int32_t kMshMsgNum = 4;
inline constexpr int32_t kMshTotalLength = 8;
inline constexpr int32_t kMshSegNum = 12;
inline constexpr int32_t kMshSegLength = 16;

// Initial data: the wrap value of the message sequence.
inline constexpr int32_t kIdWrapValue = 20;
inline constexpr int32_t kIdReadLength = 24;

// Transmission queue header: the key of the header cache.
inline constexpr int32_t kXqhQueueName = 8;
inline constexpr int32_t kXqhQueueMgrName = 56;
inline constexpr int32_t kXqhNameLength = 48;
inline constexpr int32_t kXqhReadLength = 104;

// Where the scans for the structures behind the TSH begin.
inline constexpr int32_t kMshSearchFrom = kTshLength;               // t + 28
inline constexpr int32_t kXqhSearchFrom = kTshLength + kMshLength;  // t + 48

// Header regions, fixed by offset from t + 12.
inline constexpr int32_t kMessageHeaderRegion = 464;
inline constexpr int32_t kStatusHeaderRegion = 16;

// Compression mark (TSH byte 11): bit 0 compressed, bits 4-7 the cache index.
inline constexpr uint8_t kMarkCompressed = 0x01;
inline constexpr uint8_t MarkForIndex(uint16_t index) { return static_cast<uint8_t>(((index * 16u) + 1u) & 0xFFu); }
inline constexpr uint16_t IndexOfMark(uint8_t mark) { return static_cast<uint16_t>(mark >> 4); }

// The mark has room for 16 cache indexes: no header table is larger.
inline constexpr uint16_t kMaxHdrTblSize = 16;

// The header cache index that selects the status image.
inline constexpr uint16_t kStatusImageIndex = 0xFFFF;

// Reads a 4-byte integer from any address.
inline int32_t LoadInt32(const unsigned char* at) {
  int32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Copies a string of at most size characters from src (ending at a NUL) and
// fills the rest of dst up to size with NUL characters; dst gets no
// terminator when src is size characters long.
inline void CopyNulFilled(char* dst, const char* src, std::size_t size) {
  std::size_t i = 0;
  for (; i < size && src[i] != '\0'; ++i) dst[i] = src[i];
  for (; i < size; ++i) dst[i] = '\0';
}

// Returns value unchanged when peer_order equals local_order, otherwise with
// its four bytes reversed (any peer order but the local one reverses).
int32_t ConvertLong(int32_t value, uint16_t peer_order, uint16_t local_order);

// Each scanner tests positions p = start, start + 1, ... while p < length - 4
// and returns the first match, or null. Nothing at or beyond length - 4 is
// tested, and a negative or tiny length tests nothing. A scanner does not
// check that the structure it finds fits in the buffer.

// Finds "TSH " (ASCII or EBCDIC) from 0; *offset gets its position, 0 if none.
const unsigned char* FindTSH(const unsigned char* data, int32_t length, int32_t* offset);
// Finds "MSH " (ASCII or EBCDIC) from start.
const unsigned char* FindMSH(const unsigned char* data, int32_t length, int32_t start);
// Finds "ID  " (ASCII only) from start.
const unsigned char* FindID(const unsigned char* data, int32_t length, int32_t start);
// Finds "XQH " (ASCII only) from start.
const unsigned char* FindXQH(const unsigned char* data, int32_t length, int32_t start);

// FindTSH for the processing: a TSH counts only when its first 12 bytes (up
// to and including the mark) lie within length.
const unsigned char* FindSegmentHeader(const unsigned char* data, int32_t length, int32_t* offset);

// As the scanners above, but a structure only counts when its first `need`
// bytes lie within length; a match that does not fit is treated as none.
const unsigned char* FindWhole(const unsigned char* (*scan)(const unsigned char*, int32_t, int32_t),
                               const unsigned char* data, int32_t length, int32_t start, int32_t need);

}  // namespace velt
