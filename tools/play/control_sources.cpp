// The run's control sources: signals, the window and its keys, the --at schedule, OSC input.
#include <csignal>

#include "control_source.h"
#include "live_window.h"
#include "osc_controls.h"
#include "play_run.h"

namespace kinetiscan::play {
namespace {

Command stopCommand(std::string by, int exitCode) {
  Command command;
  command.by = std::move(by);
  command.exitCode = exitCode;
  return command;
}

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
    commands->push_back(stopCommand(signalName(signal), 128 + signal));
  }

 private:
  int reported_ = 0;
};

// What each key of the window asks for; the legend under the picture names them.
struct KeyAction {
  char key;
  Command::Kind kind;
  const char* property;
  int steps;
};
constexpr KeyAction kKeys[] = {
    {'1', Command::kSet, "sensitivity", -1},
    {'2', Command::kSet, "sensitivity", 1},
    {'3', Command::kSet, "mindensity", -1},
    {'4', Command::kSet, "mindensity", 1},
    {'5', Command::kSet, "adaptivity", -1},
    {'6', Command::kSet, "adaptivity", 1},
    {'b', Command::kCall, "adapt", 0},
    {' ', Command::kPause, "", 0},
    {'n', Command::kStep, "", 0},
    {'w', Command::kSave, "", 0},
};

Command keyCommand(const KeyAction& action) {
  Command command;
  command.kind = action.kind;
  command.by = "key";
  if (action.kind == Command::kCall) command.call.method = action.property;
  if (action.kind == Command::kSet) command.property = action.property;
  command.steps = action.steps;
  command.value = action.kind == Command::kPause ? -1 : 0;
  return command;
}

// Escape, closing the window or losing the display: nothing went wrong, exit code 0. The other
// keys steer the run as a script or a controller would.
class WindowControls : public ControlSource {
 public:
  explicit WindowControls(LiveWindow& window) : window_(window) {}
  void poll(int, std::deque<Command>* commands) override {
    const bool close = window_.closeAsked();
    for (const char key : window_.takeKeys()) {
      for (const KeyAction& action : kKeys) {
        if (action.key == key) commands->push_back(keyCommand(action));
      }
    }
    if (reported_ || !close) return;
    reported_ = true;
    const char* by = window_.displayLost() ? "losing the display" : "closing the window";
    commands->push_back(stopCommand(by, 0));
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
      if (call.frame != frame) continue;
      Command command;
      command.kind = Command::kCall;
      command.call = call;
      commands->push_back(command);
    }
  }

 private:
  const std::vector<ScriptCall>& calls_;
  int given_ = -1;
};

}  // namespace

bool makeControls(const PlayOptions& options, LiveWindow* window, std::ostream& err,
                  std::vector<std::unique_ptr<ControlSource>>* controls, std::string* error) {
  controls->push_back(std::make_unique<Signals>());
  if (window != nullptr) controls->push_back(std::make_unique<WindowControls>(*window));
  controls->push_back(std::make_unique<Schedule>(options.calls));
  if (options.oscInPort > 0) {
    std::unique_ptr<ControlSource> osc = openOscControls(options.oscInPort, err, error);
    if (osc == nullptr) return false;
    controls->push_back(std::move(osc));
  }
  return true;
}

}  // namespace kinetiscan::play
