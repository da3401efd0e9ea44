// The ClassTable: registration, cast member and sprite actor, always walked in this order.
#include "module/class_table.h"

#include "member/cast_member.h"
#include "module/registration.h"
#include "objects/interface_object.h"
#include "sprite/panel_cache.h"
#include "sprite/sprite_actor.h"

namespace kinetiscan {
namespace {

// The registration class's instance is the bare header; it needs no set-up or teardown.
Result KINETISCAN_CALL createRegistrar(InstanceHeader*) { return kOk; }
Result KINETISCAN_CALL destroyRegistrar(InstanceHeader*) { return kOk; }

constexpr ClassEntry kClassTable[] = {
    {kRegistrarClassId, kModuleVersion, sizeof(InstanceHeader), createRegistrar, destroyRegistrar,
     kRegistrarInterfaceId, kModuleVersion, makeRegistrarInterface},
    {kCastMemberClassId, kModuleVersion, sizeof(CastMemberInstance), createCastMember,
     destroyCastMember, kCastMemberInterfaceId, kModuleVersion, makeCastMemberInterface},
    {kSpriteActorClassId, kModuleVersion, sizeof(SpriteActorInstance), createSpriteActor,
     destroySpriteActor, kSpriteActorInterfaceId, kModuleVersion, makeSpriteActorInterface},
};

// Every interface object is made here, so the teardown is in place before the first one can go.
// The PanelCache must not outlive the library when sprites drew but no member was destroyed.
Result makeObject(InstanceHeader* owner, const void* ops, void** out) {
  setLastObjectFreed(releasePanelCache);
  return makeInterfaceObject(owner, ops, out);
}

}  // namespace

int walkClassTable(const Guid* classFilter, OnClass onClass, OnInterface onInterface,
                   void* context) {
  for (const ClassEntry& entry : kClassTable) {
    if (classFilter != nullptr && !(*classFilter == entry.classId)) continue;
    if (onClass != nullptr) {
      const int stop = onClass(entry.classId, entry.classVersion, entry.instanceSize, entry.create,
                               entry.destroy, context);
      if (stop != 0) return stop;
    }
    if (onInterface != nullptr) {
      const int stop = onInterface(entry.classId, entry.classVersion, entry.interfaceId,
                                   entry.interfaceVersion, entry.factory, context);
      if (stop != 0) return stop;
    }
  }
  return 0;
}

Result makeRegistrarInterface(InstanceHeader* owner, void** out) {
  return makeObject(owner, &kRegistrarOps, out);
}

Result makeCastMemberInterface(InstanceHeader* owner, void** out) {
  const Result result = makeObject(owner, &kCastMemberOps, out);
  if (result == kOk) {
    interfaceObjectState().currentCastMemberObject = static_cast<InterfaceObject*>(*out);
  }
  return result;
}

Result makeSpriteActorInterface(InstanceHeader* owner, void** out) {
  return makeObject(owner, &kSpriteActorOps, out);
}

}  // namespace kinetiscan
