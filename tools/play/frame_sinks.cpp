// The run's sinks over the writers, the live outputs and the window, and where they are made.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <ostream>
#include <set>

#include "frame_sink.h"
#include "live_window.h"
#include "osc_sender.h"
#include "output_folder.h"
#include "play_run.h"
#include "plugin_session.h"
#include "tuio_sink.h"

namespace kinetiscan::play {
namespace {

using Clock = std::chrono::steady_clock;

std::string stageName(int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "stage-%04d.png", frame);
  return name;
}

class TrackLogSink : public FrameSink {
 public:
  bool open(OutputFolder& folder, std::string* error) {
    return log_.open(folder.staged("track.csv"), folder.staged("track.jsonl"),
                     folder.staged("regions.csv"), error);
  }
  bool add(const FrameOutput& frame, std::string* error) override {
    return log_.add(frame.record, error);
  }
  bool close(const FrameOutput&, RunFigures*, std::string* error) override {
    return log_.close(error);
  }

 private:
  TrackLog log_;
};

class OscSink : public FrameSink {
 public:
  bool open(const PlayOptions& options, std::string* error) {
    for (const auto& target : options.oscTargets) {
      if (!osc_.open(target.host, target.port, error)) return false;
    }
    return true;
  }
  bool add(const FrameOutput& frame, std::string*) override {
    osc_.send(frame.record);
    return true;  // a listener that is not there is no failure of the run: sends are counted
  }
  bool close(const FrameOutput&, RunFigures* figures, std::string*) override {
    osc_.finish();
    figures->osc = osc_.report();
    return true;
  }

 private:
  OscSender osc_;
};

// The labelled stage with the frames per second over the last second added.
class WindowSink : public FrameSink {
 public:
  explicit WindowSink(LiveWindow& window) : window_(window) {}
  bool add(const FrameOutput& frame, std::string*) override {
    if (!window_.isOpen()) return true;
    const auto now = Clock::now();
    times_.push_back(now);
    while (times_.size() > 2 && now - times_.front() > std::chrono::seconds(1)) times_.pop_front();
    StageLabels labels = frame.labels;
    labels.rate = rateText();
    window_.show(labelledStage(frame.stage, labels));
    return true;
  }

 private:
  std::string rateText() const {
    if (times_.size() < 2) return "";
    const double seconds = std::chrono::duration<double>(times_.back() - times_.front()).count();
    char line[32];
    std::snprintf(line, sizeof line, "%.1f fps", seconds > 0 ? (times_.size() - 1) / seconds : 0.0);
    return line;
  }

  LiveWindow& window_;
  std::deque<Clock::time_point> times_;
};

// A reader downstream sees each frame as it is done. A stream that fails (a closed pipe, a full
// disk) ends the run as a stop does, keeping the results, with the stream named.
class JsonLinesSink : public FrameSink {
 public:
  explicit JsonLinesSink(std::ostream& out) : out_(out) {}
  bool add(const FrameOutput& frame, std::string*) override {
    errno = 0;
    out_ << jsonRecord(frame.record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
         << std::endl;
    // Interrupted by a stop signal is that stop, not a failure of the stream.
    if (!out_ && failure_.empty() && stopRequested == 0) {
      failure_ = std::string("standard output (--jsonl -): ") +
                 (errno != 0 ? std::strerror(errno) : "cannot write");
    }
    return true;
  }
  std::string failure() const override { return failure_; }

 private:
  std::ostream& out_;
  std::string failure_;
};

class GifSink : public FrameSink {
 public:
  explicit GifSink(int every) : every_(every) {}
  bool open(const SinkSetting& setting, std::string* error) {
    bool clamped = false;
    const int delay = gifDelay(setting.rateMs, every_, &clamped);
    if (clamped) {
      setting.err << "kinetiscan-play: note: run.gif shows each frame for " << kMaxGifDelay / 100
                  << "." << kMaxGifDelay % 100
                  << " s, the longest a GIF frame can last, instead of "
                  << std::max(setting.rateMs, 50) * std::int64_t{every_} / 1000 << " s\n";
    }
    return gif_.open(setting.folder.staged("run.gif"), kStageWidth, kStageHeight + 2 * kBandHeight,
                     delay, error);
  }
  bool add(const FrameOutput& frame, std::string* error) override {
    return frame.record.frame % every_ != 0 || gif_.add(frame.labelled, error);
  }
  bool close(const FrameOutput&, RunFigures*, std::string* error) override {
    return gif_.close(error);
  }

 private:
  int every_;
  GifAnimation gif_;
};

// The stage at the frames asked for, and at the last one when asked.
class PngSink : public FrameSink {
 public:
  PngSink(const PlayOptions& options, OutputFolder& folder) : options_(options), folder_(folder) {}
  bool add(const FrameOutput& frame, std::string* error) override {
    const int number = frame.record.frame;
    const bool wanted = std::count(options_.pngAt.begin(), options_.pngAt.end(), number) != 0 ||
                        (options_.pngEvery > 0 && number % options_.pngEvery == 0);
    if (!wanted) return true;
    if (!writePng(folder_.staged(stageName(number)), frame.labelled, error)) return false;
    written_.insert(number);
    return true;
  }
  bool close(const FrameOutput& last, RunFigures*, std::string* error) override {
    const int number = last.record.frame;
    if (!options_.pngLast || written_.count(number) != 0) return true;
    return writePng(folder_.staged(stageName(number)), last.labelled, error);
  }

 private:
  const PlayOptions& options_;
  OutputFolder& folder_;
  std::set<int> written_;
};

}  // namespace

bool makeSinks(const SinkSetting& setting, std::vector<std::unique_ptr<FrameSink>>* sinks,
               std::string* error) {
  const PlayOptions& options = setting.options;
  auto log = std::make_unique<TrackLogSink>();
  std::unique_ptr<GifSink> gif;
  if (options.gifEvery > 0) gif = std::make_unique<GifSink>(options.gifEvery);
  // Opened in this order (a failure names the first that failed), fed in the order below.
  if (!log->open(setting.folder, error) || (gif != nullptr && !gif->open(setting, error))) {
    return false;
  }
  sinks->push_back(std::move(log));
  if (!options.oscTargets.empty()) {
    auto osc = std::make_unique<OscSink>();
    if (!osc->open(options, error)) return false;
    sinks->push_back(std::move(osc));
  }
  if (options.tuio) {
    auto tuio = makeTuioSink(options.tuio->host, options.tuio->port, error);
    if (tuio == nullptr) return false;
    sinks->push_back(std::move(tuio));
  }
  if (setting.window != nullptr) sinks->push_back(std::make_unique<WindowSink>(*setting.window));
  if (options.jsonlToStdout) sinks->push_back(std::make_unique<JsonLinesSink>(setting.out));
  if (gif != nullptr) sinks->push_back(std::move(gif));
  sinks->push_back(std::make_unique<PngSink>(options, setting.folder));
  return true;
}

}  // namespace kinetiscan::play
