// The built-in traffic that veltchan and the end-to-end benchmark carry: what
// the stream holds, that a seed repeats it, and where its documents come from.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "support.h"
#include "traffic.h"

namespace velt::test {
namespace {

using agent::TrafficKind;

std::span<const unsigned char> Bytes(const std::string& s) {
  return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

TEST(Traffic, ClassifiesPayloadsByContent) {
  EXPECT_EQ(agent::ClassifyPayload(Bytes("  \n<?xml version=\"1.0\"?><a/>")), TrafficKind::Xml);
  EXPECT_EQ(agent::ClassifyPayload(Bytes("{\"a\": 1}")), TrafficKind::Json);
  EXPECT_EQ(agent::ClassifyPayload(Bytes("[1, 2]\r\n")), TrafficKind::Json);
  EXPECT_EQ(agent::ClassifyPayload(Bytes("CUST0001   SMITH J     12.50\n")), TrafficKind::Text);
  EXPECT_EQ(agent::ClassifyPayload(Bytes(std::string("<a>\0</a>", 8))), TrafficKind::Binary);
  EXPECT_EQ(agent::ClassifyPayload(Bytes("")), TrafficKind::Binary);
}

TEST(Traffic, CorpusTakesDocumentsInPathOrderAndFallsBackWhenThereAreNone) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.path / "b");
  const std::string doc(200, ' ');
  WriteFile(dir.File("b/2.json"), "{" + doc + "}");
  WriteFile(dir.File("a.XML"), "<a>" + doc + "</a>");
  WriteFile(dir.File("tiny.xml"), "<a/>");                      // under 128 bytes
  WriteFile(dir.File("c.txt"), "<a>" + doc + "</a>");           // not .xml or .json
  WriteFile(dir.File("d.xml"), std::string("<a>\0", 4) + doc);  // not text
  const agent::Corpus corpus = agent::LoadCorpus({dir.path.string()});
  ASSERT_EQ(corpus.documents.size(), 2u);
  EXPECT_FALSE(corpus.built_in);
  EXPECT_EQ(corpus.kinds[0], TrafficKind::Xml);
  EXPECT_EQ(corpus.kinds[1], TrafficKind::Json);

  const agent::Corpus fallback = agent::LoadCorpus({dir.File("nowhere")});
  EXPECT_TRUE(fallback.built_in);
  EXPECT_EQ(fallback.documents.size(), 2u);
}

struct StreamSummary {
  int64_t messages = 0, multi_segment = 0, status = 0, resyncs = 0, init = 0, bytes = 0;
  std::set<std::string> queues;
  std::set<int> kinds;
  bool oversized = false;
};

StreamSummary Summarise(uint64_t seed, int64_t messages, int32_t max_segment) {
  static const agent::Corpus corpus = agent::LoadCorpus({});  // the built-in documents
  agent::TrafficSettings settings;
  settings.seed = seed;
  settings.messages = messages;
  settings.max_segment_length = max_segment;
  agent::Traffic traffic;
  agent::SetUpTraffic(&traffic, settings, &corpus);
  StreamSummary s;
  agent::TrafficStep step;
  while (agent::NextTrafficStep(&traffic, &step)) {
    for (const agent::Segment& seg : step.segments) {
      s.bytes += static_cast<int64_t>(seg.size());
      s.oversized |= static_cast<int32_t>(seg.size()) > max_segment;
      s.init += seg[9] == 1;
      s.resyncs += seg[9] == 2;
      s.status += seg[9] == 5;
      // The remote queue name of a first message segment: XQH at 48, name at 8.
      if (seg[9] == 4 && (seg[10] & 0x10) != 0) s.queues.insert(std::string(seg.begin() + 56, seg.begin() + 104));
    }
    if (step.is_message) {
      ++s.messages;
      s.multi_segment += step.segments.size() > 1;
      s.kinds.insert(static_cast<int>(step.kind));
    }
  }
  return s;
}

TEST(Traffic, StreamHoldsWhatTheReportPromises) {
  const StreamSummary s = Summarise(1, 3000, 32768);
  EXPECT_EQ(s.messages, 3000);
  EXPECT_EQ(s.init, 1);
  EXPECT_EQ(s.resyncs, 1);
  EXPECT_GT(s.status, 0);
  EXPECT_GT(s.multi_segment, 0);
  EXPECT_FALSE(s.oversized);
  EXPECT_GT(s.queues.size(), 4u);  // more than the default header table holds
  EXPECT_EQ(s.kinds, (std::set<int>{static_cast<int>(TrafficKind::Xml), static_cast<int>(TrafficKind::Json),
                                    static_cast<int>(TrafficKind::Records), static_cast<int>(TrafficKind::Binary)}));
}

TEST(Traffic, ASeedRepeatsTheStreamAndAnotherChangesIt) {
  const StreamSummary a = Summarise(5, 500, 4096);
  const StreamSummary b = Summarise(5, 500, 4096);
  const StreamSummary c = Summarise(6, 500, 4096);
  EXPECT_EQ(a.bytes, b.bytes);
  EXPECT_EQ(a.status, b.status);
  EXPECT_NE(a.bytes, c.bytes);
  EXPECT_FALSE(a.oversized);
}

TEST(Traffic, AOneMessageRunStillStartsWithInitialData) {
  const StreamSummary s = Summarise(1, 1, 32768);
  EXPECT_EQ(s.messages, 1);
  EXPECT_EQ(s.init, 1);
  EXPECT_EQ(s.resyncs, 0);
}

}  // namespace
}  // namespace velt::test
