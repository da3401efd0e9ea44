// Libraries through the dynamic loader, with the Windows rule that a bare name is looked for in
// the program's own folder first; and the C runtime's out-of-memory handler as msvcrt exports it.
#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "standin/gdi_control.h"
#include "standin/internal.h"
#include "testbed/control.h"

namespace kinetiscan::standin {
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

// msvcrt's handler takes the size and answers whether to retry. A program that installed only a
// C++ handler still has it consulted, without the size.
using RuntimeNewHandler = int (*)(std::size_t);
RuntimeNewHandler installedHandler = nullptr;

int callCxxNewHandler(std::size_t) {
  if (std::new_handler handler = std::get_new_handler()) handler();
  return 1;
}
RuntimeNewHandler queryNewHandler() {
  if (installedHandler != nullptr) return installedHandler;
  return std::get_new_handler() != nullptr ? callCxxNewHandler : nullptr;
}
RuntimeNewHandler setNewHandler(RuntimeNewHandler handler) {
  const RuntimeNewHandler previous = installedHandler;
  installedHandler = handler;
  return previous;
}

char runtimeLibraryMarker;

}  // namespace

bool isRuntimeLibraryName(const char* name) {
  return strcasecmp(name, "msvcrt.dll") == 0 || strcasecmp(name, "msvcrt") == 0;
}
HMODULE runtimeLibrary() { return reinterpret_cast<HMODULE>(&runtimeLibraryMarker); }

bool liveGdiObjectCount(int* count) {
  *count = liveGdiObjects();
  return true;
}

bool failMemoryDcCreations(int count) {
  failMemoryDcs(count);
  return true;
}

bool dirtyNewBitmaps(bool on) {
  holdLeftoversInNewBitmaps(on);
  return true;
}

LibraryRange libraryRange(HMODULE module) {
  link_map* map = nullptr;
  if (module == nullptr || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
    return LibraryRange{0, 0};
  }
  struct Search {
    ElfW(Addr) base;
    std::size_t end = 0;
  } search{map->l_addr};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        auto* wanted = static_cast<Search*>(data);
        if (info->dlpi_addr != wanted->base) return 0;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& header = info->dlpi_phdr[i];
          if (header.p_type != PT_LOAD) continue;
          wanted->end = std::max<std::size_t>(wanted->end, header.p_vaddr + header.p_memsz);
        }
        return 1;
      },
      &search);
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return LibraryRange{map->l_addr, (search.end + page - 1) / page * page};
}

bool reserveRange(const LibraryRange& range) {
  if (range.size == 0) return false;
  void* wanted = reinterpret_cast<void*>(range.base);
  void* taken =
      mmap(wanted, range.size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (taken == MAP_FAILED) return false;
  if (taken != wanted) {  // a kernel that ignores the flag gives another address
    munmap(taken, range.size);
    return false;
  }
  return true;
}

void releaseRange(const LibraryRange& range) {
  if (range.size != 0) munmap(reinterpret_cast<void*>(range.base), range.size);
}

}  // namespace kinetiscan::standin

using namespace kinetiscan::standin;

extern "C" HMODULE LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr) return nullptr;
  if (isRuntimeLibraryName(fileName)) return runtimeLibrary();
  void* handle = nullptr;
  if (std::strchr(fileName, '/') == nullptr) {
    handle = dlopen(besideProgram(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  return static_cast<HMODULE>(handle);
}

extern "C" FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (module == nullptr || name == nullptr) return nullptr;
  if (module == runtimeLibrary()) {
    // msvcrt exports these under their C++ names only.
    if (std::strcmp(name, "?_query_new_handler@@YAP6AHI@ZXZ") == 0) {
      return reinterpret_cast<FARPROC>(queryNewHandler);
    }
    if (std::strcmp(name, "?_set_new_handler@@YAP6AHI@ZP6AHI@Z@Z") == 0) {
      return reinterpret_cast<FARPROC>(setNewHandler);
    }
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(dlsym(module, name));
}

extern "C" BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr) return FALSE;
  if (module == runtimeLibrary()) return TRUE;
  return dlclose(module) == 0 ? TRUE : FALSE;
}
