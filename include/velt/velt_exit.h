// velt: compressing channel exits for queue-manager message channels.
//
// This is what a channel agent calls. Both exit libraries, VELTSEND (the
// send exit) and VELTRECV (the receive exit), export exactly two functions,
// velt_exit and WEP, with the C calling convention and undecorated names. The
// records below are the binary contract with the agent: the exit parameter
// block, the channel definition and the codes the agent passes and expects.
// Their layouts are checked at compile time; code reads them through the
// declared fields, never by hand-counted offsets.
//
// Promise under bad input: no segment is ever delivered altered. The
// receiving agent gets each segment exactly as the sending agent built it,
// or the receive exit answers MQXCC_CLOSE_CHANNEL and the message stays on
// the transmission queue. The send exit never closes a channel: whatever it
// cannot or should not compress travels exactly as the agent built it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define VELT_CALL __cdecl
#if defined(VELT_BUILDING_EXIT_LIBRARY)
#define VELT_API __declspec(dllexport)
#else
#define VELT_API
#endif
#else
#define VELT_CALL
#define VELT_API __attribute__((visibility("default")))
#endif

namespace velt {

// Exit identifiers (ExitId).
enum : int32_t {
  MQXT_CHANNEL_SEC_EXIT = 11,
  MQXT_CHANNEL_MSG_EXIT = 12,
  MQXT_CHANNEL_SEND_EXIT = 13,
  MQXT_CHANNEL_RCV_EXIT = 14,
  MQXT_CHANNEL_MSG_RETRY_EXIT = 15,
};

// Exit reasons (ExitReason).
enum : int32_t {
  MQXR_INIT = 11,
  MQXR_TERM = 12,
  MQXR_MSG = 13,
  MQXR_XMIT = 14,
  MQXR_SEC_MSG = 15,
  MQXR_INIT_SEC = 16,
  MQXR_RETRY = 17,
};

// Exit responses (ExitResponse) and secondary responses (ExitResponse2).
enum : int32_t {
  MQXCC_OK = 0,
  MQXCC_SUPPRESS_EXIT = -5,
  MQXCC_CLOSE_CHANNEL = -6,
};
enum : int32_t {
  MQXR2_USE_AGENT_BUFFER = 0,
  MQXR2_USE_EXIT_BUFFER = 4,
};

inline constexpr std::size_t kExitUserAreaLength = 16;
inline constexpr std::size_t kExitDataLength = 32;
inline constexpr std::size_t kChannelNameLength = 20;

// Exit parameter block. The exits read and write only the first 80 bytes;
// the rest is declared so that the agent side of our own tools can own a
// block of the real size.
struct ExitParms {
  char StrucId[4];
  int32_t Version;
  int32_t ExitId;
  int32_t ExitReason;
  int32_t ExitResponse;
  int32_t ExitResponse2;
  int32_t Feedback;
  int32_t MaxSegmentLength;
  unsigned char ExitUserArea[kExitUserAreaLength];
  char ExitData[kExitDataLength];
  int32_t MsgRetryCount;
  int32_t MsgRetryInterval;
  int32_t MsgRetryReason;
  int32_t HeaderLength;
  char PartnerName[48];
  int32_t FAPLevel;
  int32_t CapabilityFlags;
  int32_t ExitNumber;
};

static_assert(offsetof(ExitParms, StrucId) == 0);
static_assert(offsetof(ExitParms, Version) == 4);
static_assert(offsetof(ExitParms, ExitId) == 8);
static_assert(offsetof(ExitParms, ExitReason) == 12);
static_assert(offsetof(ExitParms, ExitResponse) == 16);
static_assert(offsetof(ExitParms, ExitResponse2) == 20);
static_assert(offsetof(ExitParms, Feedback) == 24);
static_assert(offsetof(ExitParms, MaxSegmentLength) == 28);
static_assert(offsetof(ExitParms, ExitUserArea) == 32);
static_assert(offsetof(ExitParms, ExitData) == 48);
static_assert(offsetof(ExitParms, MsgRetryCount) == 80);
static_assert(offsetof(ExitParms, PartnerName) == 96);
static_assert(offsetof(ExitParms, ExitNumber) == 152);
static_assert(sizeof(ExitParms) == 156);
static_assert(sizeof(void*) <= kExitUserAreaLength, "the context reference must fit the user area");

// The leading part of the channel definition that the exits read. The agent's
// definition is longer; nothing after ChannelType is touched.
struct ChannelDef {
  char ChannelName[kChannelNameLength];
  int32_t Version;
  int32_t ChannelType;
};

static_assert(offsetof(ChannelDef, ChannelName) == 0);
static_assert(offsetof(ChannelDef, Version) == 20);
static_assert(offsetof(ChannelDef, ChannelType) == 24);
static_assert(sizeof(ChannelDef) == 28);

// The channel name as a terminated string for "%s": its 20 characters, never
// read past them.
struct ChannelNameText {
  char text[kChannelNameLength + 1];
};
inline ChannelNameText NameText(const ChannelDef* cd_def) {
  ChannelNameText name{};
  std::memcpy(name.text, cd_def->ChannelName, kChannelNameLength);
  name.text[kChannelNameLength] = '\0';
  return name;
}

}  // namespace velt

