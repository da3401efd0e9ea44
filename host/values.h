// The host's values: a table of values behind 8-byte handles, interned symbols, and the four
// services the plug-in reaches them through (ValueServices, ListServices, ColorServices,
// ImageServices). Every service position can be made to fail, and every call is counted.
#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/ledger.h"
#include "kinetiscan/host_services.h"

namespace kinetiscan::host {

class Host;

// Kind codes of ValueServices position 5. Integer, float, rect and colour are the contract's; the
// rest are this host's own. A test may give a value any other code.
constexpr std::int32_t kValueVoid = 0;
constexpr std::int32_t kValueInteger = 1;
constexpr std::int32_t kValueSymbol = 2;
constexpr std::int32_t kValueString = 3;
constexpr std::int32_t kValueList = 4;
constexpr std::int32_t kValueFloat = 6;
constexpr std::int32_t kValuePoint = 8;
constexpr std::int32_t kValueRect = 9;
constexpr std::int32_t kValueImage = 17;
constexpr std::int32_t kValueColour = 18;

// What this host answers when it cannot do what was asked.
constexpr Result kHostFailure = code(0x8004F001u);

// Storage with a guard band past its end that nobody may write, so that a write past an image's
// last row shows in a plain build's tests, not only under AddressSanitizer.
template <class T>
struct GuardedAllocator {
  using value_type = T;
  static constexpr std::size_t kGuardBytes = 64;
  static constexpr unsigned char kGuardByte = 0xE7;
  GuardedAllocator() = default;
  template <class U>
  explicit GuardedAllocator(const GuardedAllocator<U>&) {}
  T* allocate(std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(::operator new(count * sizeof(T) + kGuardBytes));
    std::memset(bytes + count * sizeof(T), kGuardByte, kGuardBytes);
    return reinterpret_cast<T*>(bytes);
  }
  void deallocate(T* storage, std::size_t) { ::operator delete(storage); }
  static bool guardIntact(const T* storage, std::size_t count) {
    const auto* guard = reinterpret_cast<const unsigned char*>(storage + count);
    return std::all_of(guard, guard + kGuardBytes, [](unsigned char b) { return b == kGuardByte; });
  }
  friend bool operator==(const GuardedAllocator&, const GuardedAllocator&) { return true; }
};

struct Image {
  std::int32_t width = 0, height = 0, depth = 0;
  // 4 bytes per pixel, as the plug-in writes them.
  std::vector<unsigned char, GuardedAllocator<unsigned char>> pixels;
  int locks = 0;
  bool guardIntact() const {
    return pixels.data() == nullptr ||
           GuardedAllocator<unsigned char>::guardIntact(pixels.data(), pixels.capacity());
  }
};

struct Value {
  std::int32_t kind = kValueVoid;
  std::int32_t integer = 0;
  double real = 0.0;
  Symbol symbol = 0;
  std::string text;
  HostPoint point{};
  HostRect rect{};
  ColourRecord colour{};
  std::vector<Value> items;      // appending hands the item over: its handle is spent
  std::shared_ptr<Image> image;  // shared by the copies of one image
};

// Calls and injected failures of one service, by table position.
struct ServiceLog {
  std::array<int, 24> calls{};
  // Non-zero: that position answers this code and does nothing else.
  std::array<Result, 24> failures{};
};

class Values {
 public:
  explicit Values(Ledger& ledger);
  ~Values();
  Values(const Values&) = delete;
  Values& operator=(const Values&) = delete;

  ValueServices* valueServices();
  ListServices* listServices();
  ColorServices* colorServices();
  ImageServices* imageServices();
  // Offers the four services through the host's callback.
  void offerTo(Host& host);

  // Values the host makes itself. Each handle is live until released once, by the plug-in
  // (ValueServices 7) or by release() here.
  HostValue make(Value value);
  HostValue integer(std::int32_t number);
  HostValue real(double number);
  HostValue string(std::string text);
  HostValue symbolValue(std::string_view text);
  HostValue point(HostPoint point);
  HostValue rect(HostRect rect);
  HostValue colour(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
  HostValue ofKind(std::int32_t kind);
  bool release(const HostValue& value);

  // Null for a handle that was released or never made.
  const Value* find(const HostValue& value) const;
  Value* find(const HostValue& value);
  std::size_t liveValues() const { return table_.size(); }

  Symbol symbol(std::string_view text);
  std::string symbolText(Symbol symbol) const;

  ServiceLog valueLog, listLog, colorLog, imageLog;
  // Every byte of the pixels of an image made through ImageServices 17.
  std::uint8_t newImageFill = 0;
  // Unlocks (ImageServices 19) that found bytes written past the image's end.
  int imageOverruns = 0;

 private:
  struct Services;
  Ledger& ledger_;
  std::map<std::uint32_t, Value> table_;
  std::uint32_t nextHandle_ = 1;
  std::vector<std::string> symbols_;  // symbol n is symbols_[n - 1]
  std::unique_ptr<Services> services_;
  friend struct ValueCalls;
};

}  // namespace kinetiscan::host
