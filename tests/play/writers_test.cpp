// What kinetiscan-play writes: the stage PNG and the GIF read back through libpng and giflib,
// the track log, and the results folder that shows only finished runs.
#include <gif_lib.h>
#include <png.h>

#include <nlohmann/json.hpp>

#include "output_folder.h"
#include "picture_writers.h"
#include "play_test_support.h"
#include "track_log.h"

namespace kinetiscan::play {
namespace {

Picture gradient(int width, int height) {
  Picture picture{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
  for (std::size_t i = 0; i < picture.rgb.size(); ++i) {
    picture.rgb[i] = static_cast<std::uint8_t>(i * 7);
  }
  return picture;
}

using Writers = ScratchFolder;

TEST(Pictures, TheStageDibIsFlippedAndReordered) {
  // Two rows of one pixel, bottom row first: blue, green, red, unused.
  const std::vector<std::uint8_t> dib = {1, 2, 3, 0, 4, 5, 6, 0};
  const Picture picture = pictureFromDib(dib, 1, 2);
  EXPECT_EQ(picture.rgb, (std::vector<std::uint8_t>{6, 5, 4, 3, 2, 1}));
}

TEST_F(Writers, APngReadsBackPixelForPixel) {
  const Picture picture = gradient(13, 5);
  std::string error;
  ASSERT_TRUE(writePng(path("stage.png"), picture, &error)) << error;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_file(&image, path("stage.png").c_str()), 0);
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  ASSERT_NE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr), 0);
  EXPECT_EQ(image.width, 13u);
  EXPECT_EQ(image.height, 5u);
  EXPECT_EQ(pixels, picture.rgb);
}

TEST_F(Writers, APngThatCannotBeCreatedSaysWhere) {
  std::string error;
  EXPECT_FALSE(writePng(path("no/such/folder/stage.png"), gradient(2, 2), &error));
  EXPECT_NE(error.find("stage.png"), std::string::npos) << error;
  // A full disk is named, not just "cannot write".
  EXPECT_FALSE(writePng("/dev/full", gradient(64, 64), &error));
  EXPECT_NE(error.find("(No space left on device)"), std::string::npos) << error;
}

TEST(Palette, PureColoursAndGreysAreExactOthersNear) {
  std::uint8_t back[3];
  for (const auto& colour : std::vector<std::array<std::uint8_t, 3>>{
           {255, 255, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 0}, {255, 255, 255}, {102, 204, 51}}) {
    paletteColour(paletteIndex(colour[0], colour[1], colour[2]), back);
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + 3),
              std::vector<std::uint8_t>(colour.begin(), colour.end()));
  }
  for (int value = 0; value < 256; value += 5) {
    const auto v = static_cast<std::uint8_t>(value);
    paletteColour(paletteIndex(v, v, v), back);
    EXPECT_NEAR(back[0], value, 4) << "greys stay grey and close";
    EXPECT_EQ(back[0], back[2]);
  }
  paletteColour(paletteIndex(120, 60, 200), back);
  EXPECT_NEAR(back[0], 120, 26);
  EXPECT_NEAR(back[1], 60, 26);
  EXPECT_NEAR(back[2], 200, 26);
}

