// OSC bundles of each frame's regions.
#include "osc_sender.h"

#include <algorithm>

#include "camera/frame_source.h"
#include "region_tracker.h"

namespace kinetiscan::play {
namespace {

OscItem idMessage(const char* path, std::int32_t id) {
  lo_message message = lo_message_new();
  if (message != nullptr) lo_message_add_int32(message, id);
  return OscItem{path, message};
}

OscItem regionMessage(const FrameRecord& record, std::size_t i) {
  constexpr float kWidth = camera::kWidth, kHeight = camera::kHeight;
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
  return OscItem{"/kinetiscan/region", region};
}

}  // namespace

bool parseOscTarget(const std::string& text, std::string* host, std::string* port,
                    std::string* error) {
  return parseUdpTarget("--osc", text, "", host, port, error);
}

std::set<std::int32_t> presentIds(const FrameRecord& record) {
  std::set<std::int32_t> ids(record.ids.begin(), record.ids.end());
  for (const auto& absorbed : record.merged) ids.insert(absorbed.begin(), absorbed.end());
  return ids;
}

bool OscSender::open(const std::string& host, const std::string& port, std::string* error) {
  auto target = std::make_unique<UdpTarget>();
  if (!target->open("--osc", host, port, error)) return false;
  targets_.push_back(std::move(target));
  return true;
}

void OscSender::send(const FrameRecord& record) {
  if (targets_.empty()) return;
  const std::size_t count = std::min(record.centres.size(), record.rects.size());
  std::vector<OscItem> body;
  lo_message frame = lo_message_new();
  if (frame != nullptr) {
    lo_message_add_int32(frame, record.frame);
    // When the source delivered the frame, as t_ms and the bundle's time tag have it.
    lo_message_add_float(frame, static_cast<float>(record.capturedMs / 1000));
    lo_message_add_int32(frame, static_cast<std::int32_t>(count));
  }
  body.push_back(OscItem{"/kinetiscan/frame", frame});
  const std::set<std::int32_t> present = presentIds(record);
  for (std::int32_t id : present) {
    if (present_.count(id) == 0) body.push_back(idMessage("/kinetiscan/enter", id));
  }
  for (std::size_t i = 0; i < count; ++i) body.push_back(regionMessage(record, i));
  for (std::int32_t id : present_) {
    if (present.count(id) == 0) body.push_back(idMessage("/kinetiscan/leave", id));
  }
  messages_ += static_cast<long>(body.size());
  present_ = present;
  lastWallMicros_ = record.wallMicros;
  sendBundles(oscTimeTag(record.wallMicros), {}, body, {}, targets_);
}

void OscSender::finish() {
  if (targets_.empty() || present_.empty()) return;
  std::vector<OscItem> body;
  for (std::int32_t id : present_) body.push_back(idMessage("/kinetiscan/leave", id));
  messages_ += static_cast<long>(body.size());
  present_.clear();
  sendBundles(oscTimeTag(lastWallMicros_), {}, body, {}, targets_);
}

std::string OscSender::report() const {
  std::string text = std::to_string(messages_) + " messages";
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    const UdpTarget& target = *targets_[i];
    text += (i == 0 ? " in " : "; ") + std::to_string(target.sent()) + " bundles sent to " +
            target.name();
    if (target.failed() > 0) {
      text += ", " + std::to_string(target.failed()) + " not (" + target.lastError() + ")";
    }
  }
  return text;
}

}  // namespace kinetiscan::play
