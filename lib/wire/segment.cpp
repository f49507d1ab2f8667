#include "wire/segment.h"

namespace velt {

namespace {

constexpr unsigned char kTshAscii[4] = {0x54, 0x53, 0x48, 0x20};
constexpr unsigned char kTshEbcdic[4] = {0xE3, 0xE2, 0xC8, 0x40};
constexpr unsigned char kMshAscii[4] = {0x4D, 0x53, 0x48, 0x20};
constexpr unsigned char kMshEbcdic[4] = {0xD4, 0xE2, 0xC8, 0x40};
constexpr unsigned char kIdAscii[4] = {0x49, 0x44, 0x20, 0x20};
constexpr unsigned char kXqhAscii[4] = {0x58, 0x51, 0x48, 0x20};

// Tests p = start .. length - 5 for either id (ebcdic may be null).
const unsigned char* Scan(const unsigned char* data, int32_t length, int32_t start, const unsigned char* ascii,
                          const unsigned char* ebcdic) {
  if (data == nullptr || start < 0) return nullptr;
  // Computed in 64 bits so that no length can overflow the bound.
  const int64_t last = static_cast<int64_t>(length) - 5;
  for (int64_t p = start; p <= last; ++p) {
    const unsigned char* at = data + p;
    if (std::memcmp(at, ascii, 4) == 0) return at;
    if (ebcdic != nullptr && std::memcmp(at, ebcdic, 4) == 0) return at;
  }
  return nullptr;
}

}  // namespace

int32_t ConvertLong(int32_t value, uint16_t peer_order, uint16_t local_order) {
  if (peer_order == local_order) return value;
  const uint32_t v = static_cast<uint32_t>(value);
  const uint32_t swapped = (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
  return static_cast<int32_t>(swapped);
}

const unsigned char* FindTSH(const unsigned char* data, int32_t length, int32_t* offset) {
  const unsigned char* tsh = Scan(data, length, 0, kTshAscii, kTshEbcdic);
  *offset = tsh == nullptr ? 0 : static_cast<int32_t>(tsh - data);
  return tsh;
}

const unsigned char* FindMSH(const unsigned char* data, int32_t length, int32_t start) {
  return Scan(data, length, start, kMshAscii, kMshEbcdic);
}

const unsigned char* FindID(const unsigned char* data, int32_t length, int32_t start) {
  return Scan(data, length, start, kIdAscii, nullptr);
}

const unsigned char* FindXQH(const unsigned char* data, int32_t length, int32_t start) {
  return Scan(data, length, start, kXqhAscii, nullptr);
}

const unsigned char* FindSegmentHeader(const unsigned char* data, int32_t length, int32_t* offset) {
  const unsigned char* tsh = FindTSH(data, length, offset);
  if (tsh != nullptr && static_cast<int64_t>(*offset) + kTshRest > length) {
    *offset = 0;
    return nullptr;
  }
  return tsh;
}

const unsigned char* FindWhole(const unsigned char* (*scan)(const unsigned char*, int32_t, int32_t),
                               const unsigned char* data, int32_t length, int32_t start, int32_t need) {
  const unsigned char* found = scan(data, length, start);
  if (found == nullptr) return nullptr;
  if (static_cast<int64_t>(found - data) + need > length) return nullptr;
  return found;
}

}  // namespace velt
