// Libraries through the dynamic loader, with the Windows rule that a bare name is looked for in
// the program's own folder first.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "standin/win32.h"

namespace {

std::string besideProgram(const char* fileName) {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return fileName;
  path[n] = '\0';
  char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return fileName;
  slash[1] = '\0';
  return std::string(path) + fileName;
}

}  // namespace

extern "C" HMODULE LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr) return nullptr;
  void* handle = nullptr;
  if (std::strchr(fileName, '/') == nullptr) {
    handle = dlopen(besideProgram(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  return static_cast<HMODULE>(handle);
}

extern "C" FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (module == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<FARPROC>(dlsym(module, name));
}

extern "C" BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr) return FALSE;
  return dlclose(module) == 0 ? TRUE : FALSE;
}
