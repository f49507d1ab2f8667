// Output helpers the commands share: grouped numbers, XML text, the labels
// of a chart's axis, standard output, and files written whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velt::chan {

// 1234567 as "1,234,567".
std::string Grouped(int64_t value);
// The "s" of a plural noun after a count: none after 1.
template <typename Count>
constexpr const char* PluralS(Count count) {
  return count == 1 ? "" : "s";
}
// before / after, or 0 when nothing came after.
double Ratio(int64_t before, int64_t after);
// Line numbers as "3, 7, 12", with " and N more" when count exceeds them.
std::string LineList(const std::vector<int64_t>& lines, int64_t count);
// Text safe inside an XML element or attribute.
std::string XmlEscape(const std::string& text);
// The labelled values of a chart's axis from 0 to top: every whole number
// up to 10; above, steps of 1, 2 or 5 times a power of ten, at most ten of
// them, so that a file with an absurd ratio still gives a small chart.
std::vector<double> AxisTicks(double top);
// Writes text to standard output and flushes it.
void WriteOut(const std::string& text);

// A file written whole or not at all: the content goes to a temporary file
// beside the target, created at Open so that a target that cannot be
// written is reported before any work, and renamed over the target at
// Commit. Throws UsageError.
struct AtomicOutput {
  std::string target;
  std::string temporary;
  int fd = -1;

  AtomicOutput() = default;
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;
  ~AtomicOutput() { Discard(); }

  void Open(const std::string& path);
  void Commit(const std::string& content);
  void Discard();
};

}  // namespace velt::chan
