// Decoding fuzz input into host values and frames.
#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "host/values.h"

namespace kinetiscan::fuzz {
namespace {

constexpr const char* kNames[] = {"adaptivity",
                                  "sensitivity",
                                  "mindensity",
                                  "loclist",
                                  "image",
                                  "cameraimage",
                                  "retinaimage",
                                  "differenceimage",
                                  "globsimage",
                                  "version",
                                  "boundingboxlist",
                                  "editsource",
                                  "adapt",
                                  "trackcolorbounds",
                                  "trackcolor",
                                  "tracknotcolorbounds",
                                  "tracknotcolor",
                                  "block",
                                  "camerablock",
                                  "retinablock",
                                  "differenceblock",
                                  "view",
                                  "showboundingboxes",
                                  "showcenterpoints"};

}  // namespace

std::string anyName(FuzzedDataProvider& input) {
  if (input.ConsumeIntegralInRange(0, 7) == 0) return input.ConsumeRandomLengthString(300);
  std::string name = input.PickValueInArray(kNames);
  if (input.ConsumeBool()) {
    for (char& c : name) {
      if (input.ConsumeBool()) c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return name;
}

double anyDouble(FuzzedDataProvider& input) {
  constexpr double kSpecial[] = {std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 -1.0,
                                 0.0,
                                 1.0,
                                 0.5,
                                 1e300,
                                 -1e300,
                                 3.5e38,
                                 std::numeric_limits<double>::denorm_min(),
                                 2147483648.0};
  if (input.ConsumeBool()) return input.PickValueInArray(kSpecial);
  return input.ConsumeFloatingPoint<double>();
}

HostRect anyRect(FuzzedDataProvider& input) {
  HostRect rect;
  rect.top = input.ConsumeIntegral<std::int32_t>();
  rect.left = input.ConsumeIntegral<std::int32_t>();
  rect.bottom = input.ConsumeIntegral<std::int32_t>();
  rect.right = input.ConsumeIntegral<std::int32_t>();
  return rect;
}

HostValue anyValue(host::Values& values, FuzzedDataProvider& input) {
  // Every kind code the host knows, with the host's default content for it.
  constexpr std::int32_t kKinds[] = {host::kValueVoid,   host::kValueInteger, host::kValueSymbol,
                                     host::kValueString, host::kValueList,    host::kValueFloat,
                                     host::kValuePoint,  host::kValueRect,    host::kValueImage,
                                     host::kValueColour};
  switch (input.ConsumeIntegralInRange(0, 10)) {
    case 10:
      return values.ofKind(input.PickValueInArray(kKinds));
    case 0:
      return values.integer(input.ConsumeIntegral<std::int32_t>());
    case 1:
      return values.real(anyDouble(input));
    case 2:
      return values.string(input.ConsumeRandomLengthString(40));
    case 3:
      return values.symbolValue(anyName(input));
    case 4:
      return values.point(
          HostPoint{input.ConsumeIntegral<std::int32_t>(), input.ConsumeIntegral<std::int32_t>()});
    case 5:
      return values.rect(anyRect(input));
    case 6:
      return values.colour(input.ConsumeIntegral<std::uint8_t>(),
                           input.ConsumeIntegral<std::uint8_t>(),
                           input.ConsumeIntegral<std::uint8_t>());
    case 7:
      return values.ofKind(input.ConsumeIntegral<std::int32_t>());
    case 8:
      return values.ofKind(host::kValueVoid);
    default:
      return values.integer(input.ConsumeIntegralInRange(-3, 300));
  }
}

camera::Frame anyFrame(FuzzedDataProvider& input) {
  const std::string pattern = input.ConsumeRandomLengthString(64);
  camera::Frame frame(camera::kFrameBytes, static_cast<std::uint8_t>(pattern.size() * 37));
  if (!pattern.empty()) {
    const std::size_t stride = 1 + input.ConsumeIntegralInRange<std::size_t>(0, 5000);
    for (std::size_t i = 0; i < frame.size(); i += stride) {
      frame[i] = static_cast<std::uint8_t>(pattern[i % pattern.size()]);
    }
  }
  return frame;
}

void injectHostFailure(host::Rig& rig, FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      rig.host->allocator.refuseRequest(input.ConsumeIntegralInRange(0, 8));
      break;
    case 1: {
      constexpr const Guid* kServices[] = {&kValueServicesId, &kListServicesId,
                                           &kColorServicesId, &kImageServicesId,
                                           &kMovieServicesId, &kWindowServicesId};
      rig.host->refuseService(*input.PickValueInArray(kServices));
      break;
    }
    case 2:
      rig.host->offerAllServices();
      break;
    default:
      injectServiceFailure(rig.world->values, input);
      break;
  }
}

void changeDriver(host::Rig& rig, FuzzedDataProvider& input) {
  constexpr std::uint32_t kFrameSizes[] = {57600, 57599, 57601, 1, 3, 0, 38400, 115200};
  switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
      rig.behaviour.frameBytes = input.PickValueInArray(kFrameSizes);
      break;
    case 1:
      // kCapStart to kCapEnd: any capture message may be refused from now on.
      rig.behaviour.refusedMessage = input.ConsumeIntegralInRange<std::uint32_t>(0x400, 0x4FF);
      break;
    default:
      rig.behaviour.installed = false;  // gone: no connection on the next open
      rig.frames.frames.clear();
      break;
  }
  standin::installCamera(rig.behaviour, &rig.frames);
}

void injectServiceFailure(host::Values& values, FuzzedDataProvider& input) {
  host::ServiceLog* logs[] = {&values.valueLog, &values.listLog, &values.colorLog,
                              &values.imageLog};
  host::ServiceLog& log = *logs[input.ConsumeIntegralInRange(0, 3)];
  if (input.ConsumeBool()) {
    log.failures = {};
    return;
  }
  log.failures[input.ConsumeIntegralInRange(3, 23)] = host::kHostFailure;
}

bool valuesMayStay(const host::Values& values) {
  return values.valueLog.failures[7] != kOk || values.listLog.failures[4] != kOk;
}

namespace {

host::Rig& theRig() {
#if defined(_WIN32)
  // Under Wine the rig drives Kinetiscan.x32 itself, as a host loads it, and frames come without
  // the driver's pace.
  camera::DriverBehaviour unpaced;
  unpaced.keepsPreviewRate = false;
  static host::Rig rig(unpaced, host::pluginFile());
#else
  static host::Rig rig;
#endif
  return rig;
}

std::uint64_t journalOfLastInput = 0;
std::size_t boxesOfLastInput = 0;

// What a script sees of the planes, the label map and the region records, and what the user saw
// of message boxes.
void readEverything(host::Rig& rig) {
  const std::vector<standin::MessageBoxRecord> boxes = standin::messageBoxes();
  boxesOfLastInput = boxes.size();
  for (const standin::MessageBoxRecord& box : boxes) {
    const std::string seen = box.text + '\n' + box.caption + '\n' + std::to_string(box.style);
    rig.note(seen.data(), seen.size());
  }
  if (rig.members.empty()) return;
  constexpr const char* kReads[] = {"adaptivity",  "sensitivity",     "mindensity",
                                    "cameraimage", "retinaimage",     "differenceimage",
                                    "globsimage",  "boundingboxlist", "loclist"};
  for (const char* name : kReads) rig.getProperty(rig.members.front(), name);
}

// Whether an input began on the rig and has not ended through endInput (a target that returned
// early): the next input must reset it first.
bool inputOpen = false;

}  // namespace

host::Rig& freshRig() {
  host::Rig& rig = theRig();
  if (inputOpen) rig.reset();
  inputOpen = true;
  return rig;
}

void startJournals() { theRig().journalling = true; }

std::uint64_t lastJournal() { return journalOfLastInput; }

std::size_t lastBoxCount() { return boxesOfLastInput; }

void endInput(host::Rig& rig, bool judgeValues) {
  if (rig.journalling) {
    readEverything(rig);
    journalOfLastInput = rig.journal;
  }
  const std::vector<std::string> leftovers = rig.leftovers(judgeValues);
  if (!leftovers.empty()) {
    for (const std::string& leftover : leftovers)
      std::fprintf(stderr, "left over: %s\n", leftover.c_str());
    std::abort();
  }
  rig.reset();
  inputOpen = false;
}

}  // namespace kinetiscan::fuzz
