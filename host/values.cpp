// The simulated host's values and the services over them.
#include "host/values.h"

#include <cmath>
#include <cstring>

#include "host/host.h"
#include "host/host_object.h"

namespace kinetiscan::host {

template <class Interface>
struct ServiceObject : Interface {
  ServiceObject(Ledger& ledger, const char* name, Values& owner)
      : values(owner), references(ledger, name) {}
  Values& values;
  ReferenceCount references;
};

struct Values::Services {
  Services(Ledger& ledger, Values& values)
      : value(ledger, "ValueServices", values),
        list(ledger, "ListServices", values),
        color(ledger, "ColorServices", values),
        image(ledger, "ImageServices", values) {}
  ServiceObject<ValueServices> value;
  ServiceObject<ListServices> list;
  ServiceObject<ColorServices> color;
  ServiceObject<ImageServices> image;
};

// The operations. Each counts its call, answers an injected failure if there is one, and
// refuses null arguments and values of the wrong kind with kHostFailure.
struct ValueCalls {
  template <class Interface>
  static Values& of(Interface* self) {
    return static_cast<ServiceObject<Interface>*>(self)->values;
  }
  static Result enter(ServiceLog& log, int position) {
    ++log.calls[position];
    return log.failures[position];
  }
#define KINETISCAN_ENTER(log, position) \
  if (Result injected = enter(log, position); injected != kOk) return injected

