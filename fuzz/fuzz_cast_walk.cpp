// Cast walks with random index sequences: movies and casts of random members, walks that skip,
// repeat or never come back, unreadable types and cast counts, removals that destroy members,
// and frames arriving inside the warning's modal loop.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "host/values.h"

namespace {

constexpr int kMaxSteps = 24;
constexpr const char* kTypes[] = {"Kinetiscan", "kinetiscan", "bitmap", "", "Kinetiscan "};

kinetiscan::host::CastSetup anyCast(FuzzedDataProvider& input) {
  kinetiscan::host::CastSetup cast;
  const int members = input.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < members; ++i) {
    cast.members.push_back({input.ConsumeIntegralInRange(-2, 40), input.PickValueInArray(kTypes),
                            input.ConsumeIntegralInRange(0, 5) == 0});
  }
  const int walk = input.ConsumeIntegralInRange(0, 10);
  for (int i = 0; i < walk; ++i) cast.walk.push_back(input.ConsumeIntegralInRange(-3, 40));
  // A walk that repeats an index may never come back to its start, and one that never does costs
  // the plug-in's whole 65,536 steps on every scan: a few hundred times an ordinary input. Rare,
  // so that the fuzzer spends its time on everything else.
  if (input.ConsumeIntegralInRange(0, 63) != 0) {
    std::vector<std::int32_t> distinct;
    for (std::int32_t index : cast.walk) {
      if (std::find(distinct.begin(), distinct.end(), index) == distinct.end()) {
        distinct.push_back(index);
      }
    }
    cast.walk = std::move(distinct);
  }
  cast.endless = input.ConsumeIntegralInRange(0, 63) == 0;
  return cast;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kinetiscan;
  FuzzedDataProvider input(data, size);
  host::Rig& rig = fuzz::freshRig();
  std::vector<std::int32_t> movies;
  bool removalDestroys = false;
  bool valuesMayStay = false;
  rig.world->movies.onRemove = [&](std::int32_t, std::int32_t, std::int32_t) {
    if (removalDestroys && !rig.members.empty()) rig.releaseMember(rig.members.size() - 1);
  };
  for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
    switch (input.ConsumeIntegralInRange(0, 7)) {
      case 0:
        movies.push_back(rig.world->movies.addMovie());
        break;
      case 1:
        if (movies.empty()) movies.push_back(rig.world->movies.addMovie());
        rig.world->movies.addCast(
            movies[input.ConsumeIntegralInRange<std::size_t>(0, movies.size() - 1)],
            anyCast(input));
        break;
      case 2:
        if (!movies.empty()) {
          std::optional<std::int32_t> count;
          // A count in the thousands costs the plug-in a host call per cast on every scan
          // (65,536 at most): rare, as the walks that never return are.
          if (input.ConsumeBool()) {
            count = input.ConsumeIntegralInRange(0, 63) == 0
                        ? input.ConsumeIntegralInRange(-5, 1 << 20)
                        : input.ConsumeIntegralInRange(-5, 40);
          }
          rig.world->movies.setCastCountProperty(movies.back(), count);
        }
        break;
      case 3:
        if (rig.members.size() < 3) rig.createMember();
        break;
      case 4:
        if (!rig.members.empty()) rig.releaseMember(0);
        break;
      case 5: {
        removalDestroys = input.ConsumeBool();
        standin::setFramesPerModalLoop(input.ConsumeIntegralInRange(0, 2));
        std::vector<camera::Frame> frames(input.ConsumeIntegralInRange(1, 3),
                                          camera::Frame(camera::kFrameBytes, 77));
        rig.deliver(std::move(frames));
        break;
      }
      case 6:
        rig.world->movies.closeMovies();
        movies.clear();
        break;
      default:
        fuzz::injectServiceFailure(rig.world->values, input);
        valuesMayStay = valuesMayStay || fuzz::valuesMayStay(rig.world->values);
        break;
    }
  }
  rig.world->movies.onRemove = nullptr;
  fuzz::endInput(rig, !valuesMayStay);
  return 0;
}
