// Shared helpers of the tests: scratch directories, configuration files and
// the built exit libraries.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "exit_library.h"

namespace velt::test {

// A fresh directory under the system's temporary directory, removed when the
// object goes out of scope.
struct ScratchDir {
  std::filesystem::path path;
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return (path / name).string(); }
};

// Writes text to a file, replacing it.
void WriteFile(const std::string& path, const std::string& text);
// The whole file, or "" when it does not exist.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// Writes a configuration file and points VELT_EXIT_CFG at it.
void UseConfig(const std::string& path, const std::string& text);

// The log lines of a file with their "hh:mm:ss [" time prefix removed, so
// that tests compare what follows: "4] SDR :ReadCfg: ...".
std::vector<std::string> LogLines(const std::string& path);

// The level-0 line of a send exit whose header & data form came out longer
// than the segment: expected wherever incompressible messages travel.
inline bool IsRefusedCompression(const std::string& log_line) {
  return log_line.rfind("0] SDR :ProcessXmitSend: Compressed header (", 0) == 0;
}

// The built libraries (directory given by the build).
agent::ExitLibrary& SendLibrary();
agent::ExitLibrary& RecvLibrary();

}  // namespace velt::test
