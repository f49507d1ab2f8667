// Writes the seed corpora of the fuzz targets into <dir>/decode, <dir>/recv,
// <dir>/roundtrip and <dir>/config, built from the simulated channel's
// segments: short seeded streams of initial data, messages of every payload
// kind and size, status, resynchronisation and reset segments, and what the
// send exit makes of them; and into <dir>/stats_reader and <dir>/log_reader,
// lines in the formats the exits write them.
//
//   fuzz_seeds <dir>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "channel_end.h"
#include "fuzz_input.h"
#include "host/log_lines.h"
#include "host/platform.h"
#include "host/stats_lines.h"
#include "payloads.h"
#include "segments.h"
#include "send/send_exit.h"

namespace {

namespace agent = velt::agent;
namespace fs = std::filesystem;
using velt::fuzz::Writer;

int g_files = 0;

void Save(const fs::path& dir, const std::string& name, const std::vector<unsigned char>& bytes) {
  std::FILE* f = std::fopen((dir / name).c_str(), "wb");
  if (f == nullptr) {
    std::perror((dir / name).c_str());
    std::exit(1);
  }
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  ++g_files;
}

// One short stream: what the agent builds (as roundtrip records) and what the
// send exit hands over (as recv records and decode inputs).
struct StreamSeed {
  Writer roundtrip;
  Writer recv;
  std::vector<std::vector<unsigned char>> decode;
};

void Hand(agent::ChannelEnd* end, int32_t max_segment, const agent::Segment& segment, StreamSeed* seed) {
  const agent::Delivery d = agent::TransmitOnEnd(end, segment.data(), static_cast<int32_t>(segment.size()));
  seed->recv.Byte(0);
  seed->recv.U16(static_cast<unsigned>(d.length));
  seed->recv.Bytes(d.data, static_cast<std::size_t>(d.length));
  if (d.from_exit_buffer && d.length > 12) {
    const bool header_form = segment[9] == 5 || (segment[10] & 0x10) != 0;
    const int32_t h = header_form ? 12 : 28;
    Writer w;
    w.U16(static_cast<unsigned>(max_segment - h + velt::fuzz::kCapacityBias));
    w.Bytes(d.data + h, static_cast<std::size_t>(d.length - h));
    seed->decode.push_back(std::move(w.out));
  }
}

StreamSeed MakeStream(uint64_t seed_value, unsigned hdr, unsigned comp, unsigned size_selector) {
  std::mt19937_64 rng(seed_value);
  const int32_t max_segment = velt::fuzz::MaxSegmentFor(size_selector, 0);
  StreamSeed seed;
  const unsigned settings = (hdr - 1) | (comp << 4);
  seed.roundtrip.Byte(settings);
  seed.roundtrip.Byte(size_selector);  // little-endian, default wrap value
  seed.roundtrip.U16(0);
  seed.recv.Byte((hdr - 1) | (size_selector << 4));
  seed.recv.U16(0);

  agent::ChannelEnd end;
  agent::EndSettings settings_send;
  settings_send.max_segment_length = max_segment;
  settings_send.exit_data = "COMP=" + std::to_string(comp) + " HDR=" + std::to_string(hdr);
  agent::SetUpEnd(&end, velt::SendExit, settings_send);
  agent::StartEnd(&end);

  // The same stream the roundtrip target builds from its records.
  agent::StreamBuilder builder;
  agent::SetUpBuilder(&builder, 2, max_segment, 999999999);
  builder.destinations = {
      {"PAYMENTS.IN", "QM.LONDON", "REPLY.PAY", "mqapp", "order-service"},
      {"ORDERS.NEW", "QM.FRANKFURT", "REPLY.ORD", "batch01", "nightly-batch"},
      {"STOCK.UPDATES", "QM.LONDON", "REPLY.STK", "mqapp", "order-service"},
      {"AUDIT.EVENTS", "QM.NEWYORK", "", "audit", "auditor"},
      {"PAYMENTS.IN", "QM.NEWYORK", "REPLY.PAY", "mqapp", "order-service"},
  };

  seed.roundtrip.Byte(velt::fuzz::kInitData);
  Hand(&end, max_segment, agent::BuildInitData(&builder), &seed);
  int records = 1;
  while (records < velt::fuzz::kMaxRecords) {
    const unsigned roll = static_cast<unsigned>(rng() % 20);
    if (roll == 0) {
      const bool reset = rng() % 2 == 0;
      seed.roundtrip.Byte(velt::fuzz::kControl | (reset ? 0x80u : 0u));
      Hand(&end, max_segment, reset ? agent::BuildReset(&builder) : agent::BuildResync(&builder), &seed);
      ++records;
    } else if (roll < 3) {
      static constexpr uint8_t kFlags[] = {0x00, 0x00, 0x02, 0x08};
      const uint8_t flags = kFlags[rng() % 4];
      std::vector<unsigned char> body;
      agent::MakePayload(agent::PayloadKind::Text, rng() % 120, &rng, {}, &body);
      seed.roundtrip.Byte(velt::fuzz::kStatus);
      seed.roundtrip.Byte(flags);
      seed.roundtrip.Byte(static_cast<unsigned>(body.size()));
      seed.roundtrip.Bytes(body);
      Hand(&end, max_segment, agent::BuildStatus(&builder, flags, body), &seed);
      ++records;
    } else {
      const auto kind = static_cast<agent::PayloadKind>(rng() % agent::kPayloadKinds);
      const std::size_t size = rng() % 3 == 0 ? rng() % (static_cast<std::size_t>(max_segment) * 2) : rng() % 700;
      std::vector<unsigned char> payload;
      agent::MakePayload(kind, size, &rng, {}, &payload);
      const unsigned dest = static_cast<unsigned>(rng() % 5);
      seed.roundtrip.Byte(velt::fuzz::kMessage);
      seed.roundtrip.Byte(dest);
      seed.roundtrip.U16(static_cast<unsigned>(payload.size()));
      seed.roundtrip.Byte(0);
      seed.roundtrip.Bytes(payload);
      for (const agent::Segment& segment : agent::BuildMessage(&builder, dest, payload)) {
        if (records >= velt::fuzz::kMaxRecords) break;
        Hand(&end, max_segment, segment, &seed);
        ++records;
      }
    }
  }
  agent::StopEnd(&end);
  return seed;
}

std::vector<unsigned char> Text(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<unsigned char> ConfigSeed(const std::string& exit_data, unsigned role, const std::string& file) {
  std::string data = exit_data;
  data.resize(velt::fuzz::kExitDataBytes, ' ');
  std::vector<unsigned char> out = Text(data);
  out.push_back(static_cast<unsigned char>(role));
  out.insert(out.end(), file.begin(), file.end());
  return out;
}

// A reader's seed: the chunk size byte, then the text.
std::vector<unsigned char> ReaderSeed(unsigned char chunk, const std::string& text) {
  std::vector<unsigned char> bytes{chunk};
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

std::string Line(const char* format, ...) VELT_PRINTF(1, 2);
std::string Line(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

std::string StatisticsText() {
  std::string text;
  text += Line(velt::kStatsSegmentLineNoMean, 1L, 0L, 476L, 476L, 1.0);
  text += Line(velt::kStatsSegmentLine, 2L, 1L, 1000L, 500L, 2.0, 2.0);
  text += Line(velt::kStatsSegmentLine, 3L, 2L, 1200L, 400L, 3.0, 2.5);
  text += Line(velt::kStatsTotalLine, 3L, 2L);
  text += Line(velt::kStatsMeanLine, 2.5);
  text += Line(velt::kStatsOverallLine, 2.1667);
  text += Line(velt::kStatsTotalLine, 4L, 0L);
  return text;
}

std::string LogText() {
  const auto prefixed = [](int level, const char* tag) { return Line(velt::kLogPrefix, 9, 5, 3, level, tag); };
  std::string text;
  text += prefixed(4, "SDR") + Line(velt::kLogConfigRead, 4);
  text += prefixed(0, "SDR") + Line(velt::kLogRefusedCompression, 700L, 600L);
  text += prefixed(0, "RCVR") + Line(velt::kLogRecvDecodeOverflow, 40000L, 32756L);
  text += prefixed(5, "RCVR") + "ProcessXmitRecv: returning response = -6\n";
  text += prefixed(0, "RCVR") + Line(velt::kLogRecvCacheTooSmall, 5, 4);
  text += prefixed(0, "RCVR") + velt::kLogRecvAdjustTable;
  text += prefixed(1, "SDR") + Line(velt::kLogSendNoBuffer, "CHANNEL.ONE         ", 32768L);
  text += prefixed(6, "RCVR") +
          "dumping buffer: sz = 12\n065[A] ESC[ ] 000[?] 126[~] 032[ ] 093[]] 065[A] 065[A] 065[A] 065[A] \n065[A] "
          "065[A] \n\n";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  for (const char* target : {"decode", "recv", "roundtrip", "config", "stats_reader", "log_reader"})
    fs::create_directories(root / target);

  // Sending exit's log and statistics go nowhere while the seeds are made.
  const std::string cfg = "/tmp/velt-fuzz-seeds-" + std::to_string(getpid()) + ".cfg";
  if (std::FILE* f = std::fopen(cfg.c_str(), "w")) {
    std::fputs("LogFile = /dev/null\nStatsFile = /dev/null\nLogLevel = -1\n", f);
    std::fclose(f);
  }
  setenv("VELT_EXIT_CFG", cfg.c_str(), 1);

  int n = 0;
  for (unsigned comp : {1u, 2u, 3u, 4u}) {
    for (unsigned hdr : {1u, 4u, 16u}) {
      for (unsigned size_selector : {0u, 1u, 2u}) {
        const StreamSeed seed = MakeStream(1000u + static_cast<uint64_t>(n), hdr, comp, size_selector);
        const std::string name = "stream-" + std::to_string(n++);
        Save(root / "roundtrip", name, seed.roundtrip.out);
        Save(root / "recv", name, seed.recv.out);
        for (std::size_t i = 0; i < seed.decode.size() && i < 4; ++i)
          Save(root / "decode", name + "-" + std::to_string(i), seed.decode[i]);
      }
    }
  }

  const std::vector<std::vector<unsigned char>> configs = {
      ConfigSeed("", 0, ""),
      ConfigSeed("COMP=2 LOG=5 HDR=8", 0, "Compression = 3\nStatistics = 2\nLogLevel = 4\n"),
      ConfigSeed("STATISTICS=1", 1,
                 "! exit configuration\n# comment\n   Compression = 3\nStatistics = 2\nLogLevel = 4\n"
                 "LogFile = /tmp/x.log\nHdrTblSize = 8\nStatsFile = /tmp/x.dat\n"),
      ConfigSeed(" COMP=0", 0, "CompressionLevel = 2\nHdrTblSize = 17\nLogLevel = -1\n"),
      ConfigSeed("COMP=1:LOG=6", 2, "HdrTblSize = 0\nLogFile = C:\\logs\\x.log\nCompression\t2\n"),
      ConfigSeed("HDR=65537", 3, std::string(600, 'x') + "LogLevel = 5\n" + std::string(520, ' ') + "HdrTblSize=3"),
  };
  for (std::size_t i = 0; i < configs.size(); ++i) Save(root / "config", "config-" + std::to_string(i), configs[i]);

  const std::string statistics = StatisticsText();
  const std::string log = LogText();
  for (const unsigned char chunk : {0, 6, 63}) {
    Save(root / "stats_reader", "stats-" + std::to_string(chunk), ReaderSeed(chunk, statistics));
    Save(root / "log_reader", "log-" + std::to_string(chunk), ReaderSeed(chunk, log));
  }
  Save(root / "stats_reader", "stats-cut", ReaderSeed(3, statistics + statistics.substr(0, 40)));
  Save(root / "log_reader", "log-cut", ReaderSeed(3, log + log.substr(0, 40)));

  unlink(cfg.c_str());
  std::printf("%d seed files in %s\n", g_files, root.c_str());
  return 0;
}
