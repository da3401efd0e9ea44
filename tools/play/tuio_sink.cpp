// TUIO 1.1 2D blob bundles of each frame's regions.
#include "tuio_sink.h"

#include <cmath>

#include "camera/frame_source.h"
#include "osc_bundle.h"
#include "region_tracker.h"

namespace kinetiscan::play {
namespace {

constexpr const char* kBlob = "/tuio/2Dblb";

class TuioSink : public FrameSink {
 public:
  bool open(const std::string& host, const std::string& port, std::string* error) {
    return tuio_.open(host, port, error);
  }
  bool add(const FrameOutput& frame, std::string*) override {
    tuio_.send(frame.record);
    return true;  // as with OSC, a receiver that is not there is no failure of the run
  }
  bool close(const FrameOutput&, RunFigures* figures, std::string*) override {
    tuio_.finish();
    figures->tuio = tuio_.report();
    return true;
  }

 private:
  TuioSender tuio_;
};

}  // namespace

bool TuioSender::open(const std::string& host, const std::string& port, std::string* error) {
  auto target = std::make_unique<UdpTarget>();
  if (!target->open("--tuio", host, port, error)) return false;
  targets_.push_back(std::move(target));
  return true;
}

namespace {

lo_message stringMessage(const char* first, const char* second = nullptr) {
  lo_message message = lo_message_new();
  if (message != nullptr) {
    lo_message_add_string(message, first);
    if (second != nullptr) lo_message_add_string(message, second);
  }
  return message;
}

lo_message frameSequence(std::int32_t number) {
  lo_message fseq = stringMessage("fseq");
  if (fseq != nullptr) lo_message_add_int32(fseq, number);
  return fseq;
}

}  // namespace

void TuioSender::send(const FrameRecord& record) {
  const std::size_t count = std::min(record.centres.size(), record.rects.size());
  const double seconds = record.capturedMs / 1000;
  lo_message source = stringMessage("source", "kinetiscan-play"), alive = stringMessage("alive");
  std::map<std::int32_t, Motion> now;
  std::vector<OscItem> sets;
  for (std::size_t i = 0; i < count; ++i) {
    const std::int32_t id = i < record.ids.size() ? record.ids[i] : 0;
    const PictureBox box = pictureBox(record.rects[i]);
    // Positions and sizes as fractions of the picture, from its left and top edges; the centre
    // is the point scripts get, at the middle of its pixel.
    const double x = (record.centres[i].horizontal + 0.5) / camera::kWidth;
    const double y = (record.centres[i].vertical - 1 + 0.5) / camera::kHeight;
    Motion motion{x, y, seconds, 0, 0};
    double acceleration = 0;
    if (const auto before = last_.find(id);
        before != last_.end() && seconds > before->second.seconds) {
      const double dt = seconds - before->second.seconds;
      motion.vx = (x - before->second.x) / dt, motion.vy = (y - before->second.y) / dt;
      acceleration = std::hypot(motion.vx - before->second.vx, motion.vy - before->second.vy) / dt;
    }
    now[id] = motion;
    if (alive != nullptr) lo_message_add_int32(alive, id);
    lo_message set = lo_message_new();
    if (set != nullptr) {
      const double w = box.width / double{camera::kWidth}, h = box.height / double{camera::kHeight};
      lo_message_add_string(set, "set");
      lo_message_add_int32(set, id);
      // x y angle w h area (the box's: the regions carry no pixel count) X Y A m r.
      for (double value : {x, y, 0.0, w, h, w * h, motion.vx, motion.vy, 0.0, acceleration, 0.0}) {
        lo_message_add_float(set, static_cast<float>(value));
      }
    }
    sets.push_back(OscItem{kBlob, set});
  }
  last_ = std::move(now);
  lastFrame_ = record.frame;
  lastWallMicros_ = record.wallMicros;
  sendBundles(oscTimeTag(record.wallMicros), {{kBlob, source}, {kBlob, alive}}, sets,
              {{kBlob, frameSequence(record.frame + 1)}}, targets_);
}

void TuioSender::finish() {
  if (last_.empty()) return;
  last_.clear();
  sendBundles(
      oscTimeTag(lastWallMicros_),
      {{kBlob, stringMessage("source", "kinetiscan-play")}, {kBlob, stringMessage("alive")}}, {},
      {{kBlob, frameSequence(lastFrame_ + 2)}}, targets_);
}

std::string TuioSender::report() const {
  std::string text;
  for (const auto& target : targets_) {
    text += (text.empty() ? "" : "; ") + std::to_string(target->sent()) + " bundles sent to " +
            target->name();
    if (target->failed() > 0) {
      text += ", " + std::to_string(target->failed()) + " not (" + target->lastError() + ")";
    }
  }
  return text;
}

std::unique_ptr<FrameSink> makeTuioSink(const std::string& host, const std::string& port,
                                        std::string* error) {
  auto sink = std::make_unique<TuioSink>();
  if (!sink->open(host, port, error)) return nullptr;
  return sink;
}

}  // namespace kinetiscan::play
