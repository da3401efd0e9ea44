// Windows, window classes, messages and message boxes of the stand-in. Handles are never reused,
// so a destroyed window's handle stays invalid, as IsWindow callers rely on.
#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "standin/internal.h"
#include "testbed/control.h"

namespace kinetiscan::standin {
namespace {

struct WindowClass {
  WNDCLASSA attributes;
  std::string name;
};

struct Window {
  std::string className;
  WNDPROC procedure;
  HWND parent;
  DWORD style;
  DWORD exStyle;
  int x, y, width, height;
  bool visible;
  std::string title;
  std::intptr_t id;
};

struct UserState {
  std::map<std::string, WindowClass> classes;
  std::map<HWND, Window> windows;
  std::uintptr_t nextHandle = 0x10000;
  ATOM nextAtom = 0xC000;
  int failCreations = 0;
  std::deque<int> answers;
  std::vector<MessageBoxRecord> boxes;
  int modalFrames = 0;
  std::function<void()> boxHook;
  std::map<std::pair<unsigned, std::uintptr_t>, int> defaultProcessing;
};

UserState& user() {
  static UserState state;
  return state;
}

Window* find(HWND window) {
  auto found = user().windows.find(window);
  return found == user().windows.end() ? nullptr : &found->second;
}

}  // namespace

void runModalLoop() {
  if (user().modalFrames > 0) pumpFrames(user().modalFrames);
}

void scriptMessageBoxAnswers(std::vector<int> answers) {
  user().answers.assign(answers.begin(), answers.end());
}
std::vector<MessageBoxRecord> messageBoxes() { return user().boxes; }
void clearMessageBoxes() { user().boxes.clear(); }
void setFramesPerModalLoop(int frames) { user().modalFrames = frames; }
void setMessageBoxHook(std::function<void()> hook) { user().boxHook = std::move(hook); }

bool windowInfo(HWND window, WindowInfo* info) {
  const Window* found = find(window);
  if (found == nullptr) return false;
  *info = WindowInfo{found->className, found->x,       found->y,     found->width,
                     found->height,    found->visible, found->style, found->exStyle,
                     found->parent,    found->title,   found->id};
  return true;
}

bool windowClass(const char* name, WNDCLASSA* attributes) {
  auto found = user().classes.find(name);
  if (found == user().classes.end()) return false;
  *attributes = found->second.attributes;
  return true;
}

int liveWindowCount() { return static_cast<int>(user().windows.size()); }
void failWindowCreations(int count) { user().failCreations = count; }

bool defaultProcessingCount(unsigned message, std::uintptr_t wParam, int* count) {
  auto found = user().defaultProcessing.find({message, wParam});
  *count = found == user().defaultProcessing.end() ? 0 : found->second;
  return true;
}

void resetWindowsForTest() {
  UserState& state = user();
  while (!state.windows.empty()) {
    HWND top = state.windows.begin()->first;
    while (Window* window = find(top)) {
      if (window->parent == nullptr || find(window->parent) == nullptr) break;
      top = window->parent;
    }
    DestroyWindow(top);
  }
  state.failCreations = 0;
  state.answers.clear();
  state.boxes.clear();
  state.modalFrames = 0;
  state.boxHook = nullptr;
  state.defaultProcessing.clear();
}

}  // namespace kinetiscan::standin

using namespace kinetiscan::standin;

extern "C" ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (windowClass == nullptr || windowClass->lpszClassName == nullptr) return 0;
  const std::string name = windowClass->lpszClassName;
  if (user().classes.count(name) != 0) return 0;  // already registered
  WindowClass& entry = user().classes[name];
  entry.name = name;
  entry.attributes = *windowClass;
  entry.attributes.lpszClassName = entry.name.c_str();
  entry.attributes.lpszMenuName = nullptr;
  return user().nextAtom++;
}

