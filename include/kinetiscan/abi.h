// Calling convention, result codes and layout checks shared by the plug-in and every host.
#pragma once

#include <cstddef>
#include <cstdint>

// The host calls every entry point and table operation with the platform's COM convention: on
// 32-bit Windows the callee pops its arguments. Elsewhere there is only one convention.
#if defined(_WIN32) && defined(__i386__)
#define KINETISCAN_CALL __attribute__((stdcall))
#else
#define KINETISCAN_CALL
#endif

// Pins a table slot to its position: the host calls by position, never by name.
#define KINETISCAN_SLOT(Table, slot, position) \
  static_assert(offsetof(Table, slot) == (position) * sizeof(void*), #Table "::" #slot)
#define KINETISCAN_TABLE_SIZE(Table, positions) \
  static_assert(sizeof(Table) == (positions) * sizeof(void*), #Table " size")

namespace kinetiscan {

// Every entry point and operation answers a 32-bit code: 0 for success, 0x8004xxxx for failures.
using Result = std::int32_t;
// Host symbols are 32-bit handles.
using Symbol = std::uint32_t;

constexpr Result code(std::uint32_t bits) { return static_cast<Result>(bits); }

constexpr Result kOk = 0;
constexpr Result kNoMemory = code(0x80040002u);
constexpr Result kLibraryInUse = code(0x80040003u);
constexpr Result kNoInterface = code(0x80040004u);
constexpr Result kNoClass = code(0x80040005u);
constexpr Result kUnknownProperty = code(0x800407d5u);
constexpr Result kPropertyReadOnly = code(0x800407d6u);
constexpr Result kWrongTrackArgument = code(0x800407d9u);
constexpr Result kWrongValueKind = code(0x800407dbu);
constexpr Result kWrongBlockArgument = code(0x800407deu);
constexpr Result kUnknownMethod = code(0x800407dfu);
constexpr Result kWrongActionCount = code(0x800407e0u);
constexpr Result kWrongBlockCount = code(0x800407e1u);
constexpr Result kWrongTrackCount = code(0x800407e2u);

}  // namespace kinetiscan
