// kinetiscan-play run as a user runs it: a short run of the built-in scene checked for its
// outputs, and bad input refused with a message, a non-zero exit and no results.
#include <sys/wait.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "picture_writers.h"
#include "play_test_support.h"

namespace kinetiscan::play {
namespace {

class EndToEnd : public ScratchFolder {
 protected:
  int play(const std::string& arguments) { return runProgram(arguments); }
  std::vector<std::string> lines(const std::string& name) const {
    std::vector<std::string> all;
    std::istringstream in(read(name));
    for (std::string line; std::getline(in, line);) all.push_back(line);
    return all;
  }
  // The files in the results folder but its manifest, and any staging folder left beside it.
  std::vector<std::string> results(const std::string& folder = "out") const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path(folder), ignored)) {
      if (entry.path().filename() != ".kinetiscan-play") {
        names.push_back(entry.path().filename().string());
      }
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ignored)) {
      if (entry.path().filename().string().find(".kinetiscan-play-") != std::string::npos) {
        names.push_back(entry.path().filename().string());
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(EndToEnd, AShortRunLeavesPicturesLogsAndASummary) {
  ASSERT_EQ(play("--frames 30 --rate 0 --quiet --png-at 10,last --at 12 trackcolor 255,0,0 30 "
                 "--at 15 block 0,0,120,160 --at 29 adapt --at 99 adapt"),
            0)
      << read("stderr.txt");
  EXPECT_EQ(results(),
            (std::vector<std::string>{"regions.csv", "run.gif", "stage-0010.png", "stage-0029.png",
                                      "summary.txt", "track.csv", "track.jsonl"}));

  const std::vector<std::string> csv = lines("out/track.csv");
  ASSERT_EQ(csv.size(), 31u) << "a header and one row per frame";
  EXPECT_EQ(csv[0].rfind("frame,t_ms,wall_time,processing_ms,regions,loclist,boundingboxlist", 0),
            0u);

  const std::vector<std::string> jsonl = lines("out/track.jsonl");
  ASSERT_EQ(jsonl.size(), 30u);
  int callsSeen = 0;
  std::size_t regionsSeen = 0;
  for (std::size_t i = 0; i < jsonl.size(); ++i) {
    const nlohmann::json line = nlohmann::json::parse(jsonl[i]);
    EXPECT_EQ(line["frame"], static_cast<int>(i));
    EXPECT_EQ(line["loclist"].size(), line["boundingboxlist"].size());
    EXPECT_EQ(line["ids"].size(), line["loclist"].size());
    regionsSeen += line["ids"].size();
    EXPECT_EQ(line.contains("truth"), i >= 10) << "frames after the first ten are judged";
    for (const auto& call : line["calls"]) {
      ++callsSeen;
      EXPECT_EQ(call["result"], 0) << call.dump();
    }
    if (i == 12) {
      ASSERT_EQ(line["calls"].size(), 1u);
      EXPECT_TRUE(line["calls"][0]["value"].contains("point")) << line["calls"][0].dump();
      // Found or not is said, not left to be read from a point that looks like a hit.
      EXPECT_EQ(line["calls"][0]["found"],
                line["calls"][0]["value"]["point"] != nlohmann::json::array({120, 0}));
    }
    if (i == 15) {
      EXPECT_TRUE(line["calls"][0]["value"].contains("colour"));
    }
    if (i >= 10) {
      EXPECT_EQ(line["truth"]["found"], line["truth"]["present"]) << jsonl[i];
    }
  }
  EXPECT_EQ(callsSeen, 3);
  // One row per region, with the box in picture pixels beside the host's rect.
  const std::vector<std::string> regions = lines("out/regions.csv");
  ASSERT_EQ(regions.size(), regionsSeen + 1);
  EXPECT_EQ(regions[0],
            "frame,t_ms,wall_time,processing_ms,id,point_vertical,point_horizontal,rect_top,rect_"
            "left,rect_bottom,"
            "rect_right,x,y,width,height");

  const std::string summary = read("out/summary.txt");
  EXPECT_EQ(read("stdout.txt"), summary) << "the summary printed is the one kept";
  EXPECT_NE(summary.find("frames:      30"), std::string::npos) << summary;
  EXPECT_NE(summary.find("registered as \"Kinetiscan\""), std::string::npos);
  EXPECT_NE(summary.find("1 not made"), std::string::npos) << "frame 99 was never reached";
  std::smatch found;
  ASSERT_TRUE(std::regex_search(summary, found, std::regex(R"(discs found: +(\d+) of (\d+))")))
      << summary;
  EXPECT_EQ(found[1], found[2]);
  EXPECT_GT(std::stoi(found[2]), 20);
  ASSERT_TRUE(std::regex_search(summary, found, std::regex(R"(centre error: +([0-9.]+) px)")));
  EXPECT_LT(std::stod(found[1]), 1.5);
}

TEST_F(EndToEnd, BadInputFailsWithAMessageAndNoResults) {
  struct Case {
    std::string arguments;
    int exitCode;
    std::string mentions;
  };
  writeFile("short.raw", std::string(1000, '\0'));
  for (const Case& c : std::vector<Case>{
           {"--raw missing.raw", 1, "missing.raw"},
           {"--raw short.raw", 1, "short.raw"},
           {"--images nowhere", 1, "nowhere"},
           {"--device /dev/video-kinetiscan-absent", 1, "/dev/video-kinetiscan-absent"},
           {"--frames lots", 2, "frames"},
           {"--at 3 trackcolor red", 2, "red"},
       }) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(play(c.arguments + " --rate 0"), c.exitCode);
    EXPECT_NE(read("stderr.txt").find(c.mentions), std::string::npos) << read("stderr.txt");
    EXPECT_TRUE(results().empty()) << ::testing::PrintToString(results());
  }
}

// Ctrl-C, a stop and a closed terminal: the run ends after the frame it plays, keeps what it
// recorded, says where it stopped, and exits with 128 + the signal's number.
TEST_F(EndToEnd, ASignalEndsTheRunAndKeepsWhatWasRecorded) {
  for (const auto& [signal, code] :
       {std::pair<const char*, int>{"INT", 130}, {"TERM", 143}, {"HUP", 129}}) {
    SCOPED_TRACE(signal);
    // Signalled once the staged log shows three frames (at most 60 s of waiting).
    const std::string command =
        "cd '" + folder_.string() +
        "' && { '" KINETISCAN_PLAY_PROGRAM
        "' --frames 100000 --rate 20 --quiet >stdout.txt 2>stderr.txt & pid=$!; "
        "for i in $(seq 600); do [ \"$(cat .out.kinetiscan-play-*/track.csv 2>/dev/null | "
        "wc -l)\" -ge 4 ] && break; sleep 0.1; done; kill -" +
        std::string(signal) + " $pid; wait $pid; }";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), code) << read("stderr.txt");
    const std::vector<std::string> kept = results();
    EXPECT_EQ(std::count(kept.begin(), kept.end(), "summary.txt"), 1)
        << ::testing::PrintToString(kept) << " and no staging folder left beside it";
    for (const std::string& name : kept) {
      EXPECT_EQ(name.find(".kinetiscan-play-"), std::string::npos) << name;
    }
    const std::string summary = read("out/summary.txt");
    EXPECT_NE(summary.find(std::string("by SIG") + signal), std::string::npos) << summary;
    const std::vector<std::string> csv = lines("out/track.csv");
    EXPECT_GE(csv.size(), 4u);
    EXPECT_NE(summary.find("stopped:     at frame " + std::to_string(csv.size() - 2)),
              std::string::npos)
        << summary;
  }
}

