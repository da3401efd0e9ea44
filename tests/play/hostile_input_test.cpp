// kinetiscan-play under hostile input: crafted image files, a driver that answers what no driver
// should, odd options and output folders the program does not own. One test per fault found in
// review, named after it.
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

// After <cstdio>: libjpeg's header uses FILE without including it.
#include <jpeglib.h>

#include "camera/file_sources.h"
#include "camera/image_decoder.h"
#include "camera/v4l2_source.h"
#include "inputs.h"
#include "output_folder.h"
#include "picture_writers.h"
#include "play_test_support.h"

namespace kinetiscan::play {
namespace {

using Bytes = std::string;

Bytes little(std::uint32_t value, int bytes) {
  Bytes out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

// A 24-bit BMP header declaring the given size, followed by `pixels` bytes.
Bytes bmp(std::int32_t width, std::int32_t height, const Bytes& pixels) {
  return "BM" + little(54 + static_cast<std::uint32_t>(pixels.size()), 4) + little(0, 4) +
         little(54, 4) + little(40, 4) + little(static_cast<std::uint32_t>(width), 4) +
         little(static_cast<std::uint32_t>(height), 4) + little(1, 2) + little(24, 2) +
         little(0, 4) + little(0, 4) + little(0, 4) + little(0, 4) + little(0, 4) + little(0, 4) +
         pixels;
}

Bytes jpeg(int width, int height, std::uint8_t grey) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3, grey);
  while (info.next_scanline < info.image_height) {
    JSAMPROW line = row.data();
    jpeg_write_scanlines(&info, &line, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes out(reinterpret_cast<char*>(buffer), size);
  free(buffer);
  return out;
}

const std::uint8_t* data(const Bytes& bytes) {
  return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

// A driver whose answers the test chooses.
class FakeDriver : public VideoDriver {
 public:
  v4l2_pix_format format{};  // what the format negotiation settles on
  bool streaming = false;
  Bytes frame;  // what each read() or dequeued buffer holds

  int open(const std::string&, std::string*) override { return 1000; }
  int ioctl(int, unsigned long request, void* argument) override {
    switch (request) {
      case VIDIOC_QUERYCAP:
        static_cast<v4l2_capability*>(argument)->capabilities =
            V4L2_CAP_VIDEO_CAPTURE | (streaming ? V4L2_CAP_STREAMING : V4L2_CAP_READWRITE);
        return 0;
      case VIDIOC_ENUM_FMT:
        if (static_cast<v4l2_fmtdesc*>(argument)->index != 0) break;
        static_cast<v4l2_fmtdesc*>(argument)->pixelformat = format.pixelformat;
        return 0;
      case VIDIOC_S_FMT:
        static_cast<v4l2_format*>(argument)->fmt.pix = format;
        return 0;
      case VIDIOC_REQBUFS:
        static_cast<v4l2_requestbuffers*>(argument)->count = 1;
        return 0;
      case VIDIOC_QUERYBUF:
        static_cast<v4l2_buffer*>(argument)->length = static_cast<std::uint32_t>(frame.size());
        return 0;
      case VIDIOC_DQBUF:
        static_cast<v4l2_buffer*>(argument)->index = 0;
        static_cast<v4l2_buffer*>(argument)->bytesused = 0xFFFFFFFF;  // more than it holds
        return 0;
      case VIDIOC_QBUF:
      case VIDIOC_STREAMON:
      case VIDIOC_STREAMOFF:
        return 0;
    }
    errno = EINVAL;
    return -1;
  }
  ssize_t read(int, void* buffer, std::size_t length) override {
    std::memcpy(buffer, frame.data(), std::min(length, frame.size()));
    return static_cast<ssize_t>(frame.size());  // claims all of it, room or not
  }
  int wait(int, int) override { return 1; }
  void* map(int, std::size_t, off_t) override { return frame.data(); }
  void unmap(void*, std::size_t) override {}
  void close(int) override {}
};

v4l2_pix_format pixFormat(std::uint32_t pixelFormat, std::uint32_t width, std::uint32_t height,
                          std::uint32_t bytesPerLine, std::uint32_t sizeImage) {
  v4l2_pix_format format{};
  format.pixelformat = pixelFormat;
  format.width = width;
  format.height = height;
  format.bytesperline = bytesPerLine;
  format.sizeimage = sizeImage;
  return format;
}

class HostileInput : public ScratchFolder {
 protected:
  // Runs the program in the scratch folder as fast as it goes; its exit code.
  int play(const std::string& arguments) { return runProgram(arguments + " --rate 0 --quiet"); }
  // Plays a folder holding one file of the given name and bytes as the program's input would:
  // refused when it is opened (its header) or when its frame is played (its data).
  std::string openOne(const std::string& name, const Bytes& bytes) {
    std::filesystem::remove_all(path("in"));
    std::filesystem::create_directory(path("in"));
    writeFile("in/" + name, bytes);
    std::string error;
    auto source = camera::openImageFolder(path("in"), false, &error);
    if (source == nullptr) return error;
    camera::Frame frame;
    EXPECT_FALSE(source->next(frame)) << name;
    EXPECT_NE(source->failure().find(name), std::string::npos) << source->failure();
    return source->failure();
  }
  Bytes pngOf(int width, int height) {
    Picture picture{width, height,
                    std::vector<std::uint8_t>(std::size_t(width) * height * 3, 0x80)};
    std::string error;
    EXPECT_TRUE(writePng(path("made.png"), picture, &error)) << error;
    return read("made.png");
  }
};

TEST_F(HostileInput, Row1_ScalingAWideImageOverflowedAndReadOutOfBounds) {
  // The scaler itself, on an image far wider than an int's worth of column positions.
  const int width = 16000000;
  std::vector<std::uint8_t> wide(std::size_t(width) * 3, 0);
  for (std::size_t i = wide.size() / 2; i < wide.size(); ++i) wide[i] = 200;
  const camera::Frame frame = camera::frameFromImage(wide.data(), width, 1, 3);
  EXPECT_EQ(frame[0], 0) << "the left half is black";
  EXPECT_EQ(frame[(camera::kWidth - 1) * 3], 200) << "the right half is bright";

  // The crafted files are refused from their headers, before decoding.
  EXPECT_NE(openOne("wide.ppm", "P6\n16000000 1\n255\n").find("PNM"), std::string::npos);
  EXPECT_NE(openOne("wide.bmp", bmp(16000000, 1, "")).find("16000000x1 pixels; at most 8192"),
            std::string::npos);
  Bytes png = pngOf(1, 1);
  png.replace(16, 4, "\x00\xF4\x24\x00", 4);  // IHDR width 16000000
  EXPECT_NE(openOne("wide.png", png).find("16000000x1 pixels"), std::string::npos);
  // The webcam's MJPEG path shares the decoder and the limit.
  camera::Frame webcam;
  std::string error;
  const Bytes wideJpeg = jpeg(8200, 1, 9);
  EXPECT_FALSE(frameFromMjpeg(data(wideJpeg), wideJpeg.size(), webcam, &error));
  EXPECT_NE(error.find("8200x1 pixels"), std::string::npos) << error;
}

TEST_F(HostileInput, Row2_ATruncatedImageShowedUninitialisedMemory) {
  const Bytes png = pngOf(100, 100);
  const Bytes jpg = jpeg(100, 100, 0x80);
  const Bytes whole = bmp(100, 100, Bytes(100 * 300, '\x80'));
  camera::DecodedImage image;
  std::string error;
  for (const Bytes* complete : {&png, &jpg, &whole}) {
    ASSERT_TRUE(camera::decodeImage(data(*complete), complete->size(), &image, &error)) << error;
    EXPECT_EQ(image.width, 100);
  }
  EXPECT_NE(openOne("short.png", png.substr(0, png.size() - 30)).find("damaged PNG"),
            std::string::npos);
  EXPECT_NE(openOne("short.jpg", jpg.substr(0, jpg.size() / 2)).find("damaged JPEG"),
            std::string::npos);
  EXPECT_NE(openOne("short.bmp", whole.substr(0, whole.size() - 1)).find("cut short"),
            std::string::npos);
  EXPECT_NE(openOne("header.ppm", "P6\n100 100\n255\n").find("PNM"), std::string::npos);
}

TEST_F(HostileInput, Row3_ADescriptorAbove1024OverflowedTheSelectSet) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur < 1600 && limit.rlim_max >= 1600) {
    limit.rlim_cur = 1600;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  }
  if (limit.rlim_cur < 1600) GTEST_SKIP() << "cannot open descriptors above 1024 here";
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(dup2(ends[0], 1500), 1500);
  EXPECT_EQ(waitReadable(1500, 0), 0) << "nothing to read yet";
  ASSERT_EQ(write(ends[1], "x", 1), 1);
  EXPECT_EQ(waitReadable(1500, 0), 1);
  close(1500);
  close(ends[0]);
  close(ends[1]);
}

TEST_F(HostileInput, Row4_SymlinkLoopsOddMethodNamesAndDriverStridesAborted) {
  std::filesystem::create_directory(path("in"));
  std::filesystem::create_symlink("loop.png", path("in/loop.png"));
  std::string error;
  EXPECT_EQ(camera::openImageFolder(path("in"), false, &error), nullptr);
  EXPECT_NE(error.find("loop.png"), std::string::npos) << error;

  // A loop in the output folder is refused before the run, not found after it.
  std::filesystem::create_directory(path("out"));
  std::filesystem::create_symlink("loop", path("out/loop"));
  EXPECT_EQ(play("--frames 3"), 1);
  EXPECT_NE(read("stderr.txt").find("loop"), std::string::npos) << read("stderr.txt");
  std::filesystem::remove_all(path("out"));

  // A method name that is not UTF-8 is no method: refused, and shown escaped.
  EXPECT_EQ(play("--frames 3 --at 1 \"$(printf 'ad\\377apt')\""), 2) << read("stderr.txt");
  EXPECT_NE(read("stderr.txt").find("--at 1 ad\\xFFapt: not a method"), std::string::npos)
      << read("stderr.txt");

  for (const std::uint32_t stride : {0x7FFFFFFFu, 0x80000000u}) {
    FakeDriver driver;
    driver.format = pixFormat(V4L2_PIX_FMT_YUYV, 160, 120, stride, 0);
    EXPECT_EQ(openVideoDevice("/dev/fake", &error, driver), nullptr) << stride;
    EXPECT_NE(error.find("YUYV rows of " + std::to_string(stride)), std::string::npos) << error;
  }
}

TEST_F(HostileInput, Row5_AFailingMoveLostTheEarlierResults) {
  ASSERT_EQ(play("--frames 60 --png-at 50"), 0) << read("stderr.txt");
  const std::string summary = read("out/summary.txt"), stage = read("out/stage-0050.png");
  std::filesystem::remove(path("out/stage-0050.png"));
  std::filesystem::create_directory(path("out/stage-0050.png"));
  EXPECT_EQ(play("--frames 60 --png-at 50 --seed 3"), 1);
  EXPECT_NE(read("stderr.txt").find("stage-0050.png"), std::string::npos) << read("stderr.txt");
  EXPECT_EQ(read("out/summary.txt"), summary) << "the earlier results are left whole";

  // The folder changing under a run: the commit refuses and the earlier set stays.
  std::filesystem::remove(path("out/stage-0050.png"));
  std::ofstream(path("out/stage-0050.png")) << stage;
  OutputFolder folder;
  std::string error;
  ASSERT_TRUE(folder.open(path("out"), &error)) << error;
  std::ofstream(folder.staged("summary.txt")) << "new";
  writeFile("out/notes.txt", "the user's");
  EXPECT_FALSE(folder.commit(&error));
  EXPECT_NE(error.find("notes.txt"), std::string::npos) << error;
  EXPECT_EQ(read("out/summary.txt"), summary);
  EXPECT_EQ(read("out/stage-0050.png"), stage);
}

TEST_F(HostileInput, Row6_FilesItDidNotMakeWereDeleted) {
  writeFile("stage-diagram.png", "the user's diagram");
  EXPECT_EQ(play("--frames 3 --out ."), 1);
  EXPECT_NE(read("stderr.txt").find("stage-diagram.png"), std::string::npos) << read("stderr.txt");
  EXPECT_EQ(read("stage-diagram.png"), "the user's diagram");

  std::filesystem::create_directory(path("mine"));
  writeFile("mine/track.csv", "the user's own track");
  EXPECT_EQ(play("--frames 3 --out mine"), 1) << "no manifest: not the program's folder";
  EXPECT_EQ(read("mine/track.csv"), "the user's own track");
}

TEST_F(HostileInput, Row7_TheGifDelayOverflowed) {
  bool clamped = false;
  EXPECT_EQ(gifDelay(10000, 1000000, &clamped), kMaxGifDelay);
  EXPECT_TRUE(clamped);
  EXPECT_EQ(gifDelay(0, 20000, &clamped), kMaxGifDelay);
  EXPECT_TRUE(clamped);
  EXPECT_EQ(gifDelay(50, 1, &clamped), 5);
  EXPECT_FALSE(clamped);
  EXPECT_EQ(gifDelay(0, 1, &clamped), 5) << "frames at least 50 ms apart";
  EXPECT_EQ(play("--frames 2 --gif-every 20000"), 0) << read("stderr.txt");
  EXPECT_NE(read("stderr.txt").find("655.35 s"), std::string::npos) << read("stderr.txt");
}

TEST_F(HostileInput, Row8_TinyFilesDeclaringHugeSizesCostGigabytes) {
  EXPECT_NE(openOne("huge.bmp", bmp(26000, 26000, "")).find("26000x26000"), std::string::npos);
  EXPECT_NE(
      openOne("huge.tga", Bytes(2, '\0') + '\x02' + Bytes(9, '\0') + "\xff\xff\xff\xff\x18" + '\0')
          .find("TGA"),
      std::string::npos);
  EXPECT_NE(openOne("huge.gif", "GIF89a\xff\xff\xff\xff" + Bytes(22, '\0')).find("GIF"),
            std::string::npos);
  EXPECT_NE(openOne("psd.png", Bytes("8BPS\x00\x01", 6) + Bytes(34, '\0')).find("PSD"),
            std::string::npos);

  camera::Frame frame;
  std::string error;
  const Bytes bmpFrame = bmp(26000, 26000, "");
  EXPECT_FALSE(frameFromMjpeg(data(bmpFrame), bmpFrame.size(), frame, &error));
  EXPECT_NE(error.find("BMP image, not a JPEG"), std::string::npos) << error;

  FakeDriver driver;
  driver.format = pixFormat(V4L2_PIX_FMT_MJPEG, 160, 120, 0, 0xFFFFFFFF);
  EXPECT_EQ(openVideoDevice("/dev/fake", &error, driver), nullptr);
  EXPECT_NE(error.find("asks for frames of 4294967295 bytes"), std::string::npos) << error;
}

TEST_F(HostileInput, Row9_FormatsWereChosenByContentNotByName) {
  EXPECT_NE(openOne("psd.png", Bytes("8BPS\x00\x01", 6) + Bytes(34, '\0')).find("a PSD image"),
            std::string::npos);
  EXPECT_NE(openOne("hdr.png", "#?RADIANCE\n").find("a HDR image"), std::string::npos);
  EXPECT_NE(openOne("pnm.png", "P6\n1 1\n255\nabc").find("a PNM image"), std::string::npos);
  EXPECT_NE(openOne("animated.gif", "GIF89a").find("named as a GIF image"), std::string::npos);
  // A JPEG named .png is still a JPEG.
  writeFile("in/photo.png", jpeg(16, 16, 0xC8));
  std::filesystem::remove(path("in/animated.gif"));
  std::string error;
  auto source = camera::openImageFolder(path("in"), false, &error);
  ASSERT_NE(source, nullptr) << error;

  // The webcam's MJPEG path takes JPEG only, by driver and by frame.
  const Bytes png = pngOf(160, 120);
  camera::Frame frame;
  EXPECT_FALSE(frameFromMjpeg(data(png), png.size(), frame, &error));
  FakeDriver driver;
  driver.streaming = true;
  driver.format = pixFormat(V4L2_PIX_FMT_MJPEG, 160, 120, 0, 1 << 16);
  driver.frame = png;
  auto webcam = openVideoDevice("/dev/fake", &error, driver);
  ASSERT_NE(webcam, nullptr) << error;
  EXPECT_FALSE(webcam->next(frame));
  EXPECT_NE(webcam->failure().find("damaged or too short"), std::string::npos);
  driver.frame = jpeg(160, 120, 0xC8);
  auto good = openVideoDevice("/dev/fake", &error, driver);
  ASSERT_NE(good, nullptr) << error;
  ASSERT_TRUE(good->next(frame));
  EXPECT_NEAR(frame[0], 0xC8, 2);

  // Results kept in the images folder would be the next run's input.
  EXPECT_EQ(play("--images in --out in"), 2);
  EXPECT_EQ(play("--images in --out in/results"), 2);
  EXPECT_NE(read("stderr.txt").find("inside it"), std::string::npos) << read("stderr.txt");
  EXPECT_EQ(play("--images in --out elsewhere"), 0) << read("stderr.txt");
}

}  // namespace
}  // namespace kinetiscan::play
