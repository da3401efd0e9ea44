// Live output over OSC (liblo): each frame's regions as UDP messages to one HOST:PORT, sent as the
// frame is done, the way TouchDesigner, Max, Pd and openFrameworks receive sensors. The addresses
// are documented in the README ("OSC addresses").
#pragma once

#include <lo/lo.h>
#include <sys/socket.h>

#include <string>

#include "track_log.h"

namespace kinetiscan::play {

// HOST:PORT, or [IPV6]:PORT; the host must resolve to a UDP address. False with the reason.
bool parseOscTarget(const std::string& text, std::string* host, std::string* port,
                    std::string* error);

class OscSender {
 public:
  OscSender() = default;
  ~OscSender();
  OscSender(const OscSender&) = delete;
  OscSender& operator=(const OscSender&) = delete;

  bool open(const std::string& host, const std::string& port, std::string* error);
  bool isOpen() const { return socket_ >= 0; }
  // /kinetiscan/frame, then one /kinetiscan/region per region. A listener that is not there is
  // no failure of the run: UDP sends are counted, and failed ones with them.
  void send(const FrameRecord& record, double seconds);
  long sent() const { return sent_; }
  long failed() const { return failed_; }
  // The last failure, for the summary; empty if none.
  const std::string& lastError() const { return lastError_; }

 private:
  void deliver(const char* path, lo_message message);

  int socket_ = -1;
  sockaddr_storage target_{};
  socklen_t targetLength_ = 0;
  long sent_ = 0, failed_ = 0;
  std::string lastError_;
};

}  // namespace kinetiscan::play
