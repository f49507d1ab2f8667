#include "exit_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace velt::agent {

#if defined(_WIN32)
static constexpr const char* kSuffix = ".dll";
#else
static constexpr const char* kSuffix = ".so";
#endif

std::string SendLibraryPath(const std::string& dir) { return dir + "/VELTSEND" + kSuffix; }
std::string RecvLibraryPath(const std::string& dir) { return dir + "/VELTRECV" + kSuffix; }

bool LoadExitLibrary(const std::string& path, ExitLibrary* library, std::string* error) {
  library->path = path;
#if defined(_WIN32)
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  FARPROC entry = GetProcAddress(module, "velt_exit");
  if (entry == nullptr) {
    FreeLibrary(module);
    *error = path + " has no entry point velt_exit";
    return false;
  }
  library->handle = module;
  library->entry = reinterpret_cast<ExitFunction>(reinterpret_cast<void*>(entry));
#else
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : ("cannot load " + path);
    return false;
  }
  void* entry = dlsym(handle, "velt_exit");
  if (entry == nullptr) {
    dlclose(handle);
    *error = path + " has no entry point velt_exit";
    return false;
  }
  library->handle = handle;
  library->entry = reinterpret_cast<ExitFunction>(entry);
#endif
  return true;
}

void UnloadExitLibrary(ExitLibrary* library) {
  if (library->handle == nullptr) return;
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(library->handle));
#else
  dlclose(library->handle);
#endif
  library->handle = nullptr;
  library->entry = nullptr;
}

}  // namespace velt::agent
