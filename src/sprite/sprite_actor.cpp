// The sprite actor object and its operation table.
#include "sprite/sprite_actor.h"

#include "objects/held_interface.h"
#include "objects/interface_object.h"
#include "objects/operation_kinds.h"
#include "objects/symbol_name.h"
#include "sprite/stage_rendering.h"

namespace kinetiscan {
namespace {

using Self = SpriteActorInterface;

SpriteActorInstance* actorOf(Self* self) { return spriteActorOf(ownerOf(self)); }

// The field a property name selects, or null for an unknown name.
std::int32_t* propertyField(SpriteActorInstance* actor, const SymbolName& name) {
  if (nameIs(name, "view")) return &actor->view;
  if (nameIs(name, "showboundingboxes")) return &actor->showBoundingBoxes;
  if (nameIs(name, "showcenterpoints")) return &actor->showCenterPoints;
  return nullptr;
}

Result KINETISCAN_CALL getProperty(Self* self, Symbol symbol, HostValue* out) {
  SpriteActorInstance* actor = actorOf(self);
  SymbolName name;
  if (!prepareSymbolName(actor->valueServices, symbol, &name)) return kNoInterface;
  const std::int32_t* field = propertyField(actor, name);
  if (field == nullptr) return kUnknownProperty;
  actor->valueServices->ops->integerToValue(actor->valueServices, *field, out);
  return kOk;
}

Result KINETISCAN_CALL setProperty(Self* self, Symbol symbol, const HostValue* value) {
  SpriteActorInstance* actor = actorOf(self);
  SymbolName name;
  if (!prepareSymbolName(actor->valueServices, symbol, &name)) return kNoInterface;
  std::int32_t* field = propertyField(actor, name);
  if (field == nullptr) return kUnknownProperty;
  ValueServices* values = actor->valueServices;
  std::int32_t kind = -1;
  values->ops->valueKind(values, value, &kind);
  if (kind != kKindAny && kind != kKindInteger && kind != kKindFloat) return kWrongValueKind;
  values->ops->valueToInteger(values, value, field);
  return kOk;
}

Result KINETISCAN_CALL setSpriteCallback(Self* self, Unknown* callback) {
  SpriteActorInstance* actor = actorOf(self);
  replaceCallback(actor->spriteCallback, actor->spriteCallbackService, callback,
                  kSpriteCallbackServiceId);
  return kOk;
}

// Hands the host's word on to the host's interface; what that answers is the host's business.
Result KINETISCAN_CALL passOn(Self*, IgnoredWord x, PassOnTarget* y) {
  if (y != nullptr && y->ops != nullptr) y->ops->receive(y, x);
  return kOk;
}

struct SpriteColour {
  Result result = kNoInterface;  // what reading the sprite's colour answered
  ColourRecord record{0, 0, 0, 0};
};

// Reads the sprite's "color" through the movie services. Steps the host refused are skipped, and
// a colour that could not be read stays black: its value is neither converted nor released.
SpriteColour readSpriteColour(SpriteActorInstance* actor) {
  SpriteColour colour;
  ValueServices* values = actor->valueServices;
  if (values == nullptr) return colour;
  Symbol symbol = 0;
  values->ops->stringToSymbol(values, "color", &symbol);
  std::int32_t number = 0;
  if (SpriteCallbackService* service = actor->spriteCallbackService) {
    service->ops->spriteNumber(service, &number);
  }
  HostStage* stage = nullptr;
  HostScore* score = nullptr;
  HostSprite* sprite = nullptr;
  if (MovieServices* movies = actor->movieServices) movies->ops->getStage(movies, &stage);
  if (stage != nullptr) stage->ops->getScore(stage, &score);
  if (score != nullptr) score->ops->getSprite(score, number, &sprite);
  HostValue value{};
  if (sprite != nullptr) colour.result = sprite->ops->getProperty(sprite, symbol, &value);
  const bool filled = sprite != nullptr && colour.result == kOk;
  if (filled && actor->colorServices != nullptr) {
    actor->colorServices->ops->valueToColour(actor->colorServices, &value, &colour.record);
  }
  releaseHeld(sprite);
  releaseHeld(score);
  releaseHeld(stage);
  if (filled) values->ops->releaseValue(values, &value);
  return colour;
}

Result KINETISCAN_CALL drawSprite(Self* self, const DrawRequest* request, IgnoredWord,
                                  DrawSurface* surface) {
  SpriteActorInstance* actor = actorOf(self);
  const SpriteColour colour = readSpriteColour(actor);
  drawSpriteView(request, surface, actor->view, actor->showBoundingBoxes, actor->showCenterPoints,
                 colour.record.red, colour.record.green, colour.record.blue);
  return colour.result;
}

}  // namespace

Result KINETISCAN_CALL createSpriteActor(InstanceHeader* instance) {
  SpriteActorInstance* actor = spriteActorOf(instance);
  HostCallback* callback = instance->hostCallback;
  actor->spareService1 = acquire<Unknown>(callback, kSpareService1Id);
  actor->valueServices = acquire<ValueServices>(callback, kValueServicesId);
  actor->listServices = acquire<ListServices>(callback, kListServicesId);
  actor->colorServices = acquire<ColorServices>(callback, kColorServicesId);
  actor->movieServices = acquire<MovieServices>(callback, kMovieServicesId);
  actor->view = 1;
  actor->showBoundingBoxes = 0;
  actor->showCenterPoints = 0;
  actor->spriteCallback = nullptr;
  actor->spriteCallbackService = nullptr;
  return kOk;
}

Result KINETISCAN_CALL destroySpriteActor(InstanceHeader* instance) {
  SpriteActorInstance* actor = spriteActorOf(instance);
  releaseHeld(actor->spareService1);
  releaseHeld(actor->valueServices);
  releaseHeld(actor->listServices);
  releaseHeld(actor->colorServices);
  releaseHeld(actor->spriteCallback);
  releaseHeld(actor->spriteCallbackService);
  releaseHeld(actor->movieServices);
  return kOk;
}

constinit const SpriteActorOps kSpriteActorOps = {
    .queryInterface = queryInterface<Self>,
    .addRef = addRef<Self>,
    .release = release<Self>,
    .getProperty = getProperty,
    .setProperty = setProperty,
    .callMethod = answerUnknownMethod<Self, IgnoredWord, IgnoredWord, IgnoredWord, IgnoredWord>,
    .setSpriteCallback = setSpriteCallback,
    .nothing7 = doNothing<Self, IgnoredWord, IgnoredWord>,
    .nothing8 = doNothing<Self, IgnoredWord>,
    .passOn = passOn,
    .nothing10 = doNothing<Self, IgnoredWord, IgnoredWord, IgnoredWord>,
    .drawSprite = drawSprite,
    .nothing12 = doNothing<Self, IgnoredWord, IgnoredWord, IgnoredWord>,
};

}  // namespace kinetiscan
