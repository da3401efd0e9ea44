// The scenario programs. Every step tolerates what an injected fault leaves behind (a member
// the host could not create, a value it could not make): a program only ever asks the plug-in.
#include "tests/hardening/scenario_programs.h"

#include <cstdint>
#include <cstdio>

#include "host/values.h"

namespace kinetiscan::hardening {
namespace {

constexpr char kMemberType[] = "Kinetiscan";

void deliverMoving(Rig& rig, int count, int from = 0) {
  std::vector<camera::Frame> frames;
  for (int i = 0; i < count; ++i) frames.push_back(movingSquareFrame(from + i));
  rig.deliver(std::move(frames));
}

void memberLifecycle(Rig& rig, Outcomes&) {
  rig.addOurCast();
  rig.createMember();
  deliverMoving(rig, 3);
  rig.releaseAll();
  deliverMoving(rig, 1);  // no session: nothing arrives
}

void properties(Rig& rig, Outcomes& outcomes) {
  rig.addOurCast();
  CastMemberInterface* member = rig.createMember();
  if (member == nullptr) return;
  deliverMoving(rig, 4);
  for (const char* name :
       {"adaptivity", "sensitivity", "mindensity", "loclist", "image", "cameraimage", "retinaimage",
        "differenceimage", "globsimage", "version", "boundingboxlist", "nonsense"}) {
    outcomes.check(rig.getProperty(member, name), name);
  }
  host::Values& values = rig.world->values;
  outcomes.check(rig.setProperty(member, "adaptivity", values.real(2.0)), "set adaptivity");
  outcomes.check(rig.setProperty(member, "sensitivity", values.real(0.1)), "set sensitivity");
  outcomes.check(rig.setProperty(member, "mindensity", values.integer(5)), "set mindensity");
  outcomes.check(rig.setProperty(member, "loclist", values.integer(1)), "set read-only");
  outcomes.check(rig.setProperty(member, "mindensity", values.string("x")), "set wrong kind");
  deliverMoving(rig, 2, 4);
  outcomes.check(rig.getProperty(member, "boundingboxlist"), "boxes after changes");
}

void methods(Rig& rig, Outcomes& outcomes) {
  rig.addOurCast();
  CastMemberInterface* member = rig.createMember();
  if (member == nullptr) return;
  deliverMoving(rig, 3);
  host::Values& values = rig.world->values;
  for (const char* name :
       {"trackcolorbounds", "trackcolor", "tracknotcolorbounds", "tracknotcolor"}) {
    outcomes.check(rig.callMethod(member, name, {values.colour(255, 255, 255), values.integer(20)}),
                   name);
  }
  for (const char* name : {"block", "camerablock", "retinablock", "differenceblock"}) {
    outcomes.check(rig.callMethod(member, name, {values.rect({10, 20, 90, 140})}), name);
  }
  outcomes.check(rig.callMethod(member, "adapt", {}), "adapt");
  outcomes.check(rig.callMethod(member, "editsource", {}), "editsource");
  outcomes.check(rig.callMethod(member, "block", {values.integer(1)}), "block wrong kind");
  outcomes.check(rig.callMethod(member, "dance", {}), "unknown method");
}

void spritesDrawing(Rig& rig, Outcomes& outcomes) {
  rig.addOurCast();
  CastMemberInterface* member = rig.createMember();
  SpriteActorInterface* actor = rig.createActor();
  deliverMoving(rig, 3);
  if (actor != nullptr) {
    host::Values& values = rig.world->values;
    for (std::int32_t view : {1, 2, 3, 4}) {
      HostValue value = values.integer(view);
      outcomes.check(actor->ops->setProperty(actor, values.symbol("view"), &value), "set view");
      rig.dropResult(value);
      HostValue on = values.integer(1);
      outcomes.check(actor->ops->setProperty(actor, values.symbol("showboundingboxes"), &on),
                     "set boxes");
      outcomes.check(actor->ops->setProperty(actor, values.symbol("showcenterpoints"), &on),
                     "set crosses");
      rig.dropResult(on);
      DrawRequest request{};
      request.top = 10, request.left = 20, request.bottom = 130, request.right = 180;
      request.level = view * 60;
      outcomes.check(rig.drawSprite(actor, request), "draw");
    }
  }
  if (member != nullptr) {
    const HostRect rect{0, 0, 150, 200};
    outcomes.check(member->ops->drawMemberPreview(member, rig.surface.get(), &rect), "preview");
    rig.surface->clearClip();
    void* made = nullptr;
    if (member->ops->newSpriteActor(member, &made) == kOk && made != nullptr) {
      auto* extra = static_cast<SpriteActorInterface*>(made);
      extra->ops->release(extra);
    }
  }
}

void castScan(Rig& rig, Outcomes&) {
  const std::int32_t movie = rig.world->movies.addMovie();
  rig.world->movies.addCast(movie,
                            host::CastSetup{{{1, kMemberType}, {2, kMemberType}}, {}, false});
  rig.world->movies.addCast(movie, host::CastSetup{{{1, "bitmap"}, {3, kMemberType}}, {}, false});
  rig.createMember();
  // The second member of the type is a real one, which the host destroys when asked to remove it.
  CastMemberInterface* second = rig.createMember();
  rig.world->movies.onRemove = [&rig, second](std::int32_t, std::int32_t, std::int32_t index) {
    for (std::size_t i = 0; i < rig.members.size(); ++i) {
      if (index == 2 && rig.members[i] == second) rig.releaseMember(i);
    }
  };
  standin::setFramesPerModalLoop(2);
  deliverMoving(rig, 3);
  rig.world->movies.closeMovies();
  deliverMoving(rig, 2);
  rig.world->movies.onRemove = nullptr;
}

void registration(Rig& rig, Outcomes& outcomes) {
  if (RegistrarInterface* registrar = rig.createRegistrar()) {
    int context = 0;
    outcomes.check(registrar->ops->registerType(registrar, rig.registry.get(), &context),
                   "register");
  }
  ClassInfoEntry* table = nullptr;
  outcomes.check(rig.plugin->getClassInfo(&rig.host->allocator, &table), "class info");
  if (table != nullptr) rig.host->allocator.freeBlock(table);
}

void sourceDialog(Rig& rig, Outcomes& outcomes) {
  rig.addOurCast();
  CastMemberInterface* member = rig.createMember();
  if (member == nullptr) return;
  // The format box is answered OK once, so the dialog is shown and the format then accepted.
  standin::scriptMessageBoxAnswers({IDOK});
  standin::setFramesPerModalLoop(1);
  deliverMoving(rig, 2);
  outcomes.check(member->ops->chooseVideoSource(member, 0), "choose source");
  outcomes.check(member->ops->showAbout(member), "about");
  outcomes.check(member->ops->setAssetCallback(member, rig.assetCallback.get()), "callback");
  outcomes.check(member->ops->setAssetCallback(member, rig.assetCallback.get()), "callback again");
  deliverMoving(rig, 2, 2);
}

camera::DriverBehaviour formatRefusedOnce() {
  camera::DriverBehaviour behaviour;
  behaviour.formatRefusals = 1;
  return behaviour;
}

}  // namespace

void Outcomes::check(Result result, const char* what) {
  const auto bits = static_cast<std::uint32_t>(result);
  if (result == kOk || (bits & 0xFFFF0000u) == 0x80040000u) return;
  char line[96];
  std::snprintf(line, sizeof line, "%s answered 0x%08X", what, bits);
  undefined.emplace_back(line);
}

camera::Frame movingSquareFrame(int step) {
  camera::Frame frame(camera::kFrameBytes, 90);
  const int row0 = 10 + (step * 7) % 80, column0 = 10 + (step * 13) % 120;
  for (int row = row0; row < row0 + 25; ++row) {
    for (int column = column0; column < column0 + 25; ++column) {
      std::uint8_t* pixel = &frame[(row * camera::kWidth + column) * 3];
      pixel[0] = 250, pixel[1] = 240, pixel[2] = 230;
    }
  }
  return frame;
}

const std::vector<ScenarioProgram>& scenarioPrograms() {
  static const std::vector<ScenarioProgram> programs = {
      {"member_lifecycle", {}, memberLifecycle},
      {"properties", {}, properties},
      {"methods", {}, methods},
      {"sprites_drawing", {}, spritesDrawing},
      {"cast_scan", {}, castScan},
      {"registration", {}, registration},
      {"source_dialog", formatRefusedOnce(), sourceDialog},
  };
  return programs;
}

}  // namespace kinetiscan::hardening
