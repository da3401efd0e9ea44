// The control face of the platform for test programs running under Wine: the same functions the
// Linux stand-in implements, done over real windows, real message boxes answered by a hook, and
// the controls our AVICAP32 exports.
#include <deque>
#include <map>
#include <string>

#include "testbed/control.h"

namespace kinetiscan::standin {
namespace {

constexpr char kDialogClass[] = "#32770";
constexpr char kSourceDialogCaption[] = "Video Source";
constexpr int kStaticTextId = 0xFFFF;
constexpr int kIconId = 1088;

struct CameraControls {
  void (*install)(const camera::DriverBehaviour*, camera::FrameSource*);
  camera::CaptureRecord* (*record)();
  void (*setSourceDialog)(void (*)(void*), void*, int);
  int (*previewingWindows)();
  void (*reset)();
};

// Our AVICAP32's controls, or none when the process runs with another capture library (Wine's
// own, with no camera): then there is no camera to choose and no frame to count.
template <class Function>
void lookUp(HMODULE module, const char* name, Function* function) {
  *function =
      module == nullptr
          ? nullptr
          : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

CameraControls& camera() {
  static CameraControls controls = [] {
    CameraControls found{};
    HMODULE module = LoadLibraryA("avicap32.dll");
    lookUp(module, "standinInstallCamera", &found.install);
    lookUp(module, "standinCaptureRecord", &found.record);
    lookUp(module, "standinSetSourceDialog", &found.setSourceDialog);
    lookUp(module, "standinPreviewingWindows", &found.previewingWindows);
    lookUp(module, "standinResetCamera", &found.reset);
    if (found.install == nullptr || found.record == nullptr || found.setSourceDialog == nullptr ||
        found.previewingWindows == nullptr || found.reset == nullptr) {
      found = CameraControls{};
    }
    return found;
  }();
  return controls;
}

bool simulatedCamera() { return camera().install != nullptr; }

camera::CaptureRecord& record() {
  static camera::CaptureRecord none;
  return simulatedCamera() ? *camera().record() : none;
}

int previewingWindows() { return simulatedCamera() ? camera().previewingWindows() : 0; }

void setSourceDialog(void (*hook)(void*), int frames) {
  if (simulatedCamera()) camera().setSourceDialog(hook, nullptr, frames);
}

struct Boxes {
  HHOOK hook = nullptr;
  std::deque<int> answers;
  std::vector<MessageBoxRecord> records;
  int modalFrames = 0;
  int failCreations = 0;
  std::function<void()> dialogHook;
  std::function<void()> boxHook;
  bool boxHookRan = false;
  // Default processing of WM_SYSCOMMAND, seen by the hook as HCBT_SYSCOMMAND, by command.
  std::map<std::uintptr_t, int> systemCommands;
  // The box being answered once its frames have come.
  HWND pending = nullptr;
  int pendingAnswer = IDOK;
  int framesAtOpen = 0;
  int dryAtOpen = 0;
  DWORD openedAt = 0;
};

Boxes& boxes() {
  static Boxes state;
  return state;
}

int framesDelivered() { return record().framesDelivered; }

std::string textOf(HWND window) {
  char buffer[1024] = "";
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

// Rebuilds the style a box was asked for from what it shows.
unsigned styleOf(HWND box) {
  unsigned style = GetDlgItem(box, IDCANCEL) != nullptr && GetDlgItem(box, IDOK) != nullptr
                       ? MB_OKCANCEL
                       : MB_OK;
  HWND icon = GetDlgItem(box, kIconId);
  if (icon != nullptr && (GetWindowLongA(icon, GWL_STYLE) & WS_VISIBLE) != 0) {
    auto shown = reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0));
    if (shown == LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_HAND))) style |= MB_ICONHAND;
    if (shown == LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_EXCLAMATION))) {
      style |= MB_ICONEXCLAMATION;
    }
    if (shown == LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_ASTERISK))) {
      style |= MB_ICONASTERISK;
    }
    if (shown == LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_QUESTION))) {
      style |= MB_ICONQUESTION;
    }
  }
  return style;
}

