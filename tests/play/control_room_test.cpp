// The control room: the live settings' rules, the settings file, the window's keys under an Xvfb
// of the test's own and the OSC input fed by a liblo client, each checked in the track log and
// the summary of a real run.
#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <iostream>
#include <nlohmann/json.hpp>

#include "live_settings.h"
#include "plugin_session.h"
#include "stage_labels.h"
#include "xvfb_support.h"

namespace kinetiscan::play {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTitle = "kinetiscan-play";

TEST(LiveSettings, AcceptWhatTheCommandLineAcceptsAndStepWithinIt) {
  struct Check {
    const char* name;
    double value;
    bool accepted;
    const char* reason;
  };
  for (const Check& c :
       {Check{"sensitivity", 0, true, ""}, Check{"sensitivity", -0.01, false, "0 or more"},
        Check{"sensitivity", NAN, false, "finite"}, Check{"adaptivity", 1, true, ""},
        Check{"adaptivity", 1e9, true, ""}, Check{"adaptivity", 0.99, false, "1 "},
        Check{"adaptivity", 2e9, false, "1e9"}, Check{"adaptivity", INFINITY, false, "finite"},
        Check{"mindensity", 0, true, ""}, Check{"mindensity", 10.5, false, "whole"},
        Check{"mindensity", -10, false, "whole"}, Check{"mindensity", 3e9, false, "whole"},
        Check{"loclist", 1, false, "not a live setting"}}) {
    std::string reason;
    EXPECT_EQ(checkSetting(c.name, c.value, &reason), c.accepted) << c.name << " " << c.value;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
  }
  struct Step {
    const char* name;
    double from;
    int steps;
    double to;
  };
  for (const Step& s : {Step{"sensitivity", 0.5, 1, 0.55}, Step{"sensitivity", 0.02, -1, 0},
                        Step{"sensitivity", 0.5, 8, 0.9}, Step{"mindensity", 100, -1, 90},
                        Step{"mindensity", 5, -1, 0}, Step{"adaptivity", 1000, 1, 1250},
                        Step{"adaptivity", 1000, -1, 800}, Step{"adaptivity", 1.1, -1, 1},
                        Step{"adaptivity", 9e8, 1, 1e9}}) {
    EXPECT_DOUBLE_EQ(steppedSetting(s.name, s.from, s.steps), s.to) << s.name << " " << s.from;
  }
  // Up and down again comes back exactly, so a display of %g never shows 0.5000001.
  EXPECT_EQ(steppedSetting("sensitivity", steppedSetting("sensitivity", 0.5, 3), -3), 0.5);
}

class ControlRoom : public XvfbFolder {
 protected:
  // The track log of the run so far: the staging folder's while it plays.
  std::vector<nlohmann::json> records(bool finished) const {
    std::vector<nlohmann::json> lines;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      const std::string name = entry.path().filename().string();
      if (finished ? name != "out" : name.rfind(".out.", 0) != 0) continue;
      std::ifstream log(entry.path() / "track.jsonl");
      for (std::string line; std::getline(log, line);) {
        const auto record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_object()) lines.push_back(record);
      }
    }
    return lines;
  }
  std::size_t framesSoFar() const { return records(false).size(); }
  void waitForFrames(std::size_t count) const {
    for (const auto end = Clock::now() + std::chrono::seconds(60);
         framesSoFar() < count && Clock::now() < end;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  // Pauses hold the frame count still; one step plays exactly one more.
  void expectPausedThenOneStep(const std::function<void()>& step) const {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const std::size_t paused = framesSoFar();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(framesSoFar(), paused) << "no frame while paused";
    step();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(framesSoFar(), paused + 1) << "one frame per step";
  }
};

// The frames of the property's sets, in order, with the value the member answered afterwards.
std::vector<std::pair<int, double>> setsOf(const std::vector<nlohmann::json>& log,
                                           const std::string& property) {
  std::vector<std::pair<int, double>> sets;
  for (const auto& record : log) {
    for (const auto& call : record["calls"]) {
      if (call["method"] == "set" && call["arguments"][0] == property) {
        const auto& value = call["value"];
        sets.emplace_back(record["frame"].get<int>(), value.contains("float")
                                                          ? value["float"].get<double>()
                                                          : value["integer"].get<double>());
      }
    }
  }
  return sets;
}

int regionsAt(const std::vector<nlohmann::json>& log, int frame) {
  return static_cast<int>(log.at(frame)["loclist"].size());
}

// A set made after frame F's reads shows from frame F + 1: F still found the discs, and no frame
// after the last set finds anything at a sensitivity nothing passes (up to `until`, where a new
// background would make differences of its own).
void expectEffectFromNextFrame(const std::vector<nlohmann::json>& log, int first, int last,
                               int until, const char* by) {
  ASSERT_LT(last + 1, static_cast<int>(log.size()));
  EXPECT_GT(regionsAt(log, first), 0) << "frame " << first << " was read before the set";
  int firstEmpty = -1;
  for (int frame = first; frame < static_cast<int>(log.size()) && firstEmpty < 0; ++frame) {
    if (regionsAt(log, frame) == 0) firstEmpty = frame;
  }
  for (int frame = last + 1; frame < until; ++frame) {
    EXPECT_EQ(regionsAt(log, frame), 0) << "frame " << frame;
  }
  std::cout << "[ figures  ] " << by << ": set recorded at frame " << first << ", first frame "
            << "without regions " << firstEmpty << " (" << firstEmpty - first << " frame later)\n";
}

TEST_F(ControlRoom, SettingsFilesAreCheckedAndTheCommandLineWinsOverThem) {
  struct Case {
    const char* file;
    const char* arguments;
    int code;
    const char* expected;  // in the summary when the run succeeds, else on standard error
  };
  for (const Case& c : {
           Case{R"({"sensitivity": 0.7, "mindensity": 120, "adaptivity": 250})", "", 0,
                "adaptivity 250, sensitivity 0.7, mindensity 120"},
           Case{R"({"sensitivity": 0.7, "mindensity": 120})", "--mindensity 90 --sensitivity 0.6",
                0, "adaptivity 1000, sensitivity 0.6, mindensity 90"},
           Case{R"({})", "", 0, "adaptivity 1000, sensitivity 0.5, mindensity 100"},
           Case{R"({"sensitivity": -1})", "", 2, "sensitivity must be 0 or more"},
           Case{R"({"adaptivity": 0.5})", "", 2, "adaptivity runs from 1"},
           Case{R"({"mindensity": 10.5})", "", 2, "whole number"},
           Case{R"({"mindensity": "100"})", "", 2, "'mindensity' is not a number"},
           Case{R"({"sensitivty": 0.5})", "", 2, "'sensitivty' is not a live setting"},
           Case{R"([0.5])", "", 2, "not a settings file"},
           Case{"{\"sensitivity\": 0.5", "", 2, "not a settings file"},
           Case{nullptr, "", 2, "cannot read it"},
       }) {
    SCOPED_TRACE(c.file != nullptr ? c.file : "(no file)");
    std::filesystem::remove(path("settings.json"));
    if (c.file != nullptr) writeFile("settings.json", c.file);
    std::filesystem::remove_all(path("out"));
    const int code = runProgram(std::string("--settings settings.json --frames 3 --rate 0 --quiet "
                                            "--gif-every 0 --png-at none ") +
                                c.arguments);
    EXPECT_EQ(code, c.code) << read("stderr.txt");
    const std::string said = read(c.code == 0 ? "out/summary.txt" : "stderr.txt");
    EXPECT_NE(said.find(c.expected), std::string::npos) << said;
    if (c.code != 0) {
      EXPECT_FALSE(std::filesystem::exists(path("out")));
    }
  }
}

TEST_F(ControlRoom, WindowKeysChangeTheMemberPauseStepAndKeepTheSettings) {
  const std::string display = startXvfb();
  ASSERT_NE(display, "") << "Xvfb did not start: " << read("xvfb.log");
  Display* server = openDisplay(display);
  ASSERT_NE(server, nullptr);
  int code = -1;
  std::thread run([&] {
    code = runProgram(
        "--show --frames 1500 --rate 100 --quiet --gif-every 0 --png-at none "
        "--sensitivity 0.8",
        "DISPLAY=" + display + " ASAN_OPTIONS=detect_leaks=0 timeout 200");
  });
  Window window = 0;
  for (const auto end = Clock::now() + std::chrono::seconds(60);
       window == 0 && Clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    window = findMappedWindow(server, kTitle);
  }
  EXPECT_NE(window, 0u) << "no window appeared";
  std::size_t pressedAt = 0, pausedAt = 0;
  if (window != 0) {
    waitForFrames(20);  // the discs are in
    // The control lines are drawn under the labelled stage, in the window alone.
    const Window shown = findMappedWindow(server, kTitle);
    XWindowAttributes attributes{};
    XGetWindowAttributes(server, shown, &attributes);
    const int scale = attributes.width / kStageWidth;
    EXPECT_GT(greyPixelsBelow(server, shown, (kStageHeight + 2 * kBandHeight) * scale), 500);
    pressedAt = framesSoFar();
    pressKey(server, kTitle, XK_4);                              // mindensity 100 -> 110
    for (int i = 0; i < 8; ++i) pressKey(server, kTitle, XK_2);  // sensitivity 0.8 -> 1.2
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    pressKey(server, kTitle, XK_space);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pausedAt = framesSoFar();
    pressKey(server, kTitle, XK_b);  // the background, taken with the one frame stepped
    expectPausedThenOneStep([&] { pressKey(server, kTitle, XK_n); });
    pressKey(server, kTitle, XK_w);
    for (const auto end = Clock::now() + std::chrono::seconds(10);
         !std::filesystem::exists(path(kSettingsFile)) && Clock::now() < end;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    pressKey(server, kTitle, XK_space);
    const std::size_t resumed = framesSoFar();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_GT(framesSoFar(), resumed) << "playing again";
    pressKey(server, kTitle, XK_Escape);
  }
  run.join();
  XCloseDisplay(server);
  ASSERT_EQ(code, 0) << read("stderr.txt");

  const auto log = records(true);
  const auto sensitivity = setsOf(log, "sensitivity");
  ASSERT_EQ(sensitivity.size(), 8u);
  EXPECT_FLOAT_EQ(sensitivity.back().second, 1.2f);
  EXPECT_GE(sensitivity.front().first, static_cast<int>(pressedAt));
  std::cout << "[ figures  ] keys pressed during frame " << pressedAt << ", recorded at frame "
            << sensitivity.front().first << "\n";
  expectEffectFromNextFrame(log, sensitivity.front().first, sensitivity.back().first,
                            static_cast<int>(pausedAt), "keys");
  const auto mindensity = setsOf(log, "mindensity");
  ASSERT_EQ(mindensity.size(), 1u);
  EXPECT_EQ(mindensity[0].second, 110);
  const std::string summary = read("out/summary.txt");
  EXPECT_NE(summary.find("live changes: 10 (mindensity 100 -> 110 at frame"), std::string::npos)
      << summary;
  // A call asked for while paused waits for the frame stepped, and is made after its reads.
  ASSERT_GT(log.size(), pausedAt);
  EXPECT_EQ(log[pausedAt]["calls"].size(), 1u);
  EXPECT_EQ(log[pausedAt]["calls"][0]["method"], "adapt");
  EXPECT_NE(summary.find("adapt at frame " + std::to_string(pausedAt) + " by key"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("sensitivity 0.8 -> 0.85 at frame"), std::string::npos) << summary;
  EXPECT_NE(summary.find("paused:      1 times, 1 single frames"), std::string::npos) << summary;
  EXPECT_NE(summary.find("sensitivity 1.2, mindensity 110"), std::string::npos) << summary;
  const std::string line = "--sensitivity 1.2 --mindensity 110 --adaptivity 1000";
  EXPECT_NE(read("stderr.txt")
                .find("settings written to kinetiscan-settings.json; on the command "
                      "line: " +
                      line),
            std::string::npos)
      << read("stderr.txt");

  // The file gives the next run the same values, and so does the command line printed.
  for (const std::string& arguments : {std::string("--settings kinetiscan-settings.json"), line}) {
    std::filesystem::remove_all(path("out"));
    ASSERT_EQ(runProgram(arguments + " --frames 3 --rate 0 --quiet --gif-every 0"), 0)
        << read("stderr.txt");
    EXPECT_NE(read("out/summary.txt").find("adaptivity 1000, sensitivity 1.2, mindensity 110"),
              std::string::npos)
        << arguments << "\n"
        << read("out/summary.txt");
  }
}

int freeUdpPort() {
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(probe, reinterpret_cast<sockaddr*>(&address), length);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);
  return ntohs(address.sin_port);
}

TEST_F(ControlRoom, OscInputSetsAdaptsPausesAndRefusesWithAReason) {
  const int port = freeUdpPort();
  int code = -1;
  std::thread run([&] {
    code = runProgram("--frames 160 --rate 50 --quiet --gif-every 0 --png-at none --osc-in " +
                          std::to_string(port),
                      "timeout 200");
  });
  lo_address to = lo_address_new("127.0.0.1", std::to_string(port).c_str());
  waitForFrames(20);
  // Refused, each with its reason on standard error, and nothing applied.
  struct Refusal {
    std::function<int()> send;
    const char* logged;
  };
  const std::vector<Refusal> refusals = {
      {[&] { return lo_send(to, "/kinetiscan/set", "sf", "bogus", 1.0f); },
       "/kinetiscan/set bogus 1: refused: 'bogus' is not a live setting"},
      {[&] { return lo_send(to, "/kinetiscan/set", "sf", "sensitivity", NAN); },
       "/kinetiscan/set sensitivity nan: refused: sensitivity must be a finite number"},
      {[&] { return lo_send(to, "/kinetiscan/set", "sd", "adaptivity", 0.5); },
       "/kinetiscan/set adaptivity 0.5: refused: adaptivity runs from 1"},
      {[&] { return lo_send(to, "/kinetiscan/set", "sf", "mindensity", 10.5f); },
       "/kinetiscan/set mindensity 10.5: refused: mindensity must be a whole number"},
      {[&] { return lo_send(to, "/kinetiscan/set", "ss", "mindensity", "many"); },
       "/kinetiscan/set mindensity many: refused: takes a name and a number"},
      {[&] { return lo_send(to, "/kinetiscan/set", "i", 3); },
       "/kinetiscan/set 3: refused: takes a name and a number"},
      {[&] { return lo_send(to, "/kinetiscan/adapt", "i", 1); },
       "/kinetiscan/adapt 1: refused: takes no arguments"},
      {[&] { return lo_send(to, "/kinetiscan/pause", "i", 2); },
       "/kinetiscan/pause 2: refused: takes nothing"},
      {[&] { return lo_send(to, "/kinetiscan/quit", ""); },
       "/kinetiscan/quit: refused: not an address of ours"},
  };
  for (const Refusal& refusal : refusals) EXPECT_GT(refusal.send(), 0);
  // A sender wrong on every frame does not fill the terminal.
  for (int i = 0; i < 60; ++i) lo_send(to, "/kinetiscan/frame", "ifi", i, 0.0f, 0);
  const std::size_t sentAt = framesSoFar();
  lo_send(to, "/kinetiscan/set", "si", "mindensity", 120);
  lo_send(to, "/kinetiscan/set", "sf", "sensitivity", 3.5f);  // nothing can move any more
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  lo_send(to, "/kinetiscan/pause", "");
  expectPausedThenOneStep([&] { lo_send(to, "/kinetiscan/step", ""); });
  lo_send(to, "/kinetiscan/pause", "i", 0);
  lo_send(to, "/kinetiscan/adapt", "");
  run.join();
  lo_address_free(to);
  ASSERT_EQ(code, 0) << read("stderr.txt");

  const std::string errors = read("stderr.txt");
  for (const Refusal& refusal : refusals) {
    EXPECT_NE(errors.find(std::string("kinetiscan-play: --osc-in: ") + refusal.logged),
              std::string::npos)
        << refusal.logged << "\n"
        << errors;
  }
  auto count = [&errors](const std::string& text) {
    std::size_t found = 0;
    for (std::size_t at = errors.find(text); at != std::string::npos;
         at = errors.find(text, at + 1)) {
      ++found;
    }
    return found;
  };
  EXPECT_EQ(count(": refused: "), 50u) << errors;
  EXPECT_EQ(count("more refusals are not shown"), 1u) << errors;
  const auto log = records(true);
  EXPECT_EQ(log.size(), 160u) << "resumed and played to the end";
  const auto sensitivity = setsOf(log, "sensitivity");
  ASSERT_EQ(sensitivity.size(), 1u) << "the refused ones not applied";
  EXPECT_EQ(sensitivity[0].second, 3.5);
  std::cout << "[ figures  ] OSC sent during frame " << sentAt << ", recorded at frame "
            << sensitivity[0].first << "\n";
  expectEffectFromNextFrame(log, sensitivity[0].first, sensitivity[0].first,
                            static_cast<int>(log.size()), "OSC");
  EXPECT_EQ(setsOf(log, "mindensity"),
            (std::vector<std::pair<int, double>>{{sensitivity[0].first, 120}}));
  EXPECT_TRUE(setsOf(log, "adaptivity").empty());
  const std::string summary = read("out/summary.txt");
  EXPECT_NE(summary.find("live changes: 3 (mindensity 100 -> 120 at frame " +
                         std::to_string(sensitivity[0].first) +
                         " by OSC, sensitivity 0.5 -> 3.5 at frame " +
                         std::to_string(sensitivity[0].first) + " by OSC, adapt at frame"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("paused:      1 times, 1 single frames"), std::string::npos) << summary;
  EXPECT_NE(summary.find("script calls: 1 made"), std::string::npos) << summary;
}

TEST_F(ControlRoom, ATakenOscInPortIsRefusedBeforeAnythingIsWritten) {
  lo_server_thread taken = lo_server_thread_new_with_proto(nullptr, LO_UDP, nullptr);
  ASSERT_NE(taken, nullptr);
  const int port = lo_server_thread_get_port(taken);
  EXPECT_EQ(runProgram("--frames 3 --rate 0 --osc-in " + std::to_string(port)), 1);
  lo_server_thread_free(taken);
  EXPECT_NE(read("stderr.txt").find("--osc-in " + std::to_string(port) + ": cannot listen"),
            std::string::npos)
      << read("stderr.txt");
  EXPECT_FALSE(std::filesystem::exists(path("out")));
}

}  // namespace
}  // namespace kinetiscan::play