TEST_F(Writers, AGifReadsBackAsALoopingAnimation) {
  GifAnimation gif;
  std::string error;
  ASSERT_TRUE(gif.open(path("run.gif"), 8, 4, 5, &error)) << error;
  Picture frame{8, 4, std::vector<std::uint8_t>(96, 0)};
  ASSERT_TRUE(gif.add(frame, &error));
  frame.rgb[0] = 255;  // top-left pixel red
  ASSERT_TRUE(gif.add(frame, &error));
  EXPECT_FALSE(gif.add(gradient(3, 3), &error)) << "frames keep the animation's size";
  ASSERT_TRUE(gif.close(&error)) << error;

  int code = 0;
  GifFileType* file = DGifOpenFileName(path("run.gif").c_str(), &code);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(DGifSlurp(file), GIF_OK);
  EXPECT_EQ(file->SWidth, 8);
  EXPECT_EQ(file->SHeight, 4);
  ASSERT_EQ(file->ImageCount, 2);
  const GifColorType red = file->SColorMap->Colors[file->SavedImages[1].RasterBits[0]];
  EXPECT_EQ(red.Red, 255);
  EXPECT_EQ(red.Green, 0);
  const GifColorType black = file->SColorMap->Colors[file->SavedImages[0].RasterBits[0]];
  EXPECT_EQ(black.Red, 0);
  GraphicsControlBlock control{};
  ASSERT_EQ(DGifSavedExtensionToGCB(file, 1, &control), GIF_OK);
  EXPECT_EQ(control.DelayTime, 5);
  bool loops = false;
  for (int i = 0; i < file->SavedImages[0].ExtensionBlockCount; ++i) {
    const ExtensionBlock& block = file->SavedImages[0].ExtensionBlocks[i];
    loops = loops || (block.ByteCount == 11 && std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0);
  }
  EXPECT_TRUE(loops);
  DGifCloseFile(file, &code);
}

TEST(TrackLog, LinesShowWhatScriptsSaw) {
  FrameRecord record;
  record.frame = 12;
  record.milliseconds = 1.23456;
  record.capturedMs = 56.7104;
  record.wallMicros = 1765305735123456;
  record.centres = {{113, 25}, {40, 80}};
  record.rects = {{110, 30, 116, 21}, {30, 90, 50, 70}};
  record.ids = {4, 5};
  record.merged = {{7}, {}};
  CallRecord call;
  call.method = "trackcolor";
  call.arguments = {"255,0,0", "30"};
  call.value = {{"point", {60, 80}}};
  record.calls.push_back(call);
  call.method = "nosuch";
  call.arguments.clear();
  call.result = kUnknownMethod;
  call.value = nullptr;
  record.calls.push_back(call);
  FrameMatch match;
  match.present = 2, match.found = 2, match.errors = {0.5, 1.5};
  record.match = match;

  EXPECT_EQ(csvLine(record),
            "12,56.710,2025-12-09T18:42:15.123Z,1.235,2,113:25 40:80,110:30:116:21 30:90:50:70,"
            "\"trackcolor(255,0,0 30)=0 {\"\"point\"\":[60,80]}; nosuch()=0x800407df\","
            "2,2,1.000\n");
  const nlohmann::json json = jsonRecord(record);
  EXPECT_EQ(json["frame"], 12);
  EXPECT_EQ(json["loclist"][0], nlohmann::json({113, 25}));
  EXPECT_EQ(json["boundingboxlist"][1], nlohmann::json({30, 90, 50, 70}));
  EXPECT_EQ(json["calls"][0]["value"]["point"][1], 80);
  EXPECT_EQ(json["calls"][1]["result"], 0x800407dfu);
  EXPECT_TRUE(json["calls"][1]["value"].is_null());
  EXPECT_EQ(json["truth"]["found"], 2);
  EXPECT_EQ(json["t_ms"], 56.71);
  EXPECT_EQ(json["wall_time"], "2025-12-09T18:42:15.123Z");
  EXPECT_EQ(json["processing_ms"], 1.235);
  // One object per region beside the arrays; only a region that absorbed others says so.
  EXPECT_EQ(json["regions"][0], nlohmann::json::parse(R"({"id": 4, "box": {"x": 21, "y": 109,
      "w": 10, "h": 7}, "point": [113, 25], "rect": [110, 30, 116, 21], "merged": [7]})"));
  EXPECT_FALSE(json["regions"][1].contains("merged"));
  EXPECT_EQ(json["regions"][1]["id"], 5);

  record.calls.clear();
  record.match.reset();
  record.centres.clear();
  record.rects.clear();
  EXPECT_EQ(csvLine(record), "12,56.710,2025-12-09T18:42:15.123Z,1.235,0,,,,,,\n");
  EXPECT_FALSE(jsonRecord(record).contains("truth"));
}

