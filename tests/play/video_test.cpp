// Video files as kinetiscan-play reads them: containers and codecs played whole and scaled as
// image folders are, damaged and hostile files ended with a reason, and memory that stays flat
// however long the video.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "camera/file_sources.h"
#include "camera/video_source.h"
#include "play_test_support.h"
#include "video_writer.h"

extern char** environ;

namespace kinetiscan::play {
namespace {

using camera::Frame;

class Videos : public ScratchFolder {
 protected:
  std::string make(const std::string& name, const VideoFormat& format) {
    const std::string error =
        writeVideo(path(name), format, movingSquare(format.width, format.height, 8));
    EXPECT_EQ(error, "") << name;
    return path(name);
  }
  // Every frame the source gives, and its failure afterwards.
  static std::vector<Frame> playAll(camera::FrameSource& source, int limit = 1000) {
    std::vector<Frame> frames;
    Frame frame;
    while (static_cast<int>(frames.size()) < limit && source.next(frame)) frames.push_back(frame);
    return frames;
  }
  void cutAt(const std::string& file, std::size_t size) {
    std::filesystem::resize_file(file, size);
  }
  // Halfway through an AVI file's frames, past its header.
  static std::size_t middleOfFrames(const std::string& bytes) {
    const std::size_t frames = bytes.find("movi");
    return frames == std::string::npos ? 0 : frames + (bytes.size() - frames) / 2;
  }
};

TEST_F(Videos, ContainersAndCodecsPlayEveryFrameAndSayTheyAreScaled) {
  const struct {
    const char* name;
    const char* encoder;
    const char* pixels;
  } cases[] = {{"a.avi", "mpeg4", ""},         {"b.mp4", "mpeg4", ""},
               {"c.mkv", "mjpeg", "yuvj420p"}, {"d.mkv", "ffv1", "bgr0"},
               {"e.ts", "mpeg2video", ""},     {"f.gif", "gif", "rgb8"}};
  for (const auto& c : cases) {
    VideoFormat format;
    format.encoder = c.encoder;
    format.pixelFormat = c.pixels;
    std::string error;
    const auto source = camera::openVideoFile(make(c.name, format), false, &error);
    ASSERT_NE(source, nullptr) << c.name << ": " << error;
    EXPECT_EQ(playAll(*source).size(), 12u) << c.name;
    EXPECT_EQ(source->failure(), "") << c.name;
    EXPECT_EQ(source->note(),
              "12 of 12 frames scaled to 160x120 from other sizes, the first from 64x48")
        << c.name;
  }
}

// Lossless pictures come out as an image folder's would: the same averaging, bottom-up BGR.
TEST_F(Videos, PicturesAreScaledAsImagesAre) {
  for (const auto& [width, height] : {std::pair{320, 240}, {160, 120}, {100, 70}}) {
    VideoFormat format;
    format.encoder = "ffv1";
    format.pixelFormat = "bgr0";
    format.width = width, format.height = height, format.frames = 3;
    const std::string file = make("lossless-" + std::to_string(width) + ".mkv", format);
    std::string error;
    const auto source = camera::openVideoFile(file, false, &error);
    ASSERT_NE(source, nullptr) << error;
    const std::vector<Frame> frames = playAll(*source);
    ASSERT_EQ(frames.size(), 3u);
    const Painter paint = movingSquare(width, height, 8);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int i = 0; i < 3; ++i) {
      paint(i, rgb);
      EXPECT_EQ(frames[i], camera::frameFromImage(rgb.data(), width, height, 3))
          << width << "x" << height << " frame " << i;
    }
    EXPECT_EQ(source->note().empty(), width == 160) << source->note();
  }
}

TEST_F(Videos, LoopPlaysTheVideoAgainFromItsStart) {
  VideoFormat format;
  format.frames = 5;
  std::string error;
  const auto source = camera::openVideoFile(make("short.mkv", format), true, &error);
  ASSERT_NE(source, nullptr) << error;
  const std::vector<Frame> frames = playAll(*source, 12);
  ASSERT_EQ(frames.size(), 12u) << source->failure();
  EXPECT_EQ(frames[5], frames[0]);
  EXPECT_EQ(frames[11], frames[1]);
  EXPECT_NE(frames[1], frames[0]) << "the square moves";
}

// What is not a playable video is refused when it is opened, saying why.
TEST_F(Videos, WhatIsNotAVideoIsRefusedWithTheReason) {
  writeFile("empty.mp4", "");
  writeFile("notes.txt", "a line of text, not a video\n");
  std::string noise(20000, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919) >> 3);
  writeFile("noise.avi", noise);
  std::filesystem::create_directories(path("folder"));
  VideoFormat still;
  still.encoder = "png", still.pixelFormat = "rgb24", still.frames = 1;
  make("still.png", still);  // the image2 muxer writes one picture
  // Lists naming a video beside them: reading them would read that file.
  VideoFormat named;
  make("named.mkv", named);
  writeFile("list.ffconcat", "ffconcat version 1.0\nfile named.mkv\n");
  writeFile("list.m3u8",
            "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\nnamed.mkv\n#EXT-X-ENDLIST\n");
  const struct {
    std::string file;
    const char* says;
  } cases[] = {{path("empty.mp4"), "not a video FFmpeg can read"},
               {path("notes.txt"), "not a video FFmpeg can read"},
               {path("noise.avi"), "not a video FFmpeg can read"},
               {path("still.png"), "a still image, not a video"},
               {path("list.ffconcat"), "a list or description naming other files"},
               {path("list.m3u8"), "a list or description naming other files"},
               {path("folder"), "a folder; --video takes one video file"},
               {"/dev/zero", "not a regular file or a pipe"},
               {path("missing.mp4"), "cannot open (No such file or directory)"}};
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(camera::openVideoFile(c.file, false, &error), nullptr) << c.file;
    EXPECT_EQ(error.rfind(c.file + ": " + c.says, 0), 0u) << error;
  }
}