  static Result KINETISCAN_CALL stringToSymbol(ValueServices* self, const char* text, Symbol* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 3);
    if (text == nullptr || out == nullptr) return kHostFailure;
    *out = v.symbol(text);
    return kOk;
  }
  // Like strncpy: a text that fills the buffer is not terminated.
  static Result KINETISCAN_CALL symbolToString(ValueServices* self, Symbol symbol, char* buffer,
                                               std::int32_t size) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 4);
    if (buffer == nullptr || size <= 0 || symbol == 0 || symbol > v.symbols_.size()) {
      return kHostFailure;
    }
    std::strncpy(buffer, v.symbols_[symbol - 1].c_str(), static_cast<std::size_t>(size));
    return kOk;
  }
  static Result KINETISCAN_CALL valueKind(ValueServices* self, const HostValue* value,
                                          std::int32_t* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 5);
    const Value* found = value == nullptr ? nullptr : v.find(*value);
    if (found == nullptr || out == nullptr) return kHostFailure;
    *out = found->kind;
    return kOk;
  }
  static Result KINETISCAN_CALL releaseValue(ValueServices* self, HostValue* value) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 7);
    return value != nullptr && v.release(*value) ? kOk : kHostFailure;
  }
  static Result KINETISCAN_CALL valueToInteger(ValueServices* self, const HostValue* value,
                                               std::int32_t* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 8);
    const Value* found = value == nullptr ? nullptr : v.find(*value);
    if (found == nullptr || out == nullptr) return kHostFailure;
    if (found->kind == kValueInteger || found->kind == kValueVoid) {
      *out = found->integer;
    } else if (found->kind == kValueFloat && std::fabs(found->real) < 2147483648.0) {
      *out = static_cast<std::int32_t>(found->real);
    } else {
      return kHostFailure;
    }
    return kOk;
  }
  static Result KINETISCAN_CALL valueToSymbol(ValueServices* self, const HostValue* value,
                                              Symbol* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 9);
    const Value* found = value == nullptr ? nullptr : v.find(*value);
    if (found == nullptr || out == nullptr) return kHostFailure;
    if (found->kind == kValueSymbol) {
      *out = found->symbol;
    } else if (found->kind == kValueString) {
      *out = v.symbol(found->text);
    } else {
      return kHostFailure;
    }
    return kOk;
  }
  static Result KINETISCAN_CALL valueToDouble(ValueServices* self, const HostValue* value,
                                              double* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 10);
    const Value* found = value == nullptr ? nullptr : v.find(*value);
    if (found == nullptr || out == nullptr) return kHostFailure;
    if (found->kind == kValueFloat) {
      *out = found->real;
    } else if (found->kind == kValueInteger || found->kind == kValueVoid) {
      *out = found->integer;
    } else {
      return kHostFailure;
    }
    return kOk;
  }
  static Result KINETISCAN_CALL valueToRect(ValueServices* self, const HostValue* value,
                                            HostRect* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 16);
    const Value* found = value == nullptr ? nullptr : v.find(*value);
    if (found == nullptr || out == nullptr || found->kind != kValueRect) return kHostFailure;
    *out = found->rect;
    return kOk;
  }
  template <class Make>
  static Result makeInto(Values& v, HostValue* out, Make make) {
    if (out == nullptr) return kHostFailure;
    Value value;
    make(value);
    *out = v.make(std::move(value));
    return kOk;
  }
  static Result KINETISCAN_CALL integerToValue(ValueServices* self, std::int32_t n,
                                               HostValue* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 17);
    return makeInto(v, out, [n](Value& value) { value.kind = kValueInteger, value.integer = n; });
  }
  static Result KINETISCAN_CALL doubleToValue(ValueServices* self, double x, HostValue* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 19);
    return makeInto(v, out, [x](Value& value) { value.kind = kValueFloat, value.real = x; });
  }
  static Result KINETISCAN_CALL stringToValue(ValueServices* self, const char* text,
                                              HostValue* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 20);
    if (text == nullptr) return kHostFailure;
    return makeInto(v, out, [text](Value& value) { value.kind = kValueString, value.text = text; });
  }
  static Result KINETISCAN_CALL pointToValue(ValueServices* self, const HostPoint* point,
                                             HostValue* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 22);
    if (point == nullptr) return kHostFailure;
    return makeInto(v, out,
                    [point](Value& value) { value.kind = kValuePoint, value.point = *point; });
  }
  static Result KINETISCAN_CALL rectToValue(ValueServices* self, const HostRect* rect,
                                            HostValue* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.valueLog, 23);
    if (rect == nullptr) return kHostFailure;
    return makeInto(v, out, [rect](Value& value) { value.kind = kValueRect, value.rect = *rect; });
  }

  static Result KINETISCAN_CALL newList(ListServices* self, HostValue* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.listLog, 3);
    return makeInto(v, out, [](Value& value) { value.kind = kValueList; });
  }
  static Result KINETISCAN_CALL append(ListServices* self, HostValue* list, const HostValue* item) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.listLog, 4);
    Value* target = list == nullptr ? nullptr : v.find(*list);
    const Value* added = item == nullptr ? nullptr : v.find(*item);
    if (target == nullptr || added == nullptr || target->kind != kValueList) return kHostFailure;
    target->items.push_back(*added);
    // The list takes the item: the caller's handle is spent, as it is never released otherwise.
    v.release(*item);
    return kOk;
  }

  static Result KINETISCAN_CALL valueToColour(ColorServices* self, const HostValue* value,
                                              ColourRecord* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.colorLog, 3);
    const Value* found = value == nullptr ? nullptr : v.find(*value);
    if (found == nullptr || out == nullptr || found->kind != kValueColour) return kHostFailure;
    *out = found->colour;
    return kOk;
  }
  static Result KINETISCAN_CALL colourToValue(ColorServices* self, const ColourRecord* colour,
                                              HostValue* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.colorLog, 4);
    if (colour == nullptr) return kHostFailure;
    return makeInto(v, out,
                    [colour](Value& value) { value.kind = kValueColour, value.colour = *colour; });
  }

  static Result KINETISCAN_CALL newImage(ImageServices* self, std::int32_t width,
                                         std::int32_t height, std::int32_t depth, std::int32_t,
                                         std::int32_t, HostValue* out) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.imageLog, 17);
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096 ||
        (depth != 24 && depth != 32)) {
      return kHostFailure;
    }
    const std::uint8_t fill = v.newImageFill;
    return makeInto(v, out, [=](Value& value) {
      value.kind = kValueImage;
      value.image = std::make_shared<Image>();
      value.image->width = width;
      value.image->height = height;
      value.image->depth = depth;
      value.image->pixels.assign(static_cast<std::size_t>(width) * height * 4, fill);
    });
  }
  static Result KINETISCAN_CALL lockPixels(ImageServices* self, const HostValue* image,
                                           void** pixels) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.imageLog, 18);
    Value* found = image == nullptr ? nullptr : v.find(*image);
    if (found == nullptr || pixels == nullptr || found->kind != kValueImage) return kHostFailure;
    ++found->image->locks;
    *pixels = found->image->pixels.data();
    return kOk;
  }
  static Result KINETISCAN_CALL unlockPixels(ImageServices* self, const HostValue* image) {
    Values& v = of(self);
    KINETISCAN_ENTER(v.imageLog, 19);
    Value* found = image == nullptr ? nullptr : v.find(*image);
    if (found == nullptr || found->kind != kValueImage || found->image->locks == 0) {
      return kHostFailure;
    }
    --found->image->locks;
    if (!found->image->guardIntact()) ++v.imageOverruns;
    return kOk;
  }
#undef KINETISCAN_ENTER
};

