// The capture session over the simulated camera: the driver conversation message by message,
// the boxes it shows, the frames it keeps and the windows it leaves behind.
#include "capture/capture_session.h"

#include <gtest/gtest.h>

#include <cstring>

#include "analysis/analysis_state.h"
#include "analysis/frame_view.h"
#include "camera/synthetic_scene.h"
#include "testbed/control.h"

namespace kinetiscan {
namespace {

using camera::CaptureMessageRecord;
namespace control = standin;

constexpr char kFormatText[] =
    "The current video source does not support\nthe Kinetiscan format [160x120 RGB-24].\n\n"
    "Let's choose another source.\n";

// What the session handed to its sink.
struct Handed {
  int frames = 0;
  FrameView last;
};
Handed handed;
void recordFrame(FrameView frame) {
  ++handed.frames;
  handed.last = frame;
}

class CaptureSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    control::resetForTest();
    resetCaptureSessionForTest();
    resetAnalysisStateForTest();
    handed = Handed{};
    setFrameSink(recordFrame);
    scene_ = std::make_unique<camera::SyntheticScene>(camera::SceneOptions{});
    control::installCamera(behaviour_, scene_.get());
  }
  void TearDown() override {
    closeCaptureSession();
    EXPECT_EQ(control::liveWindowCount(), 0) << "every window destroyed";
    EXPECT_EQ(captureSession().frameBuffer.bytes, nullptr) << "frame buffer freed";
    control::resetForTest();
    resetCaptureSessionForTest();
  }

  void reinstall() { control::installCamera(behaviour_, scene_.get()); }
  std::vector<std::uint32_t> messages() const {
    std::vector<std::uint32_t> numbers;
    for (const CaptureMessageRecord& entry : control::captureRecord().messages) {
      numbers.push_back(entry.message);
    }
    return numbers;
  }

  camera::DriverBehaviour behaviour_;
  std::unique_ptr<camera::SyntheticScene> scene_;
};

using Messages = std::vector<std::uint32_t>;

TEST_F(CaptureSessionTest, OpensOnceAndClosesOnce) {
  openCaptureSession();
  openCaptureSession();
  const CaptureSession& session = captureSession();
  ASSERT_TRUE(session.captureOpen);
  EXPECT_EQ(control::liveWindowCount(), 2);
  EXPECT_EQ(messages(), (Messages{0x40B, 0x40A, 0x42D, 0x406, 0x405, 0x434, 0x432}));
  const auto& log = control::captureRecord().messages;
  EXPECT_EQ(log[0].lParam, 0);
  EXPECT_EQ(log[1].lParam, 0);
  EXPECT_EQ(log[1].wParam, 0u) << "driver index 0";
  EXPECT_EQ(log[2].wParam, 44u);
  EXPECT_EQ(log[5].wParam, 50u) << "preview every 50 ms";
  EXPECT_EQ(log[6].wParam, 1u);
  EXPECT_EQ(log[4].lParam, reinterpret_cast<std::intptr_t>(reinterpret_cast<void*>(onFrame)));
  EXPECT_EQ(log[3].lParam, reinterpret_cast<std::intptr_t>(reinterpret_cast<void*>(onVideoStream)));
  // The format record, byte for byte: 40-byte header, 160 x 120, 1 plane, 24 bits, BI_RGB.
  std::uint8_t expected[44] = {40, 0, 0, 0, 160, 0, 0, 0, 120, 0, 0, 0, 1, 0, 24, 0};
  ASSERT_EQ(log[2].format.size(), 44u);
  EXPECT_EQ(0, std::memcmp(log[2].format.data(), expected, 40));

  control::clearCaptureRecord();
  closeCaptureSession();
  closeCaptureSession();
  EXPECT_FALSE(captureSession().captureOpen);
  EXPECT_EQ(messages(), (Messages{0x402, 0x403, 0x404, 0x405, 0x406, 0x407, 0x455}));
  for (const auto& entry : control::captureRecord().messages) {
    EXPECT_EQ(entry.wParam, 0u);
    EXPECT_EQ(entry.lParam, 0);
  }
  EXPECT_EQ(control::liveWindowCount(), 0);
  EXPECT_FALSE(IsWindow(session.captureWindow)) << "the capture window went with its parent";
  // The class names our window procedure, so it goes with the session and comes back with the
  // next one: the library may be unloaded in between.
  WNDCLASSA attributes{};
  EXPECT_FALSE(control::windowClass("VideoCapWindow", &attributes));
  openCaptureSession();
  ASSERT_TRUE(control::windowClass("VideoCapWindow", &attributes));
  EXPECT_EQ(attributes.lpfnWndProc, parentWindowProc);
  EXPECT_EQ(control::liveWindowCount(), 2);
}