// A header declaring pictures beyond the limit is refused before probing decodes one.
TEST_F(Videos, AHeaderDeclaringHugePicturesIsRefused) {
  VideoFormat format;
  format.encoder = "rawvideo", format.pixelFormat = "bgr24", format.frames = 2;
  const std::string file = make("huge.avi", format);
  std::string bytes = read("huge.avi");
  const std::size_t header = bytes.find("strf");
  ASSERT_NE(header, std::string::npos);
  for (const std::size_t field : {header + 12, header + 16}) {  // biWidth, biHeight
    bytes[field] = '\x40', bytes[field + 1] = '\x9c', bytes[field + 2] = bytes[field + 3] = 0;
  }
  writeFile("huge.avi", bytes);
  std::string error;
  EXPECT_EQ(camera::openVideoFile(file, false, &error), nullptr);
  EXPECT_EQ(error, file +
                       ": a stream declares pictures of 40000x40000; at most 8192 pixels a "
                       "side are read");
}

// Damage in the middle ends the source there with the reason; the frames before it were given.
TEST_F(Videos, DamageMidStreamEndsTheSourceAfterTheFramesBeforeIt) {
  VideoFormat format;
  format.frames = 60;
  const std::string cut = make("cut.avi", format), garbled = make("garbled.avi", format);
  std::string bytes = read("garbled.avi");
  const std::size_t middle = middleOfFrames(bytes);
  cutAt(cut, middle);
  for (std::size_t i = middle; i < middle + 300; ++i) bytes[i] = static_cast<char>(i * 131);
  writeFile("garbled.avi", bytes);
  for (const std::string& file : {cut, garbled}) {
    std::string error;
    const auto source = camera::openVideoFile(file, false, &error);
    ASSERT_NE(source, nullptr) << error;
    const std::size_t played = playAll(*source).size();
    EXPECT_GT(played, 10u) << file;
    EXPECT_LT(played, 60u) << file;
    // Decoding damage or, where the damage is skipped as unreadable chunks, the frame count.
    EXPECT_EQ(source->failure().rfind(file + ": ", 0), 0u);
    EXPECT_NE(source->failure().find(std::to_string(played)), std::string::npos)
        << source->failure();
    Frame frame;
    EXPECT_FALSE(source->next(frame)) << "a failed source stays ended";
  }
}

// A file cut between whole packets decodes cleanly; the frame count its header declares shows it
// is short.
TEST_F(Videos, AFileShorterThanItsHeaderDeclaresFails) {
  VideoFormat format;
  format.frames = 30, format.encoder = "rawvideo", format.pixelFormat = "bgr24";
  format.width = 16, format.height = 12;
  const std::string file = make("short.avi", format);
  const std::string bytes = read("short.avi");
  const std::size_t frames = bytes.find("movi");  // then the chunks of frames 0, 1, ...
  ASSERT_NE(frames, std::string::npos);
  cutAt(file, frames + 4 + 10 * (8 + 16 * 12 * 3));
  std::string error;
  const auto source = camera::openVideoFile(file, false, &error);
  ASSERT_NE(source, nullptr) << error;
  EXPECT_EQ(playAll(*source).size(), 10u);
  EXPECT_EQ(
      source->failure(),
      file + ": the video ends after 10 of the 30 frames it declares (the file is cut short)");
}

