#include "payloads.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace velt::agent {

namespace {

constexpr std::string_view kBuiltInText =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<order xmlns=\"urn:example:orders\" id=\"A-20261209-0042\">\n"
    "  <customer number=\"0012873\"><name>Harbour Freight Services Ltd</name>\n"
    "    <address><street>14 Quay Road</street><city>Portsmouth</city><postcode>PO1 3AX</postcode></address>\n"
    "  </customer>\n"
    "  <lines>\n"
    "    <line no=\"1\" sku=\"HX-4410\" qty=\"12\" price=\"18.40\">Hex bolts, zinc plated, M10 x 60</line>\n"
    "    <line no=\"2\" sku=\"WS-0210\" qty=\"200\" price=\"0.06\">Flat washers, M10</line>\n"
    "    <line no=\"3\" sku=\"TR-9981\" qty=\"1\" price=\"349.00\">Torque wrench, 40-200 Nm, with case</line>\n"
    "  </lines>\n"
    "  <delivery method=\"carrier\" window=\"AM\">Leave at goods-in, dock 3; call ahead.</delivery>\n"
    "</order>\n";

}  // namespace

std::string_view PayloadKindName(PayloadKind kind) {
  switch (kind) {
    case PayloadKind::Text: return "text";
    case PayloadKind::Records: return "records";
    case PayloadKind::Binary: return "binary";
    case PayloadKind::EscapeRich: return "escape-rich";
  }
  return "unknown";
}

void MakePayload(PayloadKind kind, std::size_t size, Rng* rng, std::string_view corpus,
                 std::vector<unsigned char>* out) {
  out->reserve(out->size() + size);
  switch (kind) {
    case PayloadKind::Text: {
      const std::string_view text = corpus.empty() ? kBuiltInText : corpus;
      std::size_t at = std::uniform_int_distribution<std::size_t>(0, text.size() - 1)(*rng);
      while (size > 0) {
        const std::size_t part = std::min(size, text.size() - at);
        out->insert(out->end(), text.begin() + static_cast<std::ptrdiff_t>(at),
                    text.begin() + static_cast<std::ptrdiff_t>(at + part));
        size -= part;
        at = 0;
      }
      break;
    }
    case PayloadKind::Records: {
      // 120-byte records: key, name and amount fields, blank-padded.
      static constexpr const char* kNames[] = {"SMITH J", "OKONKWO A", "NAKAMURA K", "FERREIRA DA SILVA M", "LI W"};
      while (size > 0) {
        char record[121];
        std::fill(record, record + 120, ' ');
        const auto key = std::uniform_int_distribution<unsigned>(0, 99999999)(*rng);
        const auto cents = std::uniform_int_distribution<unsigned>(0, 9999999)(*rng);
        const char* name = kNames[(*rng)() % 5];
        char fields[121];
        const int used =
            std::snprintf(fields, sizeof fields, "%08u%-30s%10u.%02u", key, name, cents / 100, cents % 100);
        std::copy(fields, fields + std::min(used, 120), record);
        const std::size_t part = std::min<std::size_t>(size, 120);
        out->insert(out->end(), record, record + part);
        size -= part;
      }
      break;
    }
    case PayloadKind::Binary: {
      for (std::size_t i = 0; i < size; ++i) out->push_back(static_cast<unsigned char>((*rng)()));
      break;
    }
    case PayloadKind::EscapeRich: {
      std::uniform_int_distribution<int> pick(0, 9);
      for (std::size_t i = 0; i < size;) {
        const int p = pick(*rng);
        const unsigned char b = p < 4 ? 0xAB : static_cast<unsigned char>((*rng)());
        std::size_t run = p == 9 ? std::uniform_int_distribution<std::size_t>(1, 300)(*rng) : 1;
        run = std::min(run, size - i);
        out->insert(out->end(), run, b);
        i += run;
      }
      break;
    }
  }
}

}  // namespace velt::agent