// Answers the pending box once the frames its modal loop should deliver have come (or after a
// while, when the camera delivers nothing).
void CALLBACK answerWhenReady(HWND, UINT, UINT_PTR timer, DWORD) {
  Boxes& state = boxes();
  if (state.pending == nullptr) {
    KillTimer(nullptr, timer);
    return;
  }
  // The hook runs once per box, inside the box's modal loop.
  if (state.boxHook && !state.boxHookRan) {
    state.boxHookRan = true;
    const std::function<void()> hook = state.boxHook;
    hook();
  }
  const bool framesDone = framesDelivered() - state.framesAtOpen >= state.modalFrames ||
                          previewingWindows() == 0 || record().sourceRanDry != state.dryAtOpen;
  if (!framesDone && GetTickCount() - state.openedAt < 5000) return;
  KillTimer(nullptr, timer);
  HWND box = state.pending;
  state.pending = nullptr;
  const int answer = state.pendingAnswer;
  HWND button = GetDlgItem(box, answer);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

LRESULT CALLBACK watchWindows(int code, WPARAM wParam, LPARAM lParam) {
  Boxes& state = boxes();
  if (code == HCBT_CREATEWND && state.failCreations > 0) {
    auto* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam);
    const bool isBox = create->lpcs->lpszClass != nullptr &&
                       !IS_INTRESOURCE(create->lpcs->lpszClass) &&
                       lstrcmpA(create->lpcs->lpszClass, kDialogClass) == 0;
    if (!isBox) {
      --state.failCreations;
      return 1;  // the creation fails
    }
  }
  if (code == HCBT_SYSCOMMAND) ++state.systemCommands[wParam];
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    char className[32] = "";
    GetClassNameA(box, className, sizeof className);
    if (lstrcmpA(className, kDialogClass) == 0 && box != state.pending) {
      int answer = (styleOf(box) & 0xF) == MB_OK ? IDOK : IDCANCEL;
      if (!state.answers.empty()) {
        answer = state.answers.front();
        state.answers.pop_front();
      }
      char text[1024] = "";
      GetDlgItemTextA(box, kStaticTextId, text, sizeof text);
      std::string caption = textOf(box);
      // Wine shows line breaks in the static text as they were given.
      state.records.push_back(
          MessageBoxRecord{GetWindow(box, GW_OWNER), text, caption, styleOf(box), answer});
      state.pending = box;
      state.boxHookRan = false;
      state.pendingAnswer = answer;
      state.framesAtOpen = framesDelivered();
      state.dryAtOpen = record().sourceRanDry;
      state.openedAt = GetTickCount();
      SetTimer(nullptr, 0, 5, answerWhenReady);
    }
  }
  return CallNextHookEx(state.hook, code, wParam, lParam);
}

void ensureHook() {
  if (boxes().hook == nullptr) {
    boxes().hook = SetWindowsHookExA(WH_CBT, watchWindows, nullptr, GetCurrentThreadId());
  }
}

void runDialogHook(void*) {
  if (boxes().dialogHook) boxes().dialogHook();
}

BOOL CALLBACK collect(HWND window, LPARAM list) {
  char className[64] = "";
  GetClassNameA(window, className, sizeof className);
  // Windows Wine makes for itself (input method windows) are not ours.
  if (lstrcmpA(className, "IME") == 0 || lstrcmpA(className, "MSCTFIME UI") == 0) return TRUE;
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

std::vector<HWND> threadWindows() {
  std::vector<HWND> topLevel;
  EnumThreadWindows(GetCurrentThreadId(), collect, reinterpret_cast<LPARAM>(&topLevel));
  std::vector<HWND> all = topLevel;
  for (HWND window : topLevel) EnumChildWindows(window, collect, reinterpret_cast<LPARAM>(&all));
  return all;
}

}  // namespace

void installCamera(const camera::DriverBehaviour& behaviour, camera::FrameSource* source) {
  ensureHook();
  if (simulatedCamera()) camera().install(&behaviour, source);
}
const camera::CaptureRecord& captureRecord() { return record(); }
void clearCaptureRecord() { record() = camera::CaptureRecord{}; }

void setSourceDialogHook(std::function<void()> hook) {
  boxes().dialogHook = std::move(hook);
  setSourceDialog(runDialogHook, boxes().modalFrames);
}

