// A frame's OSC messages as timed bundles (liblo builds them), sent to every UDP target: the
// shared part of the OSC and TUIO outputs.
#pragma once

#include <lo/lo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "udp_target.h"

namespace kinetiscan::play {

// Receivers read datagrams up to this size; a frame with more regions takes several bundles.
constexpr std::size_t kMaxBundleBytes = 4096;

// The OSC (NTP) time tag of wall-clock microseconds since 1970.
lo_timetag oscTimeTag(std::int64_t unixMicros);

// One message and its address; a null message (out of memory) is left out.
struct OscItem {
  std::string path;
  lo_message message;
};

// Sends `body` in bundles with the tag, as few as keep each within kMaxBundleBytes, each one
// opening with copies of `head`, the last one closing with `tail` (TUIO's fseq: a receiver
// takes the frame when it comes); every bundle to every target. Frees the messages. Returns the
// number of bundles.
int sendBundles(lo_timetag tag, const std::vector<OscItem>& head, const std::vector<OscItem>& body,
                const std::vector<OscItem>& tail,
                const std::vector<std::unique_ptr<UdpTarget>>& targets);

}  // namespace kinetiscan::play
