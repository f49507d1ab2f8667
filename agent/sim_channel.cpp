#include "sim_channel.h"

#include <cstring>

namespace velt::agent {

bool OpenChannel(SimChannel* channel, ExitFunction send_entry, ExitFunction recv_entry, EndSettings send_settings,
                 EndSettings recv_settings) {
  send_settings.exit_id = MQXT_CHANNEL_SEND_EXIT;
  recv_settings.exit_id = MQXT_CHANNEL_RCV_EXIT;
  SetUpEnd(&channel->send, send_entry, send_settings);
  SetUpEnd(&channel->recv, recv_entry, recv_settings);
  channel->closed = false;
  channel->wire.reserve(static_cast<std::size_t>(send_settings.max_segment_length));
  channel->delivered.reserve(static_cast<std::size_t>(recv_settings.max_segment_length));
  const int32_t send_response = StartEnd(&channel->send);
  const int32_t recv_response = StartEnd(&channel->recv);
  return send_response == MQXCC_OK && recv_response == MQXCC_OK;
}

Hop Transmit(SimChannel* channel, const unsigned char* segment, int32_t length) {
  Hop hop;
  hop.built_length = length;
  if (channel->closed) return hop;

  const Delivery sent = TransmitOnEnd(&channel->send, segment, length);
  hop.send_response = sent.response;
  hop.compressed = sent.from_exit_buffer;
  hop.wire_length = sent.length;
  if (sent.response == MQXCC_CLOSE_CHANNEL) {
    channel->closed = true;
    return hop;
  }
  channel->wire.assign(sent.data, sent.data + sent.length);
  hop.mark = channel->wire.size() >= 12 ? channel->wire[11] : 0;

  const Delivery received =
      TransmitOnEnd(&channel->recv, channel->wire.data(), static_cast<int32_t>(channel->wire.size()));
  hop.recv_response = received.response;
  if (received.response == MQXCC_CLOSE_CHANNEL) {
    channel->closed = true;
    return hop;
  }
  channel->delivered.assign(received.data, received.data + received.length);
  hop.delivered = true;
  hop.delivered_length = received.length;
  hop.intact = received.length == length && std::memcmp(received.data, segment, static_cast<std::size_t>(length)) == 0;
  return hop;
}

void CloseChannel(SimChannel* channel) {
  StopEnd(&channel->send);
  StopEnd(&channel->recv);
}

}  // namespace velt::agent
