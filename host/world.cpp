// The assembled host world.
#include "host/world.h"

namespace kinetiscan::host {

World::World(Host& owner)
    : host(owner),
      values(owner.ledger),
      movies(owner.ledger, values),
      windows(owner.ledger),
      spare1(owner.ledger, "spareService1"),
      spare2(owner.ledger, "spareService2") {
  values.offerTo(host);
  movies.offerTo(host);
  host.offerService(kWindowServicesId,
                    reinterpret_cast<Unknown*>(static_cast<WindowServices*>(&windows)));
  host.offerService(kSpareService1Id, &spare1);
  host.offerService(kSpareService2Id, &spare2);
}

}  // namespace kinetiscan::host
