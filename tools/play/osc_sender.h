// Live output over OSC (liblo): each frame's regions as one timed bundle to one or more
// HOST:PORT, sent as the frame is done, the way TouchDesigner, Max, Pd and openFrameworks
// receive sensors. The addresses are documented in the README ("OSC addresses").
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "osc_bundle.h"
#include "track_log.h"
#include "udp_target.h"

namespace kinetiscan::play {

// HOST:PORT, or [IPV6]:PORT; the host must resolve to a UDP address. False with the reason.
bool parseOscTarget(const std::string& text, std::string* host, std::string* port,
                    std::string* error);

// The ids present in a frame: its regions' and those they absorbed.
std::set<std::int32_t> presentIds(const FrameRecord& record);

class OscSender {
 public:
  // Adds a destination; false with the reason when it cannot be had.
  bool open(const std::string& host, const std::string& port, std::string* error);
  bool isOpen() const { return !targets_.empty(); }
  // One bundle tagged with the frame's capture time: /kinetiscan/frame, /kinetiscan/enter per
  // new id, /kinetiscan/region per region, /kinetiscan/leave per id gone. A listener that is
  // not there is no failure of the run: sends are counted, and failed ones with them.
  void send(const FrameRecord& record);
  // After the last frame: /kinetiscan/leave for every id still present, so that a receiver that
  // follows enter and leave keeps nothing of a run that has ended. Tagged as the last frame.
  void finish();
  // What was sent to each destination, for the summary.
  std::string report() const;

 private:
  std::vector<std::unique_ptr<UdpTarget>> targets_;
  std::set<std::int32_t> present_;
  std::int64_t lastWallMicros_ = 0;
  long messages_ = 0;
};

}  // namespace kinetiscan::play
