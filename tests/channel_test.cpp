// The channel state both ends keep in step: message sequence rules, header
// differences against the references, and the choice of header cache entries.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "channel/channel.h"
#include "host/context.h"
#include "support.h"
#include "wire/segment.h"

namespace velt::test {
namespace {

using Bytes = std::vector<unsigned char>;

// A channel descriptor made as at MQXR_INIT, in the send library.
struct Channel {
  ScratchDir dir;
  ExitParms parms{};
  ChannelDef def{};
  ExitContext* ctx = nullptr;
  ChannelDescr* cd = nullptr;
  explicit Channel(int table_size) {
    UseConfig(dir.File("velt.cfg"), "LogLevel = 1\nLogFile = " + dir.File("velt.log") +
                                        "\nHdrTblSize = " + std::to_string(table_size) + "\n");
    std::memset(parms.ExitData, ' ', sizeof parms.ExitData);
    std::memcpy(def.ChannelName, "TO.QM2              ", 20);
    ctx = Init(&parms, "SDR");
    cd = NewChannelDescr(&def, ctx, true);
  }
  ~Channel() {
    FreeChannelDescr(cd);
    ReleaseContext(&parms, ctx);
  }
};

Bytes Msh(int32_t msg, int32_t seg) {
  Bytes msh(20, 0);
  std::memcpy(msh.data(), "MSH ", 4);
  std::memcpy(msh.data() + 4, &msg, 4);
  std::memcpy(msh.data() + 12, &seg, 4);
  return msh;
}

bool Accepts(Channel& c, int32_t msg, int32_t seg) {
  return CheckMsgSequence(Msh(msg, seg).data(), c.cd, c.ctx->LocalByteOrder, c.ctx) == 1;
}

TEST(MsgSequence, RulesInOrder) {
  Channel c(4);
  EXPECT_TRUE(Accepts(c, 7, 2));  // nothing seen yet: anything goes
  auto at = [&](int32_t msg, int32_t seg) {
    c.cd->LastMsgNum = msg;
    c.cd->LastSegNum = seg;
  };
  for (auto [msg, seg] : {std::pair{8, 1}, {8, 4}, {7, 3}}) {
    at(7, 2);
    EXPECT_TRUE(Accepts(c, msg, seg)) << msg << "/" << seg;
    EXPECT_EQ(c.cd->LastMsgNum, msg);
    EXPECT_EQ(c.cd->LastSegNum, seg);
  }
  for (auto [msg, seg] : {std::pair{7, 2}, {7, 4}, {9, 1}, {6, 1}}) {
    at(7, 2);
    EXPECT_FALSE(Accepts(c, msg, seg)) << msg << "/" << seg;
    EXPECT_EQ(c.cd->LastMsgNum, 7);
    EXPECT_EQ(c.cd->LastSegNum, 2);
  }
  const auto lines = LogLines(c.dir.File("velt.log"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "1] SDR :Msg# 6  Seg# 1, LastSeen > msg Msg# 7  Seg# 2");
}

TEST(MsgSequence, WrapAndExtremes) {
  Channel c(4);
  c.cd->SeqWrap = 500;
  for (int32_t seg : {1, 3}) {
    c.cd->LastMsgNum = 500;
    c.cd->LastSegNum = 9;
    EXPECT_TRUE(Accepts(c, 1, seg));
    EXPECT_EQ(c.cd->LastMsgNum, 1);
    EXPECT_EQ(c.cd->LastSegNum, 1);
  }
  c.cd->SeqWrap = 0;
  c.cd->LastMsgNum = 5;
  EXPECT_FALSE(Accepts(c, 1, 1));
  // The largest numbers wrap in 32 bits instead of overflowing.
  c.cd->LastMsgNum = INT32_MAX;
  c.cd->LastSegNum = INT32_MAX;
  EXPECT_TRUE(Accepts(c, INT32_MIN, 1));
  c.cd->LastMsgNum = 3;
  c.cd->LastSegNum = INT32_MAX;
  EXPECT_TRUE(Accepts(c, 3, INT32_MIN));
  // Numbers in the other byte order are converted first.
  c.cd->LastMsgNum = 0x01000000;
  c.cd->LastSegNum = 0;
  Bytes msh = Msh(0x02000000, 0x07000000);
  EXPECT_EQ(CheckMsgSequence(msh.data(), c.cd, 1, c.ctx), 0);
  c.cd->LastMsgNum = 1;
  EXPECT_EQ(CheckMsgSequence(msh.data(), c.cd, 1, c.ctx), 1);
  EXPECT_EQ(c.cd->LastSegNum, 7);
}

Bytes Pattern(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((i * 131 + seed * 17) >> 2);
  return bytes;
}

TEST(XorHeader, BothDirectionsKeepTheSameReference) {
  Channel send(4), recv(4);
  const Bytes reference = Pattern(464, 1), header = Pattern(464 + 3, 2);
  std::memcpy(send.cd->HdrCache[2].Image, reference.data(), 464);
  std::memcpy(recv.cd->HdrCache[2].Image, reference.data(), 464);

  Bytes area = header;  // unaligned area: starts one byte in
  XorHeader(send.cd, area.data() + 1, 1, 2);
  for (std::size_t i = 0; i < 464; ++i) ASSERT_EQ(area[1 + i], header[1 + i] ^ reference[i]);
  EXPECT_EQ(std::memcmp(send.cd->HdrCache[2].Image, header.data() + 1, 464), 0);
  EXPECT_EQ(area[465], header[465]);  // nothing beyond the region

  XorHeader(recv.cd, area.data() + 1, 0, 2);
  EXPECT_EQ(area, header);
  EXPECT_EQ(std::memcmp(recv.cd->HdrCache[2].Image, header.data() + 1, 464), 0);
  EXPECT_EQ(std::memcmp(recv.cd->HdrCache[1].Image, send.ctx->InitHdrImage, 464), 0);
}

TEST(XorHeader, StatusImageCoversSixteenBytesAndUndoes) {
  Channel c(4);
  const Bytes before = Pattern(16, 3);
  std::memcpy(c.cd->StatusImage, before.data(), 16);
  Bytes area = Pattern(40, 4);
  const Bytes plain = area;
  XorHeader(c.cd, area.data(), 1, kStatusImageIndex);
  EXPECT_EQ(std::memcmp(area.data() + 16, plain.data() + 16, 24), 0);  // only 16 bytes
  EXPECT_EQ(std::memcmp(c.cd->StatusImage, plain.data(), 16), 0);
  UndoXorHeader(c.cd, area.data(), kStatusImageIndex);
  EXPECT_EQ(area, plain);
  EXPECT_EQ(std::memcmp(c.cd->StatusImage, before.data(), 16), 0);
}

TEST(XorHeader, UndoGivesBackAreaAndCacheEntry) {
  Channel c(4);
  const Bytes entry = Pattern(464, 5);
  std::memcpy(c.cd->HdrCache[3].Image, entry.data(), 464);
  Bytes header = Pattern(464, 6);
  const Bytes plain_header = header;
  XorHeader(c.cd, header.data(), 1, 3);
  UndoXorHeader(c.cd, header.data(), 3);
  EXPECT_EQ(header, plain_header);
  EXPECT_EQ(std::memcmp(c.cd->HdrCache[3].Image, entry.data(), 464), 0);
}

Bytes Xqh(const std::string& queue, const std::string& manager) {
  Bytes xqh(428, 0);
  std::memcpy(xqh.data(), "XQH ", 4);
  std::memset(xqh.data() + 8, ' ', 96);
  std::memcpy(xqh.data() + 8, queue.data(), queue.size());
  std::memcpy(xqh.data() + 56, manager.data(), manager.size());
  return xqh;
}

TEST(HeaderCache, AssignmentAndTakeover) {
  Channel c(4);
  const int64_t now = 1'800'000'000;
  for (int i = 0; i < 4; ++i) {
    const Bytes key = Xqh(std::string(1, static_cast<char>('A' + i)), "QM1");
    EXPECT_EQ(FindCacheEntryAt(key.data(), c.cd, 4, now), i);
  }
  // All ages equal: the highest index is taken over.
  EXPECT_EQ(FindCacheEntryAt(Xqh("E", "QM1").data(), c.cd, 4, now), 3);
  EXPECT_EQ(FindCacheEntryAt(Xqh("A", "QM1").data(), c.cd, 4, now), 0);
  // Same queue, other manager: another key; the oldest entry goes.
  c.cd->QueueKeys[1].LastUse = static_cast<int32_t>(now - 10);
  EXPECT_EQ(FindCacheEntryAt(Xqh("A", "QM2").data(), c.cd, 4, now), 1);
  EXPECT_EQ(c.cd->QueueKeys[1].LastUse, static_cast<int32_t>(now));
  EXPECT_EQ(std::string(c.cd->QueueKeys[1].QueueMgrName, 3), "QM2");

  ResetHeaderCache(c.cd, c.ctx);
  EXPECT_EQ(c.cd->QueueKeys[0].QueueName[0], '\0');
  EXPECT_EQ(FindCacheEntryAt(Xqh("E", "QM1").data(), c.cd, 4, now), 0);
}

TEST(HeaderCache, ResetLeavesStatusImageAndSequence) {
  Channel c(2);
  std::memset(c.cd->HdrCache[1].Image, 0x5A, 464);
  std::memset(c.cd->StatusImage, 0x33, 16);
  c.cd->LastMsgNum = 9;
  c.cd->LastSegNum = 2;
  c.cd->SeqWrap = 77;
  ResetHeaderCache(c.cd, c.ctx);
  EXPECT_EQ(std::memcmp(c.cd->HdrCache[1].Image, c.ctx->InitHdrImage, 464), 0);
  EXPECT_EQ(c.cd->StatusImage[15], 0x33);
  EXPECT_EQ(c.cd->LastMsgNum, 9);
  EXPECT_EQ(c.cd->LastSegNum, 2);
  EXPECT_EQ(c.cd->SeqWrap, 77);
  EXPECT_EQ(c.cd->ChannelType, 0);
  EXPECT_EQ(std::string(c.cd->ChannelName, 6), "TO.QM2");
  EXPECT_NE(c.cd->QueueKeys, nullptr);  // the send library keeps queue keys
}

}  // namespace
}  // namespace velt::test
