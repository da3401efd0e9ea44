// OSC messages of each frame's regions.
#include "osc_sender.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "camera/frame_source.h"
#include "region_tracker.h"

namespace kinetiscan::play {

bool parseOscTarget(const std::string& text, std::string* host, std::string* port,
                    std::string* error) {
  const std::string where = "--osc " + text + ": ";
  std::size_t colon = text.rfind(':');
  std::string name = colon == std::string::npos ? std::string() : text.substr(0, colon);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  } else if (name.find(':') != std::string::npos) {
    *error = where + "write an IPv6 address in brackets, e.g. [::1]:9000";
    return false;
  }
  if (colon == std::string::npos || name.empty()) {
    *error = where + "give HOST:PORT, e.g. 127.0.0.1:9000";
    return false;
  }
  const std::string digits = text.substr(colon + 1);
  int number = 0;
  const auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (digits.empty() || failure != std::errc() || end != digits.data() + digits.size() ||
      number < 1 || number > 65535) {
    *error = where + "the port must be a number from 1 to 65535";
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int resolved = getaddrinfo(name.c_str(), digits.c_str(), &hints, &found);
  if (resolved != 0) {
    *error = where + "cannot resolve " + name + " (" + gai_strerror(resolved) + ")";
    return false;
  }
  freeaddrinfo(found);
  *host = name;
  *port = std::to_string(number);
  return true;
}

OscSender::~OscSender() {
  if (socket_ >= 0) close(socket_);
}

// liblo builds the messages; the datagrams go out through a socket of our own, since Debian's
// liblo sends nothing to an IPv6 address.
bool OscSender::open(const std::string& host, const std::string& port, std::string* error) {
  const std::string where = "--osc " + host + ":" + port + ": ";
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); resolved != 0) {
    *error = where + "cannot resolve " + host + " (" + gai_strerror(resolved) + ")";
    return false;
  }
  std::string reason = "no address";
  for (const addrinfo* each = found; each != nullptr && socket_ < 0; each = each->ai_next) {
    // Non-blocking: a full send buffer costs a message, never the run's time.
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

void OscSender::deliver(const char* path, lo_message message) {
  std::size_t size = 0;
  void* datagram =
      message == nullptr ? nullptr : lo_message_serialise(message, path, nullptr, &size);
  if (datagram == nullptr) {
    ++failed_;
    lastError_ = "out of memory";
  } else if (sendto(socket_, datagram, size, 0, reinterpret_cast<const sockaddr*>(&target_),
                    targetLength_) != static_cast<ssize_t>(size)) {
    ++failed_;
    lastError_ = std::strerror(errno);
  } else {
    ++sent_;
  }
  std::free(datagram);
  if (message != nullptr) lo_message_free(message);
}

void OscSender::send(const FrameRecord& record, double seconds) {
  if (socket_ < 0) return;
  const std::size_t count = std::min(record.centres.size(), record.rects.size());
  lo_message frame = lo_message_new();
  if (frame != nullptr) {
    lo_message_add_int32(frame, record.frame);
    lo_message_add_float(frame, static_cast<float>(seconds));
    lo_message_add_int32(frame, static_cast<std::int32_t>(count));
  }
  deliver("/kinetiscan/frame", frame);
  constexpr float kWidth = camera::kWidth, kHeight = camera::kHeight;
  for (std::size_t i = 0; i < count; ++i) {
    const PictureBox box = pictureBox(record.rects[i]);
    // The centre as scripts get it, on the picture's pixel grid: column, then row from the top.
    const int column = record.centres[i].horizontal;
    const int row = record.centres[i].vertical - 1;
    lo_message region = lo_message_new();
    if (region != nullptr) {
      lo_message_add_int32(region, i < record.ids.size() ? record.ids[i] : 0);
      for (int value : {box.x, box.y, box.width, box.height}) lo_message_add_int32(region, value);
      lo_message_add_float(region, (column + 0.5f) / kWidth);
      lo_message_add_float(region, (row + 0.5f) / kHeight);
      lo_message_add_float(region, box.x / kWidth);
      lo_message_add_float(region, box.y / kHeight);
      lo_message_add_float(region, box.width / kWidth);
      lo_message_add_float(region, box.height / kHeight);
    }
    deliver("/kinetiscan/region", region);
  }
}

}  // namespace kinetiscan::play
