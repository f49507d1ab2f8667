// The receive exit through velt_exit, as an agent calls it: MQXR_INIT, a run
// of MQXR_XMIT calls on one instance (so header cache, status image and
// sequence state carry from segment to segment), then MQXR_TERM. Segments are
// arbitrary: any marks, types, flags, lengths up to MaxSegmentLength and a TSH
// anywhere; some are compressed here as a sending end would, so that their
// streams decode and the paths behind the decoder are reached.
//
// Whatever arrives, the exit must
//   - answer MQXCC_OK, MQXCC_SUPPRESS_EXIT or MQXCC_CLOSE_CHANNEL;
//   - leave the agent's buffer as it was;
//   - never let a marked segment through as a plain one: a marked type-4 or
//     type-5 segment is either restored into the exit buffer (mark cleared)
//     or refused with MQXCC_CLOSE_CHANNEL;
//   - hand over an exit buffer segment no longer than the buffer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "fuzz_input.h"
#include "recv/recv_exit.h"
#include "velt/velt_exit.h"
#include "wire/segment.h"

namespace {

using velt::fuzz::Reader;

void Require(bool condition) {
  if (!condition) std::abort();
}

struct Instance {
  velt::ExitParms parms{};
  unsigned char definition[2020] = {};
  int32_t exit_buffer_length = 0;
  void* exit_buffer = nullptr;
  int32_t max_segment = 0;

  int32_t Call(int32_t reason, unsigned char* buffer, int32_t* length) {
    parms.ExitReason = reason;
    parms.ExitResponse2 = velt::MQXR2_USE_AGENT_BUFFER;
    int32_t agent_buffer_length = max_segment;
    velt::ReceiveExit(&parms, definition, length, &agent_buffer_length, buffer, &exit_buffer_length, &exit_buffer);
    return parms.ExitResponse;
  }
};

void SetUp(Instance* in, unsigned settings, uint16_t custom) {
  in->max_segment = velt::fuzz::MaxSegmentFor(settings >> 4, custom);
  std::memcpy(in->parms.StrucId, "CXP ", 4);
  in->parms.Version = 3;
  in->parms.ExitId = velt::MQXT_CHANNEL_RCV_EXIT;
  in->parms.MaxSegmentLength = in->max_segment;
  std::memset(in->parms.ExitData, ' ', sizeof in->parms.ExitData);
  const std::string data =
      "HDR=" + std::to_string((settings & 15u) + 1) + " LOG=" + std::to_string(velt::fuzz::LogLevelFor(settings));
  std::memcpy(in->parms.ExitData, data.data(), data.size());
  std::memset(in->definition, ' ', velt::kChannelNameLength);
  std::memcpy(in->definition, "FUZZ.RECV", 9);
  int32_t type = 3;
  std::memcpy(in->definition + offsetof(velt::ChannelDef, ChannelType), &type, sizeof type);
}

struct Found {
  bool tsh = false;
  int32_t t = 0;
  uint8_t type = 0;
  uint8_t flags = 0;
  uint8_t mark = 0;
};

Found Look(const std::vector<unsigned char>& segment) {
  Found f;
  const auto length = static_cast<int32_t>(segment.size());
  const unsigned char* tsh = velt::FindSegmentHeader(segment.data(), length, &f.t);
  if (tsh == nullptr) return f;
  f.tsh = true;
  f.type = tsh[velt::kTshType];
  f.flags = tsh[velt::kTshFlags];
  f.mark = tsh[velt::kTshMark];
  return f;
}

// Marks the segment and encodes its tail as the sending end does; the
// header region is left as it is (its difference from whatever reference the
// receiving end holds). Segments too short to carry a tail stay as they are.
void CompressHere(std::vector<unsigned char>* segment, uint8_t op, int32_t max_segment) {
  const Found f = Look(*segment);
  if (!f.tsh) return;
  const bool header_form = f.type == velt::kSegStatus || (f.flags & velt::MQP_TCF_FIRST) != 0;
  const int32_t h = f.t + (header_form ? velt::kTshRest : velt::kTshLength);
  const auto length = static_cast<int32_t>(segment->size());
  if (h >= length || h >= max_segment) return;
  std::vector<unsigned char> out(static_cast<std::size_t>(max_segment));
  std::memcpy(out.data(), segment->data(), static_cast<std::size_t>(h));
  const int32_t n = velt::EncodeRLE(segment->data() + h, out.data() + h, length - h, max_segment - h);
  if (n >= max_segment - h) return;
  out.resize(static_cast<std::size_t>(h + n));
  out[static_cast<std::size_t>(f.t + velt::kTshMark)] =
      static_cast<unsigned char>(header_form && f.type == velt::kSegMessage ? (op & 0xF0u) | 1u : 1u);
  *segment = std::move(out);
}

}  // namespace

