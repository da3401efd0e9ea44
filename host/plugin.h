// The plug-in library as a host sees it: a file loaded by name and its five entry points.
#pragma once

#include <memory>
#include <string>

#include "kinetiscan/exports.h"

namespace kinetiscan::host {

class Plugin {
 public:
  // Loads the plug-in built beside the running program (Kinetiscan.x32 or libkinetiscan.so), or
  // the given file. Null, with the reason in `error`, if the file or an entry point is missing.
  static std::unique_ptr<Plugin> load(std::string* error, const char* file = nullptr);
  // The plug-in linked into the running program, for tests that also reach its internals.
  static std::unique_ptr<Plugin> linkedIn(DllGetClassFormFn getClassForm,
                                          DllGetInterfaceFn getInterface,
                                          DllGetClassInfoFn getClassInfo,
                                          DllGetClassObjectFn getClassObject,
                                          DllCanUnloadNowFn canUnloadNow);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  DllGetClassFormFn getClassForm = nullptr;
  DllGetInterfaceFn getInterface = nullptr;
  DllGetClassInfoFn getClassInfo = nullptr;
  DllGetClassObjectFn getClassObject = nullptr;
  DllCanUnloadNowFn canUnloadNow = nullptr;

  static const char* defaultFile();
  // The platform's handle of the loaded file; null for a linked-in plug-in.
  void* module() const { return module_; }

 private:
  Plugin() = default;
  void* module_ = nullptr;
};

}  // namespace kinetiscan::host
