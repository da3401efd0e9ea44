// The host side of kinetiscan-play.
#include "plugin_session.h"

#include <cstring>

#include "testbed/control.h"

namespace kinetiscan::play {
namespace {

std::string registeredText(const host::RegistryWrite& write) {
  const auto* text = reinterpret_cast<const char*>(write.value.data());
  return std::string(text, strnlen(text, write.value.size()));
}

}  // namespace

PluginSession::PluginSession() = default;

PluginSession::~PluginSession() { finish(); }

bool PluginSession::start(camera::FrameSource* camera, const PlayOptions& options,
                          std::string* error) {
  std::string reason;
  plugin_ = host::Plugin::load(&reason);
  if (plugin_ == nullptr) {
    *error = "cannot load the plug-in " + std::string(host::Plugin::defaultFile()) +
             " beside the program: " + reason;
    return false;
  }
  host_ = std::make_unique<host::Host>(*plugin_);
  world_ = std::make_unique<host::World>(*host_);
  if (!registerType(error) || !openMovie(error)) return false;

  // The member's create opens capture, so the camera must be in place first.
  standin::installCamera(camera::DriverBehaviour{}, camera);
  Result created = kOk;
  InstanceHeader* instance = host_->createInstance(kCastMemberClassId, &created);
  if (instance == nullptr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(created));
    *error = std::string("the plug-in refused to create its cast member (") + code + ")";
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
  assetCallback_ = std::make_unique<host::AssetCallback>(host_->ledger);
  member_->ops->setAssetCallback(member_, assetCallback_.get());

  host::Values& values = world_->values;
  if (options.adaptivity) setMemberProperty("adaptivity", values.real(*options.adaptivity));
  if (options.sensitivity) setMemberProperty("sensitivity", values.real(*options.sensitivity));
  if (options.mindensity) setMemberProperty("mindensity", values.integer(*options.mindensity));
  if (!makeSprites(error)) return false;
  stage_ = std::make_unique<host::Surface>(host_->ledger, kStageWidth, kStageHeight);
  return true;
}

bool PluginSession::registerType(std::string* error) {
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
  host::Registry registry(host_->ledger);
  int context = 0;
  const Result result = face->ops->registerType(face, &registry, &context);
  face->ops->release(face);
  for (const host::RegistryWrite& write : registry.writes) {
    if (write.key == "symbolString") registeredSymbol_ = registeredText(write);
  }
  if (result != kOk || registeredSymbol_ != "Kinetiscan") {
    *error = "the plug-in did not register its cast member type as \"Kinetiscan\"";
    return false;
  }
  return true;
}

// One movie with one cast holding one member of the type: what the plug-in's cast scan looks for
// before every frame. Finding it the first time, the scan takes that frame as the background.
bool PluginSession::openMovie(std::string*) {
  host::Movies& movies = world_->movies;
  const std::int32_t movie = movies.addMovie();
  host::CastSetup cast;
  cast.members.push_back({1, registeredSymbol_});
  movies.addCast(movie, cast);
  return true;
}

bool PluginSession::makeSprites(std::string* error) {
  host::Values& values = world_->values;
  for (std::int32_t view = 1; view <= 4; ++view) {
    void* out = nullptr;
    const Result made = member_->ops->newSpriteActor(member_, &out);
    if (made != kOk || out == nullptr) {
      *error = "the cast member made no sprite actor";
      return false;
    }
    auto* sprite = static_cast<SpriteActorInterface*>(out);
    sprites_.push_back(sprite);
    const ColourRecord& colour = kViewColours[view - 1];
    world_->movies.setSpriteColour(view, colour.red, colour.green, colour.blue);
    spriteCallbacks_.push_back(std::make_unique<host::SpriteCallback>(host_->ledger, view));
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
  return true;
}

Result PluginSession::setMemberProperty(const char* name, HostValue value) {
  const Result result = member_->ops->setProperty(member_, world_->values.symbol(name), &value);
  world_->values.release(value);
  return result;
}

std::optional<host::Value> PluginSession::getMemberProperty(const char* name, Result* result) {
  HostValue out{};
  *result = member_->ops->getProperty(member_, world_->values.symbol(name), &out);
  const host::Value* value = world_->values.find(out);
  if (*result != kOk || value == nullptr) return std::nullopt;
  host::Value copy = *value;
  world_->values.release(out);
  return copy;
}

bool PluginSession::deliverFrame() { return standin::pumpFrames(1) == 1; }

bool PluginSession::readRegions(std::vector<HostPoint>* centres, std::vector<HostRect>* rects,
                                std::string* error) {
  centres->clear();
  rects->clear();
  Result result = kOk;
  const std::optional<host::Value> loclist = getMemberProperty("loclist", &result);
  const std::optional<host::Value> boxes = getMemberProperty("boundingboxlist", &result);
  if (!loclist || !boxes || loclist->kind != host::kValueList || boxes->kind != host::kValueList) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(result));
    *error = std::string("the cast member did not answer \"loclist\" and \"boundingboxlist\" (") +
             code + ")";
    return false;
  }
  for (const host::Value& item : loclist->items) {
    if (item.kind == host::kValuePoint) centres->push_back(item.point);
  }
  for (const host::Value& item : boxes->items) {
    if (item.kind == host::kValueRect) rects->push_back(item.rect);
  }
  return true;
}

