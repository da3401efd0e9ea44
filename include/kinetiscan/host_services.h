// The host's interfaces as the plug-in calls them: each is a pointer to a table of operations,
// called by position. Positions the plug-in never calls are named placeholders so that the
// numbers line up; a host fills them with whatever it likes.
#pragma once

#include "kinetiscan/abi.h"
#include "kinetiscan/guid.h"
#include "kinetiscan/records.h"

// Positions 0-2 of every table.
#define KINETISCAN_UNKNOWN_SLOTS(Self)                                                             \
  ::kinetiscan::Result(KINETISCAN_CALL* queryInterface)(Self*, const ::kinetiscan::Guid*, void**); \
  std::int32_t(KINETISCAN_CALL* addRef)(Self*);                                                    \
  std::int32_t(KINETISCAN_CALL* release)(Self*)

#define KINETISCAN_UNKNOWN_SLOTS_PINNED(Table) \
  KINETISCAN_SLOT(Table, queryInterface, 0);   \
  KINETISCAN_SLOT(Table, addRef, 1);           \
  KINETISCAN_SLOT(Table, release, 2)

namespace kinetiscan {

// A table position the plug-in never calls.
using Placeholder = void(KINETISCAN_CALL*)();

// Any interface: only positions 0-2 are known.
struct Unknown;
struct UnknownOps {
  KINETISCAN_UNKNOWN_SLOTS(Unknown);
};
struct Unknown {
  const UnknownOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(UnknownOps);
KINETISCAN_TABLE_SIZE(UnknownOps, 3);

// The host's table for a class instance (InstanceHeader offset 0).
struct InstanceOps {
  KINETISCAN_UNKNOWN_SLOTS(InstanceHeader);
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(InstanceOps);
KINETISCAN_TABLE_SIZE(InstanceOps, 3);

struct HostCallbackOps {
  KINETISCAN_UNKNOWN_SLOTS(HostCallback);
  // Makes an instance of one of the module's classes and one interface object on it.
  Result(KINETISCAN_CALL* createInstance)(HostCallback*, const Guid* classId,
                                          const Guid* interfaceId, void** out);
};
struct HostCallback {
  const HostCallbackOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(HostCallbackOps);
KINETISCAN_SLOT(HostCallbackOps, createInstance, 3);
KINETISCAN_TABLE_SIZE(HostCallbackOps, 4);

struct HostAllocatorOps {
  KINETISCAN_UNKNOWN_SLOTS(HostAllocator);
  void*(KINETISCAN_CALL* allocate)(HostAllocator*, std::uint32_t byteCount);
  Result(KINETISCAN_CALL* free)(HostAllocator*, void* block);
};
struct HostAllocator {
  const HostAllocatorOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(HostAllocatorOps);
KINETISCAN_SLOT(HostAllocatorOps, allocate, 3);
KINETISCAN_SLOT(HostAllocatorOps, free, 4);
KINETISCAN_TABLE_SIZE(HostAllocatorOps, 5);

struct ValueServices;
struct ValueServicesOps {
  KINETISCAN_UNKNOWN_SLOTS(ValueServices);
  Result(KINETISCAN_CALL* stringToSymbol)(ValueServices*, const char* text, Symbol* out);
  Result(KINETISCAN_CALL* symbolToString)(ValueServices*, Symbol, char* buffer, std::int32_t size);
  Result(KINETISCAN_CALL* valueKind)(ValueServices*, const HostValue*, std::int32_t* kind);
  Placeholder reserved6;
  Result(KINETISCAN_CALL* releaseValue)(ValueServices*, HostValue*);
  Result(KINETISCAN_CALL* valueToInteger)(ValueServices*, const HostValue*, std::int32_t* out);
  Result(KINETISCAN_CALL* valueToSymbol)(ValueServices*, const HostValue*, Symbol* out);
  Result(KINETISCAN_CALL* valueToDouble)(ValueServices*, const HostValue*, double* out);
  Placeholder reserved11;
  Placeholder reserved12;
  Placeholder reserved13;
  Placeholder reserved14;
  Placeholder reserved15;
  Result(KINETISCAN_CALL* valueToRect)(ValueServices*, const HostValue*, HostRect* out);
  Result(KINETISCAN_CALL* integerToValue)(ValueServices*, std::int32_t, HostValue* out);
  Placeholder reserved18;
  Result(KINETISCAN_CALL* doubleToValue)(ValueServices*, double, HostValue* out);
  Result(KINETISCAN_CALL* stringToValue)(ValueServices*, const char* text, HostValue* out);
  Placeholder reserved21;
  Result(KINETISCAN_CALL* pointToValue)(ValueServices*, const HostPoint*, HostValue* out);
  Result(KINETISCAN_CALL* rectToValue)(ValueServices*, const HostRect*, HostValue* out);
};
struct ValueServices {
  const ValueServicesOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(ValueServicesOps);
KINETISCAN_SLOT(ValueServicesOps, stringToSymbol, 3);
KINETISCAN_SLOT(ValueServicesOps, symbolToString, 4);
KINETISCAN_SLOT(ValueServicesOps, valueKind, 5);
KINETISCAN_SLOT(ValueServicesOps, releaseValue, 7);
KINETISCAN_SLOT(ValueServicesOps, valueToInteger, 8);
KINETISCAN_SLOT(ValueServicesOps, valueToSymbol, 9);
KINETISCAN_SLOT(ValueServicesOps, valueToDouble, 10);
KINETISCAN_SLOT(ValueServicesOps, valueToRect, 16);
KINETISCAN_SLOT(ValueServicesOps, integerToValue, 17);
KINETISCAN_SLOT(ValueServicesOps, doubleToValue, 19);
KINETISCAN_SLOT(ValueServicesOps, stringToValue, 20);
KINETISCAN_SLOT(ValueServicesOps, pointToValue, 22);
KINETISCAN_SLOT(ValueServicesOps, rectToValue, 23);
KINETISCAN_TABLE_SIZE(ValueServicesOps, 24);

struct ListServices;
struct ListServicesOps {
  KINETISCAN_UNKNOWN_SLOTS(ListServices);
  Result(KINETISCAN_CALL* newList)(ListServices*, HostValue* out);
  Result(KINETISCAN_CALL* append)(ListServices*, HostValue* list, const HostValue* item);
};
struct ListServices {
  const ListServicesOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(ListServicesOps);
KINETISCAN_SLOT(ListServicesOps, newList, 3);
KINETISCAN_SLOT(ListServicesOps, append, 4);
KINETISCAN_TABLE_SIZE(ListServicesOps, 5);

struct ColorServices;
struct ColorServicesOps {
  KINETISCAN_UNKNOWN_SLOTS(ColorServices);
  Result(KINETISCAN_CALL* valueToColour)(ColorServices*, const HostValue*, ColourRecord* out);
  Result(KINETISCAN_CALL* colourToValue)(ColorServices*, const ColourRecord*, HostValue* out);
};
struct ColorServices {
  const ColorServicesOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(ColorServicesOps);
KINETISCAN_SLOT(ColorServicesOps, valueToColour, 3);
KINETISCAN_SLOT(ColorServicesOps, colourToValue, 4);
KINETISCAN_TABLE_SIZE(ColorServicesOps, 5);

struct ImageServices;
struct ImageServicesOps {
  KINETISCAN_UNKNOWN_SLOTS(ImageServices);
  Placeholder reserved3[14];  // positions 3-16
  // Called with 160, 120, 24, 1, 0.
  Result(KINETISCAN_CALL* newImage)(ImageServices*, std::int32_t width, std::int32_t height,
                                    std::int32_t depth, std::int32_t arg4, std::int32_t arg5,
                                    HostValue* out);
  // One contiguous block of 120 rows of 160 pixels, 4 bytes each.
  Result(KINETISCAN_CALL* lockPixels)(ImageServices*, const HostValue* image, void** pixels);
  Result(KINETISCAN_CALL* unlockPixels)(ImageServices*, const HostValue* image);
};
struct ImageServices {
  const ImageServicesOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(ImageServicesOps);
KINETISCAN_SLOT(ImageServicesOps, newImage, 17);
KINETISCAN_SLOT(ImageServicesOps, lockPixels, 18);
KINETISCAN_SLOT(ImageServicesOps, unlockPixels, 19);
KINETISCAN_TABLE_SIZE(ImageServicesOps, 20);

// The host's objects met on the way from MovieServices to casts, members and sprites.
struct HostMember;
struct HostMemberOps {
  KINETISCAN_UNKNOWN_SLOTS(HostMember);
  Result(KINETISCAN_CALL* getProperty)(HostMember*, Symbol, HostValue* out);
};
struct HostMember {
  const HostMemberOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(HostMemberOps);
KINETISCAN_SLOT(HostMemberOps, getProperty, 3);
KINETISCAN_TABLE_SIZE(HostMemberOps, 4);

struct HostCast;
struct HostCastOps {
  KINETISCAN_UNKNOWN_SLOTS(HostCast);
  Placeholder reserved3[4];  // positions 3-6
  Result(KINETISCAN_CALL* nextMemberIndex)(HostCast*, std::int32_t index, std::int32_t* next);
  Result(KINETISCAN_CALL* startMemberIndex)(HostCast*, std::int32_t* start);
  Placeholder reserved9[4];  // positions 9-12
  Result(KINETISCAN_CALL* getMember)(HostCast*, std::int32_t index, HostMember** out);
  Placeholder reserved14;
  Result(KINETISCAN_CALL* removeMember)(HostCast*, std::int32_t index);
};
struct HostCast {
  const HostCastOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(HostCastOps);
KINETISCAN_SLOT(HostCastOps, nextMemberIndex, 7);
KINETISCAN_SLOT(HostCastOps, startMemberIndex, 8);
KINETISCAN_SLOT(HostCastOps, getMember, 13);
KINETISCAN_SLOT(HostCastOps, removeMember, 15);
KINETISCAN_TABLE_SIZE(HostCastOps, 16);

struct HostMovie;
struct HostMovieOps {
  KINETISCAN_UNKNOWN_SLOTS(HostMovie);
  Result(KINETISCAN_CALL* getProperty)(HostMovie*, Symbol, HostValue* out);
  Placeholder reserved4[5];  // positions 4-8
  Result(KINETISCAN_CALL* castCount)(HostMovie*, std::int32_t* count);
  Result(KINETISCAN_CALL* getCast)(HostMovie*, std::int32_t index, HostCast** out);
};
struct HostMovie {
  const HostMovieOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(HostMovieOps);
KINETISCAN_SLOT(HostMovieOps, getProperty, 3);
KINETISCAN_SLOT(HostMovieOps, castCount, 9);
KINETISCAN_SLOT(HostMovieOps, getCast, 10);
KINETISCAN_TABLE_SIZE(HostMovieOps, 11);

// The sprite route: MovieServices 6 gives the stage, its 24 the score, the score's 21 a sprite.
struct HostSprite;
struct HostSpriteOps {
  KINETISCAN_UNKNOWN_SLOTS(HostSprite);
  Result(KINETISCAN_CALL* getProperty)(HostSprite*, Symbol, HostValue* out);
};
struct HostSprite {
  const HostSpriteOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(HostSpriteOps);
KINETISCAN_SLOT(HostSpriteOps, getProperty, 3);
KINETISCAN_TABLE_SIZE(HostSpriteOps, 4);

struct HostScore;
struct HostScoreOps {
  KINETISCAN_UNKNOWN_SLOTS(HostScore);
  Placeholder reserved3[18];  // positions 3-20
  Result(KINETISCAN_CALL* getSprite)(HostScore*, std::int32_t number, HostSprite** out);
};
struct HostScore {
  const HostScoreOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(HostScoreOps);
KINETISCAN_SLOT(HostScoreOps, getSprite, 21);
KINETISCAN_TABLE_SIZE(HostScoreOps, 22);

struct HostStage;
struct HostStageOps {
  KINETISCAN_UNKNOWN_SLOTS(HostStage);
  Placeholder reserved3[21];  // positions 3-23
  Result(KINETISCAN_CALL* getScore)(HostStage*, HostScore** out);
};
struct HostStage {
  const HostStageOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(HostStageOps);
KINETISCAN_SLOT(HostStageOps, getScore, 24);
KINETISCAN_TABLE_SIZE(HostStageOps, 25);

struct MovieServices;
struct MovieServicesOps {
  KINETISCAN_UNKNOWN_SLOTS(MovieServices);
  Placeholder reserved3[3];  // positions 3-5
  Result(KINETISCAN_CALL* getStage)(MovieServices*, HostStage** out);
  Result(KINETISCAN_CALL* movieCount)(MovieServices*, std::int32_t* count);
  Result(KINETISCAN_CALL* getMovie)(MovieServices*, std::int32_t index, HostMovie** out);
};
struct MovieServices {
  const MovieServicesOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(MovieServicesOps);
KINETISCAN_SLOT(MovieServicesOps, getStage, 6);
KINETISCAN_SLOT(MovieServicesOps, movieCount, 7);
KINETISCAN_SLOT(MovieServicesOps, getMovie, 8);
KINETISCAN_TABLE_SIZE(MovieServicesOps, 9);

struct WindowServices;
struct WindowServicesOps {
  KINETISCAN_UNKNOWN_SLOTS(WindowServices);
  Placeholder reserved3;
  // The second out word is the host's main window (an HWND); the first is not used.
  Result(KINETISCAN_CALL* getMainWindow)(WindowServices*, void** unused, void** window);
};
struct WindowServices {
  const WindowServicesOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(WindowServicesOps);
KINETISCAN_SLOT(WindowServicesOps, getMainWindow, 4);
KINETISCAN_TABLE_SIZE(WindowServicesOps, 5);

struct RegistryDictionary;
struct RegistryDictionaryOps {
  KINETISCAN_UNKNOWN_SLOTS(RegistryDictionary);
  Placeholder reserved3[3];  // positions 3-5
  Result(KINETISCAN_CALL* put)(RegistryDictionary*, std::int32_t kind, const void* value,
                               std::uint32_t length, const char* key);
};
struct RegistryDictionary {
  const RegistryDictionaryOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(RegistryDictionaryOps);
KINETISCAN_SLOT(RegistryDictionaryOps, put, 6);
KINETISCAN_TABLE_SIZE(RegistryDictionaryOps, 7);

// Kind codes of the registration dictionary (its own numbering).
constexpr std::int32_t kRegistryText = 9;
constexpr std::int32_t kRegistryInteger = 3;
constexpr std::int32_t kRegistryBytes = 8;
constexpr std::int32_t kRegistryBoolean = 6;

struct ClassRegistry;
struct ClassRegistryOps {
  KINETISCAN_UNKNOWN_SLOTS(ClassRegistry);
  Placeholder reserved3[4];  // positions 3-6
  Result(KINETISCAN_CALL* getDictionary)(ClassRegistry*, void* context, const Guid* classId,
                                         const Guid* interfaceId, RegistryDictionary** out);
};
struct ClassRegistry {
  const ClassRegistryOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(ClassRegistryOps);
KINETISCAN_SLOT(ClassRegistryOps, getDictionary, 7);
KINETISCAN_TABLE_SIZE(ClassRegistryOps, 8);

struct SpriteCallbackService;
struct SpriteCallbackServiceOps {
  KINETISCAN_UNKNOWN_SLOTS(SpriteCallbackService);
  Placeholder reserved3;
  Result(KINETISCAN_CALL* spriteNumber)(SpriteCallbackService*, std::int32_t* number);
};
struct SpriteCallbackService {
  const SpriteCallbackServiceOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(SpriteCallbackServiceOps);
KINETISCAN_SLOT(SpriteCallbackServiceOps, spriteNumber, 4);
KINETISCAN_TABLE_SIZE(SpriteCallbackServiceOps, 5);

struct DrawSurface;
struct DrawSurfaceOps {
  KINETISCAN_UNKNOWN_SLOTS(DrawSurface);
  Placeholder reserved3[2];  // positions 3-4
  Result(KINETISCAN_CALL* describe)(DrawSurface*, SurfaceRecord* out);
};
struct DrawSurface {
  const DrawSurfaceOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(DrawSurfaceOps);
KINETISCAN_SLOT(DrawSurfaceOps, describe, 5);
KINETISCAN_TABLE_SIZE(DrawSurfaceOps, 6);

// The interface handed to sprite actor position 9; its position 3 gets the other argument.
struct PassOnTarget;
struct PassOnTargetOps {
  KINETISCAN_UNKNOWN_SLOTS(PassOnTarget);
  Result(KINETISCAN_CALL* receive)(PassOnTarget*, std::uint32_t word);
};
struct PassOnTarget {
  const PassOnTargetOps* ops;
};
KINETISCAN_UNKNOWN_SLOTS_PINNED(PassOnTargetOps);
KINETISCAN_SLOT(PassOnTargetOps, receive, 3);
KINETISCAN_TABLE_SIZE(PassOnTargetOps, 4);

}  // namespace kinetiscan
