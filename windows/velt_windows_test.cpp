// The Windows check of the exit libraries: loads VELTSEND.dll and
// VELTRECV.dll with LoadLibrary, as the queue manager does, and drives them
// with the simulated channel agent. Built for 32-bit Windows it covers what
// depends on pointer size and byte order there: the context reference in
// ExitUserArea, segments in the other byte order, and the codec's block
// paths through real channels. It also checks the fixed file locations on
// drive C: when VELT_EXIT_CFG is not set.
//
// Usage: velt_windows_test [directory of the DLLs]   (default: the program's)
// Ends with the line "N passed, M failed"; the exit status is 1 on any failure.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "channel_end.h"
#include "exit_library.h"
#include "payloads.h"
#include "segments.h"
#include "sim_channel.h"
#include "velt/velt_exit.h"
#include "workload.h"

namespace fs = std::filesystem;
using namespace velt;

namespace {

// ---------------------------------------------------------------------------
// Checks: each group of related checks passes or fails as one.

struct Group {
  std::string name;
  std::vector<std::string> failures;
  int more = 0;  // failures past the ones kept for the report

  void Expect(bool ok, const std::string& what) {
    if (ok) return;
    if (failures.size() < 8) {
      failures.push_back(what);
    } else {
      ++more;
    }
  }
  bool Failed() const { return !failures.empty(); }
};

int g_passed = 0;
int g_failed = 0;

void Run(const char* name, const std::function<void(Group&)>& body) {
  Group group{name, {}, 0};
  std::printf("[ RUN  ] %s\n", name);
  std::fflush(stdout);
  body(group);
  if (group.Failed()) {
    ++g_failed;
    for (const std::string& f : group.failures) std::printf("    %s\n", f.c_str());
    if (group.more > 0) std::printf("    ... and %d more\n", group.more);
    std::printf("[ FAIL ] %s\n", name);
  } else {
    ++g_passed;
    std::printf("[   OK ] %s\n", name);
  }
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Files, the environment and the libraries.

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The number of times needle occurs in text.
int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Log lines written at level 0: a rejected call, data that cannot be handled
// or a broken message sequence. A send exit's refused compression of an
// incompressible message is expected and left out.
std::vector<std::string> LevelZeroLines(const std::string& log) {
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.size() > 9 && line.compare(8, 5, " [0] ") == 0 &&
        line.find("SDR :ProcessXmitSend: Compressed header (") == std::string::npos)
      lines.push_back(line);
  }
  return lines;
}

void SetConfigVariable(const std::string& value) { _putenv_s("VELT_EXIT_CFG", value.c_str()); }

// Writes the configuration file of the scratch directory and points
// VELT_EXIT_CFG at it. File names in it stay relative to the scratch
// directory: a drive letter's colon would end the name.
std::string g_scratch;
void UseConfig(const std::string& text) {
  const std::string path = g_scratch + "\\velt.cfg";
  WriteAll(path, text);
  SetConfigVariable(path);
}

std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, n);
  const std::size_t slash = text.find_last_of("\\/");
  return slash == std::string::npos ? "." : text.substr(0, slash);
}

agent::ExitLibrary g_send;
agent::ExitLibrary g_recv;

agent::EndSettings SendSettings(int32_t max_segment, const std::string& exit_data) {
  agent::EndSettings s;
  s.channel_name = "TO.REMOTE.WIN32";
  s.max_segment_length = max_segment;
  s.exit_data = exit_data;
  return s;
}

agent::EndSettings RecvSettings(agent::EndSettings s) {
  s.channel_type = 3;
  return s;
}

// ---------------------------------------------------------------------------
// The export table of a loaded module, read from its image.