HostValue PluginSession::makeArgument(const ScriptArgument& argument) {
  host::Values& values = world_->values;
  switch (argument.kind) {
    case ScriptArgument::Kind::kInteger:
      return values.integer(static_cast<std::int32_t>(argument.number));
    case ScriptArgument::Kind::kFloat:
      return values.real(argument.number);
    case ScriptArgument::Kind::kColour:
      return values.colour(static_cast<std::uint8_t>(argument.parts[0]),
                           static_cast<std::uint8_t>(argument.parts[1]),
                           static_cast<std::uint8_t>(argument.parts[2]));
    case ScriptArgument::Kind::kRect:
      return values.rect(
          HostRect{argument.parts[0], argument.parts[1], argument.parts[2], argument.parts[3]});
  }
  return values.ofKind(host::kValueVoid);
}

void PluginSession::setAdaptivity(double adaptivity) {
  setMemberProperty("adaptivity", world_->values.real(adaptivity));
}

CallRecord PluginSession::call(const ScriptCall& call) {
  host::Values& values = world_->values;
  CallRecord record;
  record.method = call.method;
  // Argument 0 stands for the member itself; the plug-in never reads it.
  std::vector<HostValue> arguments{values.ofKind(host::kValueVoid)};
  for (const ScriptArgument& argument : call.arguments) {
    record.arguments.push_back(argument.text);
    arguments.push_back(makeArgument(argument));
  }
  HostValue result{};
  record.result = member_->ops->callMethod(member_, values.symbol(call.method),
                                           static_cast<std::int32_t>(arguments.size()),
                                           arguments.data(), &result);
  for (const HostValue& argument : arguments) values.release(argument);
  if (const host::Value* value = values.find(result)) {
    record.value = describeValue(*value);
    if (record.result == kOk && call.tracksColour) {
      const bool nothing = value->kind == host::kValueRect
                               ? value->rect.top == 120 && value->rect.left == 0 &&
                                     value->rect.bottom == 120 && value->rect.right == 0
                               : value->kind == host::kValuePoint && value->point.vertical == 120 &&
                                     value->point.horizontal == 0;
      record.found = !nothing;
    }
    values.release(result);
  }
  return record;
}

std::vector<std::uint8_t> PluginSession::drawStage() {
  for (std::size_t i = 0; i < sprites_.size(); ++i) {
    DrawRequest request{};
    request.left = static_cast<std::int32_t>(i) * camera::kWidth;
    request.right = request.left + camera::kWidth;
    request.bottom = camera::kHeight;
    request.level = 0;  // fully opaque: each panel shows the latest frame exactly
    sprites_[i]->ops->drawSprite(sprites_[i], &request, 0, stage_.get());
  }
  stage_->clearClip();
  return stage_->bytes();
}

MemberFacts PluginSession::facts() {
  MemberFacts facts;
  facts.registeredSymbol = registeredSymbol_;
  Result result = kOk;
  if (auto version = getMemberProperty("version", &result)) facts.version = version->text;
  if (auto value = getMemberProperty("adaptivity", &result)) facts.adaptivity = value->real;
  if (auto value = getMemberProperty("sensitivity", &result)) facts.sensitivity = value->real;
  if (auto value = getMemberProperty("mindensity", &result)) {
    facts.mindensity = static_cast<std::int32_t>(value->real);
  }
  return facts;
}

int PluginSession::previewRateMs() const {
  int rate = 0;
  for (const camera::CaptureMessageRecord& message : standin::captureRecord().messages) {
    if (message.message == camera::kCapSetPreviewRate) rate = static_cast<int>(message.wParam);
  }
  return rate;
}

std::vector<std::string> PluginSession::finish() {
  if (finished_ || host_ == nullptr) return {};
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

}  // namespace kinetiscan::play
