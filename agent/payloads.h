// Message payloads of the kinds a channel carries: text documents,
// blank-padded fixed-width records, binary data, and bytes rich in the
// codec's escape byte.
#pragma once

#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

namespace velt::agent {

enum class PayloadKind : uint8_t { Text, Records, Binary, EscapeRich };
inline constexpr int kPayloadKinds = 4;
std::string_view PayloadKindName(PayloadKind kind);

using Rng = std::mt19937_64;

// Appends size bytes of the kind to out. Text is drawn from corpus when it
// is not empty, otherwise from a built-in XML-like document.
void MakePayload(PayloadKind kind, std::size_t size, Rng* rng, std::string_view corpus,
                 std::vector<unsigned char>* out);

}  // namespace velt::agent
