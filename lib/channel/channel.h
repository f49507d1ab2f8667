// The per-channel state: the descriptor with its exit buffer, the message
// sequence state and the reference images the header differences are made
// against (the header cache and the status image).
#pragma once

#include <cstdint>

#include "host/context.h"
#include "velt/velt_exit.h"
#include "wire/segment.h"

namespace velt {

struct HeaderCacheEntry {
  unsigned char Image[kMessageHeaderRegion];
};
static_assert(sizeof(HeaderCacheEntry) == kMessageHeaderRegion);

struct QueueKeyEntry {
  char QueueName[48];     // NUL-filled; first byte 0 means the entry is empty
  char QueueMgrName[48];  // NUL-filled
  int32_t LastUse;        // calendar seconds of the last lookup that chose it
};
static_assert(sizeof(QueueKeyEntry) == 100);

struct ChannelDescr {
  int32_t ChannelType;
  char ChannelName[kChannelNameLength];
  unsigned char* ExitBuffer;
  HeaderCacheEntry* HdrCache;
  QueueKeyEntry* QueueKeys;  // send end only; null at the receive end
  int32_t SeqWrap;
  int32_t LastMsgNum;
  int32_t LastSegNum;
  unsigned char StatusImage[kStatusHeaderRegion];
};

// Creates the descriptor with ctx->HdrTblSize cache entries (and, for an end
// that keeps queue keys, as many keys). Returns null, after a level-0 line, when any
// allocation fails; nothing stays allocated then.
ChannelDescr* NewChannelDescr(const ChannelDef* cd_def, ExitContext* ctx, bool with_queue_keys);

// Releases the descriptor, its exit buffer, cache and key table. Accepts null.
int32_t FreeChannelDescr(ChannelDescr* cd);

// Returns every cache entry to InitHdrImage and empties every queue key.
void ResetHeaderCache(ChannelDescr* cd, ExitContext* ctx);

// Checks the message and segment numbers of the 20-byte MSH at msh against
// the descriptor's sequence state; returns 1 and advances it when in
// sequence, 0 (and a level-1 line) when not.
int32_t CheckMsgSequence(const unsigned char* msh, ChannelDescr* cd, uint16_t peer_order, ExitContext* ctx);

// Exclusive-ors the header region at area (464 bytes, or 16 for index 0xFFFF)
// with the reference of index. With keep_input the reference becomes the
// area's former content (send side), otherwise its new content (receive side).
// index must be 0xFFFF or below HdrTblSize.
int32_t XorHeader(ChannelDescr* cd, unsigned char* area, uint16_t keep_input, uint16_t index);

// Undoes a send-side XorHeader whose result is not used: area gets back the
// plain header (which the reference now holds) and the reference what it held
// before, recovered as (plain xor difference).
void UndoXorHeader(ChannelDescr* cd, unsigned char* area, uint16_t index);

// Room of the exit buffer: MaxSegmentLength, or less when the agent handed
// back a shorter buffer than the one created.
int32_t ExitBufferRoom(const ExitParms* parms, const int32_t* exit_buffer_length);

// Returns the exit buffer the agent handed back, or creates one of
// MaxSegmentLength bytes, owned by the descriptor and handed to the agent
// through exit_buffer_addr and exit_buffer_length. Null when it cannot be
// allocated.
unsigned char* AcquireExitBuffer(const ExitParms* parms, ChannelDescr* cd, int32_t* exit_buffer_length,
                                 unsigned char** exit_buffer_addr);

// Send library: chooses the header cache index for the XQH's remote queue and
// queue manager names, taking over the least recently used entry when full.
uint16_t FindCacheEntry(const unsigned char* xqh, ChannelDescr* cd, uint16_t table_size);
uint16_t FindCacheEntryAt(const unsigned char* xqh, ChannelDescr* cd, uint16_t table_size, int64_t now);
uint16_t ReplaceOldestEntry(ChannelDescr* cd, const unsigned char* xqh, uint16_t table_size);
uint16_t ReplaceOldestEntryAt(ChannelDescr* cd, const unsigned char* xqh, uint16_t table_size, int64_t now);

}  // namespace velt
