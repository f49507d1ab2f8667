// Inputs on which the codec fuzz target once found a fault, replayed through
// the same checks with the codec as the exits are built (and, in a second
// program, its portable path): see fuzz/regressions/decode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "codec_checks.h"

namespace velt::test {
namespace {

TEST(CodecFindings, EarlierFindingsPassEveryCheck) {
  const std::filesystem::path dir = std::filesystem::path(VELT_FUZZ_REGRESSIONS) / "decode";
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const char* failed = fuzz::CheckCodec(bytes.data(), bytes.size());
    EXPECT_EQ(failed, nullptr) << entry.path().filename() << ": " << failed;
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

// The finding's shape: literals and escapes up to a capacity that ends
// inside them, for every capacity around the input's length.
TEST(CodecFindings, EncoderWithLittleRoomAlwaysStops) {
  std::vector<unsigned char> bytes;
  for (int i = 0; i < 600; ++i) bytes.push_back(static_cast<unsigned char>(i % 7 == 0 ? 0xAB : 'a' + i % 5));
  for (int32_t capacity = -2; capacity < 1300; capacity += 1) {
    fuzz::Writer w;
    w.U16(static_cast<unsigned>(capacity + fuzz::kCapacityBias));
    w.Bytes(bytes);
    const char* failed = fuzz::CheckCodec(w.out.data(), w.out.size());
    ASSERT_EQ(failed, nullptr) << "capacity " << capacity << ": " << failed;
  }
}

}  // namespace
}  // namespace velt::test
