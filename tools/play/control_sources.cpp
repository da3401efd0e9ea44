// The run's control sources: signals, the window, the --at schedule.
#include <csignal>

#include "control_source.h"
#include "live_window.h"
#include "play_run.h"

namespace kinetiscan::play {
namespace {

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

// Ctrl-C, a service manager's stop, a closed terminal: exit code 128 + the signal's number, as
// shells expect. The latest signal is the one reported.
class Signals : public ControlSource {
 public:
  void poll(int, std::deque<Command>* commands) override {
    const int signal = stopRequested;
    if (signal == 0 || signal == reported_) return;
    reported_ = signal;
    commands->push_back({Command::kStop, signalName(signal), 128 + signal, {}});
  }

 private:
  int reported_ = 0;
};

// Escape, closing the window or losing the display: nothing went wrong, exit code 0.
class WindowControls : public ControlSource {
 public:
  explicit WindowControls(LiveWindow& window) : window_(window) {}
  void poll(int, std::deque<Command>* commands) override {
    if (reported_ || !window_.closeAsked()) return;
    reported_ = true;
    const char* by = window_.displayLost() ? "losing the display" : "closing the window";
    commands->push_back({Command::kStop, by, 0, {}});
  }

 private:
  LiveWindow& window_;
  bool reported_ = false;
};

// The --at calls, each given once when its frame comes, in the order they were given.
class Schedule : public ControlSource {
 public:
  explicit Schedule(const std::vector<ScriptCall>& calls) : calls_(calls) {}
  void poll(int frame, std::deque<Command>* commands) override {
    if (frame <= given_) return;
    given_ = frame;
    for (const ScriptCall& call : calls_) {
      if (call.frame == frame) commands->push_back({Command::kCall, {}, 0, call});
    }
  }

 private:
  const std::vector<ScriptCall>& calls_;
  int given_ = -1;
};

}  // namespace

std::vector<std::unique_ptr<ControlSource>> makeControls(const PlayOptions& options,
                                                         LiveWindow* window) {
  std::vector<std::unique_ptr<ControlSource>> controls;
  controls.push_back(std::make_unique<Signals>());
  if (window != nullptr) controls.push_back(std::make_unique<WindowControls>(*window));
  controls.push_back(std::make_unique<Schedule>(options.calls));
  return controls;
}

}  // namespace kinetiscan::play
