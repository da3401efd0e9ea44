// The inputs of kinetiscan-play: the built-in scene with its empty start, image folders, raw
// files and webcams, including what is missing or broken.
#include "inputs.h"

#include <unistd.h>

#include "camera/file_sources.h"
#include "camera/v4l2_source.h"
#include "picture_writers.h"
#include "play_test_support.h"

namespace kinetiscan::play {
namespace {

class Inputs : public ScratchFolder {
 protected:
  std::unique_ptr<camera::FrameSource> open(InputKind kind, const std::string& path,
                                            bool loop = false) {
    PlayOptions options;
    options.input = kind;
    options.inputPath = path;
    options.loop = loop;
    error_.clear();
    return openInput(options, &error_);
  }
  std::string error_;
};

TEST_F(Inputs, TheSceneStartsEmptyThenShowsItsDiscs) {
  camera::SceneOptions scene;
  scene.seed = 11;
  SceneWithEmptyStart source(scene, 3);
  camera::SyntheticScene plain(scene);
  camera::Frame frame, plainFrame;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(source.next(frame));
    EXPECT_TRUE(source.truth()->discs.empty()) << "frame " << i;
  }
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(source.next(frame));
    ASSERT_TRUE(plain.next(plainFrame));
    ASSERT_EQ(source.truth()->discs.size(), 3u);
    EXPECT_EQ(source.truth()->discs[1].row, plain.truth()->discs[1].row)
        << "the discs start where the scene alone starts them";
    EXPECT_EQ(frame.size(), camera::kFrameBytes);
  }
}

TEST_F(Inputs, AnImageFolderPlaysInNameOrderOnceOrLooped) {
  for (const auto& [name, red] :
       {std::pair<const char*, std::uint8_t>{"10.png", 200}, {"2.png", 10}}) {
    Picture picture{4, 3, std::vector<std::uint8_t>(36, 0)};
    for (int i = 0; i < 12; ++i) picture.rgb[i * 3] = red;
    std::string error;
    ASSERT_TRUE(writePng(path(name), picture, &error)) << error;
  }
  writeFile("notes.txt", "not looked at");
  auto source = open(InputKind::kImages, folder_.string());
  ASSERT_NE(source, nullptr) << error_;
  camera::Frame frame;
  ASSERT_TRUE(source->next(frame));
  EXPECT_EQ(frame[2], 10) << "2.png comes before 10.png; red is the third byte of a BGR pixel";
  ASSERT_TRUE(source->next(frame));
  EXPECT_EQ(frame[2], 200);
  EXPECT_FALSE(source->next(frame));

  auto looped = open(InputKind::kImages, folder_.string(), true);
  ASSERT_NE(looped, nullptr);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(looped->next(frame));
}

TEST_F(Inputs, BadImageFoldersNameWhatIsWrong) {
  EXPECT_EQ(open(InputKind::kImages, path("missing")), nullptr);
  EXPECT_NE(error_.find("missing"), std::string::npos) << error_;

  writeFile("readme.txt", "no pictures here");
  EXPECT_EQ(open(InputKind::kImages, folder_.string()), nullptr);
  EXPECT_NE(error_.find("no image files"), std::string::npos) << error_;

  writeFile("broken.png", "\x89PNG but not really");
  EXPECT_EQ(open(InputKind::kImages, folder_.string()), nullptr);
  EXPECT_NE(error_.find("broken.png"), std::string::npos) << error_;

  EXPECT_EQ(open(InputKind::kImages, path("readme.txt")), nullptr) << "a file is not a folder";
}

