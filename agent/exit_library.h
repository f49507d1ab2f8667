// Loading a built exit library the way a channel agent does: by file name,
// resolving its entry point velt_exit.
#pragma once

#include <cstdint>
#include <string>

#include "velt/velt_exit.h"

namespace velt::agent {

using velt::ExitFunction;

struct ExitLibrary {
  void* handle = nullptr;
  ExitFunction entry = nullptr;
  std::string path;
};

// Loads the library at path and resolves velt_exit. On failure returns false
// and puts the loader's reason in *error.
bool LoadExitLibrary(const std::string& path, ExitLibrary* library, std::string* error);
void UnloadExitLibrary(ExitLibrary* library);

// File name of the send or receive library inside a directory.
std::string SendLibraryPath(const std::string& dir);
std::string RecvLibraryPath(const std::string& dir);

}  // namespace velt::agent
