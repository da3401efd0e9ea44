// Sequences of host calls decoded from the input: member and sprite properties and methods with
// every name and random ones, values of every kind, drawing with random rects, levels and views,
// members and interface objects made and released, registration and the entry points, with host
// failures (allocations, services, service positions) and driver changes injected in between. Every
// input ends with the books balanced.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/values.h"

namespace kinetiscan::fuzz {
namespace {

constexpr std::size_t kMaxMembers = 3;
constexpr std::size_t kMaxActors = 4;
constexpr int kMaxSteps = 64;

const Guid kGuids[] = {kRegistrarClassId,        kCastMemberClassId,     kSpriteActorClassId,
                       kRegistrarInterfaceId,    kCastMemberInterfaceId, kSpriteActorInterfaceId,
                       kClassFactoryInterfaceId, kValueServicesId,       kNullGuid};

template <class Pool>
auto pick(Pool& pool, FuzzedDataProvider& input) -> typename Pool::value_type {
  if (pool.empty()) return nullptr;
  return pool[input.ConsumeIntegralInRange<std::size_t>(0, pool.size() - 1)];
}

void memberCall(host::Rig& rig, CastMemberInterface* member, FuzzedDataProvider& input) {
  host::Values& values = rig.world->values;
  const std::string name = anyName(input);
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      rig.getProperty(member, name.c_str());
      break;
    case 1:
      rig.setProperty(member, name.c_str(), anyValue(values, input));
      break;
    case 2: {
      std::vector<HostValue> arguments;
      const int count = input.ConsumeIntegralInRange(0, 5);
      for (int i = 0; i < count; ++i) arguments.push_back(anyValue(values, input));
      rig.callMethod(member, name.c_str(), std::move(arguments));
      break;
    }
    default: {
      HostValue result{};
      const std::int32_t count = input.ConsumeIntegralInRange(0, 4);
      member->ops->callMethod(member, values.symbol(name), count, nullptr, &result);
      rig.dropResult(result);
      break;
    }
  }
}

void memberOperation(host::Rig& rig, CastMemberInterface* member, FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 7)) {
    case 0: {
      HostRect rect{};
      member->ops->memberRect(member, input.ConsumeBool() ? &rect : nullptr);
      break;
    }
    case 1: {
      const HostRect rect = anyRect(input);
      member->ops->drawMemberPreview(member, rig.surface.get(), &rect);
      rig.surface->clearClip();
      break;
    }
    case 2: {
      void* made = nullptr;
      if (member->ops->newSpriteActor(member, &made) == kOk && made != nullptr) {
        rig.actors.push_back(static_cast<SpriteActorInterface*>(made));
      }
      break;
    }
    case 3:
      member->ops->setAssetCallback(member,
                                    input.ConsumeBool() ? rig.assetCallback.get() : nullptr);
      break;
    case 4:
      member->ops->chooseVideoSource(member, 0);
      break;
    case 5:
      member->ops->showAbout(member);
      break;
    case 6: {
      void* out = nullptr;
      member->ops->queryInterface(member, &kGuids[input.ConsumeIntegralInRange(0, 8)], &out);
      break;
    }
    default:
      member->ops->addRef(member);
      member->ops->release(member);
      break;
  }
}

void actorOperation(host::Rig& rig, SpriteActorInterface* actor, FuzzedDataProvider& input) {
  host::Values& values = rig.world->values;
  switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0: {
      HostValue out{};
      actor->ops->getProperty(actor, values.symbol(anyName(input)), &out);
      rig.dropResult(out);
      break;
    }
    case 1: {
      HostValue value = input.ConsumeBool() ? values.integer(input.ConsumeIntegralInRange(-2, 6))
                                            : anyValue(values, input);
      actor->ops->setProperty(actor, values.symbol(anyName(input)), &value);
      rig.dropResult(value);
      break;
    }
    case 2: {
      DrawRequest request{};
      const HostRect rect = input.ConsumeBool() ? HostRect{input.ConsumeIntegralInRange(-200, 300),
                                                           input.ConsumeIntegralInRange(-200, 300),
                                                           input.ConsumeIntegralInRange(-200, 300),
                                                           input.ConsumeIntegralInRange(-200, 300)}
                                                : anyRect(input);
      request.top = rect.top, request.left = rect.left;
      request.bottom = rect.bottom, request.right = rect.right;
      request.level = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 255)
                                          : input.ConsumeIntegral<std::int32_t>();
      rig.surface->kind = input.ConsumeIntegralInRange(0, 4);
      rig.surface->hideDc = input.ConsumeIntegralInRange(0, 7) == 0;
      rig.drawSprite(actor, request);
      break;
    }
    case 3:
      actor->ops->setSpriteCallback(actor,
                                    input.ConsumeBool() ? rig.spriteCallback.get() : nullptr);
      break;
    default:
      actor->ops->passOn(actor, input.ConsumeIntegral<std::uint32_t>(), nullptr);
      break;
  }
}

