// The hardening rig: the linked-in plug-in over the simulated host and the stand-in.
#include "host/rig.h"

#include "analysis/analysis_state.h"
#include "capture/capture_session.h"
#include "host/linked_plugin.h"
#include "member/member_state.h"
#include "objects/interface_object.h"
#include "sprite/panel_cache.h"
#include "standin/gdi_control.h"

namespace kinetiscan::host {

constexpr std::int32_t kSpriteNumber = 3;

void resetPluginForTest() {
  resetPanelCacheForTest();
  resetCaptureSessionForTest();
  resetMemberStateForTest();
  resetAnalysisStateForTest();
  resetInterfaceObjectStateForTest();
  standin::resetForTest();
}

Rig::Rig(const camera::DriverBehaviour& driver) : behaviour(driver) {
  resetPluginForTest();
  standin::installCamera(behaviour, &frames);
  plugin = linkedPlugin();
  host = std::make_unique<Host>(*plugin);
  world = std::make_unique<World>(*host);
  assetCallback = std::make_unique<AssetCallback>(host->ledger);
  spriteCallback = std::make_unique<SpriteCallback>(host->ledger, kSpriteNumber);
  registry = std::make_unique<Registry>(host->ledger);
  surface = std::make_unique<Surface>(host->ledger, 200, 150);
  startWorld();
}

void Rig::startWorld() {
  if (world == nullptr) world = std::make_unique<World>(*host);
  world->movies.setSpriteColour(kSpriteNumber, 255, 0, 0);
  windowsAtStart_ = standin::liveWindowCount();
  gdiAtStart_ = standin::liveGdiObjects();
}

void Rig::reset() {
  releaseAll();
  world.reset();
  resetPluginForTest();
  behaviour = camera::DriverBehaviour{};
  frames.frames.clear();
  standin::installCamera(behaviour, &frames);
  host->allocator.refuseNext(0);
  host->allocator.refuseRequest(0);
  host->offerAllServices();
  assetCallback->serviceAnswer = kOk;
  spriteCallback->spriteNumber = kSpriteNumber;
  spriteCallback->serviceAnswer = kOk;
  spriteCallback->numberAnswer = kOk;
  registry->dictionaryAnswer = kOk;
  registry->giveNullDictionary = false;
  registry->failingWrite = 0;
  registry->writeFailure = kOk;
  registry->writes.clear();
  surface->kind = 1;
  surface->hideDc = false;
  surface->clearClip();
  startWorld();
}

Rig::~Rig() {
  releaseAll();
  surface.reset();
  registry.reset();
  spriteCallback.reset();
  assetCallback.reset();
  world.reset();
  host.reset();
  plugin.reset();
  resetPluginForTest();
}

template <class Interface>
Interface* Rig::make(const Guid& classId, const Guid& interfaceId) {
  InstanceHeader* instance = host->createInstance(classId);
  if (instance == nullptr) return nullptr;
  void* out = nullptr;
  const Result result = plugin->getInterface(instance, &classId, &interfaceId, &out);
  host->releaseInstance(instance);
  return result == kOk ? static_cast<Interface*>(out) : nullptr;
}

CastMemberInterface* Rig::createMember() {
  auto* member = make<CastMemberInterface>(kCastMemberClassId, kCastMemberInterfaceId);
  if (member != nullptr) members.push_back(member);
  return member;
}

SpriteActorInterface* Rig::createActor() {
  auto* actor = make<SpriteActorInterface>(kSpriteActorClassId, kSpriteActorInterfaceId);
  if (actor != nullptr) {
    actor->ops->setSpriteCallback(actor, spriteCallback.get());
    actors.push_back(actor);
  }
  return actor;
}

RegistrarInterface* Rig::createRegistrar() {
  auto* registrar = make<RegistrarInterface>(kRegistrarClassId, kRegistrarInterfaceId);
  if (registrar != nullptr) registrars.push_back(registrar);
  return registrar;
}

void Rig::releaseMember(std::size_t index) {
  if (index >= members.size()) return;
  CastMemberInterface* member = members[index];
  members.erase(members.begin() + static_cast<std::ptrdiff_t>(index));
  member->ops->release(member);
}

void Rig::releaseActor(std::size_t index) {
  if (index >= actors.size()) return;
  SpriteActorInterface* actor = actors[index];
  actors.erase(actors.begin() + static_cast<std::ptrdiff_t>(index));
  actor->ops->release(actor);
}

void Rig::releaseAll() {
  while (!actors.empty()) releaseActor(actors.size() - 1);
  while (!members.empty()) releaseMember(members.size() - 1);
  for (RegistrarInterface* registrar : registrars) registrar->ops->release(registrar);
  registrars.clear();
}

void Rig::addOurCast() {
  const std::int32_t movie = world->movies.addMovie();
  world->movies.addCast(movie, CastSetup{{{1, "Kinetiscan"}}, {}, false});
}

int Rig::deliver(std::vector<camera::Frame> queued) {
  const int count = static_cast<int>(queued.size());
  for (camera::Frame& frame : queued) frames.frames.push_back(std::move(frame));
  const int delivered = standin::pumpFrames(count);
  frames.frames.clear();  // a closed session leaves the rest undelivered
  return delivered;
}

void Rig::dropResult(const HostValue& value) {
  if (world->values.find(value) != nullptr) world->values.release(value);
}

Result Rig::getProperty(CastMemberInterface* member, const char* name) {
  HostValue out{};
  const Result result = member->ops->getProperty(member, world->values.symbol(name), &out);
  dropResult(out);
  return result;
}

Result Rig::setProperty(CastMemberInterface* member, const char* name, HostValue value) {
  const Result result = member->ops->setProperty(member, world->values.symbol(name), &value);
  dropResult(value);
  return result;
}

Result Rig::callMethod(CastMemberInterface* member, const char* name,
                       std::vector<HostValue> values) {
  values.insert(values.begin(), HostValue{});
  HostValue out{};
  const Result result =
      member->ops->callMethod(member, world->values.symbol(name),
                              static_cast<std::int32_t>(values.size()), values.data(), &out);
  for (std::size_t i = 1; i < values.size(); ++i) dropResult(values[i]);
  dropResult(out);
  return result;
}

Result Rig::drawSprite(SpriteActorInterface* actor, const DrawRequest& request) {
  const Result result = actor->ops->drawSprite(actor, &request, 0, surface.get());
  surface->clearClip();
  return result;
}

std::vector<std::string> Rig::leftovers(bool judgeValues) {
  releaseAll();
  std::vector<std::string> found = host->ledger.imbalances();
  if (judgeValues && world->values.liveValues() != 0) {
    found.push_back(std::to_string(world->values.liveValues()) + " values not released");
  }
  if (host->liveInstances() != 0) {
    found.push_back(std::to_string(host->liveInstances()) + " instances alive");
  }
  if (plugin->canUnloadNow() != kOk) found.push_back("library still in use");
  if (host->allocator.outstanding() != 0) {
    found.push_back(std::to_string(host->allocator.outstanding()) + " host blocks not freed");
  }
  const int windows = standin::liveWindowCount() - windowsAtStart_;
  if (windows != 0) found.push_back(std::to_string(windows) + " windows left");
  const int gdi = standin::liveGdiObjects() - gdiAtStart_;
  if (gdi != 0) found.push_back(std::to_string(gdi) + " GDI objects left");
  return found;
}

}  // namespace kinetiscan::host