void setFramesPerModalLoop(int frames) {
  boxes().modalFrames = frames;
  setSourceDialog(runDialogHook, frames);
}

int pumpFrames(int frames) {
  ensureHook();
  const int start = framesDelivered();
  const int dry = record().sourceRanDry;
  const DWORD deadline = GetTickCount() + 2000 + 200 * static_cast<DWORD>(frames);
  MSG message;
  while (framesDelivered() - start < frames && previewingWindows() > 0 &&
         record().sourceRanDry == dry && static_cast<LONG>(deadline - GetTickCount()) > 0) {
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
  }
  return framesDelivered() - start;
}

void scriptMessageBoxAnswers(std::vector<int> answers) {
  ensureHook();
  boxes().answers.assign(answers.begin(), answers.end());
}

std::vector<MessageBoxRecord> messageBoxes() {
  std::vector<MessageBoxRecord> shown;
  for (const MessageBoxRecord& record : boxes().records) {
    if (record.caption != kSourceDialogCaption) shown.push_back(record);
  }
  return shown;
}
void clearMessageBoxes() { boxes().records.clear(); }
void setMessageBoxHook(std::function<void()> hook) {
  ensureHook();
  boxes().boxHook = std::move(hook);
}

bool windowInfo(HWND window, WindowInfo* info) {
  if (!IsWindow(window)) return false;
  char className[256] = "";
  GetClassNameA(window, className, sizeof className);
  RECT rect{};
  GetWindowRect(window, &rect);
  HWND parent = GetAncestor(window, GA_PARENT);
  if (parent == GetDesktopWindow()) parent = nullptr;
  *info = WindowInfo{className,
                     rect.left,
                     rect.top,
                     rect.right - rect.left,
                     rect.bottom - rect.top,
                     IsWindowVisible(window) != FALSE,
                     static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)),
                     static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)),
                     parent,
                     textOf(window),
                     GetDlgCtrlID(window)};
  return true;
}

bool windowClass(const char* name, WNDCLASSA* attributes) {
  return GetClassInfoA(GetModuleHandleA(nullptr), name, attributes) != FALSE;
}

int liveWindowCount() { return static_cast<int>(threadWindows().size()); }

void failWindowCreations(int count) {
  ensureHook();
  boxes().failCreations = count;
}

// Default processing of a system command calls the CBT hook first; that call is the trace.
bool defaultProcessingCount(unsigned message, std::uintptr_t wParam, int* count) {
  if (message != WM_SYSCOMMAND) return false;
  auto found = boxes().systemCommands.find(wParam);
  *count = found == boxes().systemCommands.end() ? 0 : found->second;
  return true;
}

// Wine does not count a process's GDI objects (GetGuiResources answers 0).
bool liveGdiObjectCount(int*) { return false; }
bool failMemoryDcCreations(int) { return false; }
bool dirtyNewBitmaps(bool) { return false; }

LibraryRange libraryRange(HMODULE module) {
  if (module == nullptr) return LibraryRange{0, 0};
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return LibraryRange{base, nt->OptionalHeader.SizeOfImage};
}

bool reserveRange(const LibraryRange& range) {
  if (range.size == 0) return false;
  void* wanted = reinterpret_cast<void*>(range.base);
  return VirtualAlloc(wanted, range.size, MEM_RESERVE, PAGE_NOACCESS) == wanted;
}

void releaseRange(const LibraryRange& range) {
  if (range.size != 0) VirtualFree(reinterpret_cast<void*>(range.base), 0, MEM_RELEASE);
}

void resetForTest() {
  ensureHook();
  for (HWND window : threadWindows()) {
    if (GetAncestor(window, GA_PARENT) == GetDesktopWindow()) DestroyWindow(window);
  }
  Boxes& state = boxes();
  state.answers.clear();
  state.records.clear();
  state.modalFrames = 0;
  state.failCreations = 0;
  state.dialogHook = nullptr;
  state.boxHook = nullptr;
  state.systemCommands.clear();
  state.pending = nullptr;
  if (simulatedCamera()) camera().reset();
}

}  // namespace kinetiscan::standin
