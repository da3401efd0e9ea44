// The host side of kinetiscan-play.
#include "plugin_session.h"

#include <cstdio>
#include <cstring>

#include "testbed/control.h"

namespace kinetiscan::play {
PluginSession::PluginSession() = default;

PluginSession::~PluginSession() { finish(); }

bool PluginSession::start(camera::FrameSource* camera, const PlayOptions& options,
                          std::string* error) {
  std::string reason;
  std::unique_ptr<host::Plugin> plugin = host::Plugin::load(&reason);
  if (plugin == nullptr) {
    *error = "cannot load the plug-in " + std::string(host::Plugin::defaultFile()) +
             " beside the program: " + reason;
    return false;
  }
  stage_ = std::make_unique<host::StageSession>(std::move(plugin));
  if (!stage_->registerType(kRegisteredSymbol, error)) return false;
  host::StageSetup setup;
  setup.memberType = kRegisteredSymbol;
  std::copy(std::begin(kViewColours), std::end(kViewColours), setup.colours.begin());
  setup.assetCallback = true;
  host::Values& values = stage_->world().values;
  return stage_->open(
      camera, setup,
      [&] {
        if (options.adaptivity) setMemberProperty("adaptivity", values.real(*options.adaptivity));
        if (options.sensitivity) {
          setMemberProperty("sensitivity", values.real(*options.sensitivity));
        }
        if (options.mindensity)
          setMemberProperty("mindensity", values.integer(*options.mindensity));
      },
      error);
}

Result PluginSession::setMemberProperty(const char* name, HostValue value) {
  return stage_->setProperty(name, value);
}

std::optional<host::Value> PluginSession::getMemberProperty(const char* name, Result* result) {
  return stage_->getProperty(name, result);
}

bool PluginSession::deliverFrame() { return stage_->deliverFrame(); }

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
  host::Values& values = stage_->world().values;
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
  setMemberProperty("adaptivity", stage_->world().values.real(adaptivity));
}

CallRecord PluginSession::set(const std::string& property, double value) {
  host::Values& values = stage_->world().values;
  CallRecord record;
  record.method = "set";
  const bool whole = property == "mindensity";
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  record.arguments = {property, text};
  record.result =
      setMemberProperty(property.c_str(), whole ? values.integer(static_cast<std::int32_t>(value))
                                                : values.real(value));
  Result ignored = kOk;
  if (auto now = getMemberProperty(property.c_str(), &ignored)) record.value = describeValue(*now);
  return record;
}

CallRecord PluginSession::call(const ScriptCall& call) {
  host::Values& values = stage_->world().values;
  CallRecord record;
  record.method = call.method;
  // Argument 0 stands for the member itself; the plug-in never reads it.
  std::vector<HostValue> arguments{values.ofKind(host::kValueVoid)};
  for (const ScriptArgument& argument : call.arguments) {
    record.arguments.push_back(argument.text);
    arguments.push_back(makeArgument(argument));
  }
  HostValue result{};
  record.result = stage_->callMethod(call.method.c_str(), std::move(arguments), &result);
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
  stage_->drawSprites();
  stage_->stage().clearClip();
  return stage_->stage().bytes();
}

MemberFacts PluginSession::facts() {
  MemberFacts facts;
  facts.registeredSymbol = kRegisteredSymbol;
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
  if (stage_ == nullptr) return {};
  return stage_->finish();
}

}  // namespace kinetiscan::play
