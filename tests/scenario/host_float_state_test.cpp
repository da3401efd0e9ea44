// The host's floating-point state as hosts leave it: exceptions unmasked, rounding down or toward
// zero, subnormals flushed. Through the exports nothing traps, every result is the one the default
// state gives, and the host has its state back exactly, flags included, after every call.
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "host/surface.h"
#include "member_fixture.h"

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>

namespace kinetiscan::scenario {
namespace {

constexpr unsigned kDefault = 0x1F80;
// Invalid, zero-divide and overflow unmasked, as some language runtimes leave them.
constexpr unsigned kUnmasked = 0x1900;

// A readable record of everything a script and the stage can see, in the order it was read.
struct Reading {
  std::string what;
  std::vector<std::int64_t> values;
};
using Transcript = std::vector<Reading>;

// Ten frames of a textured scene with a square moving across it, then the first again.
std::vector<camera::Frame> footage() {
  std::vector<camera::Frame> frames;
  std::uint32_t noise = 12345;
  for (int k = 0; k <= 10; ++k) {
    camera::Frame frame = uniformFrame(0);
    for (std::size_t i = 0; i < frame.size(); ++i) {
      noise = noise * 1103515245u + 12345u;
      const std::size_t pixel = i / 3;
      frame[i] = static_cast<std::uint8_t>(pixel % 160 + pixel / 160 + (noise >> 28));
    }
    const int at = 10 * (k % 10);
    fillRect(frame, 20 + at / 2, 50 + at / 2, at, at + 30, 250, 40,
             static_cast<std::uint8_t>(7 * k));
    frames.push_back(frame);
  }
  frames.back() = frames.front();
  return frames;
}

class HostFloatState : public MemberScenario {
 protected:
  void SetUp() override {
    MemberScenario::SetUp();
    addOurCast();
    member_ = createMember();
    ASSERT_NE(member_, nullptr);
    void* actor = nullptr;
    ASSERT_EQ(member_->ops->newSpriteActor(member_, &actor), kOk);
    actor_ = static_cast<SpriteActorInterface*>(actor);
    ASSERT_EQ(deliver({uniformFrame(100)}), 1);  // the cast scan starts capture
  }
  void TearDown() override {
    if (actor_ != nullptr) {
      EXPECT_EQ(actor_->ops->release(actor_), 0);
    }
    MemberScenario::TearDown();
  }

  // One call into the plug-in with the host's MXCSR at state_, which must come back unchanged.
  template <class Call>
  auto asHost(const char* what, Call call) {
    const unsigned normal = _mm_getcsr();
    _mm_setcsr(state_);
    const auto result = call();
    const unsigned after = _mm_getcsr();
    _mm_setcsr(normal);
    EXPECT_EQ(after, state_) << what << ", host MXCSR 0x" << std::hex << state_;
    return result;
  }

  void setNumber(const char* name, double number) {
    const HostValue value = world_->values.real(number);
    EXPECT_EQ(asHost(name, [&] { return set(name, value); }), kOk) << name;
  }
  void frame(const camera::Frame& frame) {
    EXPECT_EQ(asHost("a frame", [&] { return deliver({frame}); }), 1);
  }
  void adapt() {
    EXPECT_EQ(asHost("adapt", [&] { return call("adapt", {}, nullptr); }), kOk);
  }

  // The property's value as the script sees it, as integers; images give their pixel bytes.
  Reading property(const char* name) {
    HostValue out{};
    EXPECT_EQ(asHost(name, [&] { return get(name, &out); }), kOk) << name;
    const host::Value& value = valueOf(out);
    Reading reading{name, {value.kind}};
    if (value.kind == host::kValueFloat)
      reading.values.push_back(std::bit_cast<std::int64_t>(value.real));
    for (const host::Value& item : value.items) {
      for (std::int32_t n : {item.point.vertical, item.point.horizontal, item.rect.top,
                             item.rect.left, item.rect.bottom, item.rect.right})
        reading.values.push_back(n);
    }
    if (value.image != nullptr)
      reading.values.insert(reading.values.end(), value.image->pixels.begin(),
                            value.image->pixels.end());
    release(out);
    return reading;
  }

  Reading method(const char* name, std::vector<HostValue> arguments) {
    HostValue out{};
    EXPECT_EQ(asHost(name, [&] { return call(name, arguments, &out); }), kOk) << name;
    const host::Value& value = valueOf(out);
    Reading reading{
        name,
        {value.colour.red, value.colour.green, value.colour.blue, value.rect.top, value.rect.left,
         value.rect.bottom, value.rect.right, value.point.vertical, value.point.horizontal}};
    release(out);
    return reading;
  }

