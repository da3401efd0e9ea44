// Scenarios with a cast member: the host world of services, a movie with a cast holding the
// member, a camera whose frames the test scripts, and helpers to read script values back.
#pragma once

#include <memory>
#include <string>

#include "host/queued_frames.h"
#include "host/world.h"
#include "scenario_fixture.h"
#include "testbed/control.h"

namespace kinetiscan::scenario {

// A uniform frame with an optional filled rectangle of plane rows [rowFrom, rowTo) and columns
// [columnFrom, columnTo); colours are blue, green, red bytes.
camera::Frame uniformFrame(std::uint8_t grey);
void fillRect(camera::Frame& frame, int rowFrom, int rowTo, int columnFrom, int columnTo,
              std::uint8_t blue, std::uint8_t green, std::uint8_t red);

// Grey 100 with a white 20 x 20 square at plane rows 10-29, columns 30-49.
camera::Frame squareFrame();

class MemberScenario : public Scenario {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The member's instance and one interface on it; the interface alone keeps it alive.
  CastMemberInterface* createMember();
  void destroyMember(CastMemberInterface*& member);
  // One movie with one cast holding a member of the type at index 1.
  void addOurCast();
  // Queues frames and delivers them.
  int deliver(std::initializer_list<camera::Frame> frames);

  Result get(const char* name, HostValue* out);
  Result set(const char* name, const HostValue& value);
  Result call(const char* name, std::vector<HostValue> arguments, HostValue* result);
  const host::Value& valueOf(const HostValue& value);
  void release(const HostValue& value) { world_->values.release(value); }

  camera::DriverBehaviour behaviour_;
  host::QueuedFrames frames_;
  std::unique_ptr<host::World> world_;
  CastMemberInterface* member_ = nullptr;
};

// A member in its cast, shown the grey background first (the scan starts capture and makes it the
// background) and then squareFrame().
class MemberWithSquare : public MemberScenario {
 protected:
  void SetUp() override;
};

}  // namespace kinetiscan::scenario
