// The notation of docs/scripting.md: its example blocks read from the manual, their calls and
// frames parsed, and host values printed the way the manual writes results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/values.h"
#include "kinetiscan/abi.h"

namespace kinetiscan::scenario {

// One line of an example block: a frame to deliver, or a call and the result the manual gives.
struct ExampleStep {
  int line = 0;
  std::string frame;  // set for "frame:" lines
  std::string call;   // set for "call:" lines
  std::string result;
};

// One fenced block; `error` says what is malformed about it, if anything.
struct Example {
  int line = 0;
  std::vector<ExampleStep> steps;
  std::string error;
};

std::vector<Example> readExamples(const std::string& path);

// A value as written in a call: 7, -2, 0.1, "text", void, point(v, h), rect(t, l, b, r),
// colour(r, g, b).
struct ArgumentValue {
  std::int32_t kind = host::kValueVoid;
  std::int32_t integer = 0;
  double real = 0.0;
  std::string text;
  std::vector<std::int32_t> numbers;  // of a point, rect or colour
};

// target.get("name"), target.set("name", value) or target.call("name", value, ...).
struct ParsedCall {
  std::string target;  // "member" or "sprite"
  std::string operation;
  std::string name;
  std::vector<ArgumentValue> arguments;
};

std::optional<ParsedCall> parseCall(std::string_view text);

// A filled block of a frame, in picture rows (0 at the top) and columns, both inclusive.
struct FrameBlock {
  std::uint8_t red = 0, green = 0, blue = 0;
  int rowFrom = 0, rowTo = 0, columnFrom = 0, columnTo = 0;
};
struct FrameLayout {
  std::uint8_t grey = 0;
  std::vector<FrameBlock> blocks;
};

// "grey N" followed by any number of ", colour(r, g, b) at rows A..B columns C..D".
std::optional<FrameLayout> parseFrame(std::string_view text);

// What a call answered, as the manual writes it: the value, "void" when nothing was written, or
// "error kName (0x...)" for a failure code.
std::string printValue(const host::Value& value);
std::string printFailure(Result result);

}  // namespace kinetiscan::scenario
