// The OSC input: liblo's server thread parses and checks each message and queues what it asks for;
// the run takes the queue when it polls its controls, so nothing reaches the member from the
// server's thread.
#include "osc_controls.h"

#include <lo/lo.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <ostream>

#include "live_settings.h"
#include "summary.h"

namespace kinetiscan::play {
namespace {

// A flood of messages between two polls costs at most this many queued entries.
constexpr std::size_t kMaxQueued = 1024;
// A sender that gets it wrong on every frame (--osc aimed at our own port) would fill the
// terminal: refusals past this many are only counted.
constexpr long kMaxRefusalsShown = 50;

std::mutex startLock;
std::string startError;  // liblo reports why a server could not start through a plain function

extern "C" void serverError(int number, const char* message, const char* where) {
  std::lock_guard<std::mutex> hold(startLock);
  startError = std::string(message != nullptr ? message : "error") + " (" + std::to_string(number) +
               (where != nullptr ? std::string(", ") + where : "") + ")";
}

// A number argument, whatever its OSC type; false for anything else.
bool numberOf(char type, lo_arg* argument, double* value) {
  // liblo's arguments sit at 4-byte offsets of its buffer, not at lo_arg's alignment.
  switch (type) {
    case LO_INT32: {
      std::int32_t v;
      std::memcpy(&v, argument, sizeof v);
      return *value = v, true;
    }
    case LO_INT64: {
      std::int64_t v;
      std::memcpy(&v, argument, sizeof v);
      return *value = static_cast<double>(v), true;
    }
    case LO_FLOAT: {
      float v;
      std::memcpy(&v, argument, sizeof v);
      return *value = v, true;
    }
    case LO_DOUBLE: {
      double v;
      std::memcpy(&v, argument, sizeof v);
      return *value = v, true;
    }
    case LO_TRUE:
      return *value = 1, true;
    case LO_FALSE:
      return *value = 0, true;
    default:
      return false;
  }
}

class OscControls : public ControlSource {
 public:
  OscControls(lo_server_thread server, std::ostream& err) : server_(server), err_(err) {}
  ~OscControls() override {
    lo_server_thread_stop(server_);
    lo_server_thread_free(server_);
  }
  void poll(int, std::deque<Command>* commands) override {
    std::deque<Command> taken;
    std::deque<std::string> notes;
    {
      std::lock_guard<std::mutex> hold(lock_);
      taken.swap(queued_);
      notes.swap(notes_);
    }
    for (const std::string& note : notes) err_ << "kinetiscan-play: --osc-in: " << note << "\n";
    if (!notes.empty()) err_ << std::flush;
    for (Command& command : taken) commands->push_back(std::move(command));
  }
  void start() {
    lo_server_thread_add_method(server_, nullptr, nullptr, received, this);
    lo_server_thread_start(server_);
  }

 private:
  static int received(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                      void* self) {
    static_cast<OscControls*>(self)->take(path, types, argv, argc);
    return 0;
  }
  void take(const std::string& path, const std::string& types, lo_arg** argv, int argc);
  bool setCommand(const std::string& types, lo_arg** argv, Command* command, std::string* why);
  void queue(const Command* command, std::string note) {
    std::lock_guard<std::mutex> hold(lock_);
    if (queued_.size() + notes_.size() >= kMaxQueued) {
      ++dropped_;
      return;
    }
    if (dropped_ > 0) {
      notes_.push_back(std::to_string(dropped_) +
                       " messages dropped: they came faster than "
                       "the run takes them");
      dropped_ = 0;
    }
    if (command != nullptr) queued_.push_back(*command);
    if (!note.empty()) notes_.push_back(std::move(note));
  }

  lo_server_thread server_;
  std::ostream& err_;
  std::mutex lock_;
  std::deque<Command> queued_;
  std::deque<std::string> notes_;
  long dropped_ = 0;
  long refused_ = 0;  // on the server's thread only
};

bool OscControls::setCommand(const std::string& types, lo_arg** argv, Command* command,
                             std::string* why) {
  double value = 0;
  if (types.size() != 2 || (types[0] != LO_STRING && types[0] != LO_SYMBOL) ||
      types[1] == LO_TRUE || types[1] == LO_FALSE || !numberOf(types[1], argv[1], &value)) {
    *why = "takes a name and a number (types s then i, h, f or d), not '" + types + "'";
    return false;
  }
  command->property = reinterpret_cast<const char*>(argv[0]);  // a string, at 4-byte alignment
  command->value = value;
  return checkSetting(command->property, value, why);
}

void OscControls::take(const std::string& path, const std::string& types, lo_arg** argv, int argc) {
  Command command;
  command.by = "OSC";
  std::string why;
  bool fits = true;
  if (path == "/kinetiscan/set") {
    command.kind = Command::kSet;
    fits = setCommand(types, argv, &command, &why);
  } else if (path == "/kinetiscan/adapt" || path == "/kinetiscan/step") {
    command.kind = path == "/kinetiscan/adapt" ? Command::kCall : Command::kStep;
    if (command.kind == Command::kCall) command.call.method = "adapt";
    fits = argc == 0;
    why = "takes no arguments";
  } else if (path == "/kinetiscan/pause") {
    command.kind = Command::kPause;
    command.value = -1;
    fits = argc == 0 || (argc == 1 && numberOf(types[0], argv[0], &command.value) &&
                         (command.value == 0 || command.value == 1));
    why = "takes nothing (toggles) or 1 (pause) or 0 (resume)";
  } else {
    fits = false;
    why = "not an address of ours (/kinetiscan/set, adapt, pause, step)";
  }
  if (fits) return queue(&command, "");
  if (++refused_ > kMaxRefusalsShown) {
    if (refused_ == kMaxRefusalsShown + 1) queue(nullptr, "more refusals are not shown");
    return;
  }
  std::string shown = path;
  for (int i = 0; i < argc; ++i) {
    double number = 0;
    if (types[i] == LO_STRING || types[i] == LO_SYMBOL) {
      shown += std::string(" ") + reinterpret_cast<const char*>(argv[i]);
    } else if (numberOf(types[i], argv[i], &number)) {
      char text[32];
      std::snprintf(text, sizeof text, " %g", number);
      shown += text;
    } else {
      shown += std::string(" (") + types[i] + ")";
    }
  }
  queue(nullptr, printable(shown) + ": refused: " + printable(why));
}

}  // namespace

std::unique_ptr<ControlSource> openOscControls(int port, std::ostream& err, std::string* error) {
  {
    std::lock_guard<std::mutex> hold(startLock);
    startError.clear();
  }
  const std::string number = std::to_string(port);
  lo_server_thread server = lo_server_thread_new(number.c_str(), serverError);
  if (server == nullptr) {
    std::lock_guard<std::mutex> hold(startLock);
    *error = "--osc-in " + number + ": cannot listen on that UDP port" +
             (startError.empty() ? "" : ": " + startError);
    return nullptr;
  }
  auto controls = std::make_unique<OscControls>(server, err);
  controls->start();
  return controls;
}

}  // namespace kinetiscan::play
