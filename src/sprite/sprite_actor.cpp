// The sprite actor object and its operation table.
#include "sprite/sprite_actor.h"

#include "module/interface_object.h"
#include "module/operation_kinds.h"

namespace kinetiscan {
namespace {

using Self = SpriteActorInterface;

// Hands the host's word on to the host's interface; what that answers is the host's business.
Result KINETISCAN_CALL passOn(Self*, Word x, PassOnTarget* y) {
  if (y != nullptr && y->ops != nullptr) y->ops->receive(y, x);
  return kOk;
}

}  // namespace

Result KINETISCAN_CALL createSpriteActor(InstanceHeader*) { return kUnknownMethod; }
Result KINETISCAN_CALL destroySpriteActor(InstanceHeader*) { return kOk; }

constinit const SpriteActorOps kSpriteActorOps = {
    .queryInterface = queryInterface<Self>,
    .addRef = addRef<Self>,
    .release = release<Self>,
    .getProperty = answerUnknownMethod<Self, Symbol, HostValue*>,
    .setProperty = answerUnknownMethod<Self, Symbol, const HostValue*>,
    .callMethod = answerUnknownMethod<Self, Word, Word, Word, Word>,
    .setSpriteCallback = answerUnknownMethod<Self, Unknown*>,
    .nothing7 = doNothing<Self, Word, Word>,
    .nothing8 = doNothing<Self, Word>,
    .passOn = passOn,
    .nothing10 = doNothing<Self, Word, Word, Word>,
    .drawSprite = answerUnknownMethod<Self, const DrawRequest*, Word, DrawSurface*>,
    .nothing12 = doNothing<Self, Word, Word, Word>,
};

}  // namespace kinetiscan
