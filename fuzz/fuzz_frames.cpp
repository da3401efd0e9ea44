// Frames of random length and content delivered between script calls, with the analysis
// parameters set to anything a script can give (NaN, infinities, negatives, huge values), the
// background reset, and the results read back and drawn.
#include "fuzz/fuzz_support.h"
#include "host/values.h"

namespace {

constexpr int kMaxSteps = 48;
constexpr const char* kReads[] = {"loclist",     "boundingboxlist", "cameraimage",
                                  "retinaimage", "differenceimage", "globsimage"};
constexpr const char* kBlocks[] = {"block", "retinablock", "differenceblock"};
constexpr const char* kTracks[] = {"trackcolorbounds", "trackcolor", "tracknotcolorbounds",
                                   "tracknotcolor"};

// Frame sizes a driver might deliver: exact, a little off, tiny, or anything.
std::uint32_t anyFrameBytes(FuzzedDataProvider& input) {
  constexpr std::uint32_t kSizes[] = {57600, 57599, 57601, 1, 3, 38400, 115200, 0};
  if (input.ConsumeBool()) return input.PickValueInArray(kSizes);
  return input.ConsumeIntegralInRange<std::uint32_t>(0, 200000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kinetiscan;
  FuzzedDataProvider input(data, size);
  host::Rig& rig = fuzz::freshRig();
  rig.addOurCast();
  CastMemberInterface* member = rig.createMember();
  SpriteActorInterface* actor = rig.createActor();
  if (member == nullptr || actor == nullptr) std::abort();  // nothing is refused here
  host::Values& values = rig.world->values;
  for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
    switch (input.ConsumeIntegralInRange(0, 7)) {
      case 0: {
        rig.behaviour.frameBytes = anyFrameBytes(input);
        standin::installCamera(rig.behaviour, &rig.frames);
        break;
      }
      case 1:
      case 2: {
        std::vector<camera::Frame> frames;
        const int count = input.ConsumeIntegralInRange(1, 4);
        for (int i = 0; i < count; ++i) frames.push_back(fuzz::anyFrame(input));
        rig.deliver(std::move(frames));
        break;
      }
      case 3: {
        const char* name = input.ConsumeBool() ? "adaptivity" : "sensitivity";
        rig.setProperty(member, name, values.real(fuzz::anyDouble(input)));
        break;
      }
      case 4:
        rig.setProperty(member, "mindensity",
                        input.ConsumeBool() ? values.integer(input.ConsumeIntegral<std::int32_t>())
                                            : values.real(fuzz::anyDouble(input)));
        break;
      case 5:
        rig.callMethod(member, "adapt", {});
        break;
      case 6:
        rig.getProperty(member, input.PickValueInArray(kReads));
        rig.callMethod(member, input.PickValueInArray(kBlocks),
                       {values.rect(fuzz::anyRect(input))});
        rig.callMethod(member, input.PickValueInArray(kTracks),
                       {values.colour(input.ConsumeIntegral<std::uint8_t>(),
                                      input.ConsumeIntegral<std::uint8_t>(),
                                      input.ConsumeIntegral<std::uint8_t>()),
                        values.integer(input.ConsumeIntegral<std::int32_t>())});
        break;
      default: {
        HostValue view = values.integer(input.ConsumeIntegralInRange(0, 5));
        actor->ops->setProperty(actor, values.symbol("view"), &view);
        rig.dropResult(view);
        HostValue on = values.integer(1);
        actor->ops->setProperty(actor, values.symbol("showboundingboxes"), &on);
        actor->ops->setProperty(actor, values.symbol("showcenterpoints"), &on);
        rig.dropResult(on);
        DrawRequest request{};
        request.top = input.ConsumeIntegralInRange(-50, 100);
        request.left = input.ConsumeIntegralInRange(-50, 100);
        request.bottom = request.top + 120, request.right = request.left + 160;
        request.level = input.ConsumeIntegralInRange(0, 255);
        rig.drawSprite(actor, request);
        break;
      }
    }
  }
  fuzz::endInput(rig, true);
  return 0;
}
