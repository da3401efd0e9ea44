// The stage session over the simulated host and camera.
#include "host/stage_session.h"

#include <cstdio>
#include <cstring>

#include "host/registry.h"
#include "testbed/control.h"

namespace kinetiscan::host {
namespace {

std::string registeredText(const RegistryWrite& write) {
  const auto* text = reinterpret_cast<const char*>(write.value.data());
  return std::string(text, strnlen(text, write.value.size()));
}

std::string hex(Result result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(result));
  return code;
}

}  // namespace

StageSession::StageSession(std::unique_ptr<Plugin> plugin)
    : plugin_(std::move(plugin)),
      host_(std::make_unique<Host>(*plugin_)),
      world_(std::make_unique<World>(*host_)) {}

StageSession::~StageSession() { finish(); }

bool StageSession::registerType(const std::string& symbol, std::string* error) {
  void* registrar = nullptr;
  InstanceHeader* instance = host_->createInstance(kRegistrarClassId);
  if (instance != nullptr) {
    plugin_->getInterface(instance, &kRegistrarClassId, &kRegistrarInterfaceId, &registrar);
    host_->releaseInstance(instance);
  }
  if (registrar == nullptr) {
    *error = "the plug-in offers no registration interface";
    return false;
  }
  auto* face = static_cast<RegistrarInterface*>(registrar);
  Registry registry(host_->ledger);
  int context = 0;
  const Result result = face->ops->registerType(face, &registry, &context);
  face->ops->release(face);
  std::string written;
  for (const RegistryWrite& write : registry.writes) {
    if (write.key == "symbolString") written = registeredText(write);
  }
  if (result != kOk || written != symbol) {
    *error = "the plug-in did not register its cast member type as \"" + symbol + "\"";
    return false;
  }
  return true;
}

// One movie with one cast holding one member of the type: what the plug-in's cast scan looks for
// before every frame. Finding it the first time, the scan takes that frame as the background.
bool StageSession::openMember(camera::FrameSource* camera, const StageSetup& setup,
                              std::string* error) {
  world_->movies.addCast(world_->movies.addMovie(), CastSetup{{{1, setup.memberType}}, {}, false});
  // The member's create opens capture, so the camera must be in place first.
  standin::installCamera(setup.driver, camera);
  Result created = kOk;
  InstanceHeader* instance = host_->createInstance(kCastMemberClassId, &created);
  if (instance == nullptr) {
    *error = "the plug-in refused to create its cast member (" + hex(created) + ")";
    return false;
  }
  void* out = nullptr;
  const Result got =
      plugin_->getInterface(instance, &kCastMemberClassId, &kCastMemberInterfaceId, &out);
  host_->releaseInstance(instance);  // the interface keeps the member alive from here
  if (got != kOk || out == nullptr) {
    *error = "the plug-in gave no cast member interface";
    return false;
  }
  member_ = static_cast<CastMemberInterface*>(out);
  if (setup.assetCallback) {
    assetCallback_ = std::make_unique<AssetCallback>(host_->ledger);
    member_->ops->setAssetCallback(member_, assetCallback_.get());
  }
  return true;
}

bool StageSession::openSprites(const StageSetup& setup, std::string* error) {
  Values& values = world_->values;
  for (std::int32_t view = 1; view <= kViews; ++view) {
    void* out = nullptr;
    const Result made = member_->ops->newSpriteActor(member_, &out);
    if (made != kOk || out == nullptr) {
      *error = "the cast member made no sprite actor";
      return false;
    }
    auto* sprite = static_cast<SpriteActorInterface*>(out);
    sprites_.push_back(sprite);
    const ColourRecord& colour = setup.colours[view - 1];
    world_->movies.setSpriteColour(view, colour.red, colour.green, colour.blue);
    spriteCallbacks_.push_back(std::make_unique<SpriteCallback>(host_->ledger, view));
    sprite->ops->setSpriteCallback(sprite, spriteCallbacks_.back().get());
    for (const auto& [name, number] : {std::pair<const char*, std::int32_t>{"view", view},
                                       {"showboundingboxes", 1},
                                       {"showcenterpoints", 1}}) {
      HostValue value = values.integer(number);
      const Result set = sprite->ops->setProperty(sprite, values.symbol(name), &value);
      values.release(value);
      if (set != kOk) {
        *error = std::string("the sprite actor refused its \"") + name + "\" setting";
        return false;
      }
    }
  }
  stage_ = std::make_unique<Surface>(host_->ledger, kViews * camera::kWidth, camera::kHeight);
  return true;
}

bool StageSession::deliverFrame() { return standin::pumpFrames(1) == 1; }

void StageSession::drawSprites() {
  for (std::size_t i = 0; i < sprites_.size(); ++i) {
    DrawRequest request{};
    request.left = static_cast<std::int32_t>(i) * camera::kWidth;
    request.right = request.left + camera::kWidth;
    request.bottom = camera::kHeight;
    request.level = 0;  // fully opaque: each panel shows the latest frame exactly
    sprites_[i]->ops->drawSprite(sprites_[i], &request, 0, stage_.get());
  }
}

Result StageSession::setProperty(const char* name, HostValue value) {
  const Result result = member_->ops->setProperty(member_, world_->values.symbol(name), &value);
  world_->values.release(value);
  return result;
}

std::optional<Value> StageSession::getProperty(const char* name, Result* result) {
  HostValue out{};
  *result = member_->ops->getProperty(member_, world_->values.symbol(name), &out);
  const Value* value = world_->values.find(out);
  if (*result != kOk || value == nullptr) return std::nullopt;
  Value copy = *value;
  world_->values.release(out);
  return copy;
}

Result StageSession::readProperty(const char* name) {
  HostValue out{};
  const Result result = member_->ops->getProperty(member_, world_->values.symbol(name), &out);
  world_->values.release(out);
  return result;
}

Result StageSession::callMethod(const char* name, std::vector<HostValue> arguments,
                                HostValue* result) {
  const Result answer = member_->ops->callMethod(member_, world_->values.symbol(name),
                                                 static_cast<std::int32_t>(arguments.size()),
                                                 arguments.data(), result);
  for (const HostValue& argument : arguments) world_->values.release(argument);
  return answer;
}

std::vector<std::string> StageSession::finish() {
  if (finished_) return {};
  finished_ = true;
  // Sprites first, then the member, whose destroy closes capture; the camera goes last.
  for (SpriteActorInterface* sprite : sprites_) sprite->ops->release(sprite);
  sprites_.clear();
  if (member_ != nullptr) member_->ops->release(member_);
  member_ = nullptr;
  standin::installCamera(camera::DriverBehaviour{}, nullptr);
  stage_.reset();
  world_->movies.closeMovies();
  return host_->ledger.imbalances();
}

}  // namespace kinetiscan::host
