// Timed OSC bundles over our UDP targets.
#include "osc_bundle.h"

#include <cstdlib>

namespace kinetiscan::play {
namespace {

constexpr std::size_t kBundleHeader = 16;  // "#bundle", its terminator and the time tag

std::size_t itemBytes(const OscItem& item) {
  return item.message == nullptr ? 0 : 4 + lo_message_length(item.message, item.path.c_str());
}

// The items marked `copy` (the head and tail, repeated in each bundle) go in as clones, the
// others as themselves; the bundle frees what it holds.
void sendBundle(lo_timetag tag, const std::vector<const OscItem*>& items,
                const std::vector<bool>& copy,
                const std::vector<std::unique_ptr<UdpTarget>>& targets) {
  lo_bundle bundle = lo_bundle_new(tag);
  for (std::size_t i = 0; i < items.size(); ++i) {
    lo_message message = items[i]->message;
    if (message != nullptr && copy[i]) message = lo_message_clone(message);
    if (message == nullptr) continue;
    if (bundle == nullptr) {
      lo_message_free(message);
    } else {
      lo_bundle_add_message(bundle, items[i]->path.c_str(), message);
    }
  }
  std::size_t size = 0;
  void* datagram = bundle == nullptr ? nullptr : lo_bundle_serialise(bundle, nullptr, &size);
  for (const auto& target : targets) target->send(datagram, size);
  std::free(datagram);
  if (bundle != nullptr) lo_bundle_free_recursive(bundle);
}

}  // namespace

lo_timetag oscTimeTag(std::int64_t unixMicros) {
  constexpr std::uint64_t kNtpFrom1900 = 2208988800u;  // seconds from 1900 to 1970
  const std::uint64_t micros = unixMicros > 0 ? static_cast<std::uint64_t>(unixMicros) : 0;
  lo_timetag tag;
  tag.sec = static_cast<std::uint32_t>(micros / 1000000 + kNtpFrom1900);
  tag.frac = static_cast<std::uint32_t>((micros % 1000000 << 32) / 1000000);
  return tag;
}

int sendBundles(lo_timetag tag, const std::vector<OscItem>& head, const std::vector<OscItem>& body,
                const std::vector<OscItem>& tail,
                const std::vector<std::unique_ptr<UdpTarget>>& targets) {
  std::size_t frame = kBundleHeader;
  for (const auto* part : {&head, &tail}) {
    for (const OscItem& item : *part) frame += itemBytes(item);
  }
  int bundles = 0;
  std::size_t next = 0;
  do {
    // The head, as much of the body as fits (at least one message, so one too large for a
    // datagram fails as itself instead of stopping the frame), and in the last one the tail.
    std::vector<const OscItem*> items;
    std::vector<bool> copy;
    for (const OscItem& item : head) items.push_back(&item), copy.push_back(true);
    std::size_t size = frame;
    for (bool first = true; next < body.size(); ++next, first = false) {
      const std::size_t bytes = itemBytes(body[next]);
      if (!first && size + bytes > kMaxBundleBytes) break;
      size += bytes;
      items.push_back(&body[next]), copy.push_back(false);
    }
    if (next >= body.size()) {
      for (const OscItem& item : tail) items.push_back(&item), copy.push_back(true);
    }
    sendBundle(tag, items, copy, targets);
    ++bundles;
  } while (next < body.size());
  for (const auto* part : {&head, &tail}) {
    for (const OscItem& item : *part) {
      if (item.message != nullptr) lo_message_free(item.message);
    }
  }
  return bundles;
}

}  // namespace kinetiscan::play
