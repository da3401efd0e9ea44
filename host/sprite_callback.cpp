// The simulated sprite callback and its service.
#include "host/sprite_callback.h"

#include "host/host_object.h"
#include "host/values.h"

namespace kinetiscan::host {

SpriteCallback::SpriteCallback(Ledger& ledger, std::int32_t number)
    : spriteNumber(number), references(ledger, "spriteCallback"), service_(ledger, *this) {
  static constexpr UnknownOps kOps = {
      .queryInterface = query,
      .addRef = countedAddRef<SpriteCallback, Unknown>,
      .release = countedRelease<SpriteCallback, Unknown>,
  };
  ops = &kOps;
}

SpriteCallback::Service::Service(Ledger& ledger, SpriteCallback& owner)
    : callback(owner), references(ledger, "spriteCallbackService") {
  static constexpr SpriteCallbackServiceOps kOps = {
      .queryInterface = noOtherInterface<Service, SpriteCallbackService>,
      .addRef = countedAddRef<Service, SpriteCallbackService>,
      .release = countedRelease<Service, SpriteCallbackService>,
      .reserved3 = unexpectedPosition,
      .spriteNumber = number,
  };
  ops = &kOps;
}

Result KINETISCAN_CALL SpriteCallback::query(Unknown* self, const Guid* id, void** out) {
  auto* callback = static_cast<SpriteCallback*>(self);
  ++callback->serviceRequests;
  if (out == nullptr) return kHostFailure;
  *out = nullptr;
  if (id == nullptr || !(*id == kSpriteCallbackServiceId)) return kNoInterface;
  if (callback->serviceAnswer != kOk) return callback->serviceAnswer;
  callback->service_.references.addRef();
  *out = static_cast<SpriteCallbackService*>(&callback->service_);
  return kOk;
}

Result KINETISCAN_CALL SpriteCallback::number(SpriteCallbackService* self, std::int32_t* out) {
  SpriteCallback& callback = static_cast<Service*>(self)->callback;
  ++callback.numberRequests;
  if (callback.numberAnswer != kOk) return callback.numberAnswer;
  if (out == nullptr) return kHostFailure;
  *out = callback.spriteNumber;
  return kOk;
}

}  // namespace kinetiscan::host
