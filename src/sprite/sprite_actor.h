// The sprite actor class: its instance layout, create and destroy, and its operation table.
#pragma once

#include "kinetiscan/plugin_tables.h"

namespace kinetiscan {

struct SpriteActorInstance {
  InstanceHeader header;                         // 0
  Unknown* spareService1;                        // 24
  ListServices* listServices;                    // 28
  ColorServices* colorServices;                  // 32
  ValueServices* valueServices;                  // 36
  std::int32_t view;                             // 40: 1 camera, 2 retina, 3 difference, 4 globs
  std::int32_t showBoundingBoxes;                // 44
  std::int32_t showCenterPoints;                 // 48
  Unknown* spriteCallback;                       // 52
  SpriteCallbackService* spriteCallbackService;  // 56
  MovieServices* movieServices;                  // 60
};
static_assert(offsetof(SpriteActorInstance, spareService1) == sizeof(InstanceHeader));
#if defined(__i386__)
static_assert(sizeof(SpriteActorInstance) == 64);
static_assert(offsetof(SpriteActorInstance, view) == 40);
static_assert(offsetof(SpriteActorInstance, spriteCallback) == 52);
static_assert(offsetof(SpriteActorInstance, movieServices) == 60);
#endif

inline SpriteActorInstance* spriteActorOf(InstanceHeader* instance) {
  return reinterpret_cast<SpriteActorInstance*>(instance);
}

Result KINETISCAN_CALL createSpriteActor(InstanceHeader* instance);
Result KINETISCAN_CALL destroySpriteActor(InstanceHeader* instance);

extern const SpriteActorOps kSpriteActorOps;

}  // namespace kinetiscan
