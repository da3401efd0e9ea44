// Cast member properties. Both operations read or write the module-wide analysis state as the
// last frame left it; neither starts an analysis.
#include "member/member_properties.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "analysis/analysis_state.h"
#include "analysis/kernels.h"
#include "analysis/nearest_rounding.h"
#include "capture/capture_session.h"
#include "member/cast_member.h"
#include "objects/interface_object.h"
#include "objects/symbol_name.h"

namespace kinetiscan {
namespace {

constexpr char kVersion[] = "BETA 1.0";
constexpr int kImageBytesPerPixel = 4;

bool settableKind(std::int32_t kind) {
  return kind == kKindAny || kind == kKindInteger || kind == kKindFloat;
}

// Records 1 up to the last label, never beyond the table. With 1024 or more labels the frame's
// regions have no records, and the lists are empty rather than an earlier frame's regions.
template <class Visit>
void forEachKeptRegion(Visit visit) {
  const AnalysisState& state = analysisState();
  const std::int32_t count = state.blobCount;
  if (count <= 1 || count >= kMaxBlobRecords) return;
  for (std::int32_t label = 1; label < count; ++label) {
    const BlobBox& box = state.blobBoxes[label];
    if (box.maxRow != -1) visit(box);
  }
}

Result getRegionList(CastMemberInstance* member, HostValue* out, bool boxes) {
  ListServices* lists = member->listServices;
  ValueServices* values = member->valueServices;
  if (lists == nullptr) return kNoInterface;
  // Without a list there is nothing to hand items to; made anyway, they would only leak.
  if (lists->ops->newList(lists, out) != kOk) return kOk;
  forEachKeptRegion([&](const BlobBox& box) {
    HostValue item{};
    Result made;
    if (boxes) {
      const HostRect rect{kRows - box.maxRow, box.maxCol, kRows - box.minRow, box.minCol};
      made = values->ops->rectToValue(values, &rect, &item);
    } else {
      const HostPoint point{kRows - ((box.maxRow + box.minRow) >> 1),
                            (box.maxCol + box.minCol) >> 1};
      made = values->ops->pointToValue(values, &point, &item);
    }
    if (made != kOk) return;  // no item to append or to give back
    // An item the list did not take is still ours to give back.
    if (lists->ops->append(lists, out, &item) != kOk) values->ops->releaseValue(values, &item);
  });
  return kOk;
}

void fillFromFrame(std::uint8_t* pixels) {
  const FrameView frame = latestFrame();
  if (!hasFrame(frame)) return;  // no frame yet: the image stays as the host made it
  const std::uint32_t available = frame.count < kFrameBytes ? frame.count : kFrameBytes;
  for (std::uint32_t byte = 0; byte < available; ++byte) {
    pixels[byte / 3 * kImageBytesPerPixel + byte % 3] = frame.bytes[byte];
  }
}

// A row at a time through the active pixel path, which gives componentToByte's values for any
// plane sixteen at a time; each pixel's fourth byte stays as the host made it.
void fillFromPlane(std::uint8_t* pixels, const ImagePlane& plane) {
  const NearestRounding nearest;
  std::uint8_t bytes[kRowValues];
  for (int row = 0; row < kRows; ++row) {
    activeKernels().cameraRowToBytes(plane[row][0].data(), bytes);
    std::uint8_t* __restrict pixel = pixels + row * kColumns * kImageBytesPerPixel;
    for (int column = 0; column < kColumns; ++column) {
      for (int k = 0; k < kComponents; ++k) {
        pixel[column * kImageBytesPerPixel + k] = bytes[column * kComponents + k];
      }
    }
  }
}

// A new 160 x 120 image; source row 0, the bottom of the picture, fills the first 640 bytes.
Result getImage(CastMemberInstance* member, HostValue* out, const ImagePlane* plane) {
  ImageServices* images = member->imageServices;
  if (images == nullptr) return kNoInterface;
  images->ops->newImage(images, kColumns, kRows, 24, 1, 0, out);
  void* pixels = nullptr;
  images->ops->lockPixels(images, out, &pixels);
  // Without pixels nothing is written and the image stays as created; the lock is ended either
  // way, since a host may count it as taken whatever pointer it gave.
  if (pixels != nullptr) {
    auto* bytes = static_cast<std::uint8_t*>(pixels);
    if (plane == nullptr) {
      fillFromFrame(bytes);
    } else {
      fillFromPlane(bytes, *plane);
    }
  }
  images->ops->unlockPixels(images, out);
  return kOk;
}

// A parameter for the host. Under a host's denormals-are-zero a subnormal would widen to 0.
// Inlined, as toSingle below.
[[gnu::always_inline]] inline double toDouble(float value) {
  const NearestRounding nearest;
  return NearestRounding::held(static_cast<double>(NearestRounding::held(value)));
}

// A double rounded to single precision as the hardware rounds it, values beyond the largest float
// included, without relying on an out-of-range conversion. Always inlined: on i686 a float that
// is returned travels through the x87 stack, whose state is the host's.
[[gnu::always_inline]] inline float toSingle(double value) {
  constexpr float kLargest = std::numeric_limits<float>::max();
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  // Rounding to nearest keeps everything below half a unit (2^103) above the largest float at the
  // largest float; the tie goes to the even neighbour, infinity, as does everything beyond.
  // The host's rounding may be another, and the comparisons are quiet: a NaN raises nothing.
  constexpr double kOverflow = static_cast<double>(kLargest) + 0x1p103;
  const NearestRounding nearest;
  const double given = NearestRounding::held(value);
  if (std::isgreaterequal(given, kOverflow)) return kInfinity;
  if (std::islessequal(given, -kOverflow)) return -kInfinity;
  if (std::isgreater(given, kLargest)) return kLargest;
  if (std::isless(given, -kLargest)) return -kLargest;
  return NearestRounding::held(static_cast<float>(given));  // NaN stays NaN
}

Result makeNumber(ValueServices* values, double number, HostValue* out) {
  values->ops->doubleToValue(values, number, out);
  return kOk;
}

}  // namespace

Result KINETISCAN_CALL getMemberProperty(CastMemberInterface* self, Symbol symbol, HostValue* out) {
  CastMemberInstance* member = castMemberOf(ownerOf(self));
  ValueServices* values = member->valueServices;
  SymbolName name;
  if (!prepareSymbolName(values, symbol, &name)) return kNoInterface;
  AnalysisState& state = analysisState();
  const AnalysisParameters& parameters = state.parameters;
  if (nameIs(name, "adaptivity")) return makeNumber(values, toDouble(parameters.adaptivity), out);
  if (nameIs(name, "sensitivity")) return makeNumber(values, toDouble(parameters.sensitivity), out);
  if (nameIs(name, "mindensity")) return makeNumber(values, parameters.mindensity, out);
  if (nameIs(name, "loclist")) return getRegionList(member, out, false);
  if (nameIs(name, "image") || nameIs(name, "cameraimage")) return getImage(member, out, nullptr);
  if (nameIs(name, "retinaimage")) return getImage(member, out, &state.retinaPlane);
  if (nameIs(name, "differenceimage")) return getImage(member, out, &state.differencePlane);
  if (nameIs(name, "globsimage")) return getImage(member, out, &state.globsPlane);
  if (nameIs(name, "version")) {
    values->ops->stringToValue(values, kVersion, out);
    return kOk;
  }
  if (nameIs(name, "boundingboxlist")) return getRegionList(member, out, true);
  return kUnknownProperty;
}

Result KINETISCAN_CALL setMemberProperty(CastMemberInterface* self, Symbol symbol,
                                         const HostValue* value) {
  CastMemberInstance* member = castMemberOf(ownerOf(self));
  ValueServices* values = member->valueServices;
  SymbolName name;
  if (!prepareSymbolName(values, symbol, &name)) return kNoInterface;
  AnalysisParameters& parameters = analysisState().parameters;
  const bool adaptivity = nameIs(name, "adaptivity");
  const bool sensitivity = nameIs(name, "sensitivity");
  if (adaptivity || sensitivity || nameIs(name, "mindensity")) {
    std::int32_t kind = -1;
    values->ops->valueKind(values, value, &kind);
    if (!settableKind(kind)) return kWrongValueKind;
    if (adaptivity || sensitivity) {
      float& parameter = adaptivity ? parameters.adaptivity : parameters.sensitivity;
      // A conversion the host refuses leaves the parameter as it was.
      double number = toDouble(parameter);
      values->ops->valueToDouble(values, value, &number);
      parameter = toSingle(number);
    } else {
      values->ops->valueToInteger(values, value, &parameters.mindensity);
    }
    return kOk;
  }
  for (const char* readOnly : {"loclist", "image", "cameraimage", "differenceimage", "retinaimage",
                               "boundingboxlist", "version"}) {
    if (nameIs(name, readOnly)) return kPropertyReadOnly;
  }
  return kUnknownProperty;
}

}  // namespace kinetiscan
