// Recording and replaying runs, raw frames from standard input in either row order, and the
// mask: each compared through the logs the program writes, times left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <regex>
#include <vector>

#include "camera/file_sources.h"
#include "frame_mask.h"
#include "picture_writers.h"
#include "play_test_support.h"

namespace kinetiscan::play {
namespace {

constexpr std::size_t kFrame = camera::kFrameBytes;
const std::string kQuiet = " --rate 0 --quiet --png-at none --gif-every 0";

// Two squares crossing a grey room, one in each half of the picture, in frame order.
std::string movingSquares(int frames) {
  std::string raw;
  for (int n = 0; n < frames; ++n) {
    camera::Frame frame(kFrame, 100);
    for (const int left : {10 + n, 100 + n / 2}) {
      for (int row = 40; row < 60; ++row) {
        for (int column = left; column < left + 16 && column < 160; ++column) {
          std::uint8_t* pixel = &frame[(row * camera::kWidth + column) * 3];
          pixel[0] = 30, pixel[1] = 200, pixel[2] = 240;
        }
      }
    }
    raw.append(frame.begin(), frame.end());
  }
  return raw;
}

std::string flipped(const std::string& raw) {
  std::string out;
  for (std::size_t at = 0; at < raw.size(); at += kFrame) {
    camera::Frame frame(raw.begin() + at, raw.begin() + at + kFrame);
    camera::flipRows(frame);
    out.append(frame.begin(), frame.end());
  }
  return out;
}

class RecordReplay : public ScratchFolder {
 protected:
  // Every line of the logs in `out`, the times and the truth about the built-in scene's discs
  // (a replay cannot know it) taken out.
  std::string logs(const std::string& out) {
    // The CSV files' times: since the run began, the wall clock and the processing time.
    const std::regex csvTime("^(\\d+),[0-9.]+,[0-9T:.Z-]+,[0-9.]+,"),
        truthColumns(",\\d*,\\d*,[0-9.]*$"),
        jsonTime(",?\"(processing_ms|t_ms|wall_time)\":(\"[^\"]*\"|[0-9.e+-]+)"),
        jsonTruth(",?\"truth\":\\{[^}]*\\}");
    std::string all;
    for (const char* name : {"track.csv", "regions.csv", "track.jsonl"}) {
      std::istringstream in(read(out + "/" + name));
      for (std::string line; std::getline(in, line);) {
        line = std::regex_replace(line, csvTime, "$1,");
        if (std::string(name) == "track.csv") line = std::regex_replace(line, truthColumns, "");
        line = std::regex_replace(std::regex_replace(line, jsonTime, ""), jsonTruth, "");
        all += std::string(name) + ": " + line + "\n";
      }
    }
    return all;
  }
  int play(const std::string& arguments) { return runProgram(arguments + kQuiet); }
};

// A recording replays frame for frame: the logs match line for line and a recording of the
// replay holds the same bytes.
TEST_F(RecordReplay, ARecordedRunReplaysWithTheSameLogs) {
  writeFile("squares.raw", movingSquares(40));
  for (const std::string source : {"--frames 60", "--raw squares.raw", "--raw - <squares.raw"}) {
    SCOPED_TRACE(source);
    std::filesystem::remove(path("first.raw")), std::filesystem::remove(path("second.raw"));
    ASSERT_EQ(play(source + " --record first.raw --out a"), 0) << read("stderr.txt");
    ASSERT_EQ(play("--raw first.raw --record second.raw --out b"), 0) << read("stderr.txt");
    EXPECT_EQ(read("first.raw").size() % kFrame, 0u);
    EXPECT_EQ(read("first.raw"), read("second.raw"));
    if (source != "--frames 60") {
      EXPECT_EQ(read("first.raw"), read("squares.raw"));
    }
    const std::string original = logs("a");
    EXPECT_GT(std::count(original.begin(), original.end(), '\n'), 100);
    EXPECT_EQ(original, logs("b"));
  }
}

// The same frames top-down on a pipe, bottom-up on a pipe and from the file give one run.
TEST_F(RecordReplay, StandardInputInEitherRowOrderPlaysAsTheFile) {
  const std::string raw = movingSquares(30);
  writeFile("up.raw", raw);
  writeFile("down.raw", flipped(raw));
  ASSERT_EQ(play("--raw up.raw --out file"), 0) << read("stderr.txt");
  const std::string expected = logs("file");
  for (const std::string run :
       {"cat up.raw | '" KINETISCAN_PLAY_PROGRAM "' --raw -",
        "cat down.raw | '" KINETISCAN_PLAY_PROGRAM "' --raw - --raw-order top-down",
        "'" KINETISCAN_PLAY_PROGRAM "' --raw down.raw --raw-order top-down"}) {
    SCOPED_TRACE(run);
    const std::string command = "cd '" + folder_.string() + "' && " + run + kQuiet +
                                " --out piped >stdout.txt 2>stderr.txt";
    ASSERT_EQ(std::system(command.c_str()), 0) << read("stderr.txt");
    EXPECT_EQ(logs("piped"), expected);
  }
}

TEST_F(RecordReplay, AStreamCutInsideAFrameEndsTheRunKeepingTheWholeFrames) {
  writeFile("cut.raw", movingSquares(5).substr(0, 3 * kFrame + 1000));
  EXPECT_EQ(play("--raw - <cut.raw"), 1);
  EXPECT_NE(read("stderr.txt").find("standard input: the stream ends inside frame 3 (1000 of"),
            std::string::npos)
      << read("stderr.txt");
  EXPECT_NE(read("out/summary.txt").find("frames:      3"), std::string::npos)
      << read("out/summary.txt");
}

TEST_F(RecordReplay, RecordingsThatWouldLoseAFileOrLoopAStreamAreRefused) {
  writeFile("in.raw", movingSquares(3));
  writeFile("kept.raw", "someone's file");
  const struct {
    const char* arguments;
    int code;
    const char* message;
  } kCases[] = {
      {"--raw in.raw --record in.raw", 2, "is the --raw input itself"},
      {"--raw in.raw --record ./out/rec.raw", 2, "inside the results folder"},
      {"--raw in.raw --record kept.raw", 1, "a recording never replaces a file"},
      {"--raw in.raw --record -", 2, "not standard output"},
      {"--raw - --loop <in.raw", 2, "--loop cannot replay standard input"},
      {"--frames 3 --raw-order top-down", 2, "--raw-order applies to --raw only"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.arguments);
    EXPECT_EQ(play(test.arguments), test.code);
    EXPECT_NE(read("stderr.txt").find(test.message), std::string::npos) << read("stderr.txt");
  }
  EXPECT_EQ(read("kept.raw"), "someone's file");
  EXPECT_EQ(read("in.raw"), movingSquares(3));
}

// A file size limit stands in for a full disk: the write fails partway through a frame. The
// coverage build's profile, written at exit under the same limit, goes where no limit applies.
TEST_F(RecordReplay, ARecordingThatCannotBeWrittenEndsTheRunAndStaysWholeFrames) {
  writeFile("in.raw", movingSquares(20));
  EXPECT_EQ(runProgram("--raw in.raw --record rec.raw" + kQuiet,
                       "trap '' XFSZ; ulimit -f 500; export LLVM_PROFILE_FILE=/dev/null;"),
            1);
  EXPECT_NE(read("stderr.txt").find("--record rec.raw: frame "), std::string::npos)
      << read("stderr.txt");
  const std::string recorded = read("rec.raw");
  ASSERT_GT(recorded.size(), 0u);
  EXPECT_LT(recorded.size(), 20 * kFrame);
  EXPECT_EQ(recorded.size() % kFrame, 0u);
  EXPECT_EQ(play("--raw rec.raw --out replay"), 0) << read("stderr.txt");
}

// A run that records nothing leaves no file behind.
TEST_F(RecordReplay, ARunWithoutFramesLeavesNoRecording) {
  writeFile("empty.raw", "");
  EXPECT_EQ(play("--raw - --record rec.raw <empty.raw"), 1);
  EXPECT_FALSE(std::filesystem::exists(path("rec.raw")));
}

class Mask : public RecordReplay {
 protected:
  // A mask of 320x240, black where `blackRight` says: the right half, or nothing.
  void writeMask(const std::string& name, bool blackRight) {
    Picture mask{320, 240, std::vector<std::uint8_t>(320 * 240 * 3, 255)};
    for (int y = 0; y < 240 && blackRight; ++y) {
      std::fill_n(mask.rgb.begin() + (y * 320 + 160) * 3, 160 * 3, 20);
    }
    std::string error;
    ASSERT_TRUE(writePng(path(name), mask, &error)) << error;
  }
  // The regions left or right of `column`, without their ids: those count the other regions.
  std::vector<std::string> regionsLeftOf(const std::string& out, int column, bool left) {
    std::vector<std::string> rows;
    std::istringstream in(logs(out));
    const std::regex region("^regions\\.csv: (\\d+),\\d+,((?:-?\\d+,){6}(\\d+),.*)");
    for (std::string line; std::getline(in, line);) {
      std::smatch found;
      if (!std::regex_match(line, found, region)) continue;
      if ((std::stoi(found[3]) < column) == left)
        rows.push_back(found[1].str() + " " + found[2].str());
    }
    return rows;
  }
};

// Masking the right half removes the square there and leaves the left one as it was.
TEST_F(Mask, AMaskedAreaGivesNoRegionAndTheRestIsUnchanged) {
  writeFile("squares.raw", movingSquares(40));
  writeMask("right.png", true);
  ASSERT_EQ(play("--raw squares.raw --out plain"), 0) << read("stderr.txt");
  ASSERT_EQ(play("--raw squares.raw --mask right.png --out masked"), 0) << read("stderr.txt");
  EXPECT_FALSE(regionsLeftOf("plain", 80, false).empty()) << "the right square moves unmasked";
  EXPECT_TRUE(regionsLeftOf("masked", 80, false).empty()) << logs("masked");
  EXPECT_FALSE(regionsLeftOf("plain", 80, true).empty());
  EXPECT_EQ(regionsLeftOf("masked", 80, true), regionsLeftOf("plain", 80, true));
  EXPECT_NE(read("masked/summary.txt").find("9600 of 19200 pixels ignored"), std::string::npos)
      << read("masked/summary.txt");
}

TEST_F(Mask, ThePicturesShowTheMaskDarkenedAndOnlyThere) {
  FrameMask mask;
  std::string error;
  writeMask("right.png", true);
  ASSERT_TRUE(loadFrameMask(path("right.png"), &mask, &error)) << error;
  Picture stage{640, 120, std::vector<std::uint8_t>(640 * 120 * 3, 200)};
  darkenMasked(mask, &stage);
  for (const int x : {0, 79, 80, 159, 160, 239, 240, 639}) {
    const bool masked = x % 160 >= 80;
    EXPECT_EQ(stage.rgb[(60 * 640 + x) * 3], masked ? 80 : 200) << "column " << x;
  }
}

TEST_F(Mask, AMaskThatIsNoUsablePngIsRefused) {
  writeFile("text.png", "not an image at all");
  Picture wide{9000, 1, std::vector<std::uint8_t>(9000 * 3, 0)};
  std::string error;
  ASSERT_TRUE(writePng(path("wide.png"), wide, &error)) << error;
  // A BMP of one black pixel: a readable image, but not the PNG a mask is.
  std::string bmp = std::string("BM") + std::string(4, '\0') + std::string(4, '\0');
  bmp += std::string("\x36\0\0\0\x28\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\x18\0", 20);
  bmp += std::string(24 + 4, '\0');
  writeFile("one.bmp", bmp);
  const struct {
    const char* file;
    const char* message;
  } kCases[] = {{"text.png", "--mask text.png: "},
                {"wide.png", "--mask wide.png: "},
                {"one.bmp", "the mask is a PNG"},
                {"missing.png", "--mask missing.png: "}};
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.file);
    EXPECT_EQ(play(std::string("--frames 3 --mask ") + test.file), 1);
    EXPECT_NE(read("stderr.txt").find(test.message), std::string::npos) << read("stderr.txt");
    EXPECT_FALSE(std::filesystem::exists(path("out")));
  }
}

