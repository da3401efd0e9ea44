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
#include <optional>
#include <ostream>
#include <thread>

#include "camera/v4l2_source.h"
#include "control_source.h"
#include "frame_mask.h"
#include "frame_sink.h"
#include "inputs.h"
#include "live_settings.h"
#include "live_window.h"
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
  // Sleeps until `until`, answering the controls; false when a stop was asked meanwhile.
  bool pause(Clock::time_point until, int frame);
  // Polls the controls and the sinks; true once the run is to stop. Pauses, steps and saves take
  // effect here; calls and sets wait for the next frame's reads.
  bool stopAsked(int frame);
  void runCommand(const Command& command);
  // While paused: answers the controls until resumed or a frame is stepped; false on a stop.
  bool holdWhilePaused(int frame);
  // The calls and sets due, made after the frame's reads and recorded with it.
  void makeCalls(FrameRecord* record);
  std::optional<CallRecord> setLive(const Command& command, int frame);
  void saveSettingsNow();
  void showControls();
  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }
  int stopCode() const { return stop_ ? stop_->exitCode : 0; }

  const PlayOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  std::unique_ptr<camera::FrameSource> camera_;
  std::shared_ptr<const FrameMask> mask_;  // --mask: darkened in the pictures
  OutputFolder folder_;
  PluginSession session_;
  LiveWindow window_;
  std::vector<std::unique_ptr<FrameSink>> sinks_;
  std::vector<std::unique_ptr<ControlSource>> controls_;
  std::deque<Command> commands_;
  std::optional<Command> stop_;
  Clock::time_point start_;
  // When the source delivered the frame being played, on both clocks.
  Clock::time_point delivered_;
  std::chrono::system_clock::time_point deliveredWall_;
  RegionTracker tracker_;
  RunFigures figures_;
  FrameRecord lastRecord_;
  Picture lastStage_, lastLabelled_;
  StageLabels lastLabels_;
  std::string inputFailure_, outputFailure_;
  double chosenAdaptivity_ = 0;
  MemberFacts live_;  // the member's parameters as the controls change them
  bool paused_ = false;
  int steps_ = 0;  // frames stepped while paused, not yet played
  // Pacing counts from here: a pause must not make the frames after it rush to catch up.
  Clock::time_point paceStart_;
  int paceFrame_ = 0;
  std::string error_, summary_;
};

bool Run::setUp() {
  std::string error;
  // A window that cannot be had is known before anything is written.
  if (options_.show && !window_.open(kStageWidth, kStageHeight + 2 * kBandHeight, &error)) {
    return fail(error);
  }
  if (!options_.maskPath.empty()) {
    auto mask = std::make_shared<FrameMask>();
    if (!loadFrameMask(options_.maskPath, mask.get(), &error)) return fail(error);
    mask_ = std::move(mask);
  }
  camera_ = openInput(options_, &error);
  if (camera_ == nullptr) return fail(error);
  if (mask_ != nullptr) camera_ = maskSource(std::move(camera_), mask_, options_.maskPath);
  LiveWindow* window = window_.isOpen() ? &window_ : nullptr;
  if (!makeControls(options_, window, err_, &controls_, &error)) return fail(error);
  if (!folder_.open(options_.outDir, &error)) return fail(error);
  if (!session_.start(camera_.get(), options_, &error)) return fail(error);
  // A webcam paces itself; waiting on top of it would only make its frames older.
  figures_.rateMs = options_.rateMs >= 0 ? options_.rateMs
                    : camera_->paced()   ? 0
                                         : session_.previewRateMs();
  if (!makeSinks({options_, folder_, figures_.rateMs, window, out_, err_}, &sinks_, &error)) {
    return fail(error);
  }
  figures_.input = camera_->description();
  figures_.facts = session_.facts();
  live_ = figures_.facts;
  chosenAdaptivity_ = figures_.facts.adaptivity;
  showControls();
  figures_.warmup = options_.warmup;
  if (options_.warmup > 0) session_.setAdaptivity(warmupAdaptivity(options_.warmup));
  if (camera_->knowsTruth()) figures_.accuracy.emplace();
  return true;
}

