// The five entry points of the plug-in library, as a host looks them up by name. The plug-in
// defines them; hosts call them through these pointer types so that no header of the platform's
// own (which declares two of the names itself) is ever in conflict.
//
// A host session, in order (host/ in this repository is a complete one):
//   1. Load Kinetiscan.x32 (libkinetiscan.so natively) and look up the five names below.
//   2. DllGetClassInfo(allocator, &table): the classes and interfaces, ended by a row of null
//      GUIDs. The table is in the host's allocation; the host frees it.
//   3. Per instance: DllGetClassForm(classId, &size, &create, &destroy); allocate `size` bytes,
//      fill the InstanceHeader (ops, hostCallback, allocator), call create(header).
//   4. DllGetInterface(header, classId, interfaceId, &object): an interface object holding one
//      reference of its own and one on the instance. Every addRef is matched by a release; the
//      instance is the host's to destroy (destroy(header), then free) once its count ends.
//      Registrar: registerType once. Cast member: properties, methods, frames arrive while the
//      host's message loop runs. Sprite actor: draw into the host's surfaces.
//   5. Values the plug-in writes (HostValue out-arguments) are the host's to release; values the
//      host passes in stay the host's.
//   6. DllCanUnloadNow() answers kOk once no interface object is left; only then unload.
#pragma once

#include "kinetiscan/records.h"

namespace kinetiscan {

using CreateOperation = Result(KINETISCAN_CALL*)(InstanceHeader* instance);
using DestroyOperation = Result(KINETISCAN_CALL*)(InstanceHeader* instance);

using DllGetClassFormFn = Result(KINETISCAN_CALL*)(const Guid* classId, std::uint32_t* instanceSize,
                                                   CreateOperation* create,
                                                   DestroyOperation* destroy);
using DllGetInterfaceFn = Result(KINETISCAN_CALL*)(InstanceHeader* owner, const Guid* classId,
                                                   const Guid* interfaceId, void** out);
using DllGetClassInfoFn = Result(KINETISCAN_CALL*)(HostAllocator* allocator, ClassInfoEntry** out);
using DllGetClassObjectFn = Result(KINETISCAN_CALL*)(const Guid*, const Guid*, void**);
using DllCanUnloadNowFn = Result(KINETISCAN_CALL*)();

// Version of every class and interface of the module.
constexpr std::uint32_t kModuleVersion = 0x01000040u;

}  // namespace kinetiscan
