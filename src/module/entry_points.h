// Declarations of the five entry points for code linked into the same binary (unit tests).
// Hosts look them up by name through the types of kinetiscan/exports.h instead.
#pragma once

#include "kinetiscan/exports.h"

extern "C" {
kinetiscan::Result KINETISCAN_CALL DllGetClassForm(const kinetiscan::Guid* classId,
                                                   std::uint32_t* instanceSize,
                                                   kinetiscan::CreateOperation* create,
                                                   kinetiscan::DestroyOperation* destroy);
kinetiscan::Result KINETISCAN_CALL DllGetInterface(kinetiscan::InstanceHeader* owner,
                                                   const kinetiscan::Guid* classId,
                                                   const kinetiscan::Guid* interfaceId, void** out);
kinetiscan::Result KINETISCAN_CALL DllGetClassInfo(kinetiscan::HostAllocator* allocator,
                                                   kinetiscan::ClassInfoEntry** out);
kinetiscan::Result KINETISCAN_CALL DllGetClassObject(const kinetiscan::Guid*,
                                                     const kinetiscan::Guid*, void**);
kinetiscan::Result KINETISCAN_CALL DllCanUnloadNow();
}
