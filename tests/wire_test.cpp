// The wire format as the exits read it: the scanners that find the segment's
// structures, and integers in the peer's byte order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "wire/segment.h"

namespace velt::test {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes WithIdAt(std::size_t size, std::size_t at, const char* id) {
  Bytes data(size, '.');
  std::memcpy(data.data() + at, id, 4);
  return data;
}

TEST(Scanners, LastPositionTestedIsLengthMinusFive) {
  int32_t t = -1;
  Bytes data = WithIdAt(40, 35, "TSH ");
  EXPECT_EQ(FindTSH(data.data(), 40, &t), data.data() + 35);
  EXPECT_EQ(t, 35);
  data = WithIdAt(40, 36, "TSH ");
  EXPECT_EQ(FindTSH(data.data(), 40, &t), nullptr);
  EXPECT_EQ(t, 0);
  for (int32_t tiny : {-100, -1, 0, 3, 4}) {
    EXPECT_EQ(FindTSH(data.data(), tiny, &t), nullptr);
    EXPECT_EQ(t, 0);
  }
  const Bytes msh = WithIdAt(60, 30, "MSH ");
  EXPECT_EQ(FindMSH(msh.data(), 60, 28), msh.data() + 30);
  EXPECT_EQ(FindMSH(msh.data(), 60, 31), nullptr);
  EXPECT_EQ(FindMSH(msh.data(), 34, 28), nullptr);  // 34 - 4 <= 30: not tested
  EXPECT_EQ(FindMSH(msh.data(), 35, 28), msh.data() + 30);
  EXPECT_EQ(FindMSH(msh.data(), 60, 57), nullptr);
}

TEST(Scanners, EbcdicOnlyForTshAndMsh) {
  const unsigned char tsh_ebcdic[] = {0xE3, 0xE2, 0xC8, 0x40, 0, 0, 0, 0, 0};
  int32_t t = -1;
  EXPECT_EQ(FindTSH(tsh_ebcdic, sizeof tsh_ebcdic, &t), tsh_ebcdic);
  const unsigned char msh_ebcdic[] = {1, 0xD4, 0xE2, 0xC8, 0x40, 0, 0, 0, 0, 0};
  EXPECT_EQ(FindMSH(msh_ebcdic, sizeof msh_ebcdic, 0), msh_ebcdic + 1);
  const unsigned char xqh_ebcdic[] = {0xE7, 0xD8, 0xC8, 0x40, 0, 0, 0, 0, 0};
  EXPECT_EQ(FindXQH(xqh_ebcdic, sizeof xqh_ebcdic, 0), nullptr);
  const unsigned char id_ebcdic[] = {0xC9, 0xC4, 0x40, 0x40, 0, 0, 0, 0, 0};
  EXPECT_EQ(FindID(id_ebcdic, sizeof id_ebcdic, 0), nullptr);
  Bytes twice = WithIdAt(50, 20, "TSH ");
  std::memcpy(twice.data() + 7, "TSH ", 4);
  EXPECT_EQ(FindTSH(twice.data(), 50, &t), twice.data() + 7);
}

TEST(Scanners, WholeStructureMustFit) {
  const Bytes data = WithIdAt(60, 50, "MSH ");
  EXPECT_EQ(FindWhole(FindMSH, data.data(), 60, 28, 20), nullptr);
  EXPECT_EQ(FindWhole(FindMSH, data.data(), 60, 28, 10), data.data() + 50);
  const Bytes tsh = WithIdAt(30, 20, "TSH ");
  int32_t t = -1;
  EXPECT_EQ(FindSegmentHeader(tsh.data(), 30, &t), nullptr);  // byte 11 would lie beyond
  EXPECT_EQ(FindSegmentHeader(tsh.data(), 25, &t), nullptr);
  const Bytes fits = WithIdAt(32, 20, "TSH ");
  EXPECT_EQ(FindSegmentHeader(fits.data(), 32, &t), fits.data() + 20);
}

TEST(ConvertLong, ReversesForEveryOtherOrder) {
  const unsigned char bytes[] = {1, 2, 3, 4};
  const int32_t value = LoadInt32(bytes);
  auto as_bytes = [](int32_t v) {
    Bytes out(4);
    std::memcpy(out.data(), &v, 4);
    return out;
  };
  EXPECT_EQ(as_bytes(ConvertLong(value, 2, 2)), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(as_bytes(ConvertLong(value, 1, 2)), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(as_bytes(ConvertLong(value, 0, 2)), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(MarkForIndex(5), 0x51);
  EXPECT_EQ(MarkForIndex(2), 0x21);
  EXPECT_EQ(IndexOfMark(0xF1), 15);
}

}  // namespace
}  // namespace velt::test
