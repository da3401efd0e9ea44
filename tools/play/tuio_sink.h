// Live output as TUIO 1.1 blobs over UDP (liblo), the protocol tabletop and installation
// software reads: per frame one bundle of /tuio/2Dblb source, alive, a set per region and fseq,
// with our stable ids as session ids. The layout is in the README ("TUIO").
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame_sink.h"
#include "track_log.h"
#include "udp_target.h"

namespace kinetiscan::play {

constexpr const char* kTuioDefaultPort = "3333";

class TuioSender {
 public:
  bool open(const std::string& host, const std::string& port, std::string* error);
  void send(const FrameRecord& record);
  // After the last frame: an alive with no session ids, so a client removes the last blobs.
  void finish();
  std::string report() const;

 private:
  struct Motion {
    double x, y, seconds, vx, vy;
  };
  std::vector<std::unique_ptr<UdpTarget>> targets_;
  std::map<std::int32_t, Motion> last_;  // per session id, its centre when last sent
  std::int32_t lastFrame_ = 0;
  std::int64_t lastWallMicros_ = 0;
};

// The sink over a TuioSender; null with the reason when the target cannot be opened.
std::unique_ptr<FrameSink> makeTuioSink(const std::string& host, const std::string& port,
                                        std::string* error);

}  // namespace kinetiscan::play