std::vector<std::string> ExportedNames(HMODULE module) {
  std::vector<std::string> names;
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, base, sizeof dos);
  IMAGE_NT_HEADERS nt;
  std::memcpy(&nt, base + dos.e_lfanew, sizeof nt);
  const IMAGE_DATA_DIRECTORY dir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.VirtualAddress == 0) return names;
  IMAGE_EXPORT_DIRECTORY exports;
  std::memcpy(&exports, base + dir.VirtualAddress, sizeof exports);
  for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
    DWORD name_rva;
    std::memcpy(&name_rva, base + exports.AddressOfNames + i * sizeof(DWORD), sizeof name_rva);
    names.emplace_back(reinterpret_cast<const char*>(base + name_rva));
  }
  return names;
}

void CheckLibraryExports(Group& g, const agent::ExitLibrary& lib) {
  auto* module = static_cast<HMODULE>(lib.handle);
  const std::vector<std::string> names = ExportedNames(module);
  std::string listed;
  for (const std::string& n : names) listed += n + " ";
  g.Expect(names == std::vector<std::string>{"WEP", "velt_exit"},
           lib.path + " exports [" + listed + "], expected exactly WEP and velt_exit");
  for (const char* decorated : {"_velt_exit", "velt_exit@28", "_velt_exit@28", "_WEP", "WEP@4", "_WEP@4"}) {
    g.Expect(GetProcAddress(module, decorated) == nullptr, lib.path + " resolves the decorated name " + decorated);
  }
  using WepFunction = uint16_t (*)(int32_t);
  const FARPROC wep = GetProcAddress(module, "WEP");
  g.Expect(wep != nullptr, lib.path + " has no WEP");
  if (wep != nullptr) {
    const auto call = reinterpret_cast<WepFunction>(reinterpret_cast<void*>(wep));
    g.Expect(call(0) == 1, lib.path + ": WEP(0) does not answer 1");
  }
}

// ---------------------------------------------------------------------------
// Channels.

struct ChannelTally {
  int sent = 0;
  int compressed = 0;
  unsigned types = 0;  // bit n set when a segment of type n travelled
  bool stopped = false;
};

// Carries one segment and checks that it arrived as built.
void Carry(Group& g, agent::SimChannel* channel, const agent::Segment& segment, ChannelTally* tally,
           const std::string& where) {
  if (tally->stopped) return;
  const agent::Hop hop = agent::Transmit(channel, segment.data(), static_cast<int32_t>(segment.size()));
  const std::string at = where + ", segment " + std::to_string(tally->sent) + " (type " +
                         std::to_string(segment.size() > 9 ? segment[9] : 0) + ", " + std::to_string(segment.size()) +
                         " bytes)";
  if (!hop.delivered) {
    g.Expect(false, at + ": channel closed");
    tally->stopped = true;
    return;
  }
  g.Expect(hop.intact, at + ": delivered altered (mark " + std::to_string(hop.mark) + ")");
  g.Expect(hop.send_response == MQXCC_OK && hop.recv_response == MQXCC_OK,
           at + ": responses " + std::to_string(hop.send_response) + "/" + std::to_string(hop.recv_response));
  if (!hop.intact) tally->stopped = true;  // the ends are out of step from here on
  ++tally->sent;
  tally->compressed += hop.compressed ? 1 : 0;
  if (segment.size() > 9 && segment[9] < 32) tally->types |= 1u << segment[9];
}

struct StreamCase {
  int compression;
  int table_size;
  int32_t max_segment;
  uint8_t byte_order;
  int segments;
};

