// Many channels at once in one process, through the real libraries: eight
// channels, each end on a thread of its own (16 exit instances, each with its
// own parameter block), all naming the same log and statistics files, 10,000
// segments per channel. Every segment must arrive exactly as built, every log
// line must be whole (prefix, message, line end, nothing of another line in
// it) and every statistics line must be there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "channel_end.h"
#include "support.h"
#include "workload.h"

namespace velt::test {
namespace {

// How many channels run at once, with what log level and segment sizes.
struct Plan {
  int channels;
  int segments;
  int log_level;
  int32_t small_segment;  // MaxSegmentLength of the even channels
  int32_t large_segment;  // and of the odd ones
};

// What the send end's thread hands to the receive end's thread: the segment
// as built and as it travelled. An empty item ends the stream.
struct Item {
  std::vector<unsigned char> built;
  std::vector<unsigned char> wire;
};

struct Line {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Item> items;

  void Push(Item item) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return items.size() < 64; });
    items.push_back(std::move(item));
    changed.notify_all();
  }
  Item Pop() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return !items.empty(); });
    Item item = std::move(items.front());
    items.pop_front();
    changed.notify_all();
    return item;
  }
};

struct ChannelRun {
  int index = 0;
  const Plan* plan = nullptr;
  Line line;
  int send_not_ok = 0;
  int recv_not_ok = 0;
  int altered = 0;
  int received = 0;
  int compressed = 0;
};

agent::EndSettings EndFor(const ChannelRun& run, int32_t exit_id) {
  agent::EndSettings s;
  s.exit_id = exit_id;
  s.channel_name = "TO.REMOTE." + std::to_string(run.index);
  s.channel_type = exit_id == MQXT_CHANNEL_SEND_EXIT ? 1 : 3;
  s.max_segment_length = run.index % 2 == 0 ? run.plan->small_segment : run.plan->large_segment;
  s.exit_data = "COMP=" + std::to_string(run.index % 4 + 1) + " HDR=" + std::to_string(run.index % 3 == 0 ? 1 : 16);
  return s;
}

void SendEnd(ChannelRun* run) {
  agent::ChannelEnd end;
  agent::SetUpEnd(&end, SendLibrary().entry, EndFor(*run, MQXT_CHANNEL_SEND_EXIT));
  run->send_not_ok += agent::StartEnd(&end) == MQXCC_OK ? 0 : 1;
  agent::WorkloadSettings settings;
  settings.seed = 7000u + static_cast<uint64_t>(run->index);
  settings.max_segment_length = end.parms.MaxSegmentLength;
  settings.max_payload = 40000;
  settings.wrap_value = 300;
  agent::Workload workload;
  agent::SetUpWorkload(&workload, settings);
  agent::Step step;
  for (int sent = 0; sent < run->plan->segments;) {
    agent::NextStep(&workload, &step);
    for (const agent::Segment& s : step.segments) {
      if (sent == run->plan->segments) break;
      const agent::Delivery d = agent::TransmitOnEnd(&end, s.data(), static_cast<int32_t>(s.size()));
      run->send_not_ok += d.response == MQXCC_OK ? 0 : 1;
      run->compressed += d.from_exit_buffer ? 1 : 0;
      run->line.Push(Item{s, std::vector<unsigned char>(d.data, d.data + d.length)});
      ++sent;
    }
  }
  run->line.Push(Item{});
  run->send_not_ok += agent::StopEnd(&end) == MQXCC_OK ? 0 : 1;
}

void RecvEnd(ChannelRun* run) {
  agent::ChannelEnd end;
  agent::SetUpEnd(&end, RecvLibrary().entry, EndFor(*run, MQXT_CHANNEL_RCV_EXIT));
  run->recv_not_ok += agent::StartEnd(&end) == MQXCC_OK ? 0 : 1;
  for (Item item = run->line.Pop(); !item.built.empty(); item = run->line.Pop()) {
    const agent::Delivery d = agent::TransmitOnEnd(&end, item.wire.data(), static_cast<int32_t>(item.wire.size()));
    run->recv_not_ok += d.response == MQXCC_OK ? 0 : 1;
    const bool same =
        d.length == static_cast<int32_t>(item.built.size()) && std::equal(item.built.begin(), item.built.end(), d.data);
    run->altered += same ? 0 : 1;
    ++run->received;
  }
  run->recv_not_ok += agent::StopEnd(&end) == MQXCC_OK ? 0 : 1;
}

// "hh:mm:ss [l] TAG :" with TAG SDR or RCVR; returns the length, or 0.
std::size_t PrefixLength(const std::string& line) {
  auto digit = [&](std::size_t i) { return i < line.size() && line[i] >= '0' && line[i] <= '9'; };
  if (!(digit(0) && digit(1) && digit(3) && digit(4) && digit(6) && digit(7) && digit(10))) return 0;
  if (line.compare(2, 1, ":") != 0 || line.compare(5, 1, ":") != 0 || line.compare(8, 2, " [") != 0) return 0;
  if (line.compare(11, 7, "] SDR :") == 0) return 18;
  if (line.compare(11, 8, "] RCVR :") == 0) return 19;
  return 0;
}

