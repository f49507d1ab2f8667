// What both allocation-failure programs share: the scratch configuration, the
// channel settings, and a seeded stream carried over the channel.
#pragma once

#include <cstring>
#include <string>

#include "alloc_seam.h"
#include "sim_channel.h"
#include "support.h"
#include "workload.h"

namespace velt::test {

struct AllocFixture {
  ScratchDir dir;
  std::string log;
  // settings: configuration lines beyond the log level and files.
  explicit AllocFixture(const std::string& settings = "") {
    log = dir.File("velt.log");
    UseConfig(dir.File("velt.cfg"),
              "LogLevel = 1\n" + settings + "LogFile = " + log + "\nStatsFile = " + dir.File("velt.dat") + "\n");
    ResetAllocations();
  }
  bool Logged(const std::string& line) const {
    for (const std::string& l : LogLines(log))
      if (l == line) return true;
    return false;
  }
};

inline agent::EndSettings AllocChannelSettings() {
  agent::EndSettings s;
  s.channel_name = "TO.REMOTE";
  s.max_segment_length = 4096;
  s.exit_data = "HDR=4";
  return s;
}

// The channel name as "%s" prints it: all 20 characters.
inline const std::string kAllocChannelName = "TO.REMOTE" + std::string(11, ' ');

inline bool UserAreaZero(const ExitParms& parms) {
  static const unsigned char zero[kExitUserAreaLength] = {};
  return std::memcmp(parms.ExitUserArea, zero, sizeof zero) == 0;
}

// Carries a seeded stream of n segments; counts what arrived.
struct Carried {
  int sent = 0;
  int delivered = 0;
  int altered = 0;
  int compressed = 0;
};
inline Carried Carry(agent::SimChannel* channel, int n, uint64_t seed) {
  agent::WorkloadSettings settings;
  settings.seed = seed;
  settings.max_segment_length = 4096;
  settings.max_payload = 9000;
  agent::Workload workload;
  agent::SetUpWorkload(&workload, settings);
  Carried outcome;
  agent::Step step;
  while (outcome.sent < n) {
    agent::NextStep(&workload, &step);
    for (const agent::Segment& s : step.segments) {
      const agent::Hop hop = agent::Transmit(channel, s.data(), static_cast<int32_t>(s.size()));
      outcome.delivered += hop.delivered ? 1 : 0;
      outcome.altered += hop.delivered && !hop.intact ? 1 : 0;
      outcome.compressed += hop.compressed ? 1 : 0;
      ++outcome.sent;
    }
  }
  return outcome;
}

}  // namespace velt::test
