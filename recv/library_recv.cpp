// What makes this library the receive exit: its log tag, no queue-key table
// (the cache index travels in the mark), and a send routine that does nothing.
#include "library.h"
#include "process.h"

namespace velt {

const LibraryTraits& ThisLibrary() {
  static constexpr LibraryTraits kRecv{"RCVR", false};
  return kRecv;
}

int32_t ProcessXmitSend(ExitParms*, ChannelDef*, int32_t*, int32_t*, unsigned char*, int32_t*, unsigned char**,
                        ExitContext*) {
  return 0;
}

}  // namespace velt