bool Run::playOne(int frame, std::chrono::duration<double, std::milli>* spent) {
  std::string error;
  const auto begin = Clock::now();
  FrameRecord record;
  record.frame = frame;
  record.capturedMs = std::chrono::duration<double, std::milli>(delivered_ - start_).count();
  record.wallMicros =
      std::chrono::duration_cast<std::chrono::microseconds>(deliveredWall_.time_since_epoch())
          .count();
  if (!session_.readRegions(&record.centres, &record.rects, &error)) return fail(error);
  StageLabels labels;
  labels.frame = frame;
  for (const HostRect& rect : record.rects) labels.boxes.push_back(pictureBox(rect));
  record.ids = tracker_.update(labels.boxes);
  record.merged = tracker_.merged();
  labels.ids = record.ids;
  makeCalls(&record);
  Picture stage = pictureFromDib(session_.drawStage(), kStageWidth, kStageHeight);
  if (mask_ != nullptr) darkenMasked(*mask_, &stage);
  Picture labelled = labelledStage(stage, labels);
  *spent += Clock::now() - begin;
  record.milliseconds = spent->count();

  const camera::GroundTruth* truth = camera_->truth();
  if (figures_.accuracy && truth != nullptr && frame >= kSettleFrames) {
    record.match = matchFrame(truthDiscs(*truth), figures_.facts.mindensity, record.centres);
    figures_.accuracy->add(*record.match);
    figures_.accuracy->addIds(*record.match, record.ids);
  }
  figures_.addFrame(static_cast<int>(record.centres.size()), record.milliseconds);
  const FrameOutput output{record, stage, labelled, labels,
                           std::chrono::duration<double>(Clock::now() - start_).count()};
  for (const auto& sink : sinks_) {
    if (!sink->add(output, &error)) return fail(error);
  }
  lastRecord_ = std::move(record);
  lastStage_ = std::move(stage), lastLabelled_ = std::move(labelled), lastLabels_ = labels;
  if (options_.warmup > 0 && frame + 1 == options_.warmup) {
    session_.setAdaptivity(chosenAdaptivity_);
  }
  return true;
}

void Run::makeCalls(FrameRecord* record) {
  // In the order they came; a stop, a pause or a save was taken when the controls were polled.
  for (auto next = commands_.begin(); next != commands_.end();) {
    if (next->kind == Command::kCall) {
      record->calls.push_back(session_.call(next->call));
      ++figures_.callsMade;
      if (!next->by.empty()) {
        figures_.liveChanges.push_back(next->call.method + " at frame " +
                                       std::to_string(record->frame) + " by " + next->by);
      }
    } else if (next->kind == Command::kSet) {
      if (auto set = setLive(*next, record->frame)) record->calls.push_back(std::move(*set));
    } else {
      ++next;
      continue;
    }
    next = commands_.erase(next);
  }
  showControls();
}

std::optional<CallRecord> Run::setLive(const Command& command, int frame) {
  const std::string& name = command.property;
  const double before = name == "sensitivity"  ? live_.sensitivity
                        : name == "mindensity" ? live_.mindensity
                                               : chosenAdaptivity_;
  const double value =
      command.steps != 0 ? steppedSetting(name, before, command.steps) : command.value;
  std::string reason;
  if (!checkSetting(name, value, &reason)) {
    err_ << "kinetiscan-play: " << printable(name) << " not changed: " << printable(reason) << "\n";
    return std::nullopt;
  }
  CallRecord record = session_.set(name, value);
  const MemberFacts now = session_.facts();
  live_.sensitivity = now.sensitivity, live_.mindensity = now.mindensity;
  // During a warm-up the member learns at the warm-up's adaptivity; a new one ends that early
  // and stays after it.
  if (name == "adaptivity") chosenAdaptivity_ = now.adaptivity;
  live_.adaptivity = chosenAdaptivity_;
  char change[160];
  std::snprintf(change, sizeof change, "%s %g -> %g at frame %d by %s", name.c_str(), before,
                name == "sensitivity"  ? live_.sensitivity
                : name == "mindensity" ? live_.mindensity
                                       : chosenAdaptivity_,
                frame, command.by.empty() ? "?" : command.by.c_str());
  figures_.liveChanges.push_back(change);
  return record;
}

void Run::runCommand(const Command& command) {
  switch (command.kind) {
    case Command::kStop:
      // A signal's code replaces what stopped the run before; a quiet stop never replaces one.
      if (!stop_ || command.exitCode != 0) stop_ = command;
      break;
    case Command::kPause: {
      const bool pause = command.value < 0 ? !paused_ : command.value != 0;
      if (pause && !paused_) ++figures_.pauses;
      paused_ = pause;
      steps_ = 0;
      break;
    }
    case Command::kStep:
      if (!paused_) ++figures_.pauses;
      steps_ += paused_ ? 1 : 0;
      paused_ = true;
      break;
    case Command::kSave:
      saveSettingsNow();
      break;
    case Command::kCall:
    case Command::kSet:
      break;
  }
}

