// Records that cross the boundary between the plug-in and its host. Offsets are those of the
// 32-bit target; on 64-bit Linux pointer fields widen and the checks below follow them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kinetiscan/abi.h"
#include "kinetiscan/guid.h"

namespace kinetiscan {

struct InstanceOps;
struct HostCallback;
struct HostAllocator;

// The start of every class instance, filled in by the host before create.
struct InstanceHeader {
  const InstanceOps* ops;       // 0: the host's table for the instance itself
  void* reserved4;              // 4
  HostCallback* hostCallback;   // 8
  HostAllocator* allocator;     // 12
  std::uint32_t reserved16[2];  // 16
};

// One row of the table DllGetClassInfo hands the host; packed, little-endian.
struct ClassInfoEntry {
  Guid classId;                    // 0
  std::uint32_t classVersion;      // 16
  Guid interfaceId;                // 20
  std::uint32_t interfaceVersion;  // 36
};

// Script coordinates: vertical grows downward from the top of the picture.
struct HostRect {
  std::int32_t top;     // 0
  std::int32_t left;    // 4
  std::int32_t bottom;  // 8
  std::int32_t right;   // 12
};

struct HostPoint {
  std::int32_t vertical;    // 0
  std::int32_t horizontal;  // 4
};

struct ColourRecord {
  std::uint8_t red;    // 0
  std::uint8_t green;  // 1
  std::uint8_t blue;   // 2
  std::uint8_t extra;  // 3: set to 1 before the record is handed to the host
};

// The host's opaque value; the plug-in never looks inside.
struct HostValue {
  std::uint32_t words[2];  // 0
};

// One sprite drawing as the host describes it. Only the rect and level are read.
struct DrawRequest {
  std::int32_t top;            // 0, device coordinates of the surface
  std::int32_t left;           // 4
  std::int32_t bottom;         // 8
  std::int32_t right;          // 12
  std::int32_t reserved16[5];  // 16
  std::int32_t level;          // 36: 0..255, blend level of the sprite
};

// What DrawSurface position 5 fills in. Only kind and device context are read.
struct SurfaceRecord {
  std::int32_t kind;         // 0: drawing happens only for kinds 1, 2 and 3
  void* deviceContext;       // 4: an HDC
  std::int32_t reserved[3];  // 8
};

// Kind codes of ValueServices position 5.
constexpr std::int32_t kKindAny = 0;  // accepted wherever a kind is tested
constexpr std::int32_t kKindInteger = 1;
constexpr std::int32_t kKindFloat = 6;
constexpr std::int32_t kKindRect = 9;
constexpr std::int32_t kKindColour = 18;

static_assert(sizeof(ClassInfoEntry) == 40);
static_assert(offsetof(ClassInfoEntry, classVersion) == 16);
static_assert(offsetof(ClassInfoEntry, interfaceId) == 20);
static_assert(offsetof(ClassInfoEntry, interfaceVersion) == 36);
static_assert(sizeof(HostRect) == 16 && offsetof(HostRect, right) == 12);
static_assert(sizeof(HostPoint) == 8 && offsetof(HostPoint, horizontal) == 4);
static_assert(sizeof(ColourRecord) == 4 && offsetof(ColourRecord, extra) == 3);
static_assert(sizeof(HostValue) == 8);
static_assert(sizeof(DrawRequest) == 40 && offsetof(DrawRequest, level) == 36);
static_assert(offsetof(InstanceHeader, hostCallback) == 2 * sizeof(void*));
static_assert(offsetof(InstanceHeader, allocator) == 3 * sizeof(void*));
static_assert(offsetof(InstanceHeader, reserved16) == 4 * sizeof(void*));
static_assert(sizeof(InstanceHeader) == 4 * sizeof(void*) + 8);
static_assert(offsetof(SurfaceRecord, deviceContext) == alignof(void*));
#if defined(__i386__)
static_assert(sizeof(InstanceHeader) == 24 && offsetof(InstanceHeader, hostCallback) == 8 &&
              offsetof(InstanceHeader, allocator) == 12);
static_assert(sizeof(SurfaceRecord) == 20 && offsetof(SurfaceRecord, deviceContext) == 4);
#endif

}  // namespace kinetiscan