// A seeded stream of every segment type over one channel; returns the tally.
ChannelTally RunStream(Group& g, const StreamCase& c, uint64_t seed) {
  const std::string where = "COMP=" + std::to_string(c.compression) + " HDR=" + std::to_string(c.table_size) + " seg " +
                            std::to_string(c.max_segment) + (c.byte_order == 1 ? " big" : " little") + " seed " +
                            std::to_string(seed);
  const agent::EndSettings send =
      SendSettings(c.max_segment, "COMP=" + std::to_string(c.compression) + " HDR=" + std::to_string(c.table_size));
  agent::SimChannel channel;
  ChannelTally tally;
  if (!agent::OpenChannel(&channel, g_send.entry, g_recv.entry, send, RecvSettings(send))) {
    g.Expect(false, where + ": channel did not start");
    agent::CloseChannel(&channel);
    tally.stopped = true;
    return tally;
  }
  agent::WorkloadSettings settings;
  settings.seed = seed;
  settings.max_segment_length = c.max_segment;
  settings.byte_order = c.byte_order;
  settings.destinations = c.table_size + 3;
  settings.max_payload = static_cast<std::size_t>(c.max_segment) * 3;
  settings.wrap_value = 500;  // message numbers wrap many times
  settings.resync_per_mille = 4;
  settings.reset_per_mille = 4;
  agent::Workload workload;
  agent::SetUpWorkload(&workload, settings);
  agent::Step step;
  while (tally.sent < c.segments && !tally.stopped) {
    agent::NextStep(&workload, &step);
    for (const agent::Segment& segment : step.segments) Carry(g, &channel, segment, &tally, where);
  }
  agent::CloseChannel(&channel);
  // Full-length segments and, at level 1, further segments travel plain; at
  // level 3 further segments follow the ratio of the one before. Otherwise
  // most of the stream travels compressed.
  const bool mostly = c.compression == 2 || (c.compression == 3 && c.max_segment > 600);
  const int expected = mostly ? tally.sent / 4 : tally.sent / 20;
  g.Expect(tally.compressed > expected, where + ": only " + std::to_string(tally.compressed) + " of " +
                                            std::to_string(tally.sent) + " segments compressed");
  return tally;
}

void CheckNoLevelZero(Group& g, const std::string& log_path) {
  for (const std::string& line : LevelZeroLines(ReadAll(log_path))) g.Expect(false, "logged: " + line);
}

// ---------------------------------------------------------------------------
// The groups.

void SeededRoundTrip(Group& g) {
  UseConfig("LogLevel = 1\nLogFile = roundtrip.log\n");
  const StreamCase cases[] = {
      {1, 4, 4096, 2, 3600}, {1, 16, 600, 1, 3600}, {2, 1, 32768, 2, 3400},
      {2, 8, 4096, 1, 3600}, {3, 4, 600, 2, 3600},  {3, 16, 32768, 1, 3400},
  };
  int total = 0;
  unsigned types = 0;
  uint64_t seed = 20261209;
  for (const StreamCase& c : cases) {
    const ChannelTally tally = RunStream(g, c, seed++);
    total += tally.sent;
    types |= tally.types;
  }
  std::printf("    %d segments over %zu channels\n", total, std::size(cases));
  g.Expect(total >= 20000, "only " + std::to_string(total) + " segments travelled");
  for (int type = 1; type <= 5; ++type) {
    g.Expect((types & (1u << type)) != 0, "no segment of type " + std::to_string(type) + " travelled");
  }
  CheckNoLevelZero(g, g_scratch + "\\roundtrip.log");
}