TEST_F(Videos, TheProgramPlaysAVideoAndFindsTheMovingShape) {
  VideoFormat format;
  format.width = 320, format.height = 240, format.frames = 40;
  const std::string error = writeVideo(path("walk.mp4"), format, movingSquare(320, 240, 40));
  ASSERT_EQ(error, "");
  ASSERT_EQ(runProgram("--video walk.mp4 --rate 0 --quiet --png-at none --gif-every 0"), 0)
      << read("stderr.txt");
  const std::string summary = read("out/summary.txt");
  EXPECT_NE(summary.find("input:       video walk.mp4"), std::string::npos) << summary;
  EXPECT_NE(summary.find("frames:      40,"), std::string::npos) << summary;
  EXPECT_NE(summary.find("40 of 40 frames scaled to 160x120 from other sizes, the first from "
                         "320x240"),
            std::string::npos)
      << summary;
  std::ifstream csv(path("out/track.csv"));
  std::string line;
  int rows = 0, withRegions = 0;
  for (std::getline(csv, line); std::getline(csv, line); ++rows) {
    const std::size_t regions = line.find(',', line.find(',') + 1) + 1;
    if (line.compare(regions, 2, "0,") != 0) ++withRegions;
  }
  EXPECT_EQ(rows, 40);
  EXPECT_GT(withRegions, 20) << "the moving square is a region in most frames";
}

TEST_F(Videos, TheProgramEndsADamagedVideoWithExitOneKeepingTheFramesBeforeIt) {
  VideoFormat format;
  format.frames = 60;
  const std::string cut = make("cut.avi", format);
  cutAt(cut, middleOfFrames(read("cut.avi")));
  EXPECT_EQ(runProgram("--video cut.avi --rate 0 --quiet --png-at none --gif-every 0"), 1);
  EXPECT_NE(read("stderr.txt").find("kinetiscan-play: cut.avi: the video ends after "),
            std::string::npos)
      << read("stderr.txt");
  EXPECT_NE(read("stderr.txt").find("the frames before it are kept in out"), std::string::npos);
  EXPECT_NE(read("out/summary.txt").find("input failed: after frame"), std::string::npos);

  writeFile("garbage.mp4", std::string(5000, '\x5a'));
  EXPECT_EQ(runProgram("--video garbage.mp4 --rate 0 --quiet --out refused"), 1);
  EXPECT_EQ(read("stderr.txt"),
            "kinetiscan-play: garbage.mp4: not a video FFmpeg can read (Invalid data found when "
            "processing input)\n");
  EXPECT_FALSE(std::filesystem::exists(path("refused"))) << "no results of a refusal";
}

TEST_F(Videos, TheProgramReadsAVideoFromAPipe) {
  VideoFormat format;
  format.frames = 20;
  make("piped.mkv", format);
  ASSERT_EQ(runProgram("--video - --rate 0 --quiet --png-at none --gif-every 0", "cat piped.mkv |"),
            0)
      << read("stderr.txt");
  EXPECT_NE(read("out/summary.txt").find("video from standard input"), std::string::npos);
  EXPECT_NE(read("out/summary.txt").find("frames:      20,"), std::string::npos);
  EXPECT_EQ(runProgram("--video - --loop --rate 0 --quiet", "cat piped.mkv |"), 1);
  EXPECT_EQ(read("stderr.txt"),
            "kinetiscan-play: standard input is read once; --loop needs a file\n");
}

// The largest resident size of the program playing `file`, in KiB.
long maxResidentKiB(const std::string& folder, const std::string& file) {
  const std::string out = folder + "/out-" + file, video = folder + "/" + file;
  const char* argv[] = {KINETISCAN_PLAY_PROGRAM,
                        "--video",
                        video.c_str(),
                        "--rate",
                        "0",
                        "--quiet",
                        "--png-at",
                        "none",
                        "--gif-every",
                        "0",
                        "--out",
                        out.c_str(),
                        nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned =
      posix_spawn(&child, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1;
  }
  return usage.ru_maxrss;
}

TEST_F(Videos, MemoryStaysFlatOverALongVideo) {
#ifdef __SANITIZE_ADDRESS__
  // AddressSanitizer's shadow and quarantine are no measure of ours: a long video there only
  // shows that the decoder's road stays clean, which a tenth of it shows as well.
  constexpr int kLongFrames = 2000;
#else
  constexpr int kLongFrames = 20000;
#endif
  VideoFormat format;
  format.width = 32, format.height = 24, format.keyEvery = 250;
  format.frames = 500;
  make("short.mkv", format);
  format.frames = kLongFrames;
  make("long.mkv", format);
  const long shortRun = maxResidentKiB(folder_.string(), "short.mkv");
  const long longRun = maxResidentKiB(folder_.string(), "long.mkv");
  ASSERT_GT(shortRun, 0);
  ASSERT_GT(longRun, 0);
  std::printf("max resident size: %ld KiB over 500 frames, %ld KiB over %d frames\n", shortRun,
              longRun, kLongFrames);
#ifndef __SANITIZE_ADDRESS__
  EXPECT_LT(longRun, shortRun + 8 * 1024) << "memory grows with the video's length";
#endif
}

}  // namespace
}  // namespace kinetiscan::play