void Run::saveSettingsNow() {
  Settings settings;
  settings.sensitivity = live_.sensitivity;
  settings.mindensity = live_.mindensity;
  settings.adaptivity = chosenAdaptivity_;
  std::string error;
  if (!saveSettings(kSettingsFile, settings, &error)) {
    err_ << "kinetiscan-play: settings not written: " << printable(error) << "\n" << std::flush;
    return;
  }
  err_ << "kinetiscan-play: settings written to " << kSettingsFile
       << "; on the command line: " << settingsCommandLine(settings) << "\n"
       << std::flush;
}

void Run::showControls() {
  if (!window_.isOpen()) return;
  std::size_t waiting = 0;
  for (const Command& command : commands_) {
    waiting += command.kind == Command::kCall || command.kind == Command::kSet;
  }
  char values[160];
  std::snprintf(values, sizeof values,
                "sensitivity %g (1 2)  mindensity %d (3 4)  adaptivity %g (5 6)  ",
                live_.sensitivity, live_.mindensity, chosenAdaptivity_);
  std::string state = paused_ ? "paused" : "playing";
  if (paused_ && waiting > 0) state += ", " + std::to_string(waiting) + " waiting for a frame (n)";
  window_.setControls(
      {values + state, "b background now  space pause  n one frame  w write settings  esc end"});
}

bool Run::holdWhilePaused(int frame) {
  if (!paused_) return true;
  while (paused_ && steps_ == 0) {
    if (stopAsked(frame)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  if (paused_) {
    --steps_;
    ++figures_.steps;
  }
  paceStart_ = Clock::now(), paceFrame_ = frame;
  return true;
}

bool Run::stopAsked(int frame) {
  for (const auto& control : controls_) control->poll(frame, &commands_);
  bool changed = false;
  for (auto next = commands_.begin(); next != commands_.end();) {
    if (next->kind == Command::kCall || next->kind == Command::kSet) {
      changed = true;
      ++next;
      continue;
    }
    runCommand(*next);
    changed = true;
    next = commands_.erase(next);
  }
  if (changed) showControls();
  for (const auto& sink : sinks_) {
    if (outputFailure_.empty()) outputFailure_ = sink->failure();
  }
  return stop_.has_value() || !outputFailure_.empty();
}

bool Run::pause(Clock::time_point until, int frame) {
  // In slices, so a signal ends a slow run at once and the window answers Escape and redraws.
  const auto slice = std::chrono::milliseconds(15);
  for (auto now = Clock::now(); now < until; now = Clock::now()) {
    if (stopAsked(frame)) return false;
    std::this_thread::sleep_until(std::min(until, now + slice));
  }
  return true;
}

int Run::playFrames() {
  const int total = effectiveFrames(options_);
  Progress progress(err_, total, options_.quiet);
  start_ = paceStart_ = Clock::now();
  for (int frame = 0; total < 0 || frame < total; ++frame) {
    // Paused, a webcam is simply not read: the first frames after it may be as old as the pause.
    if (stopAsked(frame) || !holdWhilePaused(frame)) break;
    const auto begin = Clock::now();
    if (!session_.deliverFrame()) {
      if (stopAsked(frame)) break;  // a webcam's wait cut short by the signal
      // A file or camera that fails midway ends the run as a stop does, saying what failed.
      inputFailure_ = camera_->failure();
      break;  // otherwise a file source has played all its frames
    }
    delivered_ = Clock::now();
    deliveredWall_ = std::chrono::system_clock::now();
    std::chrono::duration<double, std::milli> spent = Clock::now() - begin;
    if (!playOne(frame, &spent)) {
      progress.end();
      return kExitFailure;
    }
    progress.show(frame, static_cast<int>(lastRecord_.centres.size()));
    if (figures_.rateMs > 0 &&
        !pause(paceStart_ + std::chrono::milliseconds(figures_.rateMs) * (frame + 1 - paceFrame_),
               frame + 1)) {
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
    return fail(stop_ ? "stopped before the first frame; no results kept"
                      : camera_->description() + " gave no frame");
  }
  if (stop_) figures_.stoppedBy = stop_->by;
  figures_.inputFailure = inputFailure_;
  figures_.outputFailure = outputFailure_;
  figures_.inputNote = camera_->note();
  const FrameOutput last{lastRecord_, lastStage_, lastLabelled_, lastLabels_, 0};
  for (const auto& sink : sinks_) {
    if (!sink->close(last, &figures_, &error)) return fail(error);
  }
  for (const ScriptCall& call : options_.calls) {
    if (call.frame > lastRecord_.frame) ++figures_.callsNotReached;
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
  if (!setUp()) return stopRequested != 0 ? 128 + stopRequested : kExitFailure;
  if (const int code = playFrames(); code != 0) return code;
  const bool finished = finish();
  if (stopCode() != 0) return stopCode();
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
