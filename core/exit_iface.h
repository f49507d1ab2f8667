// The binary contract with the queue manager's channel agent: the exit
// parameter block, the channel definition and the codes the agent passes and
// expects. Field offsets are checked at compile time; every other file reads
// these records through the declared fields, never by hand-counted offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

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