void moduleOperation(host::Rig& rig, FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: {
      if (input.ConsumeBool()) rig.host->allocator.refuseNext(1);
      ClassInfoEntry* table = nullptr;
      rig.plugin->getClassInfo(input.ConsumeBool() ? &rig.host->allocator : nullptr, &table);
      if (table != nullptr) rig.host->allocator.freeBlock(table);
      break;
    }
    case 1: {
      std::uint32_t size = 0;
      CreateOperation create = nullptr;
      DestroyOperation destroy = nullptr;
      rig.plugin->getClassForm(
          input.ConsumeBool() ? &kGuids[input.ConsumeIntegralInRange(0, 8)] : nullptr, &size,
          &create, &destroy);
      break;
    }
    case 2: {
      void* out = nullptr;
      rig.plugin->getInterface(nullptr, &kGuids[input.ConsumeIntegralInRange(0, 8)],
                               &kGuids[input.ConsumeIntegralInRange(0, 8)], &out);
      break;
    }
    default: {
      RegistrarInterface* registrar = pick(rig.registrars, input);
      if (registrar == nullptr) registrar = rig.createRegistrar();
      if (registrar == nullptr) break;
      rig.registry->failingWrite = input.ConsumeIntegralInRange(0, 7);
      rig.registry->writeFailure = host::kHostFailure;
      rig.registry->giveNullDictionary = input.ConsumeIntegralInRange(0, 5) == 0;
      int context = 0;
      registrar->ops->registerType(registrar, input.ConsumeBool() ? rig.registry.get() : nullptr,
                                   &context);
      break;
    }
  }
}

}  // namespace
}  // namespace kinetiscan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kinetiscan;
  FuzzedDataProvider input(data, size);
  host::Rig& rig = fuzz::freshRig();
  rig.addOurCast();
  bool valuesMayStay = false;
  for (int step = 0; step < fuzz::kMaxSteps && input.remaining_bytes() > 0; ++step) {
    switch (input.ConsumeIntegralInRange(0, 11)) {
      case 0:
        if (rig.members.size() < fuzz::kMaxMembers) rig.createMember();
        break;
      case 1:
        if (!rig.members.empty()) {
          rig.releaseMember(input.ConsumeIntegralInRange<std::size_t>(0, rig.members.size() - 1));
        }
        break;
      case 2:
      case 3:
        if (CastMemberInterface* member = fuzz::pick(rig.members, input)) {
          fuzz::memberCall(rig, member, input);
        }
        break;
      case 4:
        if (CastMemberInterface* member = fuzz::pick(rig.members, input)) {
          fuzz::memberOperation(rig, member, input);
        }
        break;
      case 5:
        if (rig.actors.size() < fuzz::kMaxActors) rig.createActor();
        break;
      case 6:
        if (!rig.actors.empty()) {
          rig.releaseActor(input.ConsumeIntegralInRange<std::size_t>(0, rig.actors.size() - 1));
        }
        break;
      case 7:
        if (SpriteActorInterface* actor = fuzz::pick(rig.actors, input)) {
          fuzz::actorOperation(rig, actor, input);
        }
        break;
      case 8:
        if (rig.behaviour.installed)
          rig.deliver({fuzz::anyFrame(input)});  // a driver gone sends none
        break;
      case 9:
        fuzz::moduleOperation(rig, input);
        break;
      case 10:
        fuzz::changeDriver(rig, input);
        break;
      default:
        fuzz::injectHostFailure(rig, input);
        valuesMayStay = valuesMayStay || fuzz::valuesMayStay(rig.world->values);
        break;
    }
  }
  fuzz::endInput(rig, !valuesMayStay);
  return 0;
}
