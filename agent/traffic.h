// The built-in traffic of veltchan and of the end-to-end benchmark: the
// messages of a busy channel. Each remote queue carries one kind of
// payload (XML or JSON documents, blank-padded fixed-width records, or
// binary data), busy queues more often than quiet ones; some messages span
// several segments, status segments come in between and the channel
// resynchronises once half-way.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "payloads.h"
#include "segments.h"

namespace velt::agent {

// What a message payload holds, as the reports break it down.
enum class TrafficKind : uint8_t { Xml, Json, Records, Text, Binary };
inline constexpr int kTrafficKinds = 5;
std::string_view TrafficKindName(TrafficKind kind);

// Guesses the kind of a payload from its content: XML when it starts with
// "<", JSON with "{" or "[", text when it holds printable characters only,
// binary otherwise. Never answers Records.
TrafficKind ClassifyPayload(std::span<const unsigned char> payload);

// Text documents that text messages are drawn from.
struct Corpus {
  std::vector<std::string> documents;
  std::vector<TrafficKind> kinds;  // Xml or Json, one per document
  bool built_in = false;           // no files were found: the built-in documents
  std::size_t bytes = 0;
};

// Directories on a Debian system that hold XML and JSON files shipped with
// packages.
std::vector<std::string> DefaultCorpusRoots();

// Reads the *.xml and *.json files of 128 bytes to 256 KiB under the roots
// (recursively, in sorted path order, unreadable entries skipped), at most
// max_documents of them spread evenly over all that were found. Falls back
// to a few built-in documents when none is found.
Corpus LoadCorpus(const std::vector<std::string>& roots, std::size_t max_documents = 1500);

struct TrafficSettings {
  uint64_t seed = 1;
  int64_t messages = 20000;
  int32_t max_segment_length = 32768;
  uint8_t byte_order = 2;
  int destinations = 12;      // more than the default header table holds
  int status_per_mille = 25;  // chance of a status segment before a message
  bool resynchronise = true;  // once, half-way through the messages
};

// One step: the segments of one message, or one control or status segment.
struct TrafficStep {
  std::vector<Segment> segments;
  TrafficKind kind = TrafficKind::Binary;
  bool is_message = false;
};

struct Traffic {
  TrafficSettings settings;
  const Corpus* corpus = nullptr;
  StreamBuilder builder;
  Rng rng;
  std::vector<TrafficKind> destination_kinds;
  std::vector<unsigned> destination_weights;
  std::vector<unsigned char> payload;
  int64_t messages_built = 0;
  uint32_t record_counter = 0;
  bool started = false;
  bool resynchronised = false;
};

// Prepares the traffic; corpus must outlive it.
void SetUpTraffic(Traffic* traffic, const TrafficSettings& settings, const Corpus* corpus);

// Produces the next step into *step, reusing its storage. The first step is
// the initial data segment. Returns false once every message has been built.
bool NextTrafficStep(Traffic* traffic, TrafficStep* step);

}  // namespace velt::agent