Values::Values(Ledger& ledger)
    : ledger_(ledger), services_(std::make_unique<Services>(ledger, *this)) {
  using S = ValueCalls;
  using V = ServiceObject<ValueServices>;
  static constexpr ValueServicesOps kValueOps = {
      .queryInterface = noOtherInterface<V, ValueServices>,
      .addRef = countedAddRef<V, ValueServices>,
      .release = countedRelease<V, ValueServices>,
      .stringToSymbol = S::stringToSymbol,
      .symbolToString = S::symbolToString,
      .valueKind = S::valueKind,
      .reserved6 = unexpectedPosition,
      .releaseValue = S::releaseValue,
      .valueToInteger = S::valueToInteger,
      .valueToSymbol = S::valueToSymbol,
      .valueToDouble = S::valueToDouble,
      .reserved11 = unexpectedPosition,
      .reserved12 = unexpectedPosition,
      .reserved13 = unexpectedPosition,
      .reserved14 = unexpectedPosition,
      .reserved15 = unexpectedPosition,
      .valueToRect = S::valueToRect,
      .integerToValue = S::integerToValue,
      .reserved18 = unexpectedPosition,
      .doubleToValue = S::doubleToValue,
      .stringToValue = S::stringToValue,
      .reserved21 = unexpectedPosition,
      .pointToValue = S::pointToValue,
      .rectToValue = S::rectToValue,
  };
  using L = ServiceObject<ListServices>;
  static constexpr ListServicesOps kListOps = {
      .queryInterface = noOtherInterface<L, ListServices>,
      .addRef = countedAddRef<L, ListServices>,
      .release = countedRelease<L, ListServices>,
      .newList = S::newList,
      .append = S::append,
  };
  using C = ServiceObject<ColorServices>;
  static constexpr ColorServicesOps kColorOps = {
      .queryInterface = noOtherInterface<C, ColorServices>,
      .addRef = countedAddRef<C, ColorServices>,
      .release = countedRelease<C, ColorServices>,
      .valueToColour = S::valueToColour,
      .colourToValue = S::colourToValue,
  };
  using I = ServiceObject<ImageServices>;
  static constexpr ImageServicesOps kImageOps = {
      .queryInterface = noOtherInterface<I, ImageServices>,
      .addRef = countedAddRef<I, ImageServices>,
      .release = countedRelease<I, ImageServices>,
      .reserved3 = {unexpectedPosition, unexpectedPosition, unexpectedPosition, unexpectedPosition,
                    unexpectedPosition, unexpectedPosition, unexpectedPosition, unexpectedPosition,
                    unexpectedPosition, unexpectedPosition, unexpectedPosition, unexpectedPosition,
                    unexpectedPosition, unexpectedPosition},
      .newImage = S::newImage,
      .lockPixels = S::lockPixels,
      .unlockPixels = S::unlockPixels,
  };
  services_->value.ops = &kValueOps;
  services_->list.ops = &kListOps;
  services_->color.ops = &kColorOps;
  services_->image.ops = &kImageOps;
}

Values::~Values() = default;

ValueServices* Values::valueServices() { return &services_->value; }
ListServices* Values::listServices() { return &services_->list; }
ColorServices* Values::colorServices() { return &services_->color; }
ImageServices* Values::imageServices() { return &services_->image; }

void Values::offerTo(Host& host) {
  host.offerService(kValueServicesId, reinterpret_cast<Unknown*>(valueServices()));
  host.offerService(kListServicesId, reinterpret_cast<Unknown*>(listServices()));
  host.offerService(kColorServicesId, reinterpret_cast<Unknown*>(colorServices()));
  host.offerService(kImageServicesId, reinterpret_cast<Unknown*>(imageServices()));
}

// The first word names the table entry; the second marks the handle as ours.
constexpr std::uint32_t kHandleTag = 0x56414C55u;

HostValue Values::make(Value value) {
  const std::uint32_t handle = nextHandle_++;
  table_.emplace(handle, std::move(value));
  return HostValue{{handle, kHandleTag}};
}

bool Values::release(const HostValue& value) {
  if (value.words[1] != kHandleTag || table_.erase(value.words[0]) == 0) {
    ledger_.recordFault("a value was released that is not live (released before, or never made)");
    return false;
  }
  return true;
}

const Value* Values::find(const HostValue& value) const {
  if (value.words[1] != kHandleTag) return nullptr;
  auto found = table_.find(value.words[0]);
  return found == table_.end() ? nullptr : &found->second;
}
Value* Values::find(const HostValue& value) {
  return const_cast<Value*>(static_cast<const Values*>(this)->find(value));
}

Symbol Values::symbol(std::string_view text) {
  for (std::size_t i = 0; i < symbols_.size(); ++i) {
    if (symbols_[i] == text) return static_cast<Symbol>(i + 1);
  }
  symbols_.emplace_back(text);
  return static_cast<Symbol>(symbols_.size());
}

std::string Values::symbolText(Symbol symbol) const {
  return symbol == 0 || symbol > symbols_.size() ? std::string() : symbols_[symbol - 1];
}

}  // namespace kinetiscan::host
