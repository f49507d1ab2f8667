// Loading a built exit library the way a channel agent does: by file name,
// resolving its entry point velt_exit.
#pragma once

#include <cstdint>
#include <string>

namespace velt::agent {

using ExitFunction = void (*)(void* exit_parms, void* channel_def, int32_t* data_length, int32_t* agent_buffer_length,
                              void* agent_buffer, int32_t* exit_buffer_length, void** exit_buffer_addr);

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
