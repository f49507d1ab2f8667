// What differs between the exits' platforms: file locations, the process id
// and the local time of day. Apart from the calling convention in the public
// header, nothing else in the exits tests the platform.
#pragma once

#include <cstdint>

#if defined(__GNUC__)
#define VELT_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define VELT_PRINTF(fmt_index, first_arg)
#endif

namespace velt {

// Fixed configuration file, used unless VELT_EXIT_CFG names another.
inline constexpr const char* kDefaultCfgFile =
#if defined(_WIN32)
    "\\mqm\\velt_exit.cfg";
#else
    "/var/mqm/velt_exit.cfg";
#endif

inline constexpr const char* kDefaultLogFile =
#if defined(_WIN32)
    "\\mqm\\errors\\velt_exit.log";
#else
    "/var/mqm/errors/velt_exit.log";
#endif

inline constexpr const char* kDefaultStatsFile =
#if defined(_WIN32)
    "\\mqm\\errors\\velt_exit.dat";
#else
    "/var/mqm/errors/velt_exit.dat";
#endif

// Name of the configuration file for this reading: VELT_EXIT_CFG when it is
// set and not empty, otherwise the fixed path. Never null.
const char* ConfigFilePath();

// Current process id.
int32_t CurrentProcessId();

// Tells cheaply whether the calling process may differ from the one that
// last armed the watch. On Linux a page the kernel wipes in a child after
// fork carries the answer, so a call in the same process needs no system
// call; elsewhere (or when the page cannot be had, or the kernel does not
// show that it acts on the advice) the answer is always "maybe", and the
// caller compares process ids.
struct ProcessWatch {
  volatile unsigned char* page;  // null: no watch
};
void OpenProcessWatch(ProcessWatch* watch);
void CloseProcessWatch(ProcessWatch* watch);
// True only when no fork can have happened since the watch was last armed.
inline bool SameProcessSurely(const ProcessWatch& watch) { return watch.page != nullptr && watch.page[0] == 1; }
inline void ArmProcessWatch(ProcessWatch* watch) {
  if (watch->page != nullptr) watch->page[0] = 1;
}

// Hour, minute and second of the local time now.
struct TimeOfDay {
  int hour;
  int minute;
  int second;
};
TimeOfDay LocalTimeOfDay();

// Calendar time now, in whole seconds.
int64_t CalendarSeconds();

}  // namespace velt
