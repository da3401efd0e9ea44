// MovieServices of the simulated host. For now only the road to the stage's sprites: the stage
// (position 6), its score (24) and the score's sprites (21), each sprite with a "color" property.
// No movies are open yet (position 7 answers 0, position 8 fails).
#pragma once

#include <map>
#include <memory>
#include <optional>

#include "host/ledger.h"
#include "host/values.h"
#include "kinetiscan/host_services.h"

namespace kinetiscan::host {

class Host;

class Movies : public MovieServices {
 public:
  Movies(Ledger& ledger, Values& values);
  ~Movies();
  Movies(const Movies&) = delete;
  Movies& operator=(const Movies&) = delete;

  void offerTo(Host& host);

  // The colour the sprite with this number reports; a sprite without one fails to read it.
  void setSpriteColour(std::int32_t number, std::uint8_t red, std::uint8_t green,
                       std::uint8_t blue);

  // Each step of the road can be made to fail with its own code (kOk: it works).
  Result stageAnswer = kOk;
  Result scoreAnswer = kOk;
  Result spriteAnswer = kOk;
  Result colourAnswer = kOk;

  int stageRequests = 0;
  int scoreRequests = 0;
  int spriteRequests = 0;
  int colourReads = 0;
  std::int32_t lastSpriteNumber = -1;

  ReferenceCount references;

 private:
  struct Stage;
  struct Score;
  struct Sprite;
  friend struct MovieCalls;
  Values& values_;
  std::unique_ptr<Stage> stage_;
  std::unique_ptr<Score> score_;
  std::map<std::int32_t, std::unique_ptr<Sprite>> sprites_;
  Ledger& ledger_;
};

}  // namespace kinetiscan::host