// Discs already in the first frame stay as ghosts at adaptivity 1000; a warm-up forgets them.
TEST_F(EndToEnd, AWarmUpKeepsTheFirstFramesFromLeavingGhosts) {
  auto ghosts = [this](const std::string& arguments) {
    EXPECT_EQ(play("--frames 80 --empty-frames 0 --rate 0 --quiet --png-at none --gif-every 0 " +
                   arguments),
              0)
        << read("stderr.txt");
    std::smatch found;
    const std::string summary = read("out/summary.txt");
    EXPECT_TRUE(std::regex_search(summary, found, std::regex("other regions: (\\d+)"))) << summary;
    return found.empty() ? -1 : std::stoi(found[1]);
  };
  EXPECT_GT(ghosts(""), 100);
  EXPECT_LT(ghosts("--warmup 40"), 5);
  EXPECT_NE(read("out/summary.txt").find("warm-up:     frames 0 to 39"), std::string::npos);
}

TEST_F(EndToEnd, FramesStreamToStandardOutputAsJsonLines) {
  ASSERT_EQ(play("--frames 3 --rate 0 --quiet --png-at none --gif-every 0 --jsonl -"), 0)
      << read("stderr.txt");
  const std::vector<std::string> streamed = lines("stdout.txt");
  ASSERT_EQ(streamed.size(), 3u) << "one record per frame and nothing else";
  EXPECT_EQ(nlohmann::json::parse(streamed[2])["frame"], 2);
  EXPECT_NE(read("stderr.txt").find("kinetiscan-play summary"), std::string::npos);
}

