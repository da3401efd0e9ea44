// kinetiscan-play's live outputs as another program sees them: the OSC messages of a run caught
// by a liblo server on 127.0.0.1 and checked against regions.csv, and the --show window under an
// Xvfb of the test's own, screenshotted and closed from outside.
#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <png.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "live_window.h"
#include "play_test_support.h"
#include "plugin_session.h"
#include "stage_labels.h"
#include "xvfb_support.h"

// Last: Xlib's macros (None, Bool, Status) would clash with names in the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace kinetiscan::play {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::vector<std::string>> csvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

struct Message {
  std::string path, types;
  std::vector<double> values;
};

struct Inbox {
  std::mutex lock;
  std::vector<Message> messages;
};

int receive(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* data) {
  Message message{path, types, {}};
  for (int i = 0; i < argc; ++i) {
    // liblo's arguments sit at 4-byte offsets of its buffer, not at lo_arg's alignment.
    std::int32_t integer = 0;
    float real = 0;
    std::memcpy(types[i] == LO_INT32 ? static_cast<void*>(&integer) : &real, argv[i], 4);
    message.values.push_back(types[i] == LO_INT32 ? integer : types[i] == LO_FLOAT ? real : -1e9);
  }
  auto* inbox = static_cast<Inbox*>(data);
  std::lock_guard<std::mutex> hold(inbox->lock);
  inbox->messages.push_back(message);
  return 0;
}

using LiveOutput = XvfbFolder;

TEST_F(LiveOutput, OscCarriesEachFramesRegionsAsRegionsCsvHasThem) {
  Inbox inbox;
  lo_server_thread server = lo_server_thread_new_with_proto(nullptr, LO_UDP, nullptr);
  ASSERT_NE(server, nullptr);
  lo_server_thread_add_method(server, nullptr, nullptr, receive, &inbox);
  lo_server_thread_start(server);
  const int port = lo_server_thread_get_port(server);
  const int code =
      runProgram("--frames 40 --rate 0 --quiet --png-at none --gif-every 0 --osc 127.0.0.1:" +
                     std::to_string(port),
                 "timeout 120");
  // Loopback datagrams are all there within moments; wait until none has come for 200 ms.
  std::size_t seen = 0;
  for (const auto end = Clock::now() + std::chrono::seconds(5); Clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::lock_guard<std::mutex> hold(inbox.lock);
    if (inbox.messages.size() == seen) break;
    seen = inbox.messages.size();
  }
  lo_server_thread_stop(server);
  lo_server_thread_free(server);
  ASSERT_EQ(code, 0) << read("stderr.txt");

  const auto regions = csvRows(read("out/regions.csv"));
  ASSERT_GT(regions.size(), 60u) << "the scene's discs";
  std::size_t row = 0;
  int frame = -1;
  double lastTime = 0;
  for (const Message& m : inbox.messages) {
    if (m.path == "/kinetiscan/frame") {
      ASSERT_EQ(m.types, "ifi");
      EXPECT_EQ(m.values[0], ++frame) << "frames in order, none lost";
      EXPECT_GE(m.values[1], lastTime) << "seconds since the run began";
      lastTime = m.values[1];
      int count = 0;
      while (row + count < regions.size() && std::stoi(regions[row + count][0]) == frame) ++count;
      EXPECT_EQ(m.values[2], count) << "frame " << frame;
      continue;
    }
    if (m.path == "/kinetiscan/enter" || m.path == "/kinetiscan/leave") continue;
    ASSERT_EQ(m.path, "/kinetiscan/region");
    ASSERT_EQ(m.types, "iiiiiffffff");
    ASSERT_LT(row, regions.size());
    const auto& r = regions[row++];
    SCOPED_TRACE("regions.csv row " + std::to_string(row));
    EXPECT_EQ(std::stoi(r[0]), frame);
    // Id and box in picture pixels, then the centre and the box as fractions of 160x120.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(m.values[i], std::stoi(r[i == 0 ? 4 : 10 + i]));
    EXPECT_FLOAT_EQ(m.values[5], (std::stoi(r[6]) + 0.5f) / 160) << "horizontal";
    EXPECT_FLOAT_EQ(m.values[6], (std::stoi(r[5]) - 1 + 0.5f) / 120) << "vertical, one above";
    EXPECT_FLOAT_EQ(m.values[7], std::stoi(r[11]) / 160.0f);
    EXPECT_FLOAT_EQ(m.values[8], std::stoi(r[12]) / 120.0f);
    EXPECT_FLOAT_EQ(m.values[9], std::stoi(r[13]) / 160.0f);
    EXPECT_FLOAT_EQ(m.values[10], std::stoi(r[14]) / 120.0f);
  }
  EXPECT_EQ(frame, 39);
  EXPECT_EQ(row, regions.size());
  // A bundle per frame, and one more in which the ids still present leave.
  EXPECT_NE(read("out/summary.txt").find(" messages in 41 bundles sent to"), std::string::npos)
      << read("out/summary.txt");
}

