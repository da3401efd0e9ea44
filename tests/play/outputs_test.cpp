// The live outputs as a receiver decodes them, byte by byte against the published layouts: OSC
// bundles (time tag, order, enter/leave) to two receivers, TUIO 1.1 blobs, and the track logs'
// region objects and timestamps, all on the crossing scene where regions merge and split.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "osc_bundle.h"
#include "osc_sender.h"
#include "play_test_support.h"
#include "track_log.h"
#include "udp_target.h"

namespace kinetiscan::play {
namespace {

// An OSC argument: int32 (i), float32 (f) or string (s).
struct Argument {
  char type;
  double number;
  std::string text;
};
struct Message {
  std::string path, types;
  std::vector<Argument> arguments;
};
struct Bundle {
  std::uint32_t seconds = 0, fraction = 0;
  std::vector<Message> messages;
};

std::uint32_t bigEndian(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

// An OSC string: terminated, padded to a multiple of four bytes.
std::string oscString(const std::string& bytes, std::size_t* at) {
  const std::size_t end = bytes.find('\0', *at);
  if (end == std::string::npos) throw std::runtime_error("unterminated string");
  std::string text = bytes.substr(*at, end - *at);
  *at = (end + 4) & ~std::size_t{3};
  return text;
}

Message decodeMessage(const std::string& bytes) {
  std::size_t at = 0;
  Message message;
  message.path = oscString(bytes, &at);
  message.types = oscString(bytes, &at);
  if (message.types.empty() || message.types[0] != ',') throw std::runtime_error("no type tags");
  message.types.erase(0, 1);
  for (char type : message.types) {
    Argument argument{type, 0, ""};
    if (type == 's') {
      argument.text = oscString(bytes, &at);
    } else {
      const std::uint32_t raw = bigEndian(bytes, at);
      at += 4;
      float real;
      std::memcpy(&real, &raw, 4);
      argument.number = type == 'i' ? static_cast<std::int32_t>(raw) : real;
      if (type != 'i' && type != 'f') throw std::runtime_error("unexpected type");
    }
    message.arguments.push_back(argument);
  }
  if (at != bytes.size()) throw std::runtime_error("trailing bytes");
  return message;
}

// "#bundle", the time tag (seconds since 1900, then the fraction), then size-prefixed messages.
Bundle decodeBundle(const std::string& bytes) {
  if (bytes.compare(0, 8, std::string("#bundle\0", 8)) != 0) throw std::runtime_error("no bundle");
  Bundle bundle{bigEndian(bytes, 8), bigEndian(bytes, 12), {}};
  for (std::size_t at = 16; at < bytes.size();) {
    const std::uint32_t size = bigEndian(bytes, at);
    bundle.messages.push_back(decodeMessage(bytes.substr(at + 4, size)));
    at += 4 + size;
  }
  return bundle;
}

class Listener {
 public:
  Listener() {
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(socket_, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(socket_); }
  std::string target() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string port() const { return std::to_string(port_); }
  std::vector<std::string> datagrams() {
    std::vector<std::string> all;
    char buffer[65536];
    for (ssize_t got; (got = recv(socket_, buffer, sizeof buffer, 0)) > 0;) {
      all.emplace_back(buffer, static_cast<std::size_t>(got));
    }
    return all;
  }

 private:
  int socket_ = -1;
  int port_ = 0;
};

std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// Seconds since 1970, from an OSC time tag.
double unixSeconds(const Bundle& bundle) {
  return bundle.seconds - 2208988800.0 + bundle.fraction / 4294967296.0;
}

TEST(OscTime, TimeTagsAndWallTimeCountFromTheirEpochs) {
  const lo_timetag start = oscTimeTag(0);
  EXPECT_EQ(start.sec, 2208988800u) << "NTP counts from 1900";
  EXPECT_EQ(start.frac, 0u);
  const lo_timetag half = oscTimeTag(1765305735500000);
  EXPECT_EQ(half.sec, 1765305735u + 2208988800u);
  EXPECT_EQ(half.frac, 1u << 31) << "half a second";
  EXPECT_EQ(isoTime(1765305735123456), "2025-12-09T18:42:15.123Z");
  EXPECT_EQ(isoTime(1765305735000999), "2025-12-09T18:42:15.000Z");
}

// A frame with many regions takes several bundles, each fitting a receiver's datagram, the
// head in every one and the tail (TUIO's fseq) closing the last.
TEST(OscTime, LargeFramesSplitIntoBundlesThatFitADatagram) {
  Listener listener;
  std::vector<std::unique_ptr<UdpTarget>> targets;
  targets.push_back(std::make_unique<UdpTarget>());
  std::string error;
  ASSERT_TRUE(targets[0]->open("--osc", "127.0.0.1", listener.port(), &error)) << error;
  auto item = [](const char* path, int value) {
    lo_message message = lo_message_new();
    lo_message_add_int32(message, value);
    return OscItem{path, message};
  };
  std::vector<OscItem> body;
  for (int i = 0; i < 500; ++i) body.push_back(item("/kinetiscan/region", i));
  const int bundles =
      sendBundles(oscTimeTag(0), {item("/head", -1)}, body, {item("/tail", -2)}, targets);
  const auto datagrams = listener.datagrams();
  ASSERT_EQ(static_cast<int>(datagrams.size()), bundles);
  ASSERT_GT(bundles, 1);
  int next = 0;
  for (std::size_t d = 0; d < datagrams.size(); ++d) {
    EXPECT_LE(datagrams[d].size(), kMaxBundleBytes);
    const Bundle bundle = decodeBundle(datagrams[d]);
    EXPECT_EQ(bundle.messages.front().path, "/head");
    EXPECT_EQ(bundle.messages.back().path == "/tail", d + 1 == datagrams.size());
    for (const Message& m : bundle.messages) {
      if (m.path == "/kinetiscan/region") {
        EXPECT_EQ(m.arguments[0].number, next++);
      }
    }
  }
  EXPECT_EQ(next, 500) << "every region once, in order";
}

class Outputs : public ScratchFolder {};

// One run on the crossing scene, to two OSC receivers and a TUIO one; everything they got is
// checked against track.jsonl.
TEST_F(Outputs, BundlesCarryEachFrameAtItsCaptureTimeToEveryReceiver) {
  Listener first, second, tuio;
  ASSERT_EQ(
      runProgram("--scene crossing --frames 120 --rate 0 --quiet --png-at none "
                 "--gif-every 0 --osc " +
                     first.target() + " --osc " + second.target() + " --tuio " + tuio.target(),
                 "timeout 120"),
      0)
      << read("stderr.txt");
  const auto records = jsonLines(read("out/track.jsonl"));
  ASSERT_EQ(records.size(), 120u);
  const auto datagrams = first.datagrams();
  EXPECT_EQ(second.datagrams(), datagrams) << "the same bundles to both receivers";
  ASSERT_GE(datagrams.size(), 120u) << "one bundle per frame";

  std::set<std::int32_t> present;
  int merges = 0, leaves = 0;
  for (std::size_t f = 0; f < records.size(); ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    const nlohmann::json& record = records[f];
    const Bundle bundle = decodeBundle(datagrams[f]);
    // The time tag is the frame's capture time, as wall_time has it to the millisecond.
    const std::int64_t tagMs = static_cast<std::int64_t>(unixSeconds(bundle) * 1000 + 1e-4);
    EXPECT_EQ(isoTime(tagMs * 1000), record["wall_time"].get<std::string>());
    std::set<std::int32_t> now;
    for (const auto& region : record["regions"]) {
      now.insert(region["id"].get<std::int32_t>());
      if (region.contains("merged")) {
        ++merges;
        for (std::int32_t id : region["merged"]) now.insert(id);
      }
    }
    // frame, enter per new id, region per region, leave per id gone, in that order.
    std::vector<std::string> expected{"/kinetiscan/frame"};
    for (std::int32_t id : now) {
      if (present.count(id) == 0) expected.push_back("/kinetiscan/enter " + std::to_string(id));
    }
    for (const auto& region : record["regions"]) {
      expected.push_back("/kinetiscan/region " + std::to_string(region["id"].get<int>()));
    }
    for (std::int32_t id : present) {
      if (now.count(id) == 0)
        expected.push_back("/kinetiscan/leave " + std::to_string(id)), ++leaves;
    }
    std::vector<std::string> got;
    for (const Message& m : bundle.messages) {
      got.push_back(m.path == "/kinetiscan/frame"
                        ? m.path
                        : m.path + " " + std::to_string(static_cast<int>(m.arguments[0].number)));
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(bundle.messages[0].arguments[0].number, record["frame"].get<int>());
    EXPECT_NEAR(bundle.messages[0].arguments[1].number, record["t_ms"].get<double>() / 1000, 2e-6)
        << "the frame's time is when it was delivered, as t_ms";
    present = now;
  }
  EXPECT_GT(merges, 0) << "the crossing scene merges regions";
  (void)leaves;  // none on this scene: ids survive its merges; the next test has them
  // After the last frame every id still present leaves, in one bundle.
  ASSERT_EQ(datagrams.size(), 120u + (present.empty() ? 0 : 1));
  std::vector<std::string> goodbyes, expected;
  if (!present.empty()) {
    for (const Message& m : decodeBundle(datagrams.back()).messages) {
      goodbyes.push_back(m.path + " " + std::to_string(static_cast<int>(m.arguments[0].number)));
    }
  }
  for (std::int32_t id : present) expected.push_back("/kinetiscan/leave " + std::to_string(id));
  EXPECT_EQ(goodbyes, expected);
  EXPECT_FALSE(present.empty()) << "discs are in the picture at the end";
}

// An id merged into another region is still there; it leaves when it is in no region at all.
TEST(OscEnterLeave, IdsEnterAndLeaveOnceEachThroughAMerge) {
  struct Frame {
    std::vector<std::int32_t> ids;
    std::vector<std::vector<std::int32_t>> merged;
    std::vector<std::string> expected;  // enter and leave messages of the frame
  };
  const Frame frames[] = {
      {{1, 2}, {{}, {}}, {"/kinetiscan/enter 1", "/kinetiscan/enter 2"}},
      {{1}, {{2}}, {}},
      {{2, 1}, {{}, {}}, {}},
      {{1, 3}, {{}, {}}, {"/kinetiscan/enter 3", "/kinetiscan/leave 2"}},
      {{}, {}, {"/kinetiscan/leave 1", "/kinetiscan/leave 3"}},
      {{4}, {{}}, {"/kinetiscan/enter 4"}},
  };
  Listener listener;
  OscSender osc;
  std::string error;
  ASSERT_TRUE(osc.open("127.0.0.1", listener.port(), &error)) << error;
  for (const Frame& frame : frames) {
    FrameRecord record;
    record.ids = frame.ids;
    record.merged = frame.merged;
    for (std::size_t i = 0; i < frame.ids.size(); ++i) {
      record.centres.push_back(HostPoint{60, 80});
      record.rects.push_back(HostRect{50, 90, 70, 70});
    }
    osc.send(record);
  }
  osc.finish();  // the run ends: id 4 leaves
  osc.finish();  // and nothing is left to leave
  auto datagrams = listener.datagrams();
  ASSERT_EQ(datagrams.size(), std::size(frames) + 1);
  const std::vector<Message> goodbye = decodeBundle(datagrams.back()).messages;
  ASSERT_EQ(goodbye.size(), 1u);
  EXPECT_EQ(goodbye[0].path, "/kinetiscan/leave");
  EXPECT_EQ(goodbye[0].arguments[0].number, 4);
  datagrams.pop_back();
  for (std::size_t f = 0; f < datagrams.size(); ++f) {
    std::vector<std::string> got;
    for (const Message& m : decodeBundle(datagrams[f]).messages) {
      if (m.path == "/kinetiscan/enter" || m.path == "/kinetiscan/leave") {
        got.push_back(m.path + " " + std::to_string(static_cast<int>(m.arguments[0].number)));
      }
    }
    EXPECT_EQ(got, frames[f].expected) << "frame " << f;
  }
}

// TUIO 1.1 2D blobs: per frame one bundle of /tuio/2Dblb source, alive with every session id,
// a set per blob (s x y a w h f X Y A m r; x, y, w, h as fractions of the picture) and fseq.
TEST_F(Outputs, TuioBlobsFollowThePublishedLayout) {
  Listener tuio;
  ASSERT_EQ(runProgram("--scene crossing --frames 80 --rate 0 --quiet --png-at none "
                       "--gif-every 0 --tuio " +
                           tuio.target(),
                       "timeout 120"),
            0)
      << read("stderr.txt");
  const auto records = jsonLines(read("out/track.jsonl"));
  const auto datagrams = tuio.datagrams();
  // One bundle a frame, and after the last an alive with nobody in it, so blobs do not linger.
  ASSERT_EQ(datagrams.size(), records.size() + 1);
  const Bundle last = decodeBundle(datagrams.back());
  ASSERT_EQ(last.messages.size(), 3u);
  EXPECT_EQ(last.messages[1].types, "s");
  EXPECT_EQ(last.messages[1].arguments[0].text, "alive");
  EXPECT_EQ(last.messages[2].arguments[1].number, static_cast<int>(records.size()) + 1);
  for (std::size_t f = 0; f < records.size(); ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    const Bundle bundle = decodeBundle(datagrams[f]);
    const auto& regions = records[f]["regions"];
    ASSERT_EQ(bundle.messages.size(), regions.size() + 3);
    for (const Message& m : bundle.messages) EXPECT_EQ(m.path, "/tuio/2Dblb");
    EXPECT_EQ(bundle.messages[0].types, "ss");
    EXPECT_EQ(bundle.messages[0].arguments[0].text, "source");
    const Message& alive = bundle.messages[1];
    EXPECT_EQ(alive.types, "s" + std::string(regions.size(), 'i'));
    EXPECT_EQ(alive.arguments[0].text, "alive");
    for (std::size_t i = 0; i < regions.size(); ++i) {
      const auto& region = regions[i];
      EXPECT_EQ(alive.arguments[1 + i].number, region["id"].get<int>());
      const Message& set = bundle.messages[2 + i];
      ASSERT_EQ(set.types, "sifffffffffff");
      EXPECT_EQ(set.arguments[0].text, "set");
      EXPECT_EQ(set.arguments[1].number, region["id"].get<int>());
      const int vertical = region["point"][0], horizontal = region["point"][1];
      const double w = region["box"]["w"].get<int>() / 160.0,
                   h = region["box"]["h"].get<int>() / 120.0;
      EXPECT_FLOAT_EQ(set.arguments[2].number, (horizontal + 0.5) / 160) << "x from the left";
      EXPECT_FLOAT_EQ(set.arguments[3].number, (vertical - 0.5) / 120) << "y from the top";
      EXPECT_EQ(set.arguments[4].number, 0) << "angle";
      EXPECT_FLOAT_EQ(set.arguments[5].number, w);
      EXPECT_FLOAT_EQ(set.arguments[6].number, h);
      EXPECT_FLOAT_EQ(set.arguments[7].number, w * h);
    }
    const Message& fseq = bundle.messages.back();
    EXPECT_EQ(fseq.types, "si");
    EXPECT_EQ(fseq.arguments[0].text, "fseq");
    EXPECT_EQ(fseq.arguments[1].number, static_cast<int>(f) + 1) << "up by one each frame";
  }
}

// Region objects beside the arrays, and timestamps that only go forward in all three files.
TEST_F(Outputs, TrackLogsCarryRegionObjectsAndTimestamps) {
  ASSERT_EQ(runProgram("--scene crossing --frames 80 --rate 0 --quiet --png-at none --gif-every 0",
                       "timeout 120"),
            0)
      << read("stderr.txt");
  const auto records = jsonLines(read("out/track.jsonl"));
  std::istringstream csv(read("out/track.csv")), regionsCsv(read("out/regions.csv"));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line.rfind("frame,t_ms,wall_time,processing_ms,regions,", 0), 0u);
  std::getline(regionsCsv, line);
  EXPECT_EQ(line.rfind("frame,t_ms,wall_time,processing_ms,id,", 0), 0u);
  double lastMs = -1;
  std::string lastWall;
  for (const auto& record : records) {
    SCOPED_TRACE(record.dump());
    const double t = record["t_ms"];
    const std::string wall = record["wall_time"];
    EXPECT_GE(t, lastMs);
    EXPECT_GE(wall, lastWall) << "ISO times sort as text";
    EXPECT_EQ(wall.size(), 24u);
    lastMs = t, lastWall = wall;
    std::getline(csv, line);
    char expected[96];
    std::snprintf(expected, sizeof expected, "%d,%.3f,%s,", record["frame"].get<int>(), t,
                  wall.c_str());
    EXPECT_EQ(line.rfind(expected, 0), 0u) << line;
    ASSERT_EQ(record["regions"].size(), record["ids"].size());
    for (std::size_t i = 0; i < record["ids"].size(); ++i) {
      const auto& region = record["regions"][i];
      EXPECT_EQ(region["id"], record["ids"][i]);
      EXPECT_EQ(region["point"], record["loclist"][i]);
      EXPECT_EQ(region["rect"], record["boundingboxlist"][i]);
      const auto& box = record["boxes_xywh"][i];
      EXPECT_EQ(region["box"],
                (nlohmann::json{{"x", box[0]}, {"y", box[1]}, {"w", box[2]}, {"h", box[3]}}));
      std::getline(regionsCsv, line);
      EXPECT_EQ(line.rfind(expected, 0), 0u) << "regions.csv: " << line;
    }
  }
}

// A receiver none of us wrote: Pd's netreceive and oscparse print each message of our bundles.
TEST_F(Outputs, PureDataDecodesOurBundles) {
  if (std::system("command -v pd >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "pd (Debian's puredata-core) is not installed";
  }
  int port = 0;
  {
    Listener probe;  // a free port, given back for pd to take
    port = std::stoi(probe.port());
  }
  writeFile("receive.pd", "#N canvas 0 0 400 300 12;\n#X obj 10 10 netreceive -u -b " +
                              std::to_string(port) +
                              ";\n#X obj 10 40 oscparse;\n#X obj 10 70 print osc;\n"
                              "#X connect 0 0 1 0;\n#X connect 1 0 2 0;\n");
  const std::string start = "cd '" + folder_.string() +
                            "' && { timeout 60 pd -nogui -noaudio -nomidi -stderr -open receive.pd "
                            "2>pd.txt & echo $! >pd.pid; }";
  ASSERT_EQ(std::system(start.c_str()), 0);
  std::this_thread::sleep_for(std::chrono::seconds(3));  // pd opens its port
  const int code = runProgram(
      "--scene crossing --frames 30 --rate 20 --quiet --png-at none "
      "--gif-every 0 --osc 127.0.0.1:" +
          std::to_string(port),
      "timeout 120");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::ifstream pid(path("pd.pid"));
  if (int number = 0; pid >> number && number > 0) ::kill(number, SIGTERM);
  ASSERT_EQ(code, 0) << read("stderr.txt");
  const std::string printed = read("pd.txt");
  auto count = [&](const std::string& what) {
    int n = 0;
    for (std::size_t at = printed.find(what); at != std::string::npos;
         at = printed.find(what, at + 1)) {
      ++n;
    }
    return n;
  };
  EXPECT_EQ(count("osc: list kinetiscan frame"), 30) << printed;
  int regions = -1;  // the header
  std::istringstream csv(read("out/regions.csv"));
  for (std::string line; std::getline(csv, line);) ++regions;
  EXPECT_EQ(count("osc: list kinetiscan region"), regions) << printed;
  EXPECT_GT(count("osc: list kinetiscan enter"), 0) << printed;
}

}  // namespace
}  // namespace kinetiscan::play
