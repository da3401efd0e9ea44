// The plug-in's three interfaces as the host calls them, by position.
#pragma once

#include "kinetiscan/host_services.h"

namespace kinetiscan {

using IgnoredWord = std::uint32_t;  // an argument the operation takes but ignores

struct RegistrarInterface;
struct RegistrarOps {
  KINETISCAN_UNKNOWN_SLOTS(RegistrarInterface);
  Result(KINETISCAN_CALL* registerType)(RegistrarInterface*, ClassRegistry* registry,
                                        void* context);
};
struct RegistrarInterface {
  const RegistrarOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(RegistrarOps);
KINETISCAN_SLOT(RegistrarOps, registerType, 3);
KINETISCAN_TABLE_SIZE(RegistrarOps, 4);

struct CastMemberInterface;
struct CastMemberOps {
  KINETISCAN_UNKNOWN_SLOTS(CastMemberInterface);
  Result(KINETISCAN_CALL* getProperty)(CastMemberInterface*, Symbol name, HostValue* out);
  Result(KINETISCAN_CALL* setProperty)(CastMemberInterface*, Symbol name, const HostValue* value);
  Result(KINETISCAN_CALL* callMethod)(CastMemberInterface*, Symbol name, std::int32_t count,
                                      HostValue* arguments, HostValue* result);
  Result(KINETISCAN_CALL* setAssetCallback)(CastMemberInterface*, Unknown* callback);
  Result(KINETISCAN_CALL* nothing7)(CastMemberInterface*, IgnoredWord, IgnoredWord);
  Result(KINETISCAN_CALL* memberRect)(CastMemberInterface*, HostRect* out);
  Result(KINETISCAN_CALL* nothing9)(CastMemberInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* nothing10)(CastMemberInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* nothing11)(CastMemberInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* nothing12)(CastMemberInterface*);
  Result(KINETISCAN_CALL* nothing13)(CastMemberInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* nothing14)(CastMemberInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* nothing15)(CastMemberInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* nothing16)(CastMemberInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* nothing17)(CastMemberInterface*);
  Result(KINETISCAN_CALL* nothing18)(CastMemberInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* nothing19)(CastMemberInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* newSpriteActor)(CastMemberInterface*, void** out);
  Result(KINETISCAN_CALL* chooseVideoSource)(CastMemberInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* nothing22)(CastMemberInterface*);
  Result(KINETISCAN_CALL* nothing23)(CastMemberInterface*, IgnoredWord, IgnoredWord);
  Result(KINETISCAN_CALL* showAbout)(CastMemberInterface*);
  Result(KINETISCAN_CALL* drawMemberPreview)(CastMemberInterface*, DrawSurface* surface,
                                             const HostRect* rect);
  Result(KINETISCAN_CALL* nothing26)(CastMemberInterface*, IgnoredWord, IgnoredWord);
  Result(KINETISCAN_CALL* nothing27)(CastMemberInterface*, IgnoredWord, IgnoredWord);
  Result(KINETISCAN_CALL* nothing28)(CastMemberInterface*, IgnoredWord, IgnoredWord);
};
struct CastMemberInterface {
  const CastMemberOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(CastMemberOps);
KINETISCAN_SLOT(CastMemberOps, getProperty, 3);
KINETISCAN_SLOT(CastMemberOps, setProperty, 4);
KINETISCAN_SLOT(CastMemberOps, callMethod, 5);
KINETISCAN_SLOT(CastMemberOps, setAssetCallback, 6);
KINETISCAN_SLOT(CastMemberOps, nothing7, 7);
KINETISCAN_SLOT(CastMemberOps, memberRect, 8);
KINETISCAN_SLOT(CastMemberOps, nothing9, 9);
KINETISCAN_SLOT(CastMemberOps, nothing10, 10);
KINETISCAN_SLOT(CastMemberOps, nothing11, 11);
KINETISCAN_SLOT(CastMemberOps, nothing12, 12);
KINETISCAN_SLOT(CastMemberOps, nothing13, 13);
KINETISCAN_SLOT(CastMemberOps, nothing14, 14);
KINETISCAN_SLOT(CastMemberOps, nothing15, 15);
KINETISCAN_SLOT(CastMemberOps, nothing16, 16);
KINETISCAN_SLOT(CastMemberOps, nothing17, 17);
KINETISCAN_SLOT(CastMemberOps, nothing18, 18);
KINETISCAN_SLOT(CastMemberOps, nothing19, 19);
KINETISCAN_SLOT(CastMemberOps, newSpriteActor, 20);
KINETISCAN_SLOT(CastMemberOps, chooseVideoSource, 21);
KINETISCAN_SLOT(CastMemberOps, nothing22, 22);
KINETISCAN_SLOT(CastMemberOps, nothing23, 23);
KINETISCAN_SLOT(CastMemberOps, showAbout, 24);
KINETISCAN_SLOT(CastMemberOps, drawMemberPreview, 25);
KINETISCAN_SLOT(CastMemberOps, nothing26, 26);
KINETISCAN_SLOT(CastMemberOps, nothing27, 27);
KINETISCAN_SLOT(CastMemberOps, nothing28, 28);
KINETISCAN_TABLE_SIZE(CastMemberOps, 29);

struct SpriteActorInterface;
struct SpriteActorOps {
  KINETISCAN_UNKNOWN_SLOTS(SpriteActorInterface);
  Result(KINETISCAN_CALL* getProperty)(SpriteActorInterface*, Symbol name, HostValue* out);
  Result(KINETISCAN_CALL* setProperty)(SpriteActorInterface*, Symbol name, const HostValue* value);
  Result(KINETISCAN_CALL* callMethod)(SpriteActorInterface*, IgnoredWord, IgnoredWord, IgnoredWord,
                                      IgnoredWord);
  Result(KINETISCAN_CALL* setSpriteCallback)(SpriteActorInterface*, Unknown* callback);
  Result(KINETISCAN_CALL* nothing7)(SpriteActorInterface*, IgnoredWord, IgnoredWord);
  Result(KINETISCAN_CALL* nothing8)(SpriteActorInterface*, IgnoredWord);
  Result(KINETISCAN_CALL* passOn)(SpriteActorInterface*, IgnoredWord x, PassOnTarget* y);
  Result(KINETISCAN_CALL* nothing10)(SpriteActorInterface*, IgnoredWord, IgnoredWord, IgnoredWord);
  Result(KINETISCAN_CALL* drawSprite)(SpriteActorInterface*, const DrawRequest* request,
                                      IgnoredWord, DrawSurface* surface);
  Result(KINETISCAN_CALL* nothing12)(SpriteActorInterface*, IgnoredWord, IgnoredWord, IgnoredWord);
};
struct SpriteActorInterface {
  const SpriteActorOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(SpriteActorOps);
KINETISCAN_SLOT(SpriteActorOps, getProperty, 3);
KINETISCAN_SLOT(SpriteActorOps, setProperty, 4);
KINETISCAN_SLOT(SpriteActorOps, callMethod, 5);
KINETISCAN_SLOT(SpriteActorOps, setSpriteCallback, 6);
KINETISCAN_SLOT(SpriteActorOps, nothing7, 7);
KINETISCAN_SLOT(SpriteActorOps, nothing8, 8);
KINETISCAN_SLOT(SpriteActorOps, passOn, 9);
KINETISCAN_SLOT(SpriteActorOps, nothing10, 10);
KINETISCAN_SLOT(SpriteActorOps, drawSprite, 11);
KINETISCAN_SLOT(SpriteActorOps, nothing12, 12);
KINETISCAN_TABLE_SIZE(SpriteActorOps, 13);

}  // namespace kinetiscan