TEST_F(CaptureSessionTest, WindowsAreMadeAsTheHostExpects) {
  openCaptureSession();
  const CaptureSession& session = captureSession();
  control::WindowInfo parent{};
  ASSERT_TRUE(control::windowInfo(session.parentWindow, &parent));
  EXPECT_EQ(parent.className, "VideoCapWindow");
  EXPECT_EQ(parent.exStyle & 0xFFu, WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
  EXPECT_EQ(parent.style & (WS_POPUP | WS_CHILD), WS_POPUP);
  EXPECT_TRUE(parent.visible);
  EXPECT_EQ(parent.x, 0);
  EXPECT_EQ(parent.y, 0);
  EXPECT_EQ(parent.width, 1);
  EXPECT_EQ(parent.height, 1);
  control::WindowInfo capture{};
  ASSERT_TRUE(control::windowInfo(session.captureWindow, &capture));
  EXPECT_EQ(capture.parent, session.parentWindow);
  EXPECT_EQ(capture.id, 0);
  EXPECT_EQ(capture.x, 0);
  EXPECT_EQ(capture.y, 0);
  EXPECT_EQ(capture.style & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
  EXPECT_EQ(capture.width, 160);
  EXPECT_EQ(capture.height, 120);

  WNDCLASSA attributes{};
  ASSERT_TRUE(control::windowClass("VideoCapWindow", &attributes));
  EXPECT_EQ(attributes.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
  EXPECT_EQ(attributes.hInstance, GetModuleHandleA(nullptr)) << "the program's, not the module's";
  EXPECT_EQ(attributes.hCursor, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(attributes.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(6)));
  EXPECT_EQ(attributes.hIcon, nullptr);
}

TEST_F(CaptureSessionTest, WithoutADriverTheOpenStaysSilentAndFrameless) {
  behaviour_.installed = false;
  reinstall();
  openCaptureSession();
  EXPECT_TRUE(captureSession().captureOpen);
  EXPECT_EQ(messages(), (Messages{0x40B, 0x40A}));
  EXPECT_TRUE(control::messageBoxes().empty());
  EXPECT_EQ(control::pumpFrames(3), 0);
  EXPECT_EQ(captureSession().frameBuffer.bytes, nullptr);
}

TEST_F(CaptureSessionTest, TheDriversNameTitlesTheCaptureWindowWhenItCanBeRead) {
  openCaptureSession();
  control::WindowInfo capture{};
  ASSERT_TRUE(control::windowInfo(captureSession().captureWindow, &capture));
  EXPECT_EQ(capture.title, "Kinetiscan simulated camera");
  closeCaptureSession();

  behaviour_.describable = false;
  reinstall();
  openCaptureSession();
  ASSERT_TRUE(control::windowInfo(captureSession().captureWindow, &capture));
  EXPECT_EQ(capture.title, "") << "an unreadable description gives an empty name";
  EXPECT_EQ(control::captureRecord().connects, 2) << "and the driver still connects";
  closeCaptureSession();

  // The longest name the session keeps is 99 letters, however the driver ends what it wrote.
  for (const int length : {99, 100, 300}) {
    SCOPED_TRACE(length);
    behaviour_.describable = true;
    behaviour_.longDescription = length;
    reinstall();
    openCaptureSession();
    ASSERT_TRUE(control::windowInfo(captureSession().captureWindow, &capture));
    std::string expected;
    for (int i = 0; i < 99; ++i) expected += camera::longDescriptionLetter(i);
    EXPECT_EQ(capture.title, expected);
    closeCaptureSession();
  }
}

TEST_F(CaptureSessionTest, RefusedFormatCancelledGoesOnInTheDriversOwnFormat) {
  behaviour_.formatRefusals = -1;
  reinstall();
  control::scriptMessageBoxAnswers({IDCANCEL});
  openCaptureSession();
  const auto boxes = control::messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kFormatText);
  EXPECT_EQ(boxes[0].caption, "Kinetiscan");
  EXPECT_EQ(boxes[0].style, MB_OKCANCEL | MB_ICONHAND);
  EXPECT_EQ(boxes[0].owner, captureSession().parentWindow);
  EXPECT_EQ(messages(), (Messages{0x40B, 0x40A, 0x42D, 0x406, 0x405, 0x434, 0x432}));
  // Frames come in the driver's own, smaller format: the buffer takes their size.
  EXPECT_EQ(control::pumpFrames(2), 2);
  EXPECT_EQ(captureSession().frameBuffer.capacity, behaviour_.ownFormatBytes);
  EXPECT_EQ(captureSession().frameBuffer.used, behaviour_.ownFormatBytes);
}

TEST_F(CaptureSessionTest, RefusedFormatAcceptedShowsTheSourceDialogAndRetries) {
  behaviour_.formatRefusals = 2;
  reinstall();
  control::scriptMessageBoxAnswers({IDOK, IDOK});
  openCaptureSession();
  EXPECT_EQ(control::messageBoxes().size(), 2u);
  EXPECT_EQ(control::captureRecord().dialogsShown, 2);
  EXPECT_EQ(messages(), (Messages{0x40B, 0x40A, 0x42D, 0x42A, 0x42D, 0x42A, 0x42D, 0x406, 0x405,
                                  0x434, 0x432}));
  EXPECT_EQ(control::pumpFrames(1), 1);
  EXPECT_EQ(captureSession().frameBuffer.used, 57600u);
}

TEST_F(CaptureSessionTest, ARefusedStepEndsTheOpenSilently) {
  const struct {
    std::uint32_t refused;
    Messages sent;
  } cases[] = {
      {0x40A, {0x40B, 0x40A}},
      {0x406, {0x40B, 0x40A, 0x42D, 0x406}},
      {0x405, {0x40B, 0x40A, 0x42D, 0x406, 0x405}},
      {0x434, {0x40B, 0x40A, 0x42D, 0x406, 0x405, 0x434}},
      {0x432, {0x40B, 0x40A, 0x42D, 0x406, 0x405, 0x434, 0x432}},  // the last answer is not read
  };
  for (const auto& step : cases) {
    SCOPED_TRACE(step.refused);
    behaviour_.refusedMessage = step.refused;
    // A driver that would also refuse the format: without a connection nobody asks it.
    behaviour_.formatRefusals = step.refused == 0x40A ? -1 : 0;
    reinstall();
    control::clearCaptureRecord();
    openCaptureSession();
    EXPECT_EQ(messages(), step.sent);
    EXPECT_TRUE(captureSession().captureOpen);
    EXPECT_TRUE(control::messageBoxes().empty());
    EXPECT_EQ(control::pumpFrames(2), 0);
    closeCaptureSession();
  }
}

TEST_F(CaptureSessionTest, SourceDialogShowsThePreviewAndRenegotiates) {
  openCaptureSession();
  control::WindowInfo during{};
  control::setSourceDialogHook(
      [&] { control::windowInfo(captureSession().parentWindow, &during); });
  control::clearCaptureRecord();
  EXPECT_EQ(chooseVideoSource(), kOk);
  EXPECT_EQ(during.width, 160);
  EXPECT_EQ(during.height, 120);
  control::WindowInfo after{};
  ASSERT_TRUE(control::windowInfo(captureSession().parentWindow, &after));
  EXPECT_EQ(after.width, 1);
  EXPECT_EQ(after.height, 1);
  EXPECT_EQ(messages(), (Messages{0x42A, 0x42D})) << "the format is set again after the dialog";
}

TEST_F(CaptureSessionTest, WithoutACaptureWindowTheSourceDialogAsksNothing) {
  control::failWindowCreations(1);  // the parent, and with it the capture window
  openCaptureSession();
  auto boxes = control::messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "VideoCapWindow Creation Error.");
  EXPECT_EQ(boxes[0].caption, "ERROR");
  EXPECT_EQ(boxes[0].style, MB_OK | MB_ICONWARNING);
  EXPECT_EQ(boxes[0].owner, nullptr) << "no host window known";
  EXPECT_TRUE(captureSession().captureOpen);

  // No driver is connected, so no format can be set: a box would come back for ever.
  control::clearMessageBoxes();
  EXPECT_EQ(chooseVideoSource(), kOk);
  EXPECT_TRUE(control::messageBoxes().empty());
  EXPECT_EQ(control::captureRecord().dialogsShown, 0);
}

TEST_F(CaptureSessionTest, ASourceDialogThatCannotBeShownEndsTheNegotiationAsCancel) {
  behaviour_.formatRefusals = -1;
  behaviour_.refusedMessage = 0x42A;
  reinstall();
  control::scriptMessageBoxAnswers({IDOK, IDOK, IDOK});
  openCaptureSession();
  EXPECT_EQ(control::messageBoxes().size(), 1u);
  EXPECT_EQ(messages(), (Messages{0x40B, 0x40A, 0x42D, 0x42A, 0x406, 0x405, 0x434, 0x432}));
}

TEST_F(CaptureSessionTest, AnOpenInsideTheCreationErrorBoxOpensNothing) {
  control::failWindowCreations(1);
  int nested = 0;
  control::setMessageBoxHook([&] {
    ++nested;
    openCaptureSession();
  });
  openCaptureSession();
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(control::messageBoxes().size(), 1u);
  EXPECT_EQ(control::liveWindowCount(), 0) << "no second parent window";
  EXPECT_TRUE(control::captureRecord().messages.empty()) << "and no second driver connection";
}

TEST_F(CaptureSessionTest, FramesAreCopiedByUsedCountIntoOneBufferPerOpen) {
  openCaptureSession();
  EXPECT_EQ(captureSession().frameBuffer.bytes, nullptr) << "allocated by the first frame";
  ASSERT_EQ(control::pumpFrames(1), 1);
  const std::uint8_t* first = captureSession().frameBuffer.bytes;
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(control::pumpFrames(2), 2);
  EXPECT_EQ(captureSession().frameBuffer.bytes, first);
  EXPECT_EQ(handed.frames, 3) << "each frame is handed on";
  EXPECT_EQ(handed.last.bytes, first);
  // The buffer holds the latest frame exactly.
  camera::SyntheticScene replay{camera::SceneOptions{}};
  camera::Frame frame;
  for (int i = 0; i < 3; ++i) replay.next(frame);
  EXPECT_EQ(0, std::memcmp(captureSession().frameBuffer.bytes, frame.data(), frame.size()));

  closeCaptureSession();
  EXPECT_EQ(captureSession().frameBuffer.bytes, nullptr);
  openCaptureSession();
  EXPECT_EQ(captureSession().frameBuffer.bytes, nullptr);
  ASSERT_EQ(control::pumpFrames(1), 1);
  EXPECT_NE(captureSession().frameBuffer.bytes, nullptr);
}

TEST_F(CaptureSessionTest, FramesOfOtherSizesNeverOverrunTheBuffer) {
  openCaptureSession();
  ASSERT_EQ(control::pumpFrames(1), 1);
  behaviour_.frameBytes = 100000;
  reinstall();
  ASSERT_EQ(control::pumpFrames(1), 1);
  EXPECT_EQ(captureSession().frameBuffer.capacity, 57600u);
  EXPECT_EQ(captureSession().frameBuffer.used, 57600u);
  behaviour_.frameBytes = 1000;
  reinstall();
  ASSERT_EQ(control::pumpFrames(1), 1);
  EXPECT_EQ(captureSession().frameBuffer.used, 1000u);
  EXPECT_EQ(latestFrame().count, 1000u) << "the analysis sees only the bytes that came";
  EXPECT_EQ(handed.last.count, 1000u);
}

TEST_F(CaptureSessionTest, FramesAreCopiedByBytesUsedNotByBufferLength) {
  openCaptureSession();
  std::vector<std::uint8_t> bytes(70000, 9);
  VIDEOHDR header{};
  header.lpData = bytes.data();
  header.dwBufferLength = 70000;
  header.dwBytesUsed = 57600;
  EXPECT_EQ(onFrame(nullptr, &header), 0);
  EXPECT_EQ(captureSession().frameBuffer.capacity, 57600u);
  header.dwBytesUsed = 1000;
  bytes[999] = 200;
  EXPECT_EQ(onFrame(nullptr, &header), 0);
  EXPECT_EQ(captureSession().frameBuffer.used, 1000u);
  EXPECT_EQ(captureSession().frameBuffer.bytes[999], 200);
  // Streaming capture is never started: a driver that streams all the same is not listened to.
  const int handedBefore = handed.frames;
  bytes[999] = 100;
  EXPECT_EQ(onVideoStream(nullptr, &header), 0);
  EXPECT_EQ(handed.frames, handedBefore);
  EXPECT_EQ(captureSession().frameBuffer.bytes[999], 200);
}

TEST_F(CaptureSessionTest, AFrameWithoutBytesIsIgnored) {
  VIDEOHDR header{};
  EXPECT_EQ(onFrame(nullptr, &header), 0);
  EXPECT_EQ(onFrame(nullptr, nullptr), 0);
  std::uint8_t byte = 7;
  header.lpData = &byte;
  EXPECT_EQ(onFrame(nullptr, &header), 0) << "zero bytes used";
  EXPECT_EQ(captureSession().frameBuffer.bytes, nullptr);
  EXPECT_EQ(handed.frames, 0) << "nothing handed on";
}

TEST_F(CaptureSessionTest, OnlyTheExactScreenSaverCommandsAreSwallowed) {
  openCaptureSession();
  HWND parent = captureSession().parentWindow;
  for (WPARAM command : {WPARAM{SC_SCREENSAVE}, WPARAM{SC_MONITORPOWER}}) {
    EXPECT_EQ(SendMessageA(parent, WM_SYSCOMMAND, command, 0), 0);
    int count = 0;
    if (control::defaultProcessingCount(WM_SYSCOMMAND, command, &count)) {
      EXPECT_EQ(count, 0);
    }
    SendMessageA(parent, WM_SYSCOMMAND, command | 1, 0);
    if (control::defaultProcessingCount(WM_SYSCOMMAND, command | 1, &count)) {
      EXPECT_EQ(count, 1);
    }
  }
}

TEST_F(CaptureSessionTest, FramesArriveInsideModalLoops) {
  openCaptureSession();
  control::setFramesPerModalLoop(2);
  behaviour_.formatRefusals = -1;
  reinstall();
  control::scriptMessageBoxAnswers({IDCANCEL});
  const int before = control::captureRecord().framesDelivered;
  chooseVideoSource();
  // Two frames in the source dialog, two more in the format box after it.
  EXPECT_EQ(control::captureRecord().framesDelivered - before, 4);
  EXPECT_NE(captureSession().frameBuffer.bytes, nullptr);
}

}  // namespace
}  // namespace kinetiscan
