// The hardening rig: the plug-in, linked in or loaded from its file, over the simulated host and
// the platform underneath (the stand-in natively, Wine's own under Wine).
#include "host/rig.h"

#include <cstdio>
#include <cstdlib>

#include "host/values.h"

namespace kinetiscan::host {

constexpr std::int32_t kSpriteNumber = 3;

// Where two targets' journals part, entry by entry.
const bool traceJournal = std::getenv("KINETISCAN_JOURNAL_TRACE") != nullptr;

PluginSource pluginFile() {
  return PluginSource{[] {
                        std::string error;
                        std::unique_ptr<Plugin> plugin = Plugin::load(&error);
                        if (plugin == nullptr) std::fprintf(stderr, "%s\n", error.c_str());
                        return plugin;
                      },
                      nullptr};
}

Rig::Rig(const camera::DriverBehaviour& driver, PluginSource source)
    : behaviour(driver), source_(source), initialBehaviour_(driver) {
  open();
}

void Rig::open() {
  if (source_.backToLoadTime != nullptr) {
    source_.backToLoadTime();
  } else {
    standin::resetForTest();
  }
  standin::installCamera(behaviour, &frames);
  plugin = source_.open();
  if (plugin == nullptr) std::abort();  // nothing a rig runs means anything without it
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
  if (!standin::liveGdiObjectCount(&gdiAtStart_)) gdiAtStart_ = -1;
}

void Rig::reset() {
  journal = kJournalStart;
  if (source_.backToLoadTime == nullptr) {
    // A library file goes back to load time the way a host gets there: unloaded and loaded again.
    behaviour = initialBehaviour_;
    frames.frames.clear();
    close();
    open();
    return;
  }
  releaseAll();
  world.reset();
  source_.backToLoadTime();
  behaviour = initialBehaviour_;
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

Rig::~Rig() { close(); }

void Rig::close() {
  releaseAll();
  surface.reset();
  registry.reset();
  spriteCallback.reset();
  assetCallback.reset();
  world.reset();
  host.reset();
  plugin.reset();
  if (source_.backToLoadTime != nullptr) source_.backToLoadTime();
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
  if (journalling) note(&delivered, sizeof delivered);
  frames.frames.clear();  // a closed session leaves the rest undelivered
  return delivered;
}

void Rig::dropResult(const HostValue& value) {
  const Value* found = world->values.find(value);
  if (found == nullptr) return;
  if (journalling) noteValue(*found);
  world->values.release(value);
}

void Rig::note(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (traceJournal) {
    std::fprintf(stderr, "journal:");
    for (std::size_t i = 0; i < size; ++i) std::fprintf(stderr, " %02x", bytes[i]);
    std::fprintf(stderr, "\n");
  }
  for (std::size_t i = 0; i < size; ++i) journal = (journal ^ bytes[i]) * 1099511628211ull;
}

// Field by field, so that padding and the host's own handles (symbols are numbered as interned)
// never reach the hash.
void Rig::noteValue(const Value& value) {
  note(&value.kind, sizeof value.kind);
  note(&value.integer, sizeof value.integer);
  note(&value.real, sizeof value.real);
  const std::string symbol = value.symbol != 0 ? world->values.symbolText(value.symbol) : "";
  note(symbol.data(), symbol.size());
  note(value.text.data(), value.text.size());
  const std::int32_t numbers[] = {value.point.vertical, value.point.horizontal, value.rect.top,
                                  value.rect.left,      value.rect.bottom,      value.rect.right};
  note(numbers, sizeof numbers);
  const std::uint8_t colour[] = {value.colour.red, value.colour.green, value.colour.blue,
                                 value.colour.extra};
  note(colour, sizeof colour);
  const auto items = static_cast<std::uint32_t>(value.items.size());
  note(&items, sizeof items);
  for (const Value& item : value.items) noteValue(item);
  if (value.image != nullptr) {
    const std::int32_t shape[] = {value.image->width, value.image->height, value.image->depth};
    note(shape, sizeof shape);
    note(value.image->pixels.data(), value.image->pixels.size());
  }
}

Result Rig::getProperty(CastMemberInterface* member, const char* name) {
  HostValue out{};
  const Result result = member->ops->getProperty(member, world->values.symbol(name), &out);
  if (journalling) note(&result, sizeof result);
  dropResult(out);
  return result;
}

Result Rig::setProperty(CastMemberInterface* member, const char* name, HostValue value) {
  const Result result = member->ops->setProperty(member, world->values.symbol(name), &value);
  if (journalling) note(&result, sizeof result);
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
  if (journalling) note(&result, sizeof result);
  for (std::size_t i = 1; i < values.size(); ++i) dropResult(values[i]);
  dropResult(out);
  return result;
}

Result Rig::drawSprite(SpriteActorInterface* actor, const DrawRequest& request) {
  const Result result = actor->ops->drawSprite(actor, &request, 0, surface.get());
  if (journalling) note(&result, sizeof result);
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
  int gdi = 0;
  if (gdiAtStart_ >= 0 && standin::liveGdiObjectCount(&gdi) && gdi != gdiAtStart_) {
    found.push_back(std::to_string(gdi - gdiAtStart_) + " GDI objects left");
  }
  return found;
}

}  // namespace kinetiscan::host
