// The cast member class: its instance layout, create and destroy, and its operation table.
#pragma once

#include "kinetiscan/plugin_tables.h"

namespace kinetiscan {

// The symbol under which the cast member type is registered and recognised in casts.
inline constexpr char kTypeSymbol[] = "Kinetiscan";

// Held host services follow the host's header; each holds one reference or is null.
struct CastMemberInstance {
  InstanceHeader header;           // 0
  Unknown* spareService1;          // 24
  ListServices* listServices;      // 28
  ColorServices* colorServices;    // 32
  ValueServices* valueServices;    // 36
  Unknown* callbackService;        // 40
  Unknown* spareService2;          // 44
  MovieServices* movieServices;    // 48
  WindowServices* windowServices;  // 52
  ImageServices* imageServices;    // 56
};
static_assert(offsetof(CastMemberInstance, spareService1) == sizeof(InstanceHeader));
static_assert(sizeof(CastMemberInstance) == sizeof(InstanceHeader) + 9 * sizeof(void*));
#if defined(__i386__)
static_assert(sizeof(CastMemberInstance) == 60);
static_assert(offsetof(CastMemberInstance, callbackService) == 40);
static_assert(offsetof(CastMemberInstance, imageServices) == 56);
#endif

// The one way from an instance the host gave us to the member's own fields.
inline CastMemberInstance* castMemberOf(InstanceHeader* instance) {
  return reinterpret_cast<CastMemberInstance*>(instance);
}

Result KINETISCAN_CALL createCastMember(InstanceHeader* instance);
Result KINETISCAN_CALL destroyCastMember(InstanceHeader* instance);

extern const CastMemberOps kCastMemberOps;

}  // namespace kinetiscan
