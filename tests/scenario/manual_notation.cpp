// Reading and printing the manual's notation. The parser is strict: a line it cannot read whole is
// an error, so a typing slip in the manual fails the test instead of being skipped.
#include "manual_notation.h"

#include <charconv>
#include <cstdio>
#include <fstream>

namespace kinetiscan::scenario {
namespace {

class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool done() const { return at_ == text_.size(); }
  bool take(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  bool integer(std::int32_t* out) {
    const char* first = text_.data() + at_;
    const auto [end, error] = std::from_chars(first, text_.data() + text_.size(), *out);
    if (error != std::errc{}) return false;
    at_ += static_cast<std::size_t>(end - first);
    return true;
  }
  // An integer, or a number with a decimal point (a float value).
  bool number(ArgumentValue* out) {
    const std::size_t start = at_;
    if (!integer(&out->integer)) return false;
    if (text_.substr(at_, 1) != ".") {
      out->kind = host::kValueInteger;
      return true;
    }
    at_ = start;
    const char* first = text_.data() + at_;
    const auto [end, error] = std::from_chars(first, text_.data() + text_.size(), out->real);
    if (error != std::errc{}) return false;
    at_ += static_cast<std::size_t>(end - first);
    out->kind = host::kValueFloat;
    return true;
  }
  bool quoted(std::string* out) {
    if (!take("\"")) return false;
    const std::size_t end = text_.find('"', at_);
    if (end == std::string_view::npos) return false;
    *out = std::string(text_.substr(at_, end - at_));
    at_ = end + 1;
    return true;
  }
  // "(a, b, ...)" with exactly `count` integers.
  bool integers(std::size_t count, std::vector<std::int32_t>* out) {
    if (!take("(")) return false;
    for (std::size_t i = 0; i < count; ++i) {
      std::int32_t n = 0;
      if ((i > 0 && !take(", ")) || !integer(&n)) return false;
      out->push_back(n);
    }
    return take(")");
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

bool argument(Cursor& in, ArgumentValue* out) {
  struct Shape {
    const char* word;
    std::int32_t kind;
    std::size_t count;
  };
  for (const Shape shape :
       {Shape{"point", host::kValuePoint, 2}, Shape{"rect", host::kValueRect, 4},
        Shape{"colour", host::kValueColour, 3}}) {
    if (in.take(shape.word)) {
      out->kind = shape.kind;
      return in.integers(shape.count, &out->numbers);
    }
  }
  if (in.take("void")) return true;
  if (in.quoted(&out->text)) {
    out->kind = host::kValueString;
    return true;
  }
  return in.number(out);
}

bool byteOf(std::int32_t n, std::uint8_t* out) {
  if (n < 0 || n > 255) return false;
  *out = static_cast<std::uint8_t>(n);
  return true;
}

// Shortest text that reads back as the same double, always with a decimal point or exponent.
std::string printReal(double real) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, real);
  std::string text(buffer, error == std::errc{} ? end : buffer);
  if (text.find_first_of(".eni") == std::string::npos) text += ".0";
  return text;
}

std::string joined(std::initializer_list<std::int64_t> numbers) {
  std::string text;
  for (const std::int64_t n : numbers) text += (text.empty() ? "" : ", ") + std::to_string(n);
  return "(" + text + ")";
}

}  // namespace

std::vector<Example> readExamples(const std::string& path) {
  std::ifstream file(path);
  std::vector<Example> examples;
  if (!file) return examples;
  std::string text;
  int number = 0;
  bool inside = false;
  while (std::getline(file, text)) {
    ++number;
    if (!inside) {
      if (text == "```example") {
        inside = true;
        examples.push_back(Example{number, {}, {}});
      }
      continue;
    }
    Example& example = examples.back();
    if (text == "```") {
      inside = false;
      if (example.steps.empty() && example.error.empty()) example.error = "no steps";
      continue;
    }
    const auto rest = [&](std::string_view key) { return text.substr(key.size()); };
    if (text.rfind("frame: ", 0) == 0) {
      example.steps.push_back(ExampleStep{number, rest("frame: "), {}, {}});
    } else if (text.rfind("call: ", 0) == 0) {
      example.steps.push_back(ExampleStep{number, {}, rest("call: "), {}});
    } else if (text.rfind("result: ", 0) == 0 && !example.steps.empty() &&
               !example.steps.back().call.empty() && example.steps.back().result.empty()) {
      example.steps.back().result = rest("result: ");
    } else if (example.error.empty()) {
      example.error = "line " + std::to_string(number) + " is not frame:, call: or result:";
    }
  }
  if (inside) examples.back().error = "block not closed";
  for (Example& example : examples) {
    for (const ExampleStep& step : example.steps) {
      if (!step.call.empty() && step.result.empty() && example.error.empty()) {
        example.error = "the call on line " + std::to_string(step.line) + " has no result:";
      }
    }
  }
  return examples;
}

std::optional<ParsedCall> parseCall(std::string_view text) {
  Cursor in(text);
  ParsedCall call;
  if (in.take("member.")) {
    call.target = "member";
  } else if (in.take("sprite.")) {
    call.target = "sprite";
  } else {
    return std::nullopt;
  }
  for (const char* operation : {"get", "set", "call"}) {
    if (in.take(operation)) call.operation = operation;
  }
  if (call.operation.empty() || !in.take("(") || !in.quoted(&call.name)) return std::nullopt;
  while (in.take(", ")) {
    ArgumentValue value;
    if (!argument(in, &value)) return std::nullopt;
    call.arguments.push_back(value);
  }
  if (!in.take(")") || !in.done()) return std::nullopt;
  const std::size_t count = call.arguments.size();
  if ((call.operation == "get" && count != 0) || (call.operation == "set" && count != 1)) {
    return std::nullopt;
  }
  return call;
}

std::optional<FrameLayout> parseFrame(std::string_view text) {
  Cursor in(text);
  FrameLayout frame;
  std::int32_t grey = 0;
  if (!in.take("grey ") || !in.integer(&grey) || !byteOf(grey, &frame.grey)) return std::nullopt;
  while (in.take(", colour")) {
    std::vector<std::int32_t> rgb;
    FrameBlock block;
    if (!in.integers(3, &rgb) || !byteOf(rgb[0], &block.red) || !byteOf(rgb[1], &block.green) ||
        !byteOf(rgb[2], &block.blue)) {
      return std::nullopt;
    }
    if (!in.take(" at rows ") || !in.integer(&block.rowFrom) || !in.take("..") ||
        !in.integer(&block.rowTo) || !in.take(" columns ") || !in.integer(&block.columnFrom) ||
        !in.take("..") || !in.integer(&block.columnTo)) {
      return std::nullopt;
    }
    if (block.rowFrom < 0 || block.rowFrom > block.rowTo || block.rowTo > 119 ||
        block.columnFrom < 0 || block.columnFrom > block.columnTo || block.columnTo > 159) {
      return std::nullopt;
    }
    frame.blocks.push_back(block);
  }
  if (!in.done()) return std::nullopt;
  return frame;
}

std::string printValue(const host::Value& value) {
  switch (value.kind) {
    case host::kValueInteger:
      return std::to_string(value.integer);
    case host::kValueFloat:
      return printReal(value.real);
    case host::kValueString:
      return "\"" + value.text + "\"";
    case host::kValuePoint:
      return "point" + joined({value.point.vertical, value.point.horizontal});
    case host::kValueRect:
      return "rect" +
             joined({value.rect.top, value.rect.left, value.rect.bottom, value.rect.right});
    case host::kValueColour:
      return "colour" + joined({value.colour.red, value.colour.green, value.colour.blue});
    case host::kValueImage:
      return value.image == nullptr ? "image(none)"
                                    : "image(" + std::to_string(value.image->width) + "x" +
                                          std::to_string(value.image->height) + ")";
    case host::kValueList: {
      std::string text;
      for (const host::Value& item : value.items) {
        text += (text.empty() ? "" : ", ") + printValue(item);
      }
      return "[" + text + "]";
    }
    default:
      return "kind " + std::to_string(value.kind);
  }
}

std::string printFailure(Result result) {
  struct Named {
    Result code;
    const char* name;
  };
  static constexpr Named kNames[] = {
      {kNoMemory, "kNoMemory"},
      {kNoInterface, "kNoInterface"},
      {kUnknownProperty, "kUnknownProperty"},
      {kPropertyReadOnly, "kPropertyReadOnly"},
      {kWrongTrackArgument, "kWrongTrackArgument"},
      {kWrongValueKind, "kWrongValueKind"},
      {kWrongBlockArgument, "kWrongBlockArgument"},
      {kUnknownMethod, "kUnknownMethod"},
      {kWrongActionCount, "kWrongActionCount"},
      {kWrongBlockCount, "kWrongBlockCount"},
      {kWrongTrackCount, "kWrongTrackCount"},
  };
  const char* name = "unnamed";
  for (const Named& named : kNames) {
    if (named.code == result) name = named.name;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(result));
  return std::string("error ") + name + " (" + hex + ")";
}

}  // namespace kinetiscan::scenario
