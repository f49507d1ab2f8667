// Seeded streams of realistic segments for tests, tools and benchmarks:
// initial data, messages of every size to many destinations, status segments,
// resynchronisations and resets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "payloads.h"
#include "segments.h"

namespace velt::agent {

struct WorkloadSettings {
  uint64_t seed = 1;
  int32_t max_segment_length = 32768;
  uint8_t byte_order = 2;
  int32_t wrap_value = 999999999;
  int destinations = 6;
  std::size_t max_payload = 80000;  // payload sizes are drawn up to this
  int status_per_mille = 30;        // chance of a status segment before a message
  int resync_per_mille = 2;         // chance of a resynchronisation
  int reset_per_mille = 1;          // chance of a reset
  // Chance of a single-segment message whose payload no encoding shortens
  // (every other byte the codec's escape byte): the send exit tries the
  // header & data form, finds it longer and must send the segment exactly
  // as built, with its header reference as the receiving end has it.
  int incompressible_per_mille = 20;
  bool kinds[kPayloadKinds] = {true, true, true, true};
  std::string_view corpus;  // text to draw text payloads from
};

// One step of the stream: the segments of one message, or one control or
// status segment.
struct Step {
  std::vector<Segment> segments;
  PayloadKind kind = PayloadKind::Text;
  bool is_message = false;
  bool incompressible = false;
};

struct Workload {
  WorkloadSettings settings;
  StreamBuilder builder;
  Rng rng;
  bool started = false;
};

// Prepares a workload; the first step is always the initial data segment.
void SetUpWorkload(Workload* workload, const WorkloadSettings& settings);

// Produces the next step into *step (reusing its storage).
void NextStep(Workload* workload, Step* step);

// Names of the built-in destinations: more queues than a default header table.
std::vector<Destination> StandardDestinations(int count);

}  // namespace velt::agent