// As on Windows: a class with windows alive stays registered.
extern "C" BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
  if (className == nullptr) return FALSE;
  UserState& state = user();
  auto found = state.classes.find(className);
  if (found == state.classes.end()) return FALSE;
  for (const auto& [handle, window] : state.windows) {
    if (window.className == found->first) return FALSE;
  }
  state.classes.erase(found);
  return TRUE;
}

extern "C" HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                                int x, int y, int width, int height, HWND parent, HMENU menu,
                                HINSTANCE, LPVOID) {
  UserState& state = user();
  if (state.failCreations > 0) {
    --state.failCreations;
    return nullptr;
  }
  if (className == nullptr) return nullptr;
  auto found = state.classes.find(className);
  if (found == state.classes.end()) return nullptr;
  // A child needs a living parent.
  if ((style & WS_CHILD) != 0 && find(parent) == nullptr) return nullptr;
  if (parent != nullptr && find(parent) == nullptr) return nullptr;
  HWND handle = reinterpret_cast<HWND>(state.nextHandle);
  state.nextHandle += 4;
  state.windows[handle] = Window{className,
                                 found->second.attributes.lpfnWndProc,
                                 parent,
                                 style,
                                 exStyle,
                                 x,
                                 y,
                                 width,
                                 height,
                                 (style & WS_VISIBLE) != 0,
                                 windowName != nullptr ? windowName : "",
                                 reinterpret_cast<std::intptr_t>(menu)};
  return handle;
}

extern "C" BOOL ShowWindow(HWND window, int command) {
  Window* found = find(window);
  if (found == nullptr) return FALSE;
  const bool wasVisible = found->visible;
  found->visible = command != SW_HIDE;
  return wasVisible ? TRUE : FALSE;
}

extern "C" BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL) {
  Window* found = find(window);
  if (found == nullptr) return FALSE;
  found->x = x;
  found->y = y;
  found->width = width;
  found->height = height;
  return TRUE;
}

extern "C" BOOL DestroyWindow(HWND window) {
  Window* found = find(window);
  if (found == nullptr) return FALSE;
  // The window first, then its children, each told before it goes.
  const WNDPROC procedure = found->procedure;
  if (procedure != nullptr) procedure(window, WM_DESTROY, 0, 0);
  std::vector<HWND> children;
  for (const auto& [handle, child] : user().windows) {
    if (child.parent == window) children.push_back(handle);
  }
  for (HWND child : children) DestroyWindow(child);
  user().windows.erase(window);
  return TRUE;
}

extern "C" BOOL IsWindow(HWND window) { return find(window) != nullptr ? TRUE : FALSE; }

extern "C" LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* found = find(window);
  if (found == nullptr || found->procedure == nullptr) return 0;
  return found->procedure(window, message, wParam, lParam);
}

extern "C" LRESULT DefWindowProcA(HWND, UINT message, WPARAM wParam, LPARAM) {
  ++user().defaultProcessing[{message, wParam}];
  return 0;
}

extern "C" HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr) return reinterpret_cast<HMODULE>(std::uintptr_t{0x400000});
  return isRuntimeLibraryName(moduleName) ? runtimeLibrary() : nullptr;
}

extern "C" HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR cursorName) {
  if (instance != nullptr) return nullptr;
  return reinterpret_cast<HCURSOR>(0x7F0000 | reinterpret_cast<std::uintptr_t>(cursorName));
}

extern "C" int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  UserState& state = user();
  int answer = (type & 0xF) == MB_OK ? IDOK : IDCANCEL;
  if (!state.answers.empty()) {
    answer = state.answers.front();
    state.answers.pop_front();
  }
  state.boxes.push_back(MessageBoxRecord{owner, text != nullptr ? text : "",
                                         caption != nullptr ? caption : "Error", type, answer});
  if (state.boxHook) {
    const std::function<void()> hook = state.boxHook;  // the hook may replace itself
    hook();
  }
  runModalLoop();
  return answer;
}
