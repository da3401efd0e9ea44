// Values the simulated host makes on its own account, for tests and its own objects.
#include "host/values.h"

namespace kinetiscan::host {

HostValue Values::integer(std::int32_t number) {
  Value value;
  value.kind = kValueInteger;
  value.integer = number;
  return make(std::move(value));
}
HostValue Values::real(double number) {
  Value value;
  value.kind = kValueFloat;
  value.real = number;
  return make(std::move(value));
}
HostValue Values::string(std::string text) {
  Value value;
  value.kind = kValueString;
  value.text = std::move(text);
  return make(std::move(value));
}
HostValue Values::symbolValue(std::string_view text) {
  Value value;
  value.kind = kValueSymbol;
  value.symbol = symbol(text);
  return make(std::move(value));
}
HostValue Values::point(HostPoint point) {
  Value value;
  value.kind = kValuePoint;
  value.point = point;
  return make(std::move(value));
}
HostValue Values::rect(HostRect rect) {
  Value value;
  value.kind = kValueRect;
  value.rect = rect;
  return make(std::move(value));
}
HostValue Values::colour(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  Value value;
  value.kind = kValueColour;
  value.colour = ColourRecord{red, green, blue, 0};
  return make(std::move(value));
}
HostValue Values::ofKind(std::int32_t kind) {
  Value value;
  value.kind = kind;
  return make(std::move(value));
}

}  // namespace kinetiscan::host
