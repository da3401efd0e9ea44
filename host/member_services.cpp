// The simulated host's window services and asset callback.
#include "host/member_services.h"

#include "host/host_object.h"
#include "host/values.h"

namespace kinetiscan::host {
namespace {

constexpr char kMainWindowClass[] = "KinetiscanHostMainWindow";

LRESULT CALLBACK mainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

Windows::Windows(Ledger& ledger) : references(ledger, "WindowServices") {
  static constexpr WindowServicesOps kOps = {
      .queryInterface = noOtherInterface<Windows, WindowServices>,
      .addRef = countedAddRef<Windows, WindowServices>,
      .release = countedRelease<Windows, WindowServices>,
      .reserved3 = unexpectedPosition,
      .getMainWindow = getMainWindow,
  };
  ops = &kOps;
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = mainWindowProcedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kMainWindowClass;
  RegisterClassA(&windowClass);
  window_ = CreateWindowExA(0, kMainWindowClass, "Host", WS_POPUP, 0, 0, 64, 48, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
}

Windows::~Windows() {
  if (window_ != nullptr) DestroyWindow(window_);
}

Result KINETISCAN_CALL Windows::getMainWindow(WindowServices* self, void** unused, void** window) {
  auto* windows = static_cast<Windows*>(self);
  ++windows->requests;
  if (unused != nullptr) *unused = nullptr;
  if (window == nullptr) return kHostFailure;
  *window = windows->window_;
  return kOk;
}

AssetCallback::AssetCallback(Ledger& ledger)
    : references(ledger, "assetCallback"), service(ledger, "callbackService") {
  static constexpr UnknownOps kOps = {
      .queryInterface = query,
      .addRef = countedAddRef<AssetCallback, Unknown>,
      .release = countedRelease<AssetCallback, Unknown>,
  };
  ops = &kOps;
}

Result KINETISCAN_CALL AssetCallback::query(Unknown* self, const Guid* id, void** out) {
  auto* callback = static_cast<AssetCallback*>(self);
  ++callback->serviceRequests;
  if (out == nullptr) return kHostFailure;
  *out = nullptr;
  if (id == nullptr || !(*id == kCallbackServiceId)) return kNoInterface;
  if (callback->serviceAnswer != kOk) return callback->serviceAnswer;
  callback->service.references.addRef();
  *out = &callback->service;
  return kOk;
}

}  // namespace kinetiscan::host