// A line of a buffer dump: entries "ddd[c] " or "ESC[ ] " and nothing else.
bool DumpLine(const std::string& line) {
  if (line.empty() || line.size() % 7 != 0) return false;
  for (std::size_t at = 0; at < line.size(); at += 7) {
    const std::string entry = line.substr(at, 7);
    if (entry == "ESC[ ] ") continue;
    if (!(std::isdigit(static_cast<unsigned char>(entry[0])) && std::isdigit(static_cast<unsigned char>(entry[1])) &&
          std::isdigit(static_cast<unsigned char>(entry[2])) && entry[3] == '[' && entry.compare(5, 2, "] ") == 0))
      return false;
  }
  return true;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void RunAtOnce(const Plan& plan) {
  const int channels = plan.channels;
  const int segments = plan.segments;
  ScratchDir dir;
  const std::string log = dir.File("velt.log");
  const std::string stats = dir.File("velt.dat");
  UseConfig(dir.File("velt.cfg"), "LogLevel = " + std::to_string(plan.log_level) +
                                      "\nStatistics = 2\nLogFile = " + log + "\nStatsFile = " + stats + "\n");
  SendLibrary();  // loaded before the threads start
  RecvLibrary();

  std::vector<ChannelRun> runs(static_cast<std::size_t>(channels));
  std::vector<std::thread> threads;
  for (int i = 0; i < channels; ++i) {
    runs[static_cast<std::size_t>(i)].index = i;
    runs[static_cast<std::size_t>(i)].plan = &plan;
    threads.emplace_back(SendEnd, &runs[static_cast<std::size_t>(i)]);
    threads.emplace_back(RecvEnd, &runs[static_cast<std::size_t>(i)]);
  }
  for (std::thread& t : threads) t.join();

  for (const ChannelRun& run : runs) {
    SCOPED_TRACE("channel " + std::to_string(run.index));
    EXPECT_EQ(run.received, segments);
    EXPECT_EQ(run.altered, 0);
    EXPECT_EQ(run.send_not_ok, 0);
    EXPECT_EQ(run.recv_not_ok, 0);
    EXPECT_GT(run.compressed, 0);
  }

  // Every line whole; the per-call lines all there.
  long prefixed = 0, dumps = 0, empty = 0, torn = 0;
  long send_traces = 0, recv_traces = 0, send_after = 0, recv_after = 0;
  std::istringstream in(ReadFile(log));
  for (std::string line; std::getline(in, line);) {
    const std::size_t prefix = PrefixLength(line);
    if (prefix != 0) {
      const std::string body = line.substr(prefix);
      if (Contains(body, "] SDR :") || Contains(body, "] RCVR :")) {
        if (++torn <= 5) ADD_FAILURE() << "torn line: " << line;
        continue;
      }
      ++prefixed;
      const bool send = line[13] == 'S';
      if (body.rfind("velt_exit: [", 0) == 0) ++(send ? send_traces : recv_traces);
      if (body.rfind("velt_exit: ProcessXmitSend: before ", 0) == 0) ++send_after;
      if (body.rfind("velt_exit: ProcessXmitRecv: before ", 0) == 0) ++recv_after;
    } else if (line.empty()) {
      ++empty;
    } else if (DumpLine(line)) {
      ++dumps;
    } else if (++torn <= 5) {
      ADD_FAILURE() << "line that is neither a message nor a dump: " << line;
    }
  }
  EXPECT_EQ(torn, 0);
  // INIT, one XMIT per segment and TERM per instance.
  EXPECT_EQ(send_traces, channels * (segments + 2L));
  EXPECT_EQ(recv_traces, channels * (segments + 2L));
  EXPECT_EQ(send_after, channels * static_cast<long>(segments));
  EXPECT_EQ(recv_after, channels * static_cast<long>(segments));
  // "before ... after ...\n\n" leaves an empty line after each of them.
  EXPECT_GE(empty, send_after + recv_after);
  EXPECT_GT(dumps, 0);
  std::printf("log: %ld message lines, %ld dump lines, %ld empty lines\n", prefixed, dumps, empty);

  // One statistics line per send-side segment, then each instance's summary.
  long per_segment = 0, totals = 0, means = 0, overall = 0, other = 0;
  std::istringstream stats_in(ReadFile(stats));
  for (std::string line; std::getline(stats_in, line);) {
    if (line.size() > 10 && line[0] == ' ' && Contains(line, "  B= ") && Contains(line, " A= ") &&
        Contains(line, " Ratio =") && line.back() == ' ' &&
        (Contains(line, "(Mean =") || Contains(line, "(Mean = N/A)")))
      ++per_segment;
    else if (line.rfind("Total msgs  ", 0) == 0 && Contains(line, " were compressed"))
      ++totals;
    else if (line.rfind("Mean compression ratio of compressed segs =  ", 0) == 0)
      ++means;
    else if (line.rfind("Overall compression ratio of all data     =  ", 0) == 0)
      ++overall;
    else if (++other <= 5)
      ADD_FAILURE() << "statistics line torn or unknown: " << line;
  }
  EXPECT_EQ(other, 0);
  EXPECT_EQ(per_segment, channels * static_cast<long>(segments));
  EXPECT_EQ(totals, channels);
  EXPECT_EQ(means, channels);
  EXPECT_EQ(overall, channels);
}

TEST(ManyChannels, SixteenInstancesOnThreadsShareTheirFiles) { RunAtOnce(Plan{8, 10000, 5, 4096, 32768}); }

// At level 6 every segment is dumped in full, thousands of characters per
// dump: each dump line must still reach the file whole.
TEST(ManyChannels, FullDumpsStayWholeLines) { RunAtOnce(Plan{4, 300, 6, 600, 2000}); }

}  // namespace
}  // namespace velt::test
