// The cast member object and its operation table.
#include "member/cast_member.h"

#include "module/interface_object.h"
#include "module/operation_kinds.h"

namespace kinetiscan {
namespace {

using Self = CastMemberInterface;

// Every analysis image is 160 x 120, whatever the member's state.
Result KINETISCAN_CALL memberRect(Self*, HostRect* rect) {
  if (rect != nullptr) *rect = HostRect{0, 0, 120, 160};
  return kOk;
}

}  // namespace

Result KINETISCAN_CALL createCastMember(InstanceHeader*) { return kUnknownMethod; }
Result KINETISCAN_CALL destroyCastMember(InstanceHeader*) { return kOk; }

constinit const CastMemberOps kCastMemberOps = {
    .queryInterface = queryInterface<Self>,
    .addRef = addRef<Self>,
    .release = release<Self>,
    .getProperty = answerUnknownMethod<Self, Symbol, HostValue*>,
    .setProperty = answerUnknownMethod<Self, Symbol, const HostValue*>,
    .callMethod = answerUnknownMethod<Self, Symbol, std::int32_t, HostValue*, HostValue*>,
    .setAssetCallback = answerUnknownMethod<Self, Unknown*>,
    .nothing7 = doNothing<Self, Word, Word>,
    .memberRect = memberRect,
    .nothing9 = doNothing<Self, Word>,
    .nothing10 = doNothing<Self, Word>,
    .nothing11 = doNothing<Self, Word>,
    .nothing12 = doNothing<Self>,
    .nothing13 = doNothing<Self, Word>,
    .nothing14 = doNothing<Self, Word>,
    .nothing15 = doNothing<Self, Word>,
    .nothing16 = doNothing<Self, Word>,
    .nothing17 = doNothing<Self>,
    .nothing18 = doNothing<Self, Word>,
    .nothing19 = doNothing<Self, Word>,
    .newSpriteActor = answerUnknownMethod<Self, void**>,
    .chooseVideoSource = answerUnknownMethod<Self, Word>,
    .nothing22 = doNothing<Self>,
    .nothing23 = doNothing<Self, Word, Word>,
    .showAbout = answerUnknownMethod<Self>,
    .drawMemberPreview = answerUnknownMethod<Self, DrawSurface*, const HostRect*>,
    .nothing26 = doNothing<Self, Word, Word>,
    .nothing27 = doNothing<Self, Word, Word>,
    .nothing28 = doNothing<Self, Word, Word>,
};

}  // namespace kinetiscan
