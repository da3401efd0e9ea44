// The frame loop of kinetiscan-play.
#include "play_run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <ostream>
#include <set>
#include <thread>

#include "camera/v4l2_source.h"
#include "inputs.h"
#include "live_window.h"
#include "osc_sender.h"
#include "output_folder.h"
#include "picture_writers.h"
#include "plugin_session.h"
#include "region_tracker.h"
#include "stage_labels.h"
#include "summary.h"
#include "track_log.h"

namespace kinetiscan::play {

volatile std::sig_atomic_t stopRequested = 0;

namespace {

using Clock = std::chrono::steady_clock;

int stopSignal() { return stopRequested; }

std::string signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

std::string stageName(int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "stage-%04d.png", frame);
  return name;
}

class Progress {
 public:
  Progress(std::ostream& err, int total, bool quiet)
      : err_(err), total_(total), terminal_(isatty(STDERR_FILENO) != 0), quiet_(quiet) {}
  void show(int frame, int regions) {
    if (quiet_) return;
    const std::string of = total_ > 0 ? "/" + std::to_string(total_) : "";
    if (terminal_ && frame % 5 == 0) {
      err_ << "\rframe " << frame << of << ", " << regions << " regions   " << std::flush;
      shown_ = true;
    } else if (!terminal_ && frame > 0 && frame % 100 == 0) {
      err_ << "frame " << frame << of << ", " << regions << " regions\n" << std::flush;
    }
  }
  void end() {
    if (shown_) err_ << "\r" << std::string(40, ' ') << "\r" << std::flush;
    shown_ = false;
  }

 private:
  std::ostream& err_;
  int total_;
  bool terminal_, quiet_, shown_ = false;
};

// Frames per second over the last second, for the window.
class FrameRate {
 public:
  void tick(Clock::time_point now) {
    times_.push_back(now);
    while (times_.size() > 2 && now - times_.front() > std::chrono::seconds(1)) times_.pop_front();
  }
  std::string text() const {
    if (times_.size() < 2) return "";
    const double seconds = std::chrono::duration<double>(times_.back() - times_.front()).count();
    char line[32];
    std::snprintf(line, sizeof line, "%.1f fps", seconds > 0 ? (times_.size() - 1) / seconds : 0.0);
    return line;
  }

 private:
  std::deque<Clock::time_point> times_;
};

class Run {
 public:
  Run(const PlayOptions& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err) {}
  // Non-zero exit code on failure, with the message in `error_`.
  int execute();
  const std::string& error() const { return error_; }
  const std::string& summary() const { return summary_; }

