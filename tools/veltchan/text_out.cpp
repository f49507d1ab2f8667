#include "text_out.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fmt/format.h>

#include "veltchan.h"

namespace velt::chan {

namespace fs = std::filesystem;

std::string Grouped(int64_t value) {
  const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  if (value < 0) out.insert(out.begin(), '-');
  return out;
}

double Ratio(int64_t before, int64_t after) {
  return after > 0 ? static_cast<double>(before) / static_cast<double>(after) : 0.0;
}

std::string LineList(const std::vector<int64_t>& lines, int64_t count) {
  std::string text;
  for (const int64_t line : lines) text += fmt::format("{}{}", text.empty() ? "" : ", ", line);
  if (count > static_cast<int64_t>(lines.size()))
    text += fmt::format(" and {} more", Grouped(count - static_cast<int64_t>(lines.size())));
  return text;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters are not allowed in XML 1.0 text.
        out += static_cast<unsigned char>(c) < 0x20 && c != '\t' ? '?' : c;
    }
  }
  return out;
}

std::vector<double> AxisTicks(double top) {
  double step = 1;
  if (top > 10 && std::isfinite(top)) {
    const double power = std::pow(10.0, std::floor(std::log10(top / 10)));
    step = 10 * power;
    for (const double m : {1.0, 2.0, 5.0}) {
      if (10 * m * power >= top) {
        step = m * power;
        break;
      }
    }
  }
  std::vector<double> ticks;
  for (int i = 0; i <= 10 && i * step <= top; ++i) ticks.push_back(i * step);
  return ticks;
}

void WriteOut(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void AtomicOutput::Open(const std::string& path) {
  target = path;
  const fs::path p(path);
  if (fs::is_directory(p)) throw UsageError(fmt::format("cannot write {}: it is a directory", path));
  const fs::path dir = p.has_parent_path() ? p.parent_path() : fs::path(".");
  std::string hidden(".");
  hidden.append(p.filename().string()).append(".XXXXXX");
  std::string pattern = (dir / hidden).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd = mkstemp(name.data());
  if (fd < 0) throw UsageError(fmt::format("cannot write {}: {}", path, std::strerror(errno)));
  temporary = name.data();
}

void AtomicOutput::Commit(const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw UsageError(fmt::format("cannot write {}: {}", target, std::strerror(errno)));
    done += static_cast<std::size_t>(n);
  }
  // mkstemp makes the file private; give it the mode a newly created file
  // gets under the user's umask.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  if (::close(fd) != 0) {
    fd = -1;
    throw UsageError(fmt::format("cannot write {}: {}", target, std::strerror(errno)));
  }
  fd = -1;
  if (std::rename(temporary.c_str(), target.c_str()) != 0)
    throw UsageError(fmt::format("cannot write {}: {}", target, std::strerror(errno)));
  temporary.clear();
}

void AtomicOutput::Discard() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  if (!temporary.empty()) std::remove(temporary.c_str());
  temporary.clear();
}

}  // namespace velt::chan