// The configuration file: logs go nowhere, whatever level the exit data asks.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/velt-fuzz-recv-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 0;
  const std::string cfg = std::string(dir) + "/velt.cfg";
  if (std::FILE* f = std::fopen(cfg.c_str(), "w")) {
    std::fputs("LogFile = /dev/null\nStatsFile = /dev/null\nLogLevel = -1\n", f);
    std::fclose(f);
  }
  setenv("VELT_EXIT_CFG", cfg.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in{data, size};
  const unsigned settings = in.Byte();
  const uint16_t custom = in.U16();
  Instance instance;
  SetUp(&instance, settings, custom);

  int32_t none = 0;
  int32_t response = instance.Call(velt::MQXR_INIT, nullptr, &none);
  Require(response == velt::MQXCC_OK);

  for (int record = 0; record < velt::fuzz::kMaxRecords && !in.Done(); ++record) {
    const uint8_t op = in.Byte();
    if ((op & 0x0F) == velt::fuzz::kOpOtherReason) {
      static constexpr int32_t kOthers[] = {
          velt::MQXR_MSG, velt::MQXR_SEC_MSG, velt::MQXR_INIT_SEC, velt::MQXR_RETRY, 99, -1};
      response = instance.Call(kOthers[(op >> 4) % 6], nullptr, &none);
      Require(response == velt::MQXCC_OK);
      continue;
    }
    const uint16_t wanted = in.U16();
    std::vector<unsigned char> segment = in.Bytes(std::min<int32_t>(wanted, instance.max_segment));
    if ((op & velt::fuzz::kOpCompress) != 0) CompressHere(&segment, op, instance.max_segment);

    // The agent's buffer holds exactly the segment, so that any read beyond
    // DataLength is caught.
    const auto length = static_cast<int32_t>(segment.size());
    auto buffer = std::make_unique<unsigned char[]>(segment.size());
    if (!segment.empty()) std::memcpy(buffer.get(), segment.data(), segment.size());
    int32_t data_length = length;
    response = instance.Call(velt::MQXR_XMIT, buffer.get(), &data_length);

    Require(response == velt::MQXCC_OK || response == velt::MQXCC_SUPPRESS_EXIT ||
            response == velt::MQXCC_CLOSE_CHANNEL);
    Require(segment.empty() || std::memcmp(buffer.get(), segment.data(), segment.size()) == 0);
    if (response == velt::MQXCC_CLOSE_CHANNEL || response == velt::MQXCC_SUPPRESS_EXIT) break;

    const Found f = Look(segment);
    const bool marked =
        f.tsh && (f.mark & velt::kMarkCompressed) != 0 && (f.type == velt::kSegMessage || f.type == velt::kSegStatus);
    if (instance.parms.ExitResponse2 == velt::MQXR2_USE_EXIT_BUFFER) {
      Require(instance.exit_buffer != nullptr);
      Require(data_length > 0 && data_length <= instance.exit_buffer_length);
      Require(data_length <= instance.max_segment);
      const auto* restored = static_cast<const unsigned char*>(instance.exit_buffer);
      Require(marked && restored[f.t + velt::kTshMark] == 0);
      Require(std::memcmp(restored, segment.data(), static_cast<std::size_t>(f.t + velt::kTshMark)) == 0);
    } else {
      // Delivered from the agent's buffer: it must be a plain segment.
      Require(!marked);
      Require(data_length == length);
    }
  }

  response = instance.Call(velt::MQXR_TERM, nullptr, &none);
  Require(response == velt::MQXCC_OK);
  return 0;
}
