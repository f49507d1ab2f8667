// The configuration reader with any file contents and any exit data, through
// velt_exit: the context is created (every key honoured), MQXR_INIT reads the
// file again, two segments pass and MQXR_TERM releases everything. The
// settings that come out must be usable: a header table of 1 to 16 entries
// and file names that are terminated strings without a line end.
//
// The file can name any log or statistics file. While the exit runs, every
// file it opens for writing is opened on /dev/null instead (this program's
// own fopen stands in front of the C library's), so that nothing outside
// the scratch directory is ever created or appended to.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "host/context.h"
#include "send/send_exit.h"
#include "velt/velt_exit.h"

namespace {

bool g_inside_exit = false;
std::string g_config_path;

void Require(bool condition) {
  if (!condition) std::abort();
}

using FopenFunction = FILE* (*)(const char*, const char*);

FopenFunction RealFopen() {
  static FopenFunction real = reinterpret_cast<FopenFunction>(dlsym(RTLD_NEXT, "fopen"));
  return real;
}

}  // namespace

extern "C" FILE* fopen(const char* path, const char* mode) {
  if (g_inside_exit && std::strcmp(mode, "r") != 0) path = "/dev/null";
  return RealFopen()(path, mode);
}

namespace {

void WriteConfig(const unsigned char* data, std::size_t size) {
  g_inside_exit = false;
  std::FILE* f = std::fopen(g_config_path.c_str(), "wb");
  if (f == nullptr) return;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

// A first message segment with its XQH, then a further one: 600 bytes each.
std::vector<unsigned char> Segment(bool first, int32_t number) {
  std::vector<unsigned char> s(600, ' ');
  std::memcpy(s.data(), "TSH ", 4);
  s[8] = 2;
  s[9] = 4;
  s[10] = first ? 0x10 : 0x00;
  s[11] = 0;
  std::memcpy(s.data() + 28, "MSH ", 4);
  std::memcpy(s.data() + 32, &number, 4);
  const int32_t segment_number = 1;
  std::memcpy(s.data() + 40, &segment_number, 4);
  if (first) std::memcpy(s.data() + 48, "XQH ", 4);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_config_path = "/tmp/velt-fuzz-config-" + std::to_string(getpid()) + ".cfg";
  setenv("VELT_EXIT_CFG", g_config_path.c_str(), 1);
  std::atexit([] { unlink(g_config_path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  velt::fuzz::Reader in{data, size};
  velt::ExitParms parms{};
  const std::vector<unsigned char> exit_data = in.Bytes(velt::fuzz::kExitDataBytes);
  std::memset(parms.ExitData, ' ', sizeof parms.ExitData);
  if (!exit_data.empty()) std::memcpy(parms.ExitData, exit_data.data(), exit_data.size());
  static constexpr int32_t kIds[] = {velt::MQXT_CHANNEL_SEND_EXIT, velt::MQXT_CHANNEL_RCV_EXIT,
                                     velt::MQXT_CHANNEL_MSG_EXIT, velt::MQXT_CHANNEL_SEC_EXIT};
  parms.ExitId = kIds[in.Byte() % 4];
  parms.MaxSegmentLength = 4096;
  WriteConfig(data + in.at, size - std::min(in.at, size));

  unsigned char definition[2020] = {};
  std::memset(definition, ' ', velt::kChannelNameLength);
  std::memcpy(definition, "FUZZ.CONFIG", 11);
  int32_t exit_buffer_length = 0;
  void* exit_buffer = nullptr;
  int32_t agent_buffer_length = 4096;
  int32_t length = 0;

  g_inside_exit = true;
  parms.ExitReason = velt::MQXR_INIT;
  velt::SendExit(&parms, definition, &length, &agent_buffer_length, nullptr, &exit_buffer_length, &exit_buffer);
  const velt::ExitContext* ctx = velt::ContextOf(&parms);
  if (parms.ExitId == velt::MQXT_CHANNEL_SEC_EXIT) {
    // Refused: the configuration was read, and the agent calls the instance
    // no more, so nothing of it may stay.
    g_inside_exit = false;
    Require(parms.ExitResponse == velt::MQXCC_SUPPRESS_EXIT && ctx == nullptr);
    return 0;
  }
  Require(ctx != nullptr);
  Require(ctx->Initialised == 1);
  Require(ctx->HdrTblSize >= 1 && ctx->HdrTblSize <= 16);
  for (const char* name : {ctx->LogFile, ctx->StatsFile}) {
    const std::size_t used = strnlen(name, velt::kFileNameCapacity);
    Require(used < velt::kFileNameCapacity);
    Require(std::memchr(name, '\n', used) == nullptr);
  }

  if (parms.ExitResponse == velt::MQXCC_OK) {
    for (int32_t number = 1; number <= 2; ++number) {
      std::vector<unsigned char> segment = Segment(number == 1, number);
      length = static_cast<int32_t>(segment.size());
      parms.ExitReason = velt::MQXR_XMIT;
      velt::SendExit(&parms, definition, &length, &agent_buffer_length, segment.data(), &exit_buffer_length,
                     &exit_buffer);
      Require(parms.ExitResponse == velt::MQXCC_OK);
    }
  }
  parms.ExitReason = velt::MQXR_TERM;
  velt::SendExit(&parms, definition, &length, &agent_buffer_length, nullptr, &exit_buffer_length, &exit_buffer);
  g_inside_exit = false;
  Require(velt::ContextOf(&parms) == nullptr);
  return 0;
}
