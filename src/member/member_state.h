// Module-wide state of the cast member subsystem.
#pragma once

#include <cstdint>

#include "kinetiscan/host_services.h"
#include "platform/win32api.h"

namespace kinetiscan {

struct CastMemberInstance;

struct MemberState {
  // The most recent asset callback; one serves all members.
  Unknown* assetCallback = nullptr;
  // Set when the cast scan started capture because it found a member.
  bool captureRunning = false;
  // The first member of the type met in the walk of the current cast; -1 while none.
  std::int32_t firstMemberIndex = -1;
  // A scan is under way: one started from inside it (a frame inside the warning box) returns.
  bool scanning = false;
};
MemberState& memberState();
void resetMemberStateForTest();

// The member that the newest cast member interface object speaks for; null while there is none.
CastMemberInstance* currentCastMember();

// The host's main window, owner of the module's message boxes; null when it cannot be asked.
HWND hostWindow();

}  // namespace kinetiscan