// The context reference takes the first pointer-sized part of ExitUserArea;
// the rest of the area and everything the agent owns past offset 80 stay as
// the agent left them, and the reference is gone after MQXR_TERM.
void ContextInExitUserArea(Group& g) {
  UseConfig("LogLevel = 1\nLogFile = anchor.log\n");
  constexpr std::size_t kRef = sizeof(void*);
  auto anchor_of = [](const agent::ChannelEnd& end) {
    uintptr_t value = 0;
    std::memcpy(&value, end.parms.ExitUserArea, kRef);
    return value;
  };
  auto rest_intact = [](const agent::ChannelEnd& end) {
    for (std::size_t i = kRef; i < kExitUserAreaLength; ++i) {
      if (end.parms.ExitUserArea[i] != 0x5A) return false;
    }
    const auto* tail = reinterpret_cast<const unsigned char*>(&end.parms) + 80;
    for (std::size_t i = 0; i < sizeof(ExitParms) - 80; ++i) {
      if (tail[i] != static_cast<unsigned char>(0xC0 + i % 16)) return false;
    }
    return true;
  };

  // Two channels open at once, their segments interleaved.
  agent::SimChannel channels[2];
  agent::StreamBuilder builders[2];
  for (int k = 0; k < 2; ++k) {
    const agent::EndSettings send = SendSettings(4096, k == 0 ? "COMP=3" : "COMP=2 HDR=8");
    agent::SetUpEnd(&channels[k].send, g_send.entry, send);
    agent::SetUpEnd(&channels[k].recv, g_recv.entry, RecvSettings(send));
    channels[k].send.parms.ExitId = MQXT_CHANNEL_SEND_EXIT;
    channels[k].recv.parms.ExitId = MQXT_CHANNEL_RCV_EXIT;
    for (agent::ChannelEnd* end : {&channels[k].send, &channels[k].recv}) {
      std::memset(end->parms.ExitUserArea + kRef, 0x5A, kExitUserAreaLength - kRef);
      auto* tail = reinterpret_cast<unsigned char*>(&end->parms) + 80;
      for (std::size_t i = 0; i < sizeof(ExitParms) - 80; ++i) tail[i] = static_cast<unsigned char>(0xC0 + i % 16);
      g.Expect(agent::StartEnd(end) == MQXCC_OK, "MQXR_INIT not answered with MQXCC_OK");
      g.Expect(anchor_of(*end) != 0, "no context reference after MQXR_INIT");
      g.Expect(rest_intact(*end), "MQXR_INIT wrote past the context reference");
    }
    agent::SetUpBuilder(&builders[k], static_cast<uint8_t>(k == 0 ? 2 : 1), 4096, 999999999);
    builders[k].destinations = agent::StandardDestinations(6);
  }
  const uintptr_t first[4] = {anchor_of(channels[0].send), anchor_of(channels[0].recv), anchor_of(channels[1].send),
                              anchor_of(channels[1].recv)};
  g.Expect(std::set<uintptr_t>(std::begin(first), std::end(first)).size() == 4,
           "two channel instances share a context");

  agent::Rng rng(7);
  ChannelTally tally[2];
  for (int k = 0; k < 2; ++k) Carry(g, &channels[k], agent::BuildInitData(&builders[k]), &tally[k], "anchor");
  for (int i = 0; i < 400; ++i) {
    const int k = static_cast<int>(rng() % 2);
    std::vector<unsigned char> payload;
    agent::MakePayload(static_cast<agent::PayloadKind>(rng() % agent::kPayloadKinds), rng() % 9000, &rng, {}, &payload);
    for (const agent::Segment& s : agent::BuildMessage(&builders[k], rng() % 6, payload)) {
      Carry(g, &channels[k], s, &tally[k], "interleaved channel " + std::to_string(k));
    }
    const uintptr_t now[4] = {anchor_of(channels[0].send), anchor_of(channels[0].recv), anchor_of(channels[1].send),
                              anchor_of(channels[1].recv)};
    g.Expect(std::equal(std::begin(now), std::end(now), std::begin(first)), "a context reference moved");
    g.Expect(rest_intact(channels[0].send) && rest_intact(channels[0].recv) && rest_intact(channels[1].send) &&
                 rest_intact(channels[1].recv),
             "MQXR_XMIT wrote past the context reference");
  }
  g.Expect(tally[0].compressed > tally[0].sent / 10 && tally[1].compressed > tally[1].sent / 10,
           "interleaved channels compressed too little: " + std::to_string(tally[0].compressed) + " of " +
               std::to_string(tally[0].sent) + ", " + std::to_string(tally[1].compressed) + " of " +
               std::to_string(tally[1].sent));
  for (int k = 0; k < 2; ++k) {
    agent::CloseChannel(&channels[k]);
    g.Expect(anchor_of(channels[k].send) == 0 && anchor_of(channels[k].recv) == 0,
             "context reference left behind after MQXR_TERM");
    g.Expect(rest_intact(channels[k].send) && rest_intact(channels[k].recv), "MQXR_TERM wrote past the reference");
  }
  CheckNoLevelZero(g, g_scratch + "\\anchor.log");
}

