// Loads the plug-in through the platform's library calls and looks up its five entry points.
#include "host/plugin.h"

#include "platform/win32api.h"

namespace kinetiscan::host {
namespace {

template <class Function>
bool lookUp(HMODULE module, const char* name, Function* function, std::string* error) {
  FARPROC address = GetProcAddress(module, name);
  if (address == nullptr) {
    if (error != nullptr) *error = std::string("entry point missing: ") + name;
    return false;
  }
  *function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
  return true;
}

}  // namespace

const char* Plugin::defaultFile() { return KINETISCAN_PLUGIN_FILE; }

std::unique_ptr<Plugin> Plugin::load(std::string* error, const char* file) {
  if (file == nullptr) file = defaultFile();
  HMODULE module = LoadLibraryA(file);
  if (module == nullptr) {
    if (error != nullptr) *error = std::string("cannot load ") + file;
    return nullptr;
  }
  std::unique_ptr<Plugin> plugin(new Plugin);
  plugin->module_ = reinterpret_cast<void*>(module);
  if (!lookUp(module, "DllGetClassForm", &plugin->getClassForm, error) ||
      !lookUp(module, "DllGetInterface", &plugin->getInterface, error) ||
      !lookUp(module, "DllGetClassInfo", &plugin->getClassInfo, error) ||
      !lookUp(module, "DllGetClassObject", &plugin->getClassObject, error) ||
      !lookUp(module, "DllCanUnloadNow", &plugin->canUnloadNow, error)) {
    return nullptr;
  }
  return plugin;
}

std::unique_ptr<Plugin> Plugin::linkedIn(DllGetClassFormFn getClassForm,
                                         DllGetInterfaceFn getInterface,
                                         DllGetClassInfoFn getClassInfo,
                                         DllGetClassObjectFn getClassObject,
                                         DllCanUnloadNowFn canUnloadNow) {
  std::unique_ptr<Plugin> plugin(new Plugin);
  plugin->getClassForm = getClassForm;
  plugin->getInterface = getInterface;
  plugin->getClassInfo = getClassInfo;
  plugin->getClassObject = getClassObject;
  plugin->canUnloadNow = canUnloadNow;
  return plugin;
}

Plugin::~Plugin() {
  if (module_ != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(module_));
}

}  // namespace kinetiscan::host
