// The method dispatcher. Every failure is a code returned before any work and without touching
// the result; after the checks, host conversions that fail go unnoticed, and the arguments they
// would have filled keep defined starting values.
#include "member/member_methods.h"

#include "analysis/block_average.h"
#include "analysis/colour_bounds.h"
#include "analysis/frame_analysis.h"
#include "capture/capture_session.h"
#include "member/cast_member.h"
#include "objects/interface_object.h"
#include "objects/symbol_name.h"

namespace kinetiscan {
namespace {

struct Call {
  CastMemberInstance* member;
  std::int32_t count;
  HostValue* arguments;
  HostValue* result;
};

std::int32_t kindOf(const Call& call, int argument) {
  ValueServices* values = call.member->valueServices;
  std::int32_t kind = -1;
  values->ops->valueKind(values, &call.arguments[argument], &kind);
  return kind;
}

// trackcolorbounds, trackcolor, tracknotcolorbounds, tracknotcolor.
Result track(const Call& call, bool invert, bool centre) {
  if (call.count != 3 || call.arguments == nullptr) return kWrongTrackCount;
  ColorServices* colours = call.member->colorServices;
  ValueServices* values = call.member->valueServices;
  if (colours == nullptr) return kNoInterface;
  const std::int32_t colourKind = kindOf(call, 1);
  if (colourKind != kKindColour && colourKind != kKindAny) return kWrongTrackArgument;
  const std::int32_t toleranceKind = kindOf(call, 2);
  if (toleranceKind != kKindInteger && toleranceKind != kKindAny) return kWrongTrackArgument;

  ColourRecord colour{0, 0, 0, 1};
  colours->ops->valueToColour(colours, &call.arguments[1], &colour);
  std::int32_t tolerance = 0;
  values->ops->valueToInteger(values, &call.arguments[2], &tolerance);
  const HostRect bounds = colourBounds(colour.red, colour.green, colour.blue, tolerance, invert);
  if (centre) {
    const HostPoint point = colourBoundsCentre(bounds);
    values->ops->pointToValue(values, &point, call.result);
  } else {
    values->ops->rectToValue(values, &bounds, call.result);
  }
  return kOk;
}

// block, camerablock, retinablock, differenceblock.
Result block(const Call& call, BlockSource source) {
  if (call.count != 2 || call.arguments == nullptr) return kWrongBlockCount;
  ColorServices* colours = call.member->colorServices;
  ValueServices* values = call.member->valueServices;
  if (colours == nullptr) return kNoInterface;
  const std::int32_t kind = kindOf(call, 1);
  if (kind != kKindRect && kind != kKindAny) return kWrongBlockArgument;
  HostRect rect{0, 0, 0, 0};
  values->ops->valueToRect(values, &call.arguments[1], &rect);
  const ColourRecord average = blockAverage(source, rect, latestFrame());
  colours->ops->colourToValue(colours, &average, call.result);
  return kOk;
}

}  // namespace

Result KINETISCAN_CALL callMethod(CastMemberInterface* self, Symbol symbol, std::int32_t count,
                                  HostValue* arguments, HostValue* result) {
  const Call call{castMemberOf(ownerOf(self)), count, arguments, result};
  SymbolName name;
  if (!prepareSymbolName(call.member->valueServices, symbol, &name)) return kNoInterface;

  if (nameIs(name, "editsource") || nameIs(name, "adapt")) {
    if (count != 1) return kWrongActionCount;
    if (nameIs(name, "editsource")) {
      chooseVideoSource();
    } else {
      resetBackground(latestFrame());
    }
    return kOk;
  }
  if (nameIs(name, "trackcolorbounds")) return track(call, false, false);
  if (nameIs(name, "trackcolor")) return track(call, false, true);
  if (nameIs(name, "tracknotcolorbounds")) return track(call, true, false);
  if (nameIs(name, "tracknotcolor")) return track(call, true, true);
  if (nameIs(name, "block") || nameIs(name, "camerablock")) return block(call, BlockSource::frame);
  if (nameIs(name, "retinablock")) return block(call, BlockSource::retina);
  if (nameIs(name, "differenceblock")) return block(call, BlockSource::difference);
  return kUnknownMethod;
}

}  // namespace kinetiscan
