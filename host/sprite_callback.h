// The sprite callback the host hands a sprite actor, and the service behind it that tells the
// actor which sprite of the score it backs.
#pragma once

#include "host/ledger.h"
#include "kinetiscan/host_services.h"

namespace kinetiscan::host {

class SpriteCallback : public Unknown {
 public:
  SpriteCallback(Ledger& ledger, std::int32_t spriteNumber);

  std::int32_t spriteNumber;
  // What asking for the service answers, and what asking the service for the number answers.
  Result serviceAnswer = kOk;
  Result numberAnswer = kOk;
  int serviceRequests = 0;
  int numberRequests = 0;

  ReferenceCount references;
  ReferenceCount& serviceReferences() { return service_.references; }

 private:
  struct Service : SpriteCallbackService {
    Service(Ledger& ledger, SpriteCallback& owner);
    SpriteCallback& callback;
    ReferenceCount references;
  };
  static Result KINETISCAN_CALL query(Unknown* self, const Guid* id, void** out);
  static Result KINETISCAN_CALL number(SpriteCallbackService* self, std::int32_t* out);
  Service service_;
};

}  // namespace kinetiscan::host
