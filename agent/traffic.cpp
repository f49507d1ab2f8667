#include "traffic.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "workload.h"

namespace velt::agent {

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kMinDocument = 128;
constexpr std::uintmax_t kMaxDocument = 256 * 1024;

constexpr std::string_view kBuiltInXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<shipment xmlns=\"urn:example:logistics\" id=\"SH-0099812\" created=\"2026-12-09T08:14:55Z\">\n"
    "  <consignor code=\"HFS01\">\n"
    "    <name>Harbour Freight Services Ltd</name>\n"
    "    <address><street>14 Quay Road</street><city>Portsmouth</city><country>GB</country></address>\n"
    "  </consignor>\n"
    "  <consignee code=\"NLR77\">\n"
    "    <name>Nordlicht Retail GmbH</name>\n"
    "    <address><street>Hafenstrasse 3</street><city>Hamburg</city><country>DE</country></address>\n"
    "  </consignee>\n"
    "  <packages count=\"3\">\n"
    "    <package no=\"1\" weight=\"12.40\" unit=\"kg\">Hex bolts, zinc plated, M10 x 60</package>\n"
    "    <package no=\"2\" weight=\"3.10\" unit=\"kg\">Flat washers, M10</package>\n"
    "    <package no=\"3\" weight=\"2.75\" unit=\"kg\">Torque wrench, 40-200 Nm, with case</package>\n"
    "  </packages>\n"
    "  <instructions>Deliver to goods-in, dock 3; call ahead.</instructions>\n"
    "</shipment>\n";

constexpr std::string_view kBuiltInJson =
    "{\n"
    "  \"invoice\": \"INV-2026-118204\",\n"
    "  \"issued\": \"2026-12-09\",\n"
    "  \"currency\": \"EUR\",\n"
    "  \"customer\": { \"number\": \"0012873\", \"name\": \"Nordlicht Retail GmbH\", \"vat\": \"DE811907980\" },\n"
    "  \"lines\": [\n"
    "    { \"sku\": \"HX-4410\", \"description\": \"Hex bolts M10 x 60\", \"quantity\": 12, \"price\": 18.40 },\n"
    "    { \"sku\": \"WS-0210\", \"description\": \"Flat washers M10\", \"quantity\": 200, \"price\": 0.06 },\n"
    "    { \"sku\": \"TR-9981\", \"description\": \"Torque wrench 40-200 Nm\", \"quantity\": 1, \"price\": 349.00 }\n"
    "  ],\n"
    "  \"total\": 582.80,\n"
    "  \"terms\": \"30 days net\"\n"
    "}\n";

bool HasExtension(const fs::path& path, std::string_view ext) {
  std::string e = path.extension().string();
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return e == ext;
}

bool ReadDocument(const fs::path& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  // Text only: a NUL byte means the file is not a document.
  return !text->empty() && text->find('\0') == std::string::npos;
}

// Sizes lean small, as on real channels, with a tail of large messages.
std::size_t PickSize(Rng* rng) {
  const auto band = (*rng)() % 100;
  const auto [low, high] = band < 50   ? std::pair<std::size_t, std::size_t>{60, 1000}
                           : band < 80 ? std::pair<std::size_t, std::size_t>{1000, 6000}
                           : band < 95 ? std::pair<std::size_t, std::size_t>{6000, 40000}
                                       : std::pair<std::size_t, std::size_t>{40000, 120000};
  return std::uniform_int_distribution<std::size_t>(low, high)(*rng);
}

void PutLittle(unsigned char* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Binary data as applications send it: either 64-byte C records (counters,
// small codes, amounts, zero padding, a short code and a reference), or an
// opaque blob such as a compressed or encrypted document.
void MakeBinary(Traffic* t, std::size_t size, std::vector<unsigned char>* out) {
  Rng& rng = t->rng;
  out->resize(size);
  unsigned char* p = out->data();
  if (rng() % 10 < 4) {
    for (std::size_t i = 0; i < size; i += 8) {
      const uint64_t word = rng();
      std::memcpy(p + i, &word, std::min<std::size_t>(8, size - i));
    }
    return;
  }
  static constexpr const char* kCodes[] = {"GBP", "EUR", "USD", "JPY", "CHF"};
  unsigned char record[64];
  for (std::size_t at = 0; at < size; at += sizeof record) {
    std::memset(record, 0, sizeof record);
    PutLittle(record, ++t->record_counter, 4);
    PutLittle(record + 4, rng() % 8, 2);
    PutLittle(record + 8, rng() % 1000000, 4);
    PutLittle(record + 16, rng() % 10000000, 8);
    PutLittle(record + 24, 1796800000000ull + t->record_counter * 137ull, 8);
    const char* code = kCodes[rng() % 5];
    std::memcpy(record + 32, code, std::strlen(code));
    PutLittle(record + 48, rng(), 8);
    std::memcpy(p + at, record, std::min(sizeof record, size - at));
  }
}

}  // namespace

std::string_view TrafficKindName(TrafficKind kind) {
  switch (kind) {
    case TrafficKind::Xml: return "xml";
    case TrafficKind::Json: return "json";
    case TrafficKind::Records: return "records";
    case TrafficKind::Text: return "text";
    case TrafficKind::Binary: return "binary";
  }
  return "unknown";
}

TrafficKind ClassifyPayload(std::span<const unsigned char> payload) {
  std::size_t i = 0;
  while (i < payload.size() && (payload[i] == ' ' || payload[i] == '\t' || payload[i] == '\r' || payload[i] == '\n'))
    ++i;
  bool printable = true;
  for (const unsigned char c : payload) {
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      printable = false;
      break;
    }
  }
  if (!printable || payload.empty()) return TrafficKind::Binary;
  if (i < payload.size() && payload[i] == '<') return TrafficKind::Xml;
  if (i < payload.size() && (payload[i] == '{' || payload[i] == '[')) return TrafficKind::Json;
  return TrafficKind::Text;
}

std::vector<std::string> DefaultCorpusRoots() {
  return {"/usr/share/xml",    "/usr/share/iso-codes",  "/usr/share/mime",    "/usr/share/metainfo",
          "/usr/share/dbus-1", "/usr/share/glib-2.0",   "/usr/share/gdb",     "/usr/share/X11",
          "/usr/share/doc",    "/usr/share/maven-repo", "/usr/share/polkit-1"};
}

Corpus LoadCorpus(const std::vector<std::string>& roots, std::size_t max_documents) {
  std::vector<fs::path> found;
  for (const std::string& root : roots) {
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const fs::path& path = it->path();
      if (!HasExtension(path, ".xml") && !HasExtension(path, ".json")) continue;
      std::error_code ignored;
      if (!it->is_regular_file(ignored)) continue;
      const std::uintmax_t size = it->file_size(ignored);
      if (ignored || size < kMinDocument || size > kMaxDocument) continue;
      found.push_back(path);
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());

  Corpus corpus;
  const std::size_t take = std::min(found.size(), std::max<std::size_t>(max_documents, 1));
  for (std::size_t i = 0; i < take; ++i) {
    const fs::path& path = found[i * found.size() / take];
    std::string text;
    if (!ReadDocument(path, &text)) continue;
    corpus.bytes += text.size();
    corpus.kinds.push_back(HasExtension(path, ".json") ? TrafficKind::Json : TrafficKind::Xml);
    corpus.documents.push_back(std::move(text));
  }
  if (corpus.documents.empty()) {
    corpus.built_in = true;
    corpus.documents = {std::string(kBuiltInXml), std::string(kBuiltInJson)};
    corpus.kinds = {TrafficKind::Xml, TrafficKind::Json};
    corpus.bytes = kBuiltInXml.size() + kBuiltInJson.size();
  }
  return corpus;
}

void SetUpTraffic(Traffic* t, const TrafficSettings& settings, const Corpus* corpus) {
  t->settings = settings;
  t->corpus = corpus;
  t->rng.seed(settings.seed);
  SetUpBuilder(&t->builder, settings.byte_order, settings.max_segment_length, 999999999);
  const int count = std::max(settings.destinations, 1);
  t->builder.destinations = StandardDestinations(count);
  t->destination_kinds.clear();
  t->destination_weights.clear();
  for (int i = 0; i < count; ++i) {
    // Queue i carries documents, records or binary data in turn; the first
    // queues are the busiest.
    const TrafficKind kind = i % 3 == 0 ? TrafficKind::Xml : i % 3 == 1 ? TrafficKind::Records : TrafficKind::Binary;
    t->destination_kinds.push_back(kind);
    t->destination_weights.push_back(static_cast<unsigned>(1 + (count - i) * (count - i) / 4));
    t->builder.destinations[static_cast<std::size_t>(i)].format = kind == TrafficKind::Binary ? "        " : "MQSTR";
  }
  t->payload.clear();
  t->messages_built = 0;
  t->record_counter = 0;
  t->started = false;
  t->resynchronised = false;
}

bool NextTrafficStep(Traffic* t, TrafficStep* step) {
  step->segments.clear();
  step->is_message = false;
  if (!t->started) {
    t->started = true;
    step->segments.push_back(BuildInitData(&t->builder));
    return true;
  }
  if (t->messages_built >= t->settings.messages) return false;
  if (t->settings.resynchronise && !t->resynchronised && t->messages_built >= t->settings.messages / 2 &&
      t->messages_built > 0) {
    t->resynchronised = true;
    step->segments.push_back(BuildResync(&t->builder));
    return true;
  }
  if (static_cast<int>(t->rng() % 1000) < t->settings.status_per_mille) {
    static constexpr uint8_t kFlags[] = {0x00, 0x00, 0x00, 0x02, 0x08};
    unsigned char body[40];
    std::memset(body, ' ', sizeof body);
    std::memcpy(body, "STAT", 4);
    PutInt32(body + 4, static_cast<int32_t>(t->rng() % 4), t->builder.byte_order);
    std::memcpy(body + 8, "CHANNEL STATUS", 14);
    const std::size_t length = 8 + t->rng() % (sizeof body - 8);
    step->segments.push_back(BuildStatus(&t->builder, kFlags[t->rng() % 5], std::span(body, length)));
    return true;
  }

  std::discrete_distribution<std::size_t> pick(t->destination_weights.begin(), t->destination_weights.end());
  const std::size_t dest = pick(t->rng);
  TrafficKind kind = t->destination_kinds[dest];
  t->payload.clear();
  switch (kind) {
    case TrafficKind::Xml:
    case TrafficKind::Json: {
      const std::size_t doc = t->rng() % t->corpus->documents.size();
      const std::string& text = t->corpus->documents[doc];
      kind = t->corpus->kinds[doc];
      t->payload.assign(text.begin(), text.end());
      break;
    }
    case TrafficKind::Records: {
      const std::size_t records = std::max<std::size_t>(PickSize(&t->rng) / 120, 1);
      MakePayload(PayloadKind::Records, records * 120, &t->rng, {}, &t->payload);
      break;
    }
    case TrafficKind::Text:
    case TrafficKind::Binary: MakeBinary(t, PickSize(&t->rng), &t->payload); break;
  }
  step->segments = BuildMessage(&t->builder, dest, t->payload);
  step->kind = kind;
  step->is_message = true;
  ++t->messages_built;
  return true;
}

}  // namespace velt::agent
