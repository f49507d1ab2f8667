#include "support.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace velt::test {

ScratchDir::ScratchDir() {
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = std::filesystem::temp_directory_path() / ("velt-test-" + std::to_string(seed()));
    if (std::filesystem::create_directory(candidate)) {
      path = candidate;
      return;
    }
  }
  throw std::runtime_error("no scratch directory");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path, ignored);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

void UseConfig(const std::string& path, const std::string& text) {
  WriteFile(path, text);
  setenv("VELT_EXIT_CFG", path.c_str(), 1);
}

std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    // "hh:mm:ss [" is ten characters.
    if (line.size() > 10 && line[2] == ':' && line[5] == ':' && line[8] == ' ' && line[9] == '[')
      line = line.substr(10);
    lines.push_back(line);
  }
  return lines;
}

static agent::ExitLibrary Load(const std::string& path) {
  agent::ExitLibrary library;
  std::string error;
  if (!agent::LoadExitLibrary(path, &library, &error)) throw std::runtime_error(error);
  return library;
}

agent::ExitLibrary& SendLibrary() {
  static agent::ExitLibrary library = Load(agent::SendLibraryPath(VELT_LIB_DIR));
  return library;
}

agent::ExitLibrary& RecvLibrary() {
  static agent::ExitLibrary library = Load(agent::RecvLibraryPath(VELT_LIB_DIR));
  return library;
}

}  // namespace velt::test
