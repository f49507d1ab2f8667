// The user's own traffic: message payloads read from files and directories.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <fmt/format.h>

#include "veltchan.h"

namespace velt::chan {

namespace {

namespace fs = std::filesystem;

// A message's total length travels as a 32-bit number; queue managers stop
// far below that.
constexpr std::uintmax_t kMaxMessage = 100u * 1024u * 1024u;

std::string TooLong(const std::string& what, std::uintmax_t size) {
  return fmt::format("{} holds {} bytes, more than a message can carry ({})", what, size, kMaxMessage);
}

// The whole file; with lines the limit is each line's, not the file's.
std::vector<unsigned char> ReadWhole(const fs::path& path, bool lines) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) throw UsageError(fmt::format("cannot read {}: {}", path.string(), ec.message()));
  if (!lines && size > kMaxMessage) throw UsageError(TooLong(path.string(), size));
  if (size > std::vector<unsigned char>().max_size())
    throw UsageError(fmt::format("cannot read {}: {} bytes do not fit in memory", path.string(), size));
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError(fmt::format("cannot read {}: {}", path.string(), std::strerror(errno)));
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  // What counts is what reads to the end: a file of /proc says it holds 0
  // bytes, and a file being written may have grown since.
  std::vector<char> chunk(64 * 1024);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    bytes.insert(bytes.end(), chunk.data(), chunk.data() + in.gcount());
    if (!lines && bytes.size() > kMaxMessage) throw UsageError(TooLong(path.string(), bytes.size()));
  }
  if (in.bad()) throw UsageError(fmt::format("cannot read {}: read failed", path.string()));
  return bytes;
}

void AddFile(const fs::path& path, bool lines, std::vector<InputMessage>* out) {
  std::vector<unsigned char> bytes = ReadWhole(path, lines);
  if (!lines) {
    InputMessage m;
    m.kind = agent::ClassifyPayload(bytes);
    m.payload = std::move(bytes);
    m.origin = path.string();
    out->push_back(std::move(m));
    return;
  }
  std::size_t start = 0;
  int64_t number = 0;
  while (start < bytes.size()) {
    const auto newline = std::find(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end(), '\n');
    const auto end = static_cast<std::size_t>(newline - bytes.begin());
    std::size_t stop = end;
    if (stop > start && bytes[stop - 1] == '\r') --stop;
    ++number;
    if (stop - start > kMaxMessage)
      throw UsageError(TooLong(fmt::format("{}:{}", path.string(), number), stop - start));
    if (stop > start) {
      InputMessage m;
      m.payload.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                       bytes.begin() + static_cast<std::ptrdiff_t>(stop));
      m.kind = agent::ClassifyPayload(m.payload);
      m.origin = fmt::format("{}:{}", path.string(), number);
      out->push_back(std::move(m));
    }
    start = end + 1;
  }
}

// The regular files under dir, links to them included. Links to directories
// are not followed (a link back up would walk the tree again and again);
// they and whatever else is no regular file are counted in left_out. A
// directory that cannot be read is named itself, not the PATH it is under.
void Walk(const fs::path& dir, std::vector<fs::path>* files, int64_t* left_out) {
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code kind_error;
    if (it->is_directory(kind_error) && !it->is_symlink(kind_error)) {
      Walk(it->path(), files, left_out);
    } else if (it->is_regular_file(kind_error)) {
      files->push_back(it->path());
    } else {
      ++*left_out;
    }
  }
  if (ec) throw UsageError(fmt::format("cannot read directory {}: {}", dir.string(), ec.message()));
}

}  // namespace

std::vector<InputMessage> LoadInputs(const std::vector<std::string>& paths, bool lines, int64_t* left_out) {
  *left_out = 0;
  std::vector<InputMessage> messages;
  for (const std::string& name : paths) {
    const fs::path path(name);
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
      throw UsageError(fmt::format("cannot read {}: {}", name, ec ? ec.message() : "no such file or directory"));
    }
    if (!fs::is_directory(status)) {
      if (!fs::is_regular_file(status)) throw UsageError(fmt::format("cannot read {}: not a regular file", name));
      AddFile(path, lines, &messages);
      continue;
    }
    std::vector<fs::path> files;
    Walk(path, &files, left_out);
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) AddFile(file, lines, &messages);
  }
  if (messages.empty())
    throw UsageError(lines ? "no messages to replay: the paths given hold no files or only blank lines"
                           : "no messages to replay: the paths given hold no files");
  return messages;
}

QueueName ParseQueueName(const std::string& text) {
  QueueName name;
  const std::size_t at = text.find('@');
  name.queue = text.substr(0, at);
  name.queue_manager = at == std::string::npos ? "QM.REMOTE" : text.substr(at + 1);
  const auto valid = [](const std::string& s) {
    return !s.empty() && s.size() <= 48 &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return c > ' ' && c < 0x7F && c != '@'; });
  };
  if (!valid(name.queue) || !valid(name.queue_manager))
    throw UsageError(
        fmt::format("--queue {}: expected NAME or NAME@QMGR, each 1 to 48 printable characters without blanks", text));
  return name;
}

}  // namespace velt::chan
