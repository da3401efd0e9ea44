// The five entry points the host looks up by name: thin walks over the ClassTable.
#include "module/entry_points.h"

#include <cstring>

#include "module/class_table.h"
#include "objects/interface_object.h"

using namespace kinetiscan;

namespace {

struct ClassFormContext {
  std::uint32_t* instanceSize;
  CreateOperation* create;
  DestroyOperation* destroy;
  bool found;
};

int answerClassForm(const Guid&, std::uint32_t, std::uint32_t instanceSize, CreateOperation create,
                    DestroyOperation destroy, void* context) {
  auto* form = static_cast<ClassFormContext*>(context);
  *form->instanceSize = instanceSize;
  *form->create = create;
  *form->destroy = destroy;
  form->found = true;
  return 1;  // the first class visited answers
}

struct InterfaceContext {
  const Guid* wanted;
  Factory factory;
};

int matchInterface(const Guid&, std::uint32_t, const Guid& interfaceId, std::uint32_t,
                   Factory factory, void* context) {
  auto* lookup = static_cast<InterfaceContext*>(context);
  if (!(interfaceId == *lookup->wanted)) return 0;
  lookup->factory = factory;
  return 1;
}

struct ClassInfoContext {
  int count;
  ClassInfoEntry* cursor;  // null while counting
};

void writeEntry(ClassInfoContext* info, const Guid& classId, std::uint32_t classVersion,
                const Guid& interfaceId, std::uint32_t interfaceVersion) {
  ++info->count;
  if (info->cursor == nullptr) return;
  // The host's block need not be aligned for our struct; write it byte-wise.
  const ClassInfoEntry entry{classId, classVersion, interfaceId, interfaceVersion};
  std::memcpy(info->cursor, &entry, sizeof entry);
  ++info->cursor;
}

int listClass(const Guid& classId, std::uint32_t classVersion, std::uint32_t, CreateOperation,
              DestroyOperation, void* context) {
  // Every class is listed first with the class-factory interface, at version 1.
  writeEntry(static_cast<ClassInfoContext*>(context), classId, classVersion,
             kClassFactoryInterfaceId, 1);
  return 0;
}

int listInterface(const Guid& classId, std::uint32_t classVersion, const Guid& interfaceId,
                  std::uint32_t interfaceVersion, Factory, void* context) {
  writeEntry(static_cast<ClassInfoContext*>(context), classId, classVersion, interfaceId,
             interfaceVersion);
  return 0;
}

}  // namespace

extern "C" Result KINETISCAN_CALL DllGetClassForm(const Guid* classId, std::uint32_t* instanceSize,
                                                  CreateOperation* create,
                                                  DestroyOperation* destroy) {
  if (instanceSize == nullptr || create == nullptr || destroy == nullptr) return kNoClass;
  ClassFormContext form{instanceSize, create, destroy, false};
  walkClassTable(classId, answerClassForm, nullptr, &form);
  return form.found ? kOk : kNoClass;
}

extern "C" Result KINETISCAN_CALL DllGetInterface(InstanceHeader* owner, const Guid* classId,
                                                  const Guid* interfaceId, void** out) {
  if (interfaceId == nullptr || out == nullptr) return kNoInterface;
  InterfaceContext lookup{interfaceId, nullptr};
  walkClassTable(classId, nullptr, matchInterface, &lookup);
  if (lookup.factory == nullptr) return kNoInterface;
  return lookup.factory(owner, out);
}

extern "C" Result KINETISCAN_CALL DllGetClassInfo(HostAllocator* allocator, ClassInfoEntry** out) {
  if (out == nullptr) return kNoMemory;  // nowhere to hand the block over
  ClassInfoContext info{0, nullptr};
  walkClassTable(nullptr, listClass, listInterface, &info);
  // One spare entry for the terminator. Asked once: the host's answer is final here.
  const std::uint32_t size = static_cast<std::uint32_t>(info.count + 1) * sizeof(ClassInfoEntry);
  void* block = nullptr;
  if (allocator != nullptr && allocator->ops != nullptr) {
    block = allocator->ops->allocate(allocator, size);
  }
  *out = static_cast<ClassInfoEntry*>(block);
  if (block == nullptr) return kNoMemory;
  info.cursor = static_cast<ClassInfoEntry*>(block);
  walkClassTable(nullptr, listClass, listInterface, &info);
  // The terminator: null GUIDs; its version fields keep what the block held.
  auto* terminator = reinterpret_cast<unsigned char*>(info.cursor);
  std::memcpy(terminator + offsetof(ClassInfoEntry, classId), &kNullGuid, sizeof(Guid));
  std::memcpy(terminator + offsetof(ClassInfoEntry, interfaceId), &kNullGuid, sizeof(Guid));
  return kOk;
}

extern "C" Result KINETISCAN_CALL DllGetClassObject(const Guid*, const Guid*, void**) {
  return kNoClass;
}

extern "C" Result KINETISCAN_CALL DllCanUnloadNow() {
  return interfaceObjectState().liveObjectCount != 0 ? kLibraryInUse : kOk;
}