  // Every view drawn as a sprite, with both overlays, then the member preview.
  Reading drawings() {
    Reading reading{"drawings", {}};
    for (std::int32_t view = 1; view <= 4; ++view) {
      for (const char* name : {"view", "showboundingboxes", "showcenterpoints"}) {
        HostValue number = world_->values.integer(std::string(name) == "view" ? view : 1);
        actor_->ops->setProperty(actor_, world_->values.symbol(name), &number);
        release(number);
      }
      host::Surface surface(host_->ledger, 170, 130);
      DrawRequest request{};
      request.top = 5, request.left = 5, request.bottom = 125, request.right = 165;
      request.level = 0;  // the panel replaced, not blended with what it showed before
      asHost("drawSprite", [&] { return actor_->ops->drawSprite(actor_, &request, 0, &surface); });
      const std::vector<std::uint8_t> bytes = surface.bytes();
      reading.values.insert(reading.values.end(), bytes.begin(), bytes.end());
    }
    host::Surface surface(host_->ledger, 160, 120);
    const HostRect rect{0, 0, 120, 160};
    asHost("drawMemberPreview",
           [&] { return member_->ops->drawMemberPreview(member_, &surface, &rect); });
    const std::vector<std::uint8_t> bytes = surface.bytes();
    reading.values.insert(reading.values.end(), bytes.begin(), bytes.end());
    return reading;
  }

  void readEverything(Transcript& transcript) {
    for (const char* name : {"loclist", "boundingboxlist", "image", "retinaimage",
                             "differenceimage", "globsimage", "adaptivity", "sensitivity"})
      transcript.push_back(property(name));
    for (const char* name : {"block", "retinablock", "differenceblock"}) {
      for (const HostRect& rect : {HostRect{0, 0, 120, 160}, HostRect{30, 20, 90, 77}})
        transcript.push_back(method(name, {world_->values.rect(rect)}));
    }
    for (const char* name : {"trackcolorbounds", "tracknotcolor"}) {
      transcript.push_back(
          method(name, {world_->values.colour(60, 40, 250), world_->values.integer(30)}));
    }
    transcript.push_back(drawings());
  }

  // The same script under the host's current state: parameters that round, the background reset,
  // ten frames of adapting footage, everything read; then the background reset and the same frame
  // again, which moves nothing at sensitivity 0.
  Transcript script() {
    Transcript transcript;
    const std::vector<camera::Frame> frames = footage();
    setNumber("adaptivity", 0.1);
    setNumber("sensitivity", 1e-40);  // a subnormal float
    transcript.push_back(property("adaptivity"));
    transcript.push_back(property("sensitivity"));
    setNumber("adaptivity", 2.7);
    setNumber("sensitivity", 0.07);
    frame(frames[0]);
    adapt();
    for (int k = 1; k <= 10; ++k) frame(frames[k]);
    readEverything(transcript);
    setNumber("sensitivity", 0.0);
    adapt();
    frame(frames[10]);
    transcript.push_back(property("loclist"));
    transcript.push_back(property("differenceimage"));
    return transcript;
  }

  SpriteActorInterface* actor_ = nullptr;
  unsigned state_ = kDefault;
};

// A host that rounds down or toward zero, or flushes subnormals, sees what the default state
// shows: the reset, the conversions both ways and the analysis all round to nearest.
TEST_F(HostFloatState, ResultsDoNotDependOnTheHostsRoundingOrFlushing) {
  const Transcript want = script();
  ASSERT_EQ(want[0].values[1], std::bit_cast<std::int64_t>(static_cast<double>(0.1f)));
  ASSERT_EQ(want[want.size() - 2].values, (std::vector<std::int64_t>{host::kValueList}))
      << "no region when the frame is the background";
  // Rounding down, toward zero and up; flush-to-zero with denormals-are-zero; and rounding down
  // with both and the exceptions unmasked.
  for (unsigned state : {0x3F80u, 0x7F80u, 0x5F80u, 0x9FC0u, 0xB940u}) {
    state_ = state;
    const Transcript got = script();
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(got[i].what, want[i].what);
      // The values, not their dump: images have hundreds of thousands.
      EXPECT_TRUE(got[i].values == want[i].values)
          << want[i].what << " (reading " << i << ") differs, host MXCSR 0x" << std::hex << state;
    }
  }
}

// Parameters a script may set, however hostile, with the invalid, zero-divide and overflow traps
// of the host unmasked: nothing traps, whatever is delivered, read or drawn.
TEST_F(HostFloatState, HostileParametersTrapNothingWithTheHostsExceptionsUnmasked) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  const std::vector<camera::Frame> frames = footage();
  state_ = kUnmasked;
  const struct {
    double adaptivity, sensitivity;
  } table[] = {
      {kNaN, 0.5},
      {1000.0, kNaN},
      {-kNaN, -kNaN},
      {kInfinity, -kInfinity},
      {-kInfinity, kInfinity},
      {1e300, -1e300},
      {0x1p128, 1e-310},
      {-0.0, 0.0},
      {1.0, -0.0},
      {0.0, 1e-45},
      {std::nextafter(1.0, 0.0), kNaN},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(::testing::Message() << row.adaptivity << ", " << row.sensitivity);
    setNumber("adaptivity", row.adaptivity);
    setNumber("sensitivity", row.sensitivity);
    frame(frames[1]);
    adapt();
    frame(frames[2]);
    frame(frames[3]);
    Transcript transcript;
    readEverything(transcript);
    // Readings 6 and 7 are the parameters as floats: NaN read back as NaN, nothing else as NaN.
    for (const auto& [reading, given] :
         {std::pair{6, row.adaptivity}, std::pair{7, row.sensitivity}}) {
      ASSERT_EQ(transcript[reading].values.size(), 2u);
      EXPECT_EQ(std::isnan(std::bit_cast<double>(transcript[reading].values[1])),
                std::isnan(given));
    }
  }
}

}  // namespace
}  // namespace kinetiscan::scenario

#endif
