// The plug-in is loaded once for all scenarios, as a host loads it once per process.
#include "scenario_fixture.h"

#include <cstdlib>
#include <string>

namespace kinetiscan::scenario {

host::Plugin& Scenario::plugin() {
  static std::unique_ptr<host::Plugin> loaded = [] {
    std::string error;
    auto plugin = host::Plugin::load(&error);
    if (plugin == nullptr) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    return plugin;
  }();
  return *loaded;
}

}  // namespace kinetiscan::scenario
