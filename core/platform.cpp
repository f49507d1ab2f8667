#include "platform.h"

#include <cstdlib>
#include <ctime>

#if defined(_WIN32)
// core/process.h shadows the C runtime's <process.h> on the include path, so
// the process id comes from the system itself.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
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

TimeOfDay LocalTimeOfDay() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return TimeOfDay{local.tm_hour, local.tm_min, local.tm_sec};
}

int64_t CalendarSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace velt