// Segments whose integers are most significant byte first: the exits must
// convert every length and sequence number they read. Messages of one to
// four segments, message numbers wrapping often; a sequence read in the wrong
// byte order closes the channel.
void BigEndianSegments(Group& g) {
  UseConfig("LogLevel = 1\nLogFile = bigendian.log\n");
  for (int compression : {1, 2, 3}) {
    const agent::EndSettings send = SendSettings(4096, "COMP=" + std::to_string(compression) + " HDR=4");
    agent::SimChannel channel;
    g.Expect(agent::OpenChannel(&channel, g_send.entry, g_recv.entry, send, RecvSettings(send)), "channel start");
    agent::StreamBuilder builder;
    agent::SetUpBuilder(&builder, 1, 4096, 50);
    builder.destinations = agent::StandardDestinations(4);
    ChannelTally tally;
    const std::string where = "big-endian COMP=" + std::to_string(compression);
    Carry(g, &channel, agent::BuildInitData(&builder), &tally, where);
    agent::Rng rng(static_cast<uint64_t>(compression));
    for (int m = 0; m < 160; ++m) {
      std::vector<unsigned char> payload;
      agent::MakePayload(agent::PayloadKind::Records, 200 + rng() % 14000, &rng, {}, &payload);
      for (const agent::Segment& s : agent::BuildMessage(&builder, m % 4, payload))
        Carry(g, &channel, s, &tally, where);
      if (m == 80) Carry(g, &channel, agent::BuildResync(&builder), &tally, where);
    }
    agent::CloseChannel(&channel);
    g.Expect(tally.compressed > tally.sent / 20, where + ": only " + std::to_string(tally.compressed) + " of " +
                                                     std::to_string(tally.sent) + " segments compressed");
  }
  const std::string log = ReadAll(g_scratch + "\\bigendian.log");
  CheckNoLevelZero(g, g_scratch + "\\bigendian.log");
  g.Expect(Count(log, "out of synch") == 0, "a message sequence was seen as broken");
}

