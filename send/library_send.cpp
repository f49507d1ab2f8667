// What makes this library the send exit: its log tag, the queue-key table,
// and a receive routine that does nothing.
#include "library.h"
#include "process.h"

namespace velt {

const LibraryTraits& ThisLibrary() {
  static constexpr LibraryTraits kSend{"SDR", true};
  return kSend;
}

int32_t ProcessXmitRecv(ExitParms*, ChannelDef*, int32_t*, int32_t*, unsigned char*, int32_t*, unsigned char**,
                        ExitContext*) {
  return 0;
}

}  // namespace velt
