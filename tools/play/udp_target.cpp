// UDP destinations of the live outputs.
#include "udp_target.h"

#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace kinetiscan::play {
namespace {

bool resolves(const std::string& host, const std::string& port, addrinfo** found,
              std::string* reason) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  const int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, found);
  if (resolved != 0) *reason = "cannot resolve " + host + " (" + gai_strerror(resolved) + ")";
  return resolved == 0;
}

}  // namespace

bool parseUdpTarget(const std::string& option, const std::string& text,
                    const std::string& defaultPort, std::string* host, std::string* port,
                    std::string* error) {
  const std::string where = option + " " + text + ": ";
  std::string name = text, digits = defaultPort;
  const std::size_t colon = text.rfind(':');
  // A port is what follows the last colon, unless that colon is inside an IPv6 address.
  const bool bare = !defaultPort.empty() && (colon == std::string::npos || text.back() == ']');
  if (!bare) {
    name = colon == std::string::npos ? std::string() : text.substr(0, colon);
    digits = colon == std::string::npos ? std::string() : text.substr(colon + 1);
  }
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  } else if (name.find(':') != std::string::npos) {
    *error = where + "write an IPv6 address in brackets, e.g. [::1]:9000";
    return false;
  }
  if (name.empty()) {
    *error = where + "give HOST:PORT, e.g. 127.0.0.1:9000";
    return false;
  }
  int number = 0;
  const auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (digits.empty() || failure != std::errc() || end != digits.data() + digits.size() ||
      number < 1 || number > 65535) {
    *error = where + "the port must be a number from 1 to 65535";
    return false;
  }
  addrinfo* found = nullptr;
  std::string reason;
  if (!resolves(name, digits, &found, &reason)) {
    *error = where + reason;
    return false;
  }
  freeaddrinfo(found);
  *host = name;
  *port = std::to_string(number);
  return true;
}

UdpTarget::~UdpTarget() {
  if (socket_ >= 0) close(socket_);
}

bool UdpTarget::open(const std::string& option, const std::string& host, const std::string& port,
                     std::string* error) {
  name_ = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + port;
  const std::string where = option + " " + name_ + ": ";
  addrinfo* found = nullptr;
  std::string reason = "no address";
  if (!resolves(host, port, &found, &reason)) {
    *error = where + reason;
    return false;
  }
  for (const addrinfo* each = found; each != nullptr && socket_ < 0; each = each->ai_next) {
    // Non-blocking: a full send buffer costs a datagram, never the run's time.
    socket_ = ::socket(each->ai_family, each->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                       each->ai_protocol);
    if (socket_ < 0) {
      reason = std::strerror(errno);
      continue;
    }
    std::memcpy(&target_, each->ai_addr, each->ai_addrlen);
    targetLength_ = each->ai_addrlen;
  }
  freeaddrinfo(found);
  if (socket_ < 0) *error = where + "cannot make a UDP socket (" + reason + ")";
  return socket_ >= 0;
}

void UdpTarget::send(const void* data, std::size_t size) {
  if (socket_ < 0) return;
  if (data == nullptr) {
    ++failed_;
    lastError_ = "out of memory";
  } else if (sendto(socket_, data, size, 0, reinterpret_cast<const sockaddr*>(&target_),
                    targetLength_) != static_cast<ssize_t>(size)) {
    ++failed_;
    lastError_ = std::strerror(errno);
  } else {
    ++sent_;
  }
}

}  // namespace kinetiscan::play