TEST_F(Inputs, RawFilesMustHoldWholeFramesAndAreReadAsTheyPlay) {
  writeFile("two.raw", std::string(2 * camera::kFrameBytes, '\x40'));
  auto source = open(InputKind::kRaw, path("two.raw"));
  ASSERT_NE(source, nullptr) << error_;
  camera::Frame frame;
  EXPECT_TRUE(source->next(frame));
  EXPECT_EQ(frame[0], 0x40);
  EXPECT_TRUE(source->next(frame));
  EXPECT_FALSE(source->next(frame));
  EXPECT_EQ(source->failure(), "") << "the end of a file is no failure";

  // Read frame by frame, not whole at the start: a frame changed or cut off after the file was
  // opened is seen when it is played.
  writeFile("three.raw", std::string(3 * camera::kFrameBytes, '\x40'));
  source = open(InputKind::kRaw, path("three.raw"));
  ASSERT_NE(source, nullptr) << error_;
  writeFile("three.raw",
            std::string(camera::kFrameBytes, '\x40') + std::string(camera::kFrameBytes, '\x41'));
  EXPECT_TRUE(source->next(frame));
  EXPECT_TRUE(source->next(frame));
  EXPECT_EQ(frame[0], 0x41);
  EXPECT_FALSE(source->next(frame));
  EXPECT_NE(source->failure().find("three.raw: frame 2 cannot be read"), std::string::npos)
      << source->failure();

  writeFile("truncated.raw", std::string(camera::kFrameBytes + 10, '\0'));
  writeFile("empty.raw", "");
  std::filesystem::create_directory(path("frames"));
  for (const auto& [name, says] : std::initializer_list<std::pair<const char*, const char*>>{
           {"truncated.raw",
            "57610 bytes is not a whole number of 160x120 BGR frames of 57600 bytes (1 frame and "
            "10 bytes more)"},
           {"empty.raw", "the file is empty"},
           {"missing.raw", "cannot open"},
           {"frames", "a folder; --raw takes one file"}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(open(InputKind::kRaw, path(name)), nullptr);
    EXPECT_NE(error_.find(std::string(name) + ": "), std::string::npos) << error_;
    EXPECT_NE(error_.find(says), std::string::npos) << error_;
  }
}

TEST_F(Inputs, AWebcamThatIsNotThereIsNamedInTheError) {
  std::string error;
  EXPECT_EQ(openVideoDevice("/dev/video-kinetiscan-absent", &error), nullptr);
  EXPECT_NE(error.find("/dev/video-kinetiscan-absent"), std::string::npos) << error;
  EXPECT_NE(error.find("no such device"), std::string::npos) << error;

  writeFile("plain", "a regular file");
  EXPECT_EQ(openVideoDevice(path("plain"), &error), nullptr);
  EXPECT_NE(error.find("not a video device"), std::string::npos) << error;

  EXPECT_EQ(openVideoDevice("/dev/null", &error), nullptr);
  EXPECT_NE(error.find("not a V4L2 device"), std::string::npos) << error;
}

TEST(Yuyv, StudioRangeGreysAndColoursConvert) {
  // Two pixel pairs: black and white sharing neutral chroma, then pure-ish red.
  const std::uint8_t yuyv[] = {16, 128, 235, 128, 81, 90, 81, 240, 0xEE, 0xEE};
  std::uint8_t rgb[12];
  yuyvToRgb(yuyv, 4, 1, 10, rgb);
  EXPECT_EQ(rgb[0], 0);
  EXPECT_EQ(rgb[1], 0);
  EXPECT_EQ(rgb[2], 0);
  EXPECT_EQ(rgb[3], 255);
  EXPECT_EQ(rgb[4], 255);
  EXPECT_EQ(rgb[5], 255);
  EXPECT_GE(rgb[6], 250);  // red
  EXPECT_LE(rgb[7], 5);
  EXPECT_LE(rgb[8], 5);
  EXPECT_EQ(rgb[9], rgb[6]) << "the pair shares its chroma";
}

TEST(Yuyv, RowsFollowTheStride) {
  // Two rows of one pair each, with padding after every row.
  const std::uint8_t yuyv[] = {235, 128, 235, 128, 0, 0, 16, 128, 16, 128, 0, 0};
  std::uint8_t rgb[12];
  yuyvToRgb(yuyv, 2, 2, 6, rgb);
  EXPECT_EQ(rgb[0], 255);
  EXPECT_EQ(rgb[6], 0);
}

}  // namespace
}  // namespace kinetiscan::play