// ---------------------------------------------------------------------------
// The entry points. Both libraries declare the same two; which end a library
// is comes from the library itself, not from the call.

extern "C" {

// velt_exit: one call of the channel agent.
//
// exit_parms          an ExitParms block. ExitId must be MQXT_CHANNEL_SEND_EXIT
//                     (send direction) or MQXT_CHANNEL_MSG_EXIT /
//                     MQXT_CHANNEL_RCV_EXIT (receive direction); any other id
//                     is answered MQXCC_SUPPRESS_EXIT and logged at level 0.
//                     ExitUserArea must be all zero at MQXR_INIT and then kept
//                     as the exit left it: it anchors the instance's state,
//                     which MQXR_TERM releases (the area is zero again after).
//                     ExitData holds the channel's 32 characters of settings.
//                     MaxSegmentLength is the negotiated segment length.
// channel_def         a ChannelDef; only its name and type are read.
// data_length         in: the length of the segment in agent_buffer; out, when
//                     the answer is MQXR2_USE_EXIT_BUFFER: the length of the
//                     segment in the exit buffer.
// agent_buffer_length the agent buffer's size; never changed.
// agent_buffer        the segment (MQXR_XMIT); may be null for other reasons.
//                     The send exit may change bytes of the header region in
//                     place but only when it hands over the exit buffer.
// exit_buffer_length, exit_buffer_addr
//                     the exit buffer the exit made at its first segment
//                     (MaxSegmentLength bytes); the agent hands both back
//                     unchanged on every later call. The exit owns the buffer
//                     and frees it at MQXR_TERM.
//
// Answers, in exit_parms: ExitResponse MQXCC_OK, MQXCC_SUPPRESS_EXIT (a send
// exit that cannot start: its segments travel plain) or MQXCC_CLOSE_CHANNEL (a
// receive exit that cannot start, or a marked segment it cannot restore
// exactly); ExitResponse2 MQXR2_USE_EXIT_BUFFER when the segment to transmit
// or deliver is in the exit buffer, otherwise MQXR2_USE_AGENT_BUFFER.
//
// Bad input: segments without a recognisable segment header, segment types
// other than message and status, and unmarked segments pass untouched. A
// marked segment whose stream overflows the segment length or ends inside a
// token, whose leading part or restored header does not fit, or whose cache
// index is outside the receiver's header table is refused with
// MQXCC_CLOSE_CHANNEL and a level-0 log line; the agent's buffer is left as
// received. A broken message sequence is logged at level 0 and the segment
// still passes. Nothing is read outside data_length bytes of agent_buffer or
// outside the exit buffer.
VELT_API void VELT_CALL velt_exit(void* exit_parms, void* channel_def, int32_t* data_length,
                                  int32_t* agent_buffer_length, void* agent_buffer, int32_t* exit_buffer_length,
                                  void** exit_buffer_addr);

// WEP: the library's exit procedure on systems that ask for one. Returns 1 and
// does nothing else.
VELT_API uint16_t VELT_CALL WEP(int32_t reserved);

}  // extern "C"

namespace velt {

// The type of velt_exit, as an agent resolves it from a loaded library.
using ExitFunction = void(VELT_CALL*)(void* exit_parms, void* channel_def, int32_t* data_length,
                                      int32_t* agent_buffer_length, void* agent_buffer, int32_t* exit_buffer_length,
                                      void** exit_buffer_addr);

}  // namespace velt
