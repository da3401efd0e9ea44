// Module-wide state of the cast member subsystem and the ways to the current member.
#include "member/member_state.h"

#include "member/cast_member.h"
#include "objects/interface_object.h"

namespace kinetiscan {
namespace {

constinit MemberState state;

}  // namespace

MemberState& memberState() { return state; }
void resetMemberStateForTest() { state = MemberState{}; }

CastMemberInstance* currentCastMember() {
  InterfaceObject* current = interfaceObjectState().currentCastMemberObject;
  return current == nullptr ? nullptr : castMemberOf(current->owner);
}

HWND hostWindow() {
  CastMemberInstance* member = currentCastMember();
  if (member == nullptr || member->windowServices == nullptr) return nullptr;
  WindowServices* windows = member->windowServices;
  void* unused = nullptr;
  void* window = nullptr;
  windows->ops->getMainWindow(windows, &unused, &window);
  return static_cast<HWND>(window);
}

}  // namespace kinetiscan
