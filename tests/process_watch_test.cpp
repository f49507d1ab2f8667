// The page that spares the exits a process id lookup per call: trusted where a
// fork really clears it, and only there.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host/platform.h"

namespace velt::test {
namespace {

#if defined(__linux__) && defined(MADV_WIPEONFORK)
// Whether a fork clears a page advised to be wiped is seen here directly, from
// a child, and compared with what the watch concluded when it was opened: a
// watch a child takes for its own would let the child write the parent's
// process id (an emulator that accepts the advice without acting on it), and
// a watch refused where the kernel wipes would cost every exit call a system
// call.
TEST(ProcessWatch, TrustedExactlyWhereAForkClearsThePage) {
  const size_t page_size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* mapped = mmap(nullptr, page_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  auto* page = static_cast<volatile unsigned char*>(mapped);
  const bool advised = madvise(mapped, page_size, MADV_WIPEONFORK) == 0;
  page[0] = 1;

  ProcessWatch watch{};
  OpenProcessWatch(&watch);
  ArmProcessWatch(&watch);
  EXPECT_EQ(SameProcessSurely(watch), watch.page != nullptr);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit((advised && page[0] == 0 ? 1 : 0) | (SameProcessSurely(watch) ? 2 : 0));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  const bool fork_clears = (WEXITSTATUS(status) & 1) != 0;
  EXPECT_FALSE(WEXITSTATUS(status) & 2) << "the forked child took the parent's watch for its own";
  EXPECT_EQ(watch.page != nullptr, fork_clears)
      << (fork_clears ? "a fork clears the page here, yet the watch was refused"
                      : "a fork leaves the page as it was here, yet the watch was trusted");
  EXPECT_EQ(SameProcessSurely(watch), fork_clears) << "in the process that armed it";

  CloseProcessWatch(&watch);
  munmap(mapped, page_size);
}
#endif

}  // namespace
}  // namespace velt::test