TEST(TrackLog, HostValuesAreDescribedByKind) {
  host::Value list;
  list.kind = host::kValueList;
  host::Value colour;
  colour.kind = host::kValueColour;
  colour.colour = {1, 2, 3, 1};
  list.items.push_back(colour);
  host::Value rect;
  rect.kind = host::kValueRect;
  rect.rect = {1, 2, 3, 4};
  list.items.push_back(rect);
  EXPECT_EQ(describeValue(list).dump(), R"({"list":[{"colour":[1,2,3]},{"rect":[1,2,3,4]}]})");
  host::Value odd;
  odd.kind = 42;
  EXPECT_EQ(describeValue(odd).dump(), R"({"kind":42})");
}

// A full disk is named: the run once said "cannot write the track log" and no more.
TEST(TrackLog, AFailedWriteSaysWhy) {
  TrackLog log;
  std::string error;
  ASSERT_TRUE(log.open("/dev/full", "/dev/full", "/dev/full", &error)) << error;
  FrameRecord record;
  EXPECT_FALSE(log.add(record, &error));
  EXPECT_EQ(error, "cannot write the track log (No space left on device)");
}

TEST_F(Writers, ResultsReplaceTheEarlierOnesWholeAndOnlyWhenCommitted) {
  const auto commitRun = [this](const std::vector<std::string>& names) {
    OutputFolder folder;
    std::string error;
    EXPECT_TRUE(folder.open(path("out"), &error)) << error;
    for (const std::string& name : names) std::ofstream(folder.staged(name)) << "new " << name;
    EXPECT_FALSE(std::filesystem::exists(path("out/" + names.back()))) << "not before the commit";
    EXPECT_TRUE(folder.commit(&error)) << error;
  };
  commitRun({"summary.txt", "stage-0003.png"});
  commitRun({"summary.txt", "stage-0010.png"});
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    for (const auto& inner : std::filesystem::directory_iterator(entry.path())) {
      names.push_back(entry.path().filename().string() + "/" + inner.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"out/.kinetiscan-play", "out/stage-0010.png",
                                             "out/summary.txt"}))
      << "the earlier run's stage-0003.png is gone, and no staging folder is left";
}

TEST_F(Writers, ResultsOfVersionsWithoutAManifestAreKnownByTheirSummary) {
  std::filesystem::create_directory(path("out"));
  writeFile("out/summary.txt", "frames: 3\n  outputs in out: run.gif summary.txt\n");
  writeFile("out/run.gif", "GIF89a");
  writeFile("out/track.csv", "not in that summary's list");
  OutputFolder folder;
  std::string error;
  EXPECT_FALSE(folder.open(path("out"), &error));
  EXPECT_NE(error.find("track.csv"), std::string::npos) << error;
  std::filesystem::remove(path("out/track.csv"));
  ASSERT_TRUE(folder.open(path("out"), &error)) << error;
  std::ofstream(folder.staged("track.csv")) << "new";
  ASSERT_TRUE(folder.commit(&error)) << error;
  EXPECT_FALSE(std::filesystem::exists(path("out/run.gif")));
  EXPECT_TRUE(std::filesystem::exists(path("out/track.csv")));
}

TEST_F(Writers, AnAbandonedRunLeavesNothing) {
  {
    OutputFolder folder;
    std::string error;
    ASSERT_TRUE(folder.open(path("results"), &error)) << error;
    std::ofstream(folder.staged("track.csv")) << "frame\n";
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder_)) << "neither results nor a staging folder";
  OutputFolder blocked;
  std::string error;
  writeFile("file", "x");
  EXPECT_FALSE(blocked.open(path("file"), &error));
  EXPECT_NE(error.find("file"), std::string::npos);
}

}  // namespace
}  // namespace kinetiscan::play
