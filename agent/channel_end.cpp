#include "channel_end.h"

#include <algorithm>
#include <cstring>

namespace velt::agent {

static void BlankPadded(char* field, std::size_t size, const std::string& text) {
  std::memset(field, ' ', size);
  std::memcpy(field, text.data(), std::min(size, text.size()));
}

void SetUpEnd(ChannelEnd* end, ExitFunction entry, const EndSettings& settings) {
  end->entry = entry;
  end->parms = ExitParms{};
  std::memcpy(end->parms.StrucId, "CXP ", 4);
  end->parms.Version = 3;
  end->parms.ExitId = settings.exit_id;
  end->parms.MaxSegmentLength = settings.max_segment_length;
  BlankPadded(end->parms.ExitData, sizeof end->parms.ExitData, settings.exit_data);
  BlankPadded(end->parms.PartnerName, sizeof end->parms.PartnerName, "PARTNER");
  end->definition = AgentChannelDef{};
  BlankPadded(end->definition.head.ChannelName, sizeof end->definition.head.ChannelName, settings.channel_name);
  end->definition.head.Version = 9;
  end->definition.head.ChannelType = settings.channel_type;
  end->buffer.assign(static_cast<std::size_t>(std::max(settings.max_segment_length, 1)), 0);
  end->exit_buffer_length = 0;
  end->exit_buffer = nullptr;
  end->suppressed = false;
  end->closed = false;
  end->started = false;
}

static int32_t Call(ChannelEnd* end, int32_t reason, int32_t* data_length) {
  end->parms.ExitReason = reason;
  int32_t agent_buffer_length = static_cast<int32_t>(end->buffer.size());
  end->entry(&end->parms, &end->definition, data_length, &agent_buffer_length, end->buffer.data(),
             &end->exit_buffer_length, &end->exit_buffer);
  const int32_t response = end->parms.ExitResponse;
  if (response == MQXCC_SUPPRESS_EXIT) end->suppressed = true;
  if (response == MQXCC_CLOSE_CHANNEL) end->closed = true;
  return response;
}

int32_t CallEnd(ChannelEnd* end, int32_t reason) {
  int32_t data_length = 0;
  return Call(end, reason, &data_length);
}

int32_t StartEnd(ChannelEnd* end) {
  end->started = true;
  return CallEnd(end, MQXR_INIT);
}

Delivery TransmitOnEnd(ChannelEnd* end, const unsigned char* segment, int32_t length) {
  Delivery delivery;
  if (end->closed) {
    // A closed channel delivers nothing and calls the exit no more.
    delivery.response = MQXCC_CLOSE_CHANNEL;
    return delivery;
  }
  const auto copy = static_cast<std::size_t>(std::clamp<int32_t>(length, 0, static_cast<int32_t>(end->buffer.size())));
  if (copy > 0) std::memcpy(end->buffer.data(), segment, copy);
  int32_t data_length = static_cast<int32_t>(copy);
  if (end->suppressed) {
    delivery.data = end->buffer.data();
    delivery.length = data_length;
    return delivery;
  }
  // ExitResponse2 still holds what the exit answered last time: the agent
  // does not clear it, so an exit that leaves a stale 4 gets its exit buffer
  // sent again.
  delivery.response = Call(end, MQXR_XMIT, &data_length);
  delivery.response2 = end->parms.ExitResponse2;
  delivery.length = data_length;
  delivery.from_exit_buffer = delivery.response2 == MQXR2_USE_EXIT_BUFFER;
  delivery.data = delivery.from_exit_buffer ? static_cast<const unsigned char*>(end->exit_buffer) : end->buffer.data();
  return delivery;
}

int32_t StopEnd(ChannelEnd* end) {
  if (!end->started) return MQXCC_OK;
  int32_t response = MQXCC_OK;
  // The agent keeps calling TERM even after a close, so the exit can release
  // its state; only a suppressed exit is not called again.
  if (!end->suppressed) response = CallEnd(end, MQXR_TERM);
  end->exit_buffer = nullptr;
  end->exit_buffer_length = 0;
  end->started = false;
  return response;
}

}  // namespace velt::agent