// Someone standing still in the first 60 frames, then gone: a warm-up forgets them when they
// leave early enough within it, and not when they are still there at its end.
TEST_F(RecordReplay, AWarmUpForgetsAStillFigureThatLeavesWithinIt) {
  std::string raw;
  for (int n = 0; n < 130; ++n) {
    camera::Frame frame(kFrame, 100);
    for (int row = 30; row < 90 && n < 60; ++row) {
      std::fill_n(frame.begin() + (row * camera::kWidth + 60) * 3, 30 * 3, 220);
    }
    raw.append(frame.begin(), frame.end());
  }
  writeFile("figure.raw", raw);
  auto lastRegionFrame = [this](const std::string& warmup) {
    EXPECT_EQ(play("--raw figure.raw --warmup " + warmup), 0) << read("stderr.txt");
    std::istringstream in(read("out/regions.csv"));
    int last = -1;
    for (std::string line; std::getline(in, line);) {
      if (std::isdigit(static_cast<unsigned char>(line[0]))) last = std::stoi(line);
    }
    return last;
  };
  EXPECT_LT(lastRegionFrame("120"), 120);
  EXPECT_EQ(lastRegionFrame("40"), 129) << "still there at the warm-up's end: a ghost";
}

// Reading standard input holds one frame at a time: a long stream plays in a small memory.
TEST_F(RecordReplay, ALongStreamPlaysInBoundedMemory) {
#ifdef __SANITIZE_ADDRESS__
  const int frames = 500;  // the bound is not judged there (below): the stream's road is enough
#else
  const int frames = 5000;
#endif
  const std::string command =
      "cd '" + folder_.string() + "' && head -c " + std::to_string(frames * kFrame) +
      " /dev/zero | /usr/bin/time -f 'max %M KB' '" KINETISCAN_PLAY_PROGRAM "' --raw -" + kQuiet +
      " >stdout.txt 2>stderr.txt";
  ASSERT_EQ(std::system(command.c_str()), 0) << read("stderr.txt");
  std::smatch found;
  const std::string err = read("stderr.txt");
  ASSERT_TRUE(std::regex_search(err, found, std::regex("max (\\d+) KB"))) << err;
  std::printf("max resident memory for %d frames from standard input: %s KB\n", frames,
              found[1].str().c_str());
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer's shadow and quarantine are no measure of ours
  EXPECT_LT(std::stol(found[1]), 40 * 1024);
#endif
  EXPECT_NE(read("out/summary.txt").find("frames:      " + std::to_string(frames)),
            std::string::npos);
}

}  // namespace
}  // namespace kinetiscan::play
