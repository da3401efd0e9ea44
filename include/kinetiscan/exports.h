// The five entry points of the plug-in library, as a host looks them up by name. The plug-in
// defines them; hosts call them through these pointer types so that no header of the platform's
// own (which declares two of the names itself) is ever in conflict.
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
