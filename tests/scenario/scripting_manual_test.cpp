// Every example block of docs/scripting.md run through the loaded plug-in: each block starts with
// a new member in its cast and default parameters, delivers its frames and makes its calls in
// order, and each call's answer, printed in the manual's notation, must equal the documented one.
#include <ostream>
#include <string>
#include <vector>

#include "manual_notation.h"
#include "member_fixture.h"

namespace kinetiscan::scenario {
namespace {

std::vector<Example> manualExamples() { return readExamples(KINETISCAN_SCRIPTING_MANUAL); }

}  // namespace

// Names a failing block by its place in the manual rather than by its bytes.
void PrintTo(const Example& example, std::ostream* out) {
  *out << "the block at line " << example.line << " of docs/scripting.md";
}

namespace {

class ScriptingManual : public MemberScenario, public ::testing::WithParamInterface<Example> {
 protected:
  void SetUp() override {
    MemberScenario::SetUp();
    addOurCast();
    member_ = createMember();
    ASSERT_NE(member_, nullptr);
  }
  void TearDown() override {
    if (sprite_ != nullptr) sprite_->ops->release(sprite_);
    MemberScenario::TearDown();
  }

  SpriteActorInterface* sprite() {
    if (sprite_ == nullptr) {
      sprite_ = makeInterface<SpriteActorInterface>(kSpriteActorClassId, kSpriteActorInterfaceId);
    }
    return sprite_;
  }

  HostValue make(const ArgumentValue& argument) {
    host::Values& values = world_->values;
    const std::vector<std::int32_t>& n = argument.numbers;
    switch (argument.kind) {
      case host::kValueInteger:
        return values.integer(argument.integer);
      case host::kValueFloat:
        return values.real(argument.real);
      case host::kValueString:
        return values.string(argument.text);
      case host::kValuePoint:
        return values.point({n[0], n[1]});
      case host::kValueRect:
        return values.rect({n[0], n[1], n[2], n[3]});
      case host::kValueColour:
        return values.colour(static_cast<std::uint8_t>(n[0]), static_cast<std::uint8_t>(n[1]),
                             static_cast<std::uint8_t>(n[2]));
      default:
        return values.ofKind(host::kValueVoid);
    }
  }

  // The answer printed as the manual writes it; the result value is released.
  std::string answer(Result result, const HostValue& out) {
    if (result != kOk) return printFailure(result);
    const host::Value* value = world_->values.find(out);
    if (value == nullptr) return "void";
    std::string text = printValue(*value);
    release(out);
    return text;
  }

  std::string run(const ParsedCall& parsed) {
    HostValue out{};
    std::vector<HostValue> arguments;
    for (const ArgumentValue& argument : parsed.arguments) arguments.push_back(make(argument));
    const Symbol symbol = world_->values.symbol(parsed.name);
    if (parsed.target == "sprite") {
      SpriteActorInterface* actor = sprite();
      if (actor == nullptr) return "no sprite actor";
      Result result = kOk;
      if (parsed.operation == "get") {
        result = actor->ops->getProperty(actor, symbol, &out);
      } else if (parsed.operation == "set") {
        result = actor->ops->setProperty(actor, symbol, &arguments[0]);
      } else {
        // The words a host passes are the member's: name, count, arguments, result.
        result = actor->ops->callMethod(actor, symbol,
                                        static_cast<IgnoredWord>(arguments.size() + 1), 0, 0);
      }
      for (const HostValue& argument : arguments) release(argument);
      return answer(result, out);
    }
    if (parsed.operation == "get") return answer(get(parsed.name.c_str(), &out), out);
    if (parsed.operation == "set") return answer(set(parsed.name.c_str(), arguments[0]), out);
    return answer(call(parsed.name.c_str(), arguments, &out), out);
  }

  camera::Frame frameOf(const FrameLayout& layout) {
    camera::Frame frame = uniformFrame(layout.grey);
    for (const FrameBlock& block : layout.blocks) {
      // The frame's rows run from the bottom of the picture up.
      fillRect(frame, 119 - block.rowTo, 120 - block.rowFrom, block.columnFrom, block.columnTo + 1,
               block.blue, block.green, block.red);
    }
    return frame;
  }

  SpriteActorInterface* sprite_ = nullptr;
};

TEST_P(ScriptingManual, ExampleGivesTheDocumentedResult) {
  const Example& example = GetParam();
  ASSERT_EQ(example.error, "") << "the block at line " << example.line << " of the manual";
  for (const ExampleStep& step : example.steps) {
    SCOPED_TRACE("docs/scripting.md line " + std::to_string(step.line));
    if (!step.frame.empty()) {
      const std::optional<FrameLayout> frame = parseFrame(step.frame);
      ASSERT_TRUE(frame.has_value()) << "frame: " << step.frame;
      ASSERT_EQ(deliver({frameOf(*frame)}), 1);
      continue;
    }
    const std::optional<ParsedCall> call = parseCall(step.call);
    ASSERT_TRUE(call.has_value()) << "call: " << step.call;
    EXPECT_EQ(run(*call), step.result) << "call: " << step.call;
  }
}

INSTANTIATE_TEST_SUITE_P(Manual, ScriptingManual, ::testing::ValuesIn(manualExamples()),
                         [](const ::testing::TestParamInfo<Example>& param) {
                           return "line" + std::to_string(param.param.line);
                         });

// The manual is found and its examples are there: without them the test above checks nothing.
TEST(ScriptingManualFile, HoldsTheExamples) {
  const std::vector<Example> examples = manualExamples();
  std::size_t calls = 0;
  for (const Example& example : examples) {
    for (const ExampleStep& step : example.steps) calls += step.call.empty() ? 0 : 1;
  }
  EXPECT_GE(examples.size(), 15u) << KINETISCAN_SCRIPTING_MANUAL;
  EXPECT_GE(calls, 80u);
}

}  // namespace
}  // namespace kinetiscan::scenario
