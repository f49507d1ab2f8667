#include "channel/channel.h"

#include <cstring>

#include "host/alloc.h"
#include "host/log.h"
#include "host/log_lines.h"
#include "wire/segment.h"

namespace velt {

namespace {

void FillCache(ChannelDescr* cd, const ExitContext* ctx) {
  for (uint16_t i = 0; i < ctx->HdrTblSize; ++i)
    std::memcpy(cd->HdrCache[i].Image, ctx->InitHdrImage, kMessageHeaderRegion);
}

unsigned char* ReferenceOf(ChannelDescr* cd, uint16_t index, std::size_t* length) {
  if (index == kStatusImageIndex) {
    *length = sizeof cd->StatusImage;
    return cd->StatusImage;
  }
  *length = kMessageHeaderRegion;
  return cd->HdrCache[index].Image;
}

// area ^= reference, one 32-bit word at a time; neither side need be aligned.
void XorWords(unsigned char* area, const unsigned char* reference, std::size_t length) {
  for (std::size_t at = 0; at < length; at += 4) {
    uint32_t a, r;
    std::memcpy(&a, area + at, 4);
    std::memcpy(&r, reference + at, 4);
    a ^= r;
    std::memcpy(area + at, &a, 4);
  }
}

}  // namespace

ChannelDescr* NewChannelDescr(const ChannelDef* cd_def, ExitContext* ctx, bool with_queue_keys) {
  auto* cd = static_cast<ChannelDescr*>(VeltAlloc(sizeof(ChannelDescr)));
  if (cd == nullptr) {
    WriteLog(kLogReject, ctx, kLogGetMemFailed, 889);
    return nullptr;
  }
  std::memset(cd, 0, sizeof *cd);
  cd->ExitBuffer = nullptr;
  cd->ChannelType = cd_def->ChannelType;

  cd->HdrCache = static_cast<HeaderCacheEntry*>(VeltAlloc(sizeof(HeaderCacheEntry) * ctx->HdrTblSize));
  if (cd->HdrCache == nullptr) {
    WriteLog(kLogReject, ctx, kLogGetMemFailed, 902);
    VeltFree(cd);
    return nullptr;
  }
  FillCache(cd, ctx);
  std::memset(cd->StatusImage, 0, sizeof cd->StatusImage);

  cd->QueueKeys = nullptr;
  if (with_queue_keys) {
    cd->QueueKeys = static_cast<QueueKeyEntry*>(VeltAlloc(sizeof(QueueKeyEntry) * ctx->HdrTblSize));
    if (cd->QueueKeys == nullptr) {
      WriteLog(kLogReject, ctx, kLogGetMemFailed, 919);
      VeltFree(cd->HdrCache);
      VeltFree(cd);
      return nullptr;
    }
    std::memset(cd->QueueKeys, 0, sizeof(QueueKeyEntry) * ctx->HdrTblSize);
  }

  cd->SeqWrap = 0;
  cd->LastMsgNum = 0;
  cd->LastSegNum = 0;
  CopyNulFilled(cd->ChannelName, cd_def->ChannelName, kChannelNameLength);
  return cd;
}

int32_t FreeChannelDescr(ChannelDescr* cd) {
  if (cd == nullptr) return 0;
  VeltFree(cd->ExitBuffer);
  cd->ExitBuffer = nullptr;
  VeltFree(cd->HdrCache);
  cd->HdrCache = nullptr;
  if (cd->QueueKeys != nullptr) VeltFree(cd->QueueKeys);
  cd->QueueKeys = nullptr;
  VeltFree(cd);
  return 0;
}

void ResetHeaderCache(ChannelDescr* cd, ExitContext* ctx) {
  FillCache(cd, ctx);
  if (cd->QueueKeys != nullptr) std::memset(cd->QueueKeys, 0, sizeof(QueueKeyEntry) * ctx->HdrTblSize);
}

int32_t CheckMsgSequence(const unsigned char* msh, ChannelDescr* cd, uint16_t peer_order, ExitContext* ctx) {
  const int32_t msg = ConvertLong(LoadInt32(msh + kMshMsgNum), peer_order, ctx->LocalByteOrder);
  const int32_t seg = ConvertLong(LoadInt32(msh + kMshSegNum), peer_order, ctx->LocalByteOrder);
  WriteLog(kLogTrace, ctx, "Msg# %ld  Seg# %ld, LastSeen > msg Msg# %ld  Seg# %ld\n", static_cast<long>(msg),
           static_cast<long>(seg), static_cast<long>(cd->LastMsgNum), static_cast<long>(cd->LastSegNum));

  // LastMsgNum + 1 in 32-bit arithmetic, wrapping instead of overflowing.
  const int32_t next_msg = static_cast<int32_t>(static_cast<uint32_t>(cd->LastMsgNum) + 1u);
  const int32_t next_seg = static_cast<int32_t>(static_cast<uint32_t>(cd->LastSegNum) + 1u);

  if (cd->LastMsgNum == 0 || msg == next_msg) {
    cd->LastMsgNum = msg;
    cd->LastSegNum = seg;
    return 1;
  }
  if (msg == cd->LastMsgNum && seg == next_seg) {
    cd->LastSegNum = seg;
    return 1;
  }
  if (cd->LastMsgNum == cd->SeqWrap && msg == 1) {
    cd->LastMsgNum = 1;
    cd->LastSegNum = 1;
    return 1;
  }
  WriteLog(kLogFail, ctx, "Msg# %ld  Seg# %ld, LastSeen > msg Msg# %ld  Seg# %ld\n", static_cast<long>(msg),
           static_cast<long>(seg), static_cast<long>(cd->LastMsgNum), static_cast<long>(cd->LastSegNum));
  return 0;
}

int32_t XorHeader(ChannelDescr* cd, unsigned char* area, uint16_t keep_input, uint16_t index) {
  std::size_t length = 0;
  unsigned char* reference = ReferenceOf(cd, index, &length);
  unsigned char saved[kMessageHeaderRegion];
  if (keep_input != 0) std::memcpy(saved, area, length);
  XorWords(area, reference, length);
  std::memcpy(reference, keep_input != 0 ? saved : area, length);
  return 0;
}

void UndoXorHeader(ChannelDescr* cd, unsigned char* area, uint16_t index) {
  std::size_t length = 0;
  unsigned char* reference = ReferenceOf(cd, index, &length);
  // reference = plain, area = plain ^ previous: previous = reference ^ area.
  XorWords(area, reference, length);
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char plain = reference[i];
    reference[i] = area[i];
    area[i] = plain;
  }
}

int32_t ExitBufferRoom(const ExitParms* parms, const int32_t* exit_buffer_length) {
  const int32_t handed = *exit_buffer_length;
  return handed > 0 && handed < parms->MaxSegmentLength ? handed : parms->MaxSegmentLength;
}

unsigned char* AcquireExitBuffer(const ExitParms* parms, ChannelDescr* cd, int32_t* exit_buffer_length,
                                 unsigned char** exit_buffer_addr) {
  if (*exit_buffer_addr != nullptr) return *exit_buffer_addr;
  if (parms->MaxSegmentLength <= 0) return nullptr;
  // The agent lost the buffer it was given: release it before making another.
  VeltFree(cd->ExitBuffer);
  cd->ExitBuffer = static_cast<unsigned char*>(VeltAlloc(static_cast<std::size_t>(parms->MaxSegmentLength)));
  if (cd->ExitBuffer == nullptr) return nullptr;
  *exit_buffer_addr = cd->ExitBuffer;
  *exit_buffer_length = parms->MaxSegmentLength;
  return cd->ExitBuffer;
}

}  // namespace velt
