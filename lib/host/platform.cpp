#include "host/platform.h"

#include <cstdlib>
#include <ctime>

#if defined(_WIN32)
// The process id comes from the system itself, not from the C runtime.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace velt {

const char* ConfigFilePath() {
  const char* named = std::getenv("VELT_EXIT_CFG");
  if (named != nullptr && named[0] != '\0') return named;
  return kDefaultCfgFile;
}

int32_t CurrentProcessId() {
#if defined(_WIN32)
  return static_cast<int32_t>(GetCurrentProcessId());
#else
  return static_cast<int32_t>(getpid());
#endif
}

#if defined(__linux__) && defined(MADV_WIPEONFORK)
// A kernel that wipes pages on fork refuses the advice for shared memory,
// which it cannot wipe. What accepts the advice there too, a user-mode
// emulator that takes every advice as a hint it may ignore (qemu-user 7.2
// does), may not wipe the private page either: a child would then take the
// parent's watch for its own and keep writing the parent's process id.
namespace {
bool RefusesWipeOnForkForSharedMemory(size_t page_size) {
  void* shared = mmap(nullptr, page_size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return false;
  const bool refused = madvise(shared, page_size, MADV_WIPEONFORK) != 0;
  munmap(shared, page_size);
  return refused;
}
}  // namespace
#endif

void OpenProcessWatch(ProcessWatch* watch) {
  watch->page = nullptr;
#if defined(__linux__) && defined(MADV_WIPEONFORK)
  const long page_size = sysconf(_SC_PAGESIZE);
  if (page_size <= 0 || !RefusesWipeOnForkForSharedMemory(static_cast<size_t>(page_size))) return;
  void* page =
      mmap(nullptr, static_cast<size_t>(page_size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) return;
  if (madvise(page, static_cast<size_t>(page_size), MADV_WIPEONFORK) != 0) {
    munmap(page, static_cast<size_t>(page_size));
    return;
  }
  watch->page = static_cast<volatile unsigned char*>(page);
#endif
}

void CloseProcessWatch(ProcessWatch* watch) {
#if defined(__linux__) && defined(MADV_WIPEONFORK)
  if (watch->page != nullptr) {
    munmap(const_cast<unsigned char*>(watch->page), static_cast<size_t>(sysconf(_SC_PAGESIZE)));
  }
#endif
  watch->page = nullptr;
}

// The 32-bit Windows C runtime's time_t is 32 bits wide, and time() fails
// from 2038 on; the 64-bit calls exist in every msvcrt the DLLs load into.
#if defined(_WIN32)
using CalendarTime = __time64_t;
static CalendarTime Now() { return _time64(nullptr); }
static void ToLocal(const CalendarTime* t, std::tm* local) { _localtime64_s(local, t); }
#else
using CalendarTime = std::time_t;
static CalendarTime Now() { return std::time(nullptr); }
static void ToLocal(const CalendarTime* t, std::tm* local) { localtime_r(t, local); }
#endif

TimeOfDay LocalTimeOfDay() {
  const CalendarTime now = Now();
  std::tm local{};
  ToLocal(&now, &local);
  return TimeOfDay{local.tm_hour, local.tm_min, local.tm_sec};
}

int64_t CalendarSeconds() { return static_cast<int64_t>(Now()); }

}  // namespace velt
