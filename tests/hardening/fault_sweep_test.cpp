// The fault injection sweep: every scenario program runs once clean to count its injection
// points, then once per point with that one request, allocation or driver step failing. Each run
// must end without a crash, with defined result codes and with nothing left over.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>

#include "tests/hardening/heap_faults.h"
#include "tests/hardening/scenario_programs.h"

namespace kinetiscan::hardening {
namespace {

struct Injection {
  std::string label;
  std::function<void(camera::DriverBehaviour&)> driver;
  std::function<void(Rig&)> host;
  int heapFailAt = 0;
  // A failing release position keeps the host from freeing values the plug-in gave back.
  bool valuesMayStay = false;
};

Injection hostFault(std::string label, std::function<void(Rig&)> inject,
                    bool valuesMayStay = false) {
  Injection injection;
  injection.label = std::move(label);
  injection.host = std::move(inject);
  injection.valuesMayStay = valuesMayStay;
  return injection;
}
Injection driverFault(std::string label, std::function<void(camera::DriverBehaviour&)> change) {
  Injection injection;
  injection.label = std::move(label);
  injection.driver = std::move(change);
  return injection;
}

// What a clean run used, to know where faults can go.
struct Census {
  int allocations = 0;
  int heapCalls = 0;
  std::array<std::array<int, 24>, 4> serviceCalls{};
  std::set<std::uint32_t> driverMessages;
};

std::array<host::ServiceLog*, 4> logsOf(host::Values& values) {
  return {&values.valueLog, &values.listLog, &values.colorLog, &values.imageLog};
}

Census runOnce(const ScenarioProgram& program, const Injection& injection,
               std::vector<std::string>* problems) {
  camera::DriverBehaviour behaviour = program.behaviour;
  if (injection.driver) injection.driver(behaviour);
  Census census;
  Rig rig(behaviour);
  if (injection.host) injection.host(rig);
  Outcomes outcomes;
  armHeapFaults(injection.heapFailAt);
  program.run(rig, outcomes);
  rig.releaseAll();
  census.heapCalls = disarmHeapFaults();
  census.allocations = rig.host->allocator.requests();
  const auto logs = logsOf(rig.world->values);
  for (std::size_t log = 0; log < logs.size(); ++log) census.serviceCalls[log] = logs[log]->calls;
  for (const auto& message : standin::captureRecord().messages) {
    census.driverMessages.insert(message.message);
  }
  *problems = outcomes.undefined;
  for (std::string& leftover : rig.leftovers(!injection.valuesMayStay))
    problems->push_back(std::move(leftover));
  return census;
}

std::vector<Injection> injectionsFor(const Census& census) {
  std::vector<Injection> all;
  const std::pair<const char*, Guid> services[] = {
      {"spareService1", kSpareService1Id},   {"valueServices", kValueServicesId},
      {"listServices", kListServicesId},     {"colorServices", kColorServicesId},
      {"spareService2", kSpareService2Id},   {"movieServices", kMovieServicesId},
      {"windowServices", kWindowServicesId}, {"imageServices", kImageServicesId}};
  for (const auto& [name, id] : services) {
    all.push_back(hostFault(std::string("refuse ") + name,
                            [serviceId = id](Rig& rig) { rig.host->refuseService(serviceId); }));
  }
  const Result failure = host::kHostFailure;
  const std::pair<const char*, std::function<void(Rig&)>> answers[] = {
      {"asset callback service", [=](Rig& rig) { rig.assetCallback->serviceAnswer = failure; }},
      {"sprite callback service", [=](Rig& rig) { rig.spriteCallback->serviceAnswer = failure; }},
      {"sprite number", [=](Rig& rig) { rig.spriteCallback->numberAnswer = failure; }},
      {"stage", [=](Rig& rig) { rig.world->movies.stageAnswer = failure; }},
      {"score", [=](Rig& rig) { rig.world->movies.scoreAnswer = failure; }},
      {"sprite", [=](Rig& rig) { rig.world->movies.spriteAnswer = failure; }},
      {"sprite colour", [=](Rig& rig) { rig.world->movies.colourAnswer = failure; }},
      {"dictionary", [=](Rig& rig) { rig.registry->dictionaryAnswer = failure; }},
      {"null dictionary", [](Rig& rig) { rig.registry->giveNullDictionary = true; }},
  };
  for (const auto& [name, inject] : answers)
    all.push_back(hostFault(std::string("fail ") + name, inject));
  for (int write = 1; write <= 6; ++write) {
    all.push_back(hostFault("fail registry write " + std::to_string(write), [=](Rig& rig) {
      rig.registry->failingWrite = write;
      rig.registry->writeFailure = failure;
    }));
  }
  for (int log = 0; log < 4; ++log) {
    for (int position = 0; position < 24; ++position) {
      if (census.serviceCalls[log][position] == 0) continue;
      all.push_back(hostFault(
          "fail service " + std::to_string(log) + " position " + std::to_string(position),
          [=](Rig& rig) { logsOf(rig.world->values)[log]->failures[position] = failure; },
          log == 0 && position == 7));
    }
  }
  for (int request = 1; request <= census.allocations; ++request) {
    all.push_back(hostFault("refuse host allocation " + std::to_string(request),
                            [=](Rig& rig) { rig.host->allocator.refuseRequest(request); }));
  }
  for (int call = 1; call <= census.heapCalls; ++call) {
    Injection injection;
    injection.label = "fail heap allocation " + std::to_string(call);
    injection.heapFailAt = call;
    all.push_back(std::move(injection));
  }
  for (std::uint32_t message : census.driverMessages) {
    all.push_back(driverFault("driver refuses message " + std::to_string(message),
                              [=](camera::DriverBehaviour& d) { d.refusedMessage = message; }));
  }
  const std::pair<const char*, std::function<void(camera::DriverBehaviour&)>> drivers[] = {
      {"no driver", [](camera::DriverBehaviour& d) { d.installed = false; }},
      {"no description", [](camera::DriverBehaviour& d) { d.describable = false; }},
      {"connect refused", [](camera::DriverBehaviour& d) { d.refuseConnect = true; }},
      {"format refused", [](camera::DriverBehaviour& d) { d.formatRefusals = -1; }},
      {"one-byte frames", [](camera::DriverBehaviour& d) { d.frameBytes = 1; }},
      {"short frames", [](camera::DriverBehaviour& d) { d.frameBytes = camera::kFrameBytes - 1; }},
      {"long frames", [](camera::DriverBehaviour& d) { d.frameBytes = camera::kFrameBytes + 7; }},
      {"own-format frames", [](camera::DriverBehaviour& d) { d.ownFormatBytes = 3; }},
  };
  for (const auto& [name, change] : drivers) all.push_back(driverFault(name, change));
  for (int windows = 1; windows <= 3; ++windows) {
    all.push_back(hostFault("fail " + std::to_string(windows) + " window creations",
                            [=](Rig&) { standin::failWindowCreations(windows); }));
  }
  return all;
}

class FaultSweep : public ::testing::TestWithParam<ScenarioProgram> {};

TEST_P(FaultSweep, EveryInjectedFaultIsSurvived) {
  const ScenarioProgram& program = GetParam();
  std::vector<std::string> problems;
  const Census census = runOnce(program, Injection{}, &problems);
  ASSERT_TRUE(problems.empty()) << "clean run: " << ::testing::PrintToString(problems);
  const std::vector<Injection> injections = injectionsFor(census);
  for (const Injection& injection : injections) {
    runOnce(program, injection, &problems);
    EXPECT_TRUE(problems.empty()) << injection.label << ": " << ::testing::PrintToString(problems);
  }
  std::printf("%s: %zu injected faults survived (%d host allocations, %d heap allocations)\n",
              program.name, injections.size(), census.allocations, census.heapCalls);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultSweep, ::testing::ValuesIn(scenarioPrograms()),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kinetiscan::hardening
