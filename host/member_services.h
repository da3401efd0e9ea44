// Host services the cast member needs besides values and movies: the main window, the asset
// callback with its service, and the two services the member only holds.
#pragma once

#include "host/host.h"
#include "host/ledger.h"
#include "kinetiscan/host_services.h"
#include "platform/win32api.h"

namespace kinetiscan::host {

// WindowServices: position 4 reports the host's main window, a real (hidden) window of ours so
// that boxes it owns work on every platform.
class Windows : public WindowServices {
 public:
  explicit Windows(Ledger& ledger);
  ~Windows();
  HWND mainWindow() const { return window_; }
  int requests = 0;
  ReferenceCount references;

 private:
  static Result KINETISCAN_CALL getMainWindow(WindowServices* self, void** unused, void** window);
  HWND window_ = nullptr;
};

class AssetCallback : public Unknown {
 public:
  explicit AssetCallback(Ledger& ledger);
  Result serviceAnswer = kOk;  // what asking for the callback service answers
  int serviceRequests = 0;
  ReferenceCount references;
  BareService service;

 private:
  static Result KINETISCAN_CALL query(Unknown* self, const Guid* id, void** out);
};

}  // namespace kinetiscan::host
