// The script methods --at may call: the table the calls are checked against and --help lists.
#include "script_methods.h"

#include <cstdio>

#include "suggestions.h"

namespace kinetiscan::play {
namespace {

// The plug-in's script methods, the arguments each takes as a script calls them, and what it does.
enum class Takes { kNothing, kColourAndTolerance, kRect };
struct MethodShape {
  const char* name;
  Takes takes;
  const char* does;
};
constexpr MethodShape kMethods[] = {
    {"editsource", Takes::kNothing, "opens the camera's video source dialog"},
    {"adapt", Takes::kNothing, "takes the current frame as the background"},
    {"trackcolorbounds", Takes::kColourAndTolerance, "the rect around the pixels of the colour"},
    {"trackcolor", Takes::kColourAndTolerance, "the centre of that rect"},
    {"tracknotcolorbounds", Takes::kColourAndTolerance, "the rect around the other pixels"},
    {"tracknotcolor", Takes::kColourAndTolerance, "the centre of that rect"},
    {"block", Takes::kRect, "the frame's average colour in the rect"},
    {"camerablock", Takes::kRect, "the same as block"},
    {"retinablock", Takes::kRect, "the background's average colour in the rect"},
    {"differenceblock", Takes::kRect, "the difference's average in the rect"},
};

const char* argumentShape(Takes takes) {
  switch (takes) {
    case Takes::kColourAndTolerance:
      return "R,G,B TOLERANCE";
    case Takes::kRect:
      return "TOP,LEFT,BOTTOM,RIGHT";
    case Takes::kNothing:
      break;
  }
  return "";
}

}  // namespace

std::string methodsHelp() {
  std::string text = "Script methods for --at FRAME METHOD [ARG...] (names in any letter case):\n";
  for (const MethodShape& method : kMethods) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-20s%-23s%s\n", method.name, argumentShape(method.takes),
                  method.does);
    text += line;
  }
  return text +
         "R,G,B: 0..255 each; TOLERANCE: a whole number; a rect in script coordinates (see the\n"
         "README), e.g. --at 40 trackcolor 255,0,0 30, --at 50 block 10,20,60,80";
}

bool checkMethod(ScriptCall& call, const std::string& where, std::string* error) {
  std::string lower = call.method;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const MethodShape* shape = nullptr;
  for (const MethodShape& method : kMethods) {
    if (lower == method.name) shape = &method;
  }
  if (shape == nullptr) {
    std::vector<std::string> names;
    for (const MethodShape& method : kMethods) names.emplace_back(method.name);
    const std::string nearest = nearestName(lower, names);
    *error = where + ": not a method of the member";
    if (!nearest.empty()) *error += " (did you mean " + nearest + "?)";
    *error += "; the methods are";
    for (const MethodShape& method : kMethods) *error += std::string(" ") + method.name;
    return false;
  }
  call.tracksColour = shape->takes == Takes::kColourAndTolerance;
  const auto& arguments = call.arguments;
  using Kind = ScriptArgument::Kind;
  bool fits = false;
  const char* wanted = "";
  switch (shape->takes) {
    case Takes::kNothing:
      fits = arguments.empty();
      wanted = "no arguments";
      break;
    case Takes::kColourAndTolerance:
      fits = arguments.size() == 2 && arguments[0].kind == Kind::kColour &&
             arguments[1].kind == Kind::kInteger;
      wanted = "a colour r,g,b and a whole-number tolerance, e.g. 255,0,0 30";
      break;
    case Takes::kRect:
      fits = arguments.size() == 1 && arguments[0].kind == Kind::kRect;
      wanted = "a rect top,left,bottom,right, e.g. 10,20,60,80";
      break;
  }
  if (!fits) *error = where + ": takes " + wanted;
  return fits;
}

}  // namespace kinetiscan::play