// Datagrams reach a listener of either address family: Debian's liblo alone sends nothing to an
// IPv6 address, and the run once said "0 messages sent" with exit 0.
TEST_F(LiveOutput, OscReachesListenersOfBothAddressFamilies) {
  struct Case {
    int family;
    const char* host;
  };
  for (const Case& c : {Case{AF_INET, "127.0.0.1"}, Case{AF_INET6, "::1"}}) {
    SCOPED_TRACE(c.host);
    const int listener = socket(c.family, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_storage address{};
    socklen_t length = c.family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    address.ss_family = static_cast<sa_family_t>(c.family);
    inet_pton(c.family, c.host,
              c.family == AF_INET
                  ? static_cast<void*>(&reinterpret_cast<sockaddr_in*>(&address)->sin_addr)
                  : &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0) {
      GTEST_SKIP() << "no " << c.host << " loopback here";
    }
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int port =
        ntohs(c.family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                  : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    const std::string target =
        (c.family == AF_INET ? std::string(c.host) : "[" + std::string(c.host) + "]") + ":" +
        std::to_string(port);
    std::filesystem::remove_all(path("out"));
    ASSERT_EQ(runProgram("--frames 20 --rate 0 --quiet --gif-every 0 --osc " + target), 0)
        << read("stderr.txt");
    int frames = 0, datagrams = 0;
    char buffer[2048];
    for (ssize_t got; (got = recv(listener, buffer, sizeof buffer, 0)) > 0; ++datagrams) {
      // A bundle: "#bundle", the time tag, then the frame message first.
      ASSERT_GT(got, 20);
      ASSERT_EQ(std::string(buffer), "#bundle");
      frames += std::string(buffer + 20) == "/kinetiscan/frame";
    }
    close(listener);
    EXPECT_EQ(frames, 20);
    EXPECT_NE(read("out/summary.txt").find(std::to_string(datagrams) + " bundles sent to"),
              std::string::npos)
        << read("out/summary.txt");
  }
}

Picture readPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return picture;
  image.format = PNG_FORMAT_RGB;
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) == 0) return {};
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  return picture;
}

// The top-level window of that name, or 0.
Window findWindow(Display* display, const char* name) {
  Window root, parent, *children = nullptr, found = 0;
  unsigned count = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) {
    return 0;
  }
  // The last of that name: children come bottom to top, and a replaced window lies below its
  // successor.
  for (unsigned i = 0; i < count; ++i) {
    char* title = nullptr;
    if (XFetchName(display, children[i], &title) != 0 && title != nullptr) {
      if (std::string(title) == name) found = children[i];
      XFree(title);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

// What the X server shows in the window, as a real screenshot takes it; empty if it cannot.
Picture screenshot(Display* display, Window window) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) == 0 ||
      attributes.map_state != IsViewable) {
    return {};
  }
  XImage* image =
      XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  Picture picture{attributes.width, attributes.height, {}};
  if (image == nullptr) return {};
  auto channel = [](unsigned long pixel, unsigned long mask) {
    return static_cast<std::uint8_t>((pixel & mask) >> __builtin_ctzl(mask));
  };
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      picture.rgb.push_back(channel(pixel, image->red_mask));
      picture.rgb.push_back(channel(pixel, image->green_mask));
      picture.rgb.push_back(channel(pixel, image->blue_mask));
    }
  }
  XDestroyImage(image);
  return picture;
}

