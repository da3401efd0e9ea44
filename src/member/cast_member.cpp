// The cast member object: its lifetime, its hold on host services and the asset callback, and
// its operation table.
#include "member/cast_member.h"

#include "analysis/frame_analysis.h"
#include "capture/capture_session.h"
#include "member/cast_scan.h"
#include "member/member_methods.h"
#include "member/member_properties.h"
#include "member/member_state.h"
#include "objects/held_interface.h"
#include "objects/interface_object.h"
#include "objects/operation_kinds.h"
#include "platform/win32api.h"
#include "sprite/panel_cache.h"
#include "sprite/stage_rendering.h"

namespace kinetiscan {
namespace {

using Self = CastMemberInterface;

constexpr char kCredit[] = "Kinetiscan BETA 1.0 - webcam motion sensing for scripts.";

CastMemberInstance* memberOf(Self* self) { return castMemberOf(ownerOf(self)); }

// One callback serves every member; the newest wins. The service it gives goes to this member.
Result KINETISCAN_CALL setAssetCallback(Self* self, Unknown* callback) {
  replaceCallback(memberState().assetCallback, memberOf(self)->callbackService, callback,
                  kCallbackServiceId);
  return kOk;
}

// Every analysis image is 160 x 120, whatever the member's state.
Result KINETISCAN_CALL memberRect(Self*, HostRect* rect) {
  if (rect != nullptr) *rect = HostRect{0, 0, kRows, kColumns};
  return kOk;
}

Result KINETISCAN_CALL newSpriteActor(Self* self, void** out) {
  HostCallback* callback = ownerOf(self)->hostCallback;
  if (out == nullptr || callback == nullptr || callback->ops == nullptr) return kNoInterface;
  void* actor = nullptr;
  const Result result = callback->ops->createInstance(callback, &kSpriteActorClassId,
                                                      &kSpriteActorInterfaceId, &actor);
  if (result != kOk) return result;
  *out = actor;  // the host's reference passes to the caller
  return kOk;
}

Result KINETISCAN_CALL chooseSource(Self*, IgnoredWord) { return chooseVideoSource(); }

Result KINETISCAN_CALL showAbout(Self*) {
  MessageBoxA(hostWindow(), kCredit, "About", MB_OK);
  return kOk;
}

Result KINETISCAN_CALL drawPreview(Self*, DrawSurface* surface, const HostRect* rect) {
  return drawMemberPreview(surface, rect);
}

// Every frame the capture session delivers: the cast scan first, then the analysis. The scan may
// open or close capture and reset the background, so the frame is asked for again after it.
void analyseCapturedFrame(FrameView) {
  scanCasts();
  analyseFrame(latestFrame());
}

}  // namespace

Result KINETISCAN_CALL createCastMember(InstanceHeader* instance) {
  CastMemberInstance* member = castMemberOf(instance);
  HostCallback* callback = instance->hostCallback;
  member->spareService1 = acquire<Unknown>(callback, kSpareService1Id);
  member->valueServices = acquire<ValueServices>(callback, kValueServicesId);
  member->listServices = acquire<ListServices>(callback, kListServicesId);
  member->colorServices = acquire<ColorServices>(callback, kColorServicesId);
  member->spareService2 = acquire<Unknown>(callback, kSpareService2Id);
  member->movieServices = acquire<MovieServices>(callback, kMovieServicesId);
  member->windowServices = acquire<WindowServices>(callback, kWindowServicesId);
  member->imageServices = acquire<ImageServices>(callback, kImageServicesId);
  member->callbackService = nullptr;  // until setAssetCallback

  setFrameSink(analyseCapturedFrame);
  resetBackground(latestFrame());
  openCaptureSession(hostWindow);
  return kOk;
}

Result KINETISCAN_CALL destroyCastMember(InstanceHeader* instance) {
  closeCaptureSession();
  CastMemberInstance* member = castMemberOf(instance);
  releaseHeld(member->spareService1);
  releaseHeld(member->valueServices);
  releaseHeld(member->listServices);
  releaseHeld(member->colorServices);
  releaseHeld(member->spareService2);
  releaseHeld(member->callbackService);
  releaseHeld(member->movieServices);
  releaseHeld(member->windowServices);
  releaseHeld(member->imageServices);
  releaseHeld(memberState().assetCallback);
  memberState().captureRunning = false;
  releasePanelCache();
  return kOk;
}

constinit const CastMemberOps kCastMemberOps = {
    .queryInterface = queryInterface<Self>,
    .addRef = addRef<Self>,
    .release = release<Self>,
    .getProperty = getMemberProperty,
    .setProperty = setMemberProperty,
    .callMethod = callMethod,
    .setAssetCallback = setAssetCallback,
    .nothing7 = doNothing<Self, IgnoredWord, IgnoredWord>,
    .memberRect = memberRect,
    .nothing9 = doNothing<Self, IgnoredWord>,
    .nothing10 = doNothing<Self, IgnoredWord>,
    .nothing11 = doNothing<Self, IgnoredWord>,
    .nothing12 = doNothing<Self>,
    .nothing13 = doNothing<Self, IgnoredWord>,
    .nothing14 = doNothing<Self, IgnoredWord>,
    .nothing15 = doNothing<Self, IgnoredWord>,
    .nothing16 = doNothing<Self, IgnoredWord>,
    .nothing17 = doNothing<Self>,
    .nothing18 = doNothing<Self, IgnoredWord>,
    .nothing19 = doNothing<Self, IgnoredWord>,
    .newSpriteActor = newSpriteActor,
    .chooseVideoSource = chooseSource,
    .nothing22 = doNothing<Self>,
    .nothing23 = doNothing<Self, IgnoredWord, IgnoredWord>,
    .showAbout = showAbout,
    .drawMemberPreview = drawPreview,
    .nothing26 = doNothing<Self, IgnoredWord, IgnoredWord>,
    .nothing27 = doNothing<Self, IgnoredWord, IgnoredWord>,
    .nothing28 = doNothing<Self, IgnoredWord, IgnoredWord>,
};

}  // namespace kinetiscan
