// Everything a host offers a cast member, assembled: values, movies, windows, the two held-only
// services and the asset callback, all offered through the host's callback.
#pragma once

#include "host/host.h"
#include "host/member_services.h"
#include "host/movies.h"
#include "host/values.h"

namespace kinetiscan::host {

class World {
 public:
  explicit World(Host& host);
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  Host& host;
  Values values;
  Movies movies;
  Windows windows;
  BareService spare1;
  BareService spare2;
};

}  // namespace kinetiscan::host