 private:
  bool setUp();
  int playFrames();
  bool playOne(int frame, std::chrono::duration<double, std::milli>* spent);
  bool finish();
  bool wantsPng(int frame) const {
    return std::count(options_.pngAt.begin(), options_.pngAt.end(), frame) != 0 ||
           (options_.pngEvery > 0 && frame % options_.pngEvery == 0);
  }
  // Sleeps until `until`, keeping the window answering; false when a stop was asked meanwhile.
  bool pause(Clock::time_point until);
  bool stopAsked();
  // A reader downstream sees each frame as it is done. A stream that fails (a closed pipe, a full
  // disk) ends the run as a stop does, keeping the results, with the stream named.
  void streamRecord(const FrameRecord& record);
  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  const PlayOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<camera::FrameSource> camera_;
  OutputFolder folder_;
  PluginSession session_;
  TrackLog log_;
  GifAnimation gif_;
  OscSender osc_;
  LiveWindow window_;
  FrameRate rate_;
  Clock::time_point start_;
  RegionTracker tracker_;
  RunFigures figures_;
  std::set<int> pngsWritten_;
  Picture lastStage_;
  int lastFrame_ = -1;
  int stopSignal_ = 0;
  bool windowClosed_ = false;
  std::string inputFailure_, outputFailure_;
  double chosenAdaptivity_ = 0;
  int lastRegions_ = 0;
  std::string error_, summary_;
};

bool Run::setUp() {
  std::string error;
  // A window that cannot be had is known before anything is written.
  if (options_.show && !window_.open(kStageWidth, kStageHeight + 2 * kBandHeight, &error)) {
    return fail(error);
  }
  camera_ = openInput(options_, &error);
  if (camera_ == nullptr) return fail(error);
  if (!folder_.open(options_.outDir, &error)) return fail(error);
  if (!session_.start(camera_.get(), options_, &error)) return fail(error);
  // A webcam paces itself; waiting on top of it would only make its frames older.
  const bool paced = options_.input == InputKind::kDevice;
  figures_.rateMs = options_.rateMs >= 0 ? options_.rateMs : paced ? 0 : session_.previewRateMs();
  bool clamped = false;
  const bool gif = options_.gifEvery > 0;
  const int delay = gif ? gifDelay(figures_.rateMs, options_.gifEvery, &clamped) : 0;
  if (clamped) {
    err_ << "kinetiscan-play: note: run.gif shows each frame for " << kMaxGifDelay / 100 << "."
         << kMaxGifDelay % 100 << " s, the longest a GIF frame can last, instead of "
         << std::max(figures_.rateMs, 50) * std::int64_t{options_.gifEvery} / 1000 << " s\n";
  }
  if (!log_.open(folder_.staged("track.csv"), folder_.staged("track.jsonl"),
                 folder_.staged("regions.csv"), &error) ||
      (gif && !gif_.open(folder_.staged("run.gif"), kStageWidth, kStageHeight + 2 * kBandHeight,
                         delay, &error)) ||
      (!options_.oscHost.empty() && !osc_.open(options_.oscHost, options_.oscPort, &error))) {
    return fail(error);
  }
  figures_.input = describeInput(options_);
  figures_.facts = session_.facts();
  chosenAdaptivity_ = figures_.facts.adaptivity;
  figures_.warmup = options_.warmup;
  if (options_.warmup > 0) session_.setAdaptivity(warmupAdaptivity(options_.warmup));
  if (camera_->truth() != nullptr || options_.input == InputKind::kSynthetic) {
    figures_.accuracy.emplace();
  }
  return true;
}

bool Run::playOne(int frame, std::chrono::duration<double, std::milli>* spent) {
  std::string error;
  const auto begin = Clock::now();
  FrameRecord record;
  record.frame = frame;
  if (!session_.readRegions(&record.centres, &record.rects, &error)) return fail(error);
  StageLabels labels;
  labels.frame = frame;
  for (const HostRect& rect : record.rects) labels.boxes.push_back(pictureBox(rect));
  record.ids = tracker_.update(labels.boxes);
  labels.ids = record.ids;
  for (const ScriptCall& call : options_.calls) {
    if (call.frame == frame) record.calls.push_back(session_.call(call));
  }
  figures_.callsMade += static_cast<int>(record.calls.size());
  const Picture stage = pictureFromDib(session_.drawStage(), kStageWidth, kStageHeight);
  lastStage_ = labelledStage(stage, labels);
  *spent += Clock::now() - begin;
  record.milliseconds = spent->count();

  const camera::GroundTruth* truth = camera_->truth();
  if (figures_.accuracy && truth != nullptr && frame >= kSettleFrames) {
    record.match = matchFrame(truthDiscs(*truth), figures_.facts.mindensity, record.centres);
    figures_.accuracy->add(*record.match);
    figures_.accuracy->addIds(*record.match, record.ids);
  }
  lastRegions_ = static_cast<int>(record.centres.size());
  figures_.addFrame(lastRegions_, record.milliseconds);
  if (!log_.add(record, &error)) return fail(error);
  osc_.send(record, std::chrono::duration<double>(Clock::now() - start_).count());
  if (window_.isOpen()) {
    rate_.tick(Clock::now());
    labels.rate = rate_.text();
    window_.show(labelledStage(stage, labels));
  }
  if (options_.jsonlToStdout) streamRecord(record);
  if (options_.gifEvery > 0 && frame % options_.gifEvery == 0 && !gif_.add(lastStage_, &error)) {
    return fail(error);
  }
  if (wantsPng(frame)) {
    if (!writePng(folder_.staged(stageName(frame)), lastStage_, &error)) return fail(error);
    pngsWritten_.insert(frame);
  }
  lastFrame_ = frame;
  if (options_.warmup > 0 && frame + 1 == options_.warmup) {
    session_.setAdaptivity(chosenAdaptivity_);
  }
  return true;
}

void Run::streamRecord(const FrameRecord& record) {
  errno = 0;
  out_ << jsonRecord(record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
       << std::endl;
  // Interrupted by a stop signal is that stop, not a failure of the stream.
  if (!out_ && outputFailure_.empty() && stopRequested == 0) {
    outputFailure_ = std::string("standard output (--jsonl -): ") +
                     (errno != 0 ? std::strerror(errno) : "cannot write");
  }
}

bool Run::stopAsked() {
  if (stopRequested != 0) stopSignal_ = stopRequested;
  if (window_.closeAsked()) windowClosed_ = true;
  return stopSignal_ != 0 || windowClosed_ || !outputFailure_.empty();
}

bool Run::pause(Clock::time_point until) {
  // In slices, so a signal ends a slow run at once and the window answers Escape and redraws.
  const auto slice = std::chrono::milliseconds(15);
  for (auto now = Clock::now(); now < until; now = Clock::now()) {
    if (stopAsked()) return false;
    std::this_thread::sleep_until(std::min(until, now + slice));
  }
  return true;
}

int Run::playFrames() {
  const int total = effectiveFrames(options_);
  Progress progress(err_, total, options_.quiet);
  start_ = Clock::now();
  for (int frame = 0; total < 0 || frame < total; ++frame) {
    if (stopAsked()) break;
    const auto begin = Clock::now();
    if (!session_.deliverFrame()) {
      if (stopAsked()) break;  // a webcam's wait cut short by the signal
      // A file or camera that fails midway ends the run as a stop does, saying what failed.
      inputFailure_ = camera_->failure();
      break;  // otherwise a file source has played all its frames
    }
    std::chrono::duration<double, std::milli> spent = Clock::now() - begin;
    if (!playOne(frame, &spent)) {
      progress.end();
      return kExitFailure;
    }
    progress.show(frame, lastRegions_);
    if (figures_.rateMs > 0 &&
        !pause(start_ + std::chrono::milliseconds(figures_.rateMs) * (frame + 1))) {
      break;
    }
  }
  progress.end();
  return 0;
}

bool Run::finish() {
  std::string error;
  if (figures_.frames == 0) {
    if (!inputFailure_.empty()) return fail(inputFailure_ + "; no results kept");
    return fail(stopSignal_ != 0 || windowClosed_
                    ? "stopped before the first frame; no results kept"
                    : describeInput(options_) + " gave no frame");
  }
  if (stopSignal_ != 0) figures_.stoppedBy = signalName(stopSignal_);
  if (windowClosed_ && stopSignal_ == 0) {
    figures_.stoppedBy = window_.displayLost() ? "losing the display" : "closing the window";
  }
  figures_.inputFailure = inputFailure_;
  figures_.outputFailure = outputFailure_;
  figures_.inputNote = camera_->note();
  if (osc_.isOpen()) {
    figures_.osc = std::to_string(osc_.sent()) + " messages sent to " + options_.oscHost + ":" +
                   options_.oscPort;
    if (osc_.failed() > 0) {
      figures_.osc += ", " + std::to_string(osc_.failed()) + " not (" + osc_.lastError() + ")";
    }
  }
  if (options_.pngLast && pngsWritten_.count(lastFrame_) == 0) {
    if (!writePng(folder_.staged(stageName(lastFrame_)), lastStage_, &error)) return fail(error);
  }
  if (!gif_.close(&error) || !log_.close(&error)) return fail(error);
  for (const ScriptCall& call : options_.calls) {
    if (call.frame > lastFrame_) ++figures_.callsNotReached;
  }
  figures_.facts = session_.facts();
  figures_.folder = options_.outDir;
  const std::string summaryPath = folder_.staged("summary.txt");
  figures_.outputs = folder_.names();
  std::sort(figures_.outputs.begin(), figures_.outputs.end());
  summary_ = summaryText(figures_);
  std::ofstream file(summaryPath);
  file << summary_;
  file.close();
  if (!file) return fail(summaryPath + ": cannot write");
  if (!folder_.commit(&error)) return fail(error);
  // The host's books: every interface it handed the plug-in should be back where it started.
  for (const std::string& imbalance : session_.finish()) {
    err_ << "kinetiscan-play: warning: host reference not given back: " << imbalance << "\n";
  }
  return true;
}

int Run::execute() {
  if (!setUp()) return stopSignal() != 0 ? 128 + stopSignal() : kExitFailure;
  if (const int code = playFrames(); code != 0) return code;
  const bool finished = finish();
  if (stopSignal_ != 0) return 128 + stopSignal_;
  for (const std::string* failure : {&inputFailure_, &outputFailure_}) {
    if (!finished || failure->empty()) continue;
    err_ << "kinetiscan-play: " << printable(*failure) << "; the frames before it are kept in "
         << printable(options_.outDir) << "\n";
    return kExitFailure;
  }
  return finished ? 0 : kExitFailure;
}

}  // namespace

int runPlay(const PlayOptions& options, std::ostream& out, std::ostream& err) {
  int code;
  std::string summary, error;
  {
    Run run(options, out, err);
    code = run.execute();
    summary = run.summary();
    error = run.error();
  }
  if (!error.empty()) err << "kinetiscan-play: " << printable(error) << "\n";
  // With the frames streaming to standard output the summary goes beside the progress.
  if (!summary.empty() && error.empty()) {
    std::ostream& to = options.jsonlToStdout ? err : out;
    errno = 0;
    to << summary << std::flush;
    // The results are kept; still, whoever reads the summary there did not get it.
    if (!to && &to == &out && code == 0) {
      err << "kinetiscan-play: cannot write the summary to standard output ("
          << (errno != 0 ? std::strerror(errno) : "closed") << "); it is in "
          << printable(options.outDir) << "/summary.txt\n";
      code = kExitFailure;
    }
  }
  return code;
}

}  // namespace kinetiscan::play
