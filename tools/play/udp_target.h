// One UDP destination for the live outputs (OSC, TUIO): liblo builds the datagrams, this sends
// them through a socket of our own, since Debian's liblo sends nothing to an IPv6 address.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <string>

namespace kinetiscan::play {

// HOST:PORT, or [IPV6]:PORT; the host must resolve to a UDP address. Without a port, and only
// when `defaultPort` is not empty, that port. False with the reason, which starts with `option`.
bool parseUdpTarget(const std::string& option, const std::string& text,
                    const std::string& defaultPort, std::string* host, std::string* port,
                    std::string* error);

class UdpTarget {
 public:
  UdpTarget() = default;
  ~UdpTarget();
  UdpTarget(const UdpTarget&) = delete;
  UdpTarget& operator=(const UdpTarget&) = delete;

  // `option` names the flag in the error, e.g. "--osc".
  bool open(const std::string& option, const std::string& host, const std::string& port,
            std::string* error);
  bool isOpen() const { return socket_ >= 0; }
  // Sends one datagram; `data` may be null (it could not be built), which counts as a failure.
  // A listener that is not there is no failure of the run: sends are counted, failed ones too.
  void send(const void* data, std::size_t size);
  long sent() const { return sent_; }
  long failed() const { return failed_; }
  const std::string& lastError() const { return lastError_; }  // empty if none
  const std::string& name() const { return name_; }            // HOST:PORT as given

 private:
  int socket_ = -1;
  sockaddr_storage target_{};
  socklen_t targetLength_ = 0;
  long sent_ = 0, failed_ = 0;
  std::string lastError_, name_;
};

}  // namespace kinetiscan::play