// Payloads that exercise the run-length codec's block scanning: escape bytes
// everywhere, runs of every length around the token limits at every offset
// within a block, long runs and incompressible data.
void CodecThroughTheChannel(Group& g) {
  UseConfig("LogLevel = 1\nLogFile = codec.log\n");
  std::vector<std::pair<std::string, std::vector<unsigned char>>> payloads;
  payloads.emplace_back("all 0xAB", std::vector<unsigned char>(5000, 0xAB));
  {
    std::vector<unsigned char> p;
    for (int i = 0; i < 6000; ++i) p.push_back(i % 3 == 0 ? 0xAB : static_cast<unsigned char>(i % 7 == 0 ? 0xAB : 'x'));
    payloads.emplace_back("0xAB between literals", p);
  }
  {
    std::vector<unsigned char> p;
    const unsigned char values[] = {0x00, 0x20, 0xAA, 0xAB, 0xAC, 0xFF};
    for (std::size_t offset = 0; offset < 18; ++offset) {
      for (int run : {1, 2, 3, 4, 5, 15, 16, 17, 31, 32, 33, 254, 255, 256, 257, 510, 511, 767}) {
        p.insert(p.end(), offset, 'a');
        p.insert(p.end(), static_cast<std::size_t>(run), values[(offset + static_cast<std::size_t>(run)) % 6]);
        p.push_back(0xAB);
      }
    }
    payloads.emplace_back("runs at every block offset", p);
  }
  payloads.emplace_back("long run of zeros", std::vector<unsigned char>(100000, 0x00));
  payloads.emplace_back("long run of blanks", std::vector<unsigned char>(70001, ' '));
  {
    std::vector<unsigned char> p(40000);
    std::mt19937 rng(11);
    for (unsigned char& b : p) b = static_cast<unsigned char>(rng());
    payloads.emplace_back("random bytes", p);
  }
  {
    agent::Rng rng(12);
    std::vector<unsigned char> p;
    agent::MakePayload(agent::PayloadKind::EscapeRich, 50000, &rng, {}, &p);
    payloads.emplace_back("escape-rich", p);
  }

  for (int compression : {2, 3}) {
    for (uint8_t order : {uint8_t{2}, uint8_t{1}}) {
      for (int32_t max_segment : {4096, 32768}) {
        const std::string where = "codec COMP=" + std::to_string(compression) + " seg " + std::to_string(max_segment) +
                                  (order == 1 ? " big" : " little");
        const agent::EndSettings send = SendSettings(max_segment, "COMP=" + std::to_string(compression));
        agent::SimChannel channel;
        g.Expect(agent::OpenChannel(&channel, g_send.entry, g_recv.entry, send, RecvSettings(send)), "channel start");
        agent::StreamBuilder builder;
        agent::SetUpBuilder(&builder, order, max_segment, 999999999);
        builder.destinations = agent::StandardDestinations(3);
        ChannelTally tally;
        Carry(g, &channel, agent::BuildInitData(&builder), &tally, where);
        for (int round = 0; round < 2; ++round) {
          for (std::size_t i = 0; i < payloads.size(); ++i) {
            const std::vector<agent::Segment> segments = agent::BuildMessage(&builder, i % 3, payloads[i].second);
            for (const agent::Segment& s : segments) Carry(g, &channel, s, &tally, where + ", " + payloads[i].first);
          }
        }
        // A message of one long run, in a segment shorter than the maximum,
        // must shrink to a small fraction.
        const auto run = static_cast<std::size_t>(max_segment - agent::kFirstSegmentHeader - 100);
        const std::vector<agent::Segment> zeros = agent::BuildMessage(&builder, 0, std::vector<unsigned char>(run, 0));
        const agent::Hop hop =
            agent::Transmit(&channel, zeros.front().data(), static_cast<int32_t>(zeros.front().size()));
        g.Expect(hop.intact && hop.compressed && hop.wire_length * 10 < hop.built_length,
                 where + ": a run of zeros travelled as " + std::to_string(hop.wire_length) + " of " +
                     std::to_string(hop.built_length) + " bytes");
        agent::CloseChannel(&channel);
      }
    }
  }
  // Data that grows when encoded is logged at level 0 and sent plain; a
  // broken sequence would be logged too.
  g.Expect(Count(ReadAll(g_scratch + "\\codec.log"), "out of synch") == 0, "a message sequence was seen as broken");
}

