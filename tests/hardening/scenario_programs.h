// Compact programs that mirror the scenario suite's flows through exports and tables only, for
// the fault sweep and the soak to run again and again under injected faults.
#pragma once

#include <string>
#include <vector>

#include "host/rig.h"

namespace kinetiscan::hardening {

using host::Rig;

// Collects every result code that is neither success nor one of the 0x8004xxxx failures.
struct Outcomes {
  void check(Result result, const char* what);
  std::vector<std::string> undefined;
};

struct ScenarioProgram {
  const char* name;
  camera::DriverBehaviour behaviour;
  void (*run)(Rig& rig, Outcomes& outcomes);
};

const std::vector<ScenarioProgram>& scenarioPrograms();

// A grey frame with a bright square whose place depends on `step`, so regions move.
camera::Frame movingSquareFrame(int step);

}  // namespace kinetiscan::hardening
