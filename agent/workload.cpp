#include "workload.h"

#include <algorithm>

namespace velt::agent {

std::vector<Destination> StandardDestinations(int count) {
  static constexpr const char* kQueues[] = {"PAYMENTS.IN",   "ORDERS.NEW",     "STOCK.UPDATES", "INVOICES.OUT",
                                            "CUSTOMER.SYNC", "AUDIT.EVENTS",   "PRICES.FEED",   "SHIPPING.NOTICE",
                                            "RETURNS.IN",    "LEDGER.POSTING", "HR.PAYROLL",    "TELEMETRY.RAW"};
  static constexpr const char* kManagers[] = {"QM.LONDON", "QM.FRANKFURT", "QM.NEWYORK"};
  std::vector<Destination> destinations;
  for (int i = 0; i < count; ++i) {
    Destination d;
    d.queue = kQueues[i % 12];
    if (i >= 12) {
      d.queue += '.';
      d.queue += std::to_string(i / 12);
    }
    d.queue_manager = kManagers[i % 3];
    d.reply_queue = std::string("REPLY.").append(d.queue);
    d.user = i % 2 == 0 ? "mqapp" : "batch01";
    d.put_application = i % 2 == 0 ? "order-service" : "nightly-batch";
    d.format = i % 4 == 3 ? "        " : "MQSTR";
    destinations.push_back(std::move(d));
  }
  return destinations;
}

void SetUpWorkload(Workload* workload, const WorkloadSettings& settings) {
  workload->settings = settings;
  workload->rng.seed(settings.seed);
  SetUpBuilder(&workload->builder, settings.byte_order, settings.max_segment_length, settings.wrap_value);
  workload->builder.destinations = StandardDestinations(std::max(settings.destinations, 1));
  workload->started = false;
}

static PayloadKind PickKind(Workload* w) {
  for (;;) {
    const int k = static_cast<int>(w->rng() % kPayloadKinds);
    if (w->settings.kinds[k]) return static_cast<PayloadKind>(k);
    if (!w->settings.kinds[0] && !w->settings.kinds[1] && !w->settings.kinds[2] && !w->settings.kinds[3])
      return PayloadKind::Text;
  }
}

// Sizes lean small, as on real channels, with a tail up to max_payload.
static std::size_t PickSize(Workload* w) {
  const std::size_t limit = std::max<std::size_t>(w->settings.max_payload, 1);
  const int band = static_cast<int>(w->rng() % 10);
  std::size_t top = band < 5 ? 600 : band < 8 ? 4000 : band < 9 ? 20000 : limit;
  top = std::min(top, limit);
  return std::uniform_int_distribution<std::size_t>(0, top)(w->rng);
}

// A payload that grows by half under the run-length encoding, more than the
// header difference can save, and that still fits one segment.
static void MakeIncompressible(Workload* w, std::vector<unsigned char>* payload) {
  const int32_t room = w->builder.max_segment_length - kFirstSegmentHeader - 1;
  const std::size_t top = static_cast<std::size_t>(std::clamp(room, 0, 4000));
  const std::size_t size = std::uniform_int_distribution<std::size_t>(std::min<std::size_t>(1200, top), top)(w->rng);
  payload->resize(size);
  for (std::size_t i = 0; i < size; ++i) {
    const auto b = static_cast<unsigned char>(w->rng() % 255);
    payload->at(i) = i % 2 == 0 ? 0xAB : static_cast<unsigned char>(b == 0xAB ? 0xFF : b);
  }
}

void NextStep(Workload* w, Step* step) {
  step->segments.clear();
  step->is_message = false;
  step->incompressible = false;
  if (!w->started) {
    w->started = true;
    step->segments.push_back(BuildInitData(&w->builder));
    return;
  }
  const int roll = static_cast<int>(w->rng() % 1000);
  if (roll < w->settings.resync_per_mille) {
    step->segments.push_back(BuildResync(&w->builder));
    return;
  }
  if (roll < w->settings.resync_per_mille + w->settings.reset_per_mille) {
    step->segments.push_back(BuildReset(&w->builder));
    return;
  }
  if (roll < w->settings.resync_per_mille + w->settings.reset_per_mille + w->settings.status_per_mille) {
    static constexpr uint8_t kFlags[] = {0x00, 0x00, 0x00, 0x02, 0x08};
    std::vector<unsigned char> body;
    MakePayload(PayloadKind::Text, w->rng() % 200, &w->rng, w->settings.corpus, &body);
    step->segments.push_back(BuildStatus(&w->builder, kFlags[w->rng() % 5], body));
    return;
  }
  if (roll < w->settings.resync_per_mille + w->settings.reset_per_mille + w->settings.status_per_mille +
                 w->settings.incompressible_per_mille) {
    std::vector<unsigned char> payload;
    MakeIncompressible(w, &payload);
    const std::size_t dest = w->rng() % w->builder.destinations.size();
    step->kind = PayloadKind::Binary;
    step->segments = BuildMessage(&w->builder, dest, payload);
    step->is_message = true;
    step->incompressible = true;
    return;
  }
  step->kind = PickKind(w);
  std::vector<unsigned char> payload;
  MakePayload(step->kind, PickSize(w), &w->rng, w->settings.corpus, &payload);
  const std::size_t dest = w->rng() % w->builder.destinations.size();
  step->segments = BuildMessage(&w->builder, dest, payload);
  step->is_message = true;
}

}  // namespace velt::agent
