// The log's line prefix and the messages an administrator acts on, as the
// exits write them and as veltchan reads them back: each text lives here
// once, so a message reworded in an exit is reworded for the reader too.
#pragma once

#include <cstdint>

namespace velt {

// Local time, level and the end's tag ("SDR" or "RCVR"); the message follows
// the colon directly.
inline constexpr char kLogPrefix[] = "%02d:%02d:%02d [%d] %s :";

// The send exit compressed a segment, found the result longer and sent it plain.
inline constexpr char kLogRefusedCompression[] =
    "ProcessXmitSend: Compressed header (%ld) LARGER than original (%ld)\n";

inline constexpr char kLogSendOutOfSequence[] = "ProcessXmitSend: message sequence out of synch... %s\n";
inline constexpr char kLogRecvOutOfSequence[] = "ProcessXmitRecv: message sequence out of synch... %s\n";

// A marked segment the receive exit cannot restore: each closes the channel.
inline constexpr char kLogRecvTooShort[] =
    "ProcessXmitRecv: Compressed segment too short (data length = %ld, leading length = %ld)\n";
inline constexpr char kLogRecvLeadTooLong[] =
    "ProcessXmitRecv: Leading part does not fit exit buffer (leading length = %ld, buffer length = %ld)\n";
// Without a line end: the next message of the log continues this line.
inline constexpr char kLogRecvDecodeOverflow[] =
    "ProcessXmitRecv: Decode overflow (msg_length = %ld, buffer length = %ld)";
inline constexpr char kLogRecvDecodeIncomplete[] =
    "ProcessXmitRecv: Decode incomplete (stream ends inside a token after %ld of %ld bytes)\n";
inline constexpr char kLogRecvShorterThanHeader[] =
    "ProcessXmitRecv: Decoded segment shorter than its header (length = %ld, header ends at %ld)\n";
inline constexpr char kLogRecvNoMessageHeader[] =
    "ProcessXmitRecv: Decoded data-only segment holds no message header (length = %ld)\n";
inline constexpr char kLogRecvCacheTooSmall[] =
    "ProcessXmitRecv: header cache size too small (index = %d, table_size = %d)!\n";
inline constexpr char kLogRecvAdjustTable[] = "ProcessXmitRecv: adjust \"HdrTblSize\" in receiver's config file!\n";

inline constexpr char kLogGetMemFailed[] = "NewChannelDescr: _getMem failed: line%d \n";
inline constexpr char kLogNoDescriptor[] = "velt_exit: failed to allocate channel descriptor for %s\n";
inline constexpr char kLogSendNoBuffer[] = "ProcessXmitSend: failed to allocate exit buffer %s ,for %ld bytes\n";
inline constexpr char kLogRecvNoBuffer[] = "ProcessXmitRecv: failed to allocate exit buffer %s\n";

inline constexpr char kLogConfigRead[] = "ReadCfg: Log level  = %d\n";

// What a reader counts a message as.
enum class LogKind : uint8_t {
  kRefusedCompression,
  kSequenceBreak,
  kChannelClosed,  // a segment the receive exit could not restore
  kAllocationFailure,
  kConfiguration,
  kOther,
};
inline constexpr int kLogKinds = 6;

struct LogMessage {
  const char* format;
  LogKind kind;
  bool needs_action;  // an administrator must act: the channel stopped
};

inline constexpr LogMessage kLogMessages[] = {
    {kLogRefusedCompression, LogKind::kRefusedCompression, false},
    {kLogSendOutOfSequence, LogKind::kSequenceBreak, false},
    {kLogRecvOutOfSequence, LogKind::kSequenceBreak, false},
    {kLogRecvTooShort, LogKind::kChannelClosed, true},
    {kLogRecvLeadTooLong, LogKind::kChannelClosed, true},
    {kLogRecvDecodeOverflow, LogKind::kChannelClosed, true},
    {kLogRecvDecodeIncomplete, LogKind::kChannelClosed, true},
    {kLogRecvShorterThanHeader, LogKind::kChannelClosed, true},
    {kLogRecvNoMessageHeader, LogKind::kChannelClosed, true},
    {kLogRecvCacheTooSmall, LogKind::kChannelClosed, true},
    {kLogRecvAdjustTable, LogKind::kChannelClosed, true},
    {kLogGetMemFailed, LogKind::kAllocationFailure, false},
    {kLogNoDescriptor, LogKind::kAllocationFailure, false},
    {kLogSendNoBuffer, LogKind::kAllocationFailure, false},
    {kLogRecvNoBuffer, LogKind::kAllocationFailure, false},
    {kLogConfigRead, LogKind::kConfiguration, false},
};

}  // namespace velt