// Images are decoded as they play: one that turns out damaged ends the run as a stop does, with
// the frames before it kept, the file named and a failing exit code.
TEST_F(EndToEnd, AnImageFailingMidwayEndsTheRunKeepingTheFramesBeforeIt) {
  std::filesystem::create_directory(path("in"));
  for (int i = 0; i < 6; ++i) {
    Picture picture{320, 240, std::vector<std::uint8_t>(320 * 240 * 3, std::uint8_t(40 * i))};
    std::string error;
    ASSERT_TRUE(writePng(path("in/" + std::to_string(i) + ".png"), picture, &error)) << error;
  }
  const std::string whole = read("in/4.png");
  writeFile("in/4.png", whole.substr(0, whole.size() / 2));
  EXPECT_EQ(play("--images in --rate 0 --quiet"), 1);
  EXPECT_NE(read("stderr.txt").find("4.png: "), std::string::npos) << read("stderr.txt");
  EXPECT_EQ(lines("out/track.csv").size(), 5u) << "frames 0 to 3";
  const std::string summary = read("out/summary.txt");
  EXPECT_NE(summary.find("input failed: after frame 3: "), std::string::npos) << summary;
  EXPECT_NE(summary.find("4.png"), std::string::npos) << summary;
  EXPECT_NE(summary.find("4 of 4 frames scaled to 160x120 from other sizes, the first from "
                         "320x240"),
            std::string::npos)
      << summary;
}

TEST_F(EndToEnd, ARawFileRunsToItsEnd) {
  writeFile("three.raw", std::string(3 * 57600, '\x50'));
  ASSERT_EQ(play("--raw three.raw --rate 0 --out here --png-at none"), 0) << read("stderr.txt");
  EXPECT_EQ(results("here"), (std::vector<std::string>{"regions.csv", "run.gif", "summary.txt",
                                                       "track.csv", "track.jsonl"}));
  ASSERT_EQ(play("--raw three.raw --rate 0 --out nogif --png-at none --gif-every 0"), 0);
  EXPECT_EQ(results("nogif"),
            (std::vector<std::string>{"regions.csv", "summary.txt", "track.csv", "track.jsonl"}));
  EXPECT_EQ(lines("here/track.csv").size(), 4u);
  EXPECT_EQ(read("here/summary.txt").find("tracking"), std::string::npos)
      << "no ground truth, no accuracy";
}

}  // namespace
}  // namespace kinetiscan::play
