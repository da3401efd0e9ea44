// The road session over the simulated host and camera.
#include "road_session.h"

#include "testbed/control.h"

namespace kinetiscan::road {
namespace {

constexpr int kViews = 4;
constexpr int kPanelWidth = 160;
constexpr int kPanelHeight = 120;

}  // namespace

Session::Session(std::unique_ptr<host::Plugin> plugin, camera::FrameSource& camera,
                 const MemberSettings& settings)
    : plugin_(std::move(plugin)),
      host_(*plugin_),
      world_(host_),
      stage_(host_.ledger, kViews * kPanelWidth, kPanelHeight) {
  world_.movies.addCast(world_.movies.addMovie(), host::CastSetup{{{1, "Kinetiscan"}}, {}, false});
  standin::installCamera(camera::DriverBehaviour{}, &camera);
  member_ = makeInterface<CastMemberInterface>(kCastMemberClassId, kCastMemberInterfaceId);
  if (member_ == nullptr) return;
  setMember("adaptivity", world_.values.real(settings.adaptivity));
  setMember("sensitivity", world_.values.real(settings.sensitivity));
  setMember("mindensity", world_.values.integer(settings.mindensity));
  for (std::int32_t view = 1; view <= kViews; ++view) addSprite(view);
  // The first frame arrives and becomes the retina.
  standin::pumpFrames(1);
  HostValue unused{};
  HostValue arguments[1]{};
  member_->ops->callMethod(member_, world_.values.symbol("adapt"), 1, arguments, &unused);
}

Session::~Session() {
  for (SpriteActorInterface* sprite : sprites_) sprite->ops->release(sprite);
  if (member_ != nullptr) member_->ops->release(member_);
  standin::installCamera(camera::DriverBehaviour{}, nullptr);
  world_.movies.closeMovies();
}

bool Session::ready() const { return member_ != nullptr && sprites_.size() == kViews; }

bool Session::deliverFrame() { return standin::pumpFrames(1) == 1; }

void Session::drawSprites() {
  for (int i = 0; i < kViews; ++i) {
    DrawRequest request{};
    request.left = i * kPanelWidth;
    request.right = request.left + kPanelWidth;
    request.bottom = kPanelHeight;
    sprites_[i]->ops->drawSprite(sprites_[i], &request, 0, &stage_);
  }
}

void Session::read(const char* name) {
  HostValue out{};
  member_->ops->getProperty(member_, world_.values.symbol(name), &out);
  world_.values.release(out);
}

template <class Interface>
Interface* Session::makeInterface(const Guid& classId, const Guid& interfaceId) {
  InstanceHeader* instance = host_.createInstance(classId);
  if (instance == nullptr) return nullptr;
  void* out = nullptr;
  const Result result = plugin_->getInterface(instance, &classId, &interfaceId, &out);
  host_.releaseInstance(instance);
  return result == kOk ? static_cast<Interface*>(out) : nullptr;
}

void Session::setMember(const char* name, HostValue value) {
  member_->ops->setProperty(member_, world_.values.symbol(name), &value);
  world_.values.release(value);
}

void Session::addSprite(std::int32_t view) {
  void* out = nullptr;
  if (member_->ops->newSpriteActor(member_, &out) != kOk || out == nullptr) return;
  auto* sprite = static_cast<SpriteActorInterface*>(out);
  sprites_.push_back(sprite);
  world_.movies.setSpriteColour(view, 255, 0, 0);
  callbacks_.push_back(std::make_unique<host::SpriteCallback>(host_.ledger, view));
  sprite->ops->setSpriteCallback(sprite, callbacks_.back().get());
  for (const char* name : {"view", "showboundingboxes", "showcenterpoints"}) {
    HostValue value = world_.values.integer(name[0] == 'v' ? view : 1);
    sprite->ops->setProperty(sprite, world_.values.symbol(name), &value);
    world_.values.release(value);
  }
}

}  // namespace kinetiscan::road