// With no VELT_EXIT_CFG the exits read \mqm\velt_exit.cfg and write
// \mqm\errors\velt_exit.log and .dat on the current drive, here C:.
void DefaultFilesOnDriveC(Group& g) {
  const std::string root = "C:\\mqm";
  const std::string errors = root + "\\errors";
  const std::string cfg = root + "\\velt_exit.cfg";
  const std::string log = errors + "\\velt_exit.log";
  const std::string dat = errors + "\\velt_exit.dat";
  for (const std::string& f : {cfg, log, dat}) {
    if (fs::exists(f)) {
      g.Expect(false, f + " exists already: left alone, check not run");
      return;
    }
  }
  const bool made_root = !fs::exists(root);
  const bool made_errors = !fs::exists(errors);
  std::error_code ec;
  fs::create_directories(errors, ec);
  g.Expect(!ec, "cannot create " + errors);

  char previous[MAX_PATH];
  const DWORD had = GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA("C:\\");
  _putenv_s("VELT_EXIT_CFG", "");
  WriteAll(cfg, "! written by velt_windows_test\nLogLevel = 4\nStatistics = 2\n");

  const agent::EndSettings send = SendSettings(4096, "");
  agent::SimChannel channel;
  g.Expect(agent::OpenChannel(&channel, g_send.entry, g_recv.entry, send, RecvSettings(send)), "channel start");
  agent::StreamBuilder builder;
  agent::SetUpBuilder(&builder, 2, 4096, 999999999);
  builder.destinations = agent::StandardDestinations(2);
  ChannelTally tally;
  Carry(g, &channel, agent::BuildInitData(&builder), &tally, "default files");
  agent::Rng rng(3);
  for (int m = 0; m < 10; ++m) {
    std::vector<unsigned char> payload;
    agent::MakePayload(agent::PayloadKind::Records, 1000 + rng() % 5000, &rng, {}, &payload);
    for (const agent::Segment& s : agent::BuildMessage(&builder, m % 2, payload)) {
      Carry(g, &channel, s, &tally, "default files");
    }
  }
  agent::CloseChannel(&channel);

  const std::string log_text = ReadAll(log);
  const std::string dat_text = ReadAll(dat);
  g.Expect(!log_text.empty(), log + " was not written");
  g.Expect(Count(log_text, "SDR :ReadCfg: Log level  = 4") == 2, "send exit: ReadCfg level-4 line not twice in " + log);
  g.Expect(Count(log_text, "RCVR :ReadCfg: Log level  = 4") == 2, "receive exit: ReadCfg line not twice in " + log);
  g.Expect(Count(log_text, "RCVR :velt_exit: ProcessXmitRecv: before") == tally.sent,
           "receive exit: not one level-4 line per transmission in " + log);
  g.Expect(!dat_text.empty(), dat + " was not written");
  g.Expect(Count(dat_text, "Ratio =") == tally.sent, "not one statistics line per segment in " + dat);
  g.Expect(Count(dat_text, "Total msgs ") == 1, "not exactly one summary (send exit only) in " + dat);
  g.Expect(dat_text.find("Overall compression ratio of all data") != std::string::npos, "summary incomplete in " + dat);

  fs::remove(cfg, ec);
  fs::remove(log, ec);
  fs::remove(dat, ec);
  if (made_errors) fs::remove(errors, ec);
  if (made_root) fs::remove(root, ec);
  g.Expect(!made_root || !fs::exists(root), "cannot remove " + root);
  if (had > 0 && had < MAX_PATH) SetCurrentDirectoryA(previous);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string dir = argc > 1 ? argv[1] : ProgramDirectory();
  std::printf("velt_windows_test: %d-bit, libraries in %s\n", static_cast<int>(sizeof(void*) * 8), dir.c_str());

  char temp[MAX_PATH];
  const DWORD n = GetTempPathA(MAX_PATH, temp);
  g_scratch = std::string(temp, n) + "velt-wintest-" + std::to_string(GetCurrentProcessId());
  std::error_code ec;
  fs::create_directories(g_scratch, ec);
  SetCurrentDirectoryA(g_scratch.c_str());

  bool loaded = false;
  Run("LoadLibrary and exports", [&](Group& g) {
    std::string error;
    g.Expect(agent::LoadExitLibrary(agent::SendLibraryPath(dir), &g_send, &error), error);
    g.Expect(agent::LoadExitLibrary(agent::RecvLibraryPath(dir), &g_recv, &error), error);
    loaded = g_send.entry != nullptr && g_recv.entry != nullptr;
    if (!loaded) return;
    CheckLibraryExports(g, g_send);
    CheckLibraryExports(g, g_recv);
  });
  if (loaded) {
    Run("seeded round trip, every segment type, levels 1 to 3", SeededRoundTrip);
    Run("context anchored in ExitUserArea", ContextInExitUserArea);
    Run("big-endian segments", BigEndianSegments);
    Run("codec through the channel", CodecThroughTheChannel);
    Run("default files on drive C: without VELT_EXIT_CFG", DefaultFilesOnDriveC);
  }
  _putenv_s("VELT_EXIT_CFG", "");
  agent::UnloadExitLibrary(&g_send);
  agent::UnloadExitLibrary(&g_recv);
  SetCurrentDirectoryA(temp);
  fs::remove_all(g_scratch, ec);

  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