TEST_F(LiveOutput, TheWindowShowsTheStageScaledUpAndEscapeEndsTheRunKeepingIt) {
  const std::string display = startXvfb();
  ASSERT_NE(display, "") << "Xvfb did not start: " << read("xvfb.log");
  Display* server = openDisplay(display);
  ASSERT_NE(server, nullptr);

  // Without a display, one clear line and nothing written.
  const std::string command = "cd '" + folder_.string() +
                              "' && env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER DISPLAY= '" +
                              KINETISCAN_PLAY_PROGRAM "' --show --frames 5 2>nodisplay.txt";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1);
  EXPECT_NE(read("nodisplay.txt").find("--show: no display"), std::string::npos)
      << read("nodisplay.txt");
  EXPECT_FALSE(std::filesystem::exists(path("out")));

  ::setenv("DISPLAY", display.c_str(), 1);
  // The sanitizer build's leak check is off for this run alone: libraries SDL loads and unloads
  // keep allocations to the end that it cannot even name.
  int code = -1;
  std::thread run([&] {
    code = runProgram(
        "--show --frames 600 --rate 100 --quiet --png-every 1 --png-at none "
        "--gif-every 0",
        "ASAN_OPTIONS=detect_leaks=0 timeout 120");
  });
  Window window = 0;
  Picture shot;
  for (const auto end = Clock::now() + std::chrono::seconds(30);
       window == 0 && Clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    window = findWindow(server, "kinetiscan-play");
    if (window != 0) shot = screenshot(server, window);  // once it is on screen
    if (shot.rgb.empty()) window = 0;
  }
  EXPECT_NE(window, 0u) << "no window appeared";
  if (window != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // frames with discs
    // The window may have been replaced meanwhile (a loaded machine has seen it unmapped): take the
    // one of that name on screen now.
    for (const auto end = Clock::now() + std::chrono::seconds(10);
         (shot = screenshot(server, window)).rgb.empty() && Clock::now() < end;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (Window now = findWindow(server, "kinetiscan-play"); now != 0) window = now;
    }
    pressKey(server, "kinetiscan-play", XK_Escape);
  }
  run.join();  // a run not stopped ends by itself after its 600 frames
  ::unsetenv("DISPLAY");
  XCloseDisplay(server);
  ASSERT_FALSE(shot.rgb.empty());

  // The window holds the labelled stage scaled by a whole factor, each pixel a uniform block.
  const int height = kStageHeight + 2 * kBandHeight;
  const int scale = shot.width / 640;
  ASSERT_GE(scale, 1);
  ASSERT_EQ(shot.width, 640 * scale);
  ASSERT_EQ(shot.height, (height + LiveWindow::kControlLines * kBandHeight) * scale)
      << "the stage, then the lines of the controls";
  Picture small{640, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < 640; ++x) {
      const std::uint8_t* corner = &shot.rgb[(std::size_t(y * scale) * shot.width + x * scale) * 3];
      const std::uint8_t* far =
          &shot.rgb[(std::size_t(y * scale + scale - 1) * shot.width + x * scale + scale - 1) * 3];
      ASSERT_TRUE(std::equal(corner, corner + 3, far)) << x << "," << y;
      small.rgb.insert(small.rgb.end(), corner, corner + 3);
    }
  }
  // The four views, ids included, are those of one frame's stage PNG; the band above also says
  // the frames per second, so only the views are compared.
  EXPECT_EQ(code, 0) << read("stderr.txt");
  const std::string summary = read("out/summary.txt");
  EXPECT_NE(summary.find("by closing the window"), std::string::npos) << summary;
  int matching = -1;
  for (const auto& entry : std::filesystem::directory_iterator(path("out"))) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("stage-", 0) != 0) continue;
    const Picture stage = readPng(entry.path().string());
    ASSERT_EQ(stage.height, height) << name;
    const auto views = [](const Picture& p) {
      return std::vector<std::uint8_t>(p.rgb.begin() + 640 * kBandHeight * 3,
                                       p.rgb.end() - 640 * kBandHeight * 3);
    };
    if (views(stage) == views(small)) matching = std::stoi(name.substr(6, 4));
  }
  EXPECT_GE(matching, 5) << "the window shows a stage PNG's views, once the discs are in";
}

// Xlib ends a process whose display goes away; the run ends after its frame as closing the window
// does, keeping everything (it once exited 1 with "X connection to :92 broken", nothing kept).
TEST_F(LiveOutput, ALostDisplayEndsTheRunKeepingIt) {
  const std::string display = startXvfb();
  ASSERT_NE(display, "") << "Xvfb did not start: " << read("xvfb.log");
  int code = -1;
  std::thread run([&] {
    code = runProgram("--show --frames 600 --rate 50 --quiet --gif-every 0",
                      "DISPLAY=" + display + " ASAN_OPTIONS=detect_leaks=0 timeout 120");
  });
  // Frames are being played once the track log has a few.
  for (const auto end = Clock::now() + std::chrono::seconds(60); Clock::now() < end;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    bool playing = false;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      std::ifstream log(entry.path() / "track.csv");
      playing |= std::count(std::istreambuf_iterator<char>(log), {}, '\n') > 10;
    }
    if (playing) break;
  }
  stopXvfb();
  run.join();
  EXPECT_EQ(code, 0) << read("stderr.txt");
  const std::string summary = read("out/summary.txt");
  EXPECT_NE(summary.find("by losing the display"), std::string::npos) << summary;
}

}  // namespace
}  // namespace kinetiscan::play
