// What tells the send library from the receive library. Each library defines
// ThisLibrary() once (send/library_send.cpp, recv/library_recv.cpp); the core
// asks it instead of being compiled twice.
#pragma once

namespace velt {

struct LibraryTraits {
  const char* tag;       // written into every log line: "SDR" or "RCVR"
  bool keeps_queue_keys;  // the send library chooses cache entries by queue
};

const LibraryTraits& ThisLibrary();

}  // namespace velt
