// Reading the exits' files in large chunks for the readers.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "veltchan.h"

namespace velt::chan {

inline constexpr std::size_t kChunk = 1u << 20;

// Opens a file for reading, or throws UsageError naming it.
inline std::FILE* OpenForReading(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw UsageError(fmt::format("cannot read {}: {}", path, std::strerror(errno)));
  return file;
}

// Hands feed(data, size) what the file holds from its current position to
// its end; returns the bytes read.
template <typename Feed>
std::size_t ReadToEnd(std::FILE* file, const std::string& path, std::vector<char>* buffer, Feed&& feed) {
  buffer->resize(kChunk);
  std::size_t total = 0;
  for (;;) {
    const std::size_t n = std::fread(buffer->data(), 1, buffer->size(), file);
    if (n > 0) feed(buffer->data(), n);
    total += n;
    if (n < buffer->size()) break;
  }
  if (std::ferror(file)) throw UsageError(fmt::format("cannot read {}: {}", path, std::strerror(errno)));
  std::clearerr(file);
  return total;
}

}  // namespace velt::chan
