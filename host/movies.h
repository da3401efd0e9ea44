// MovieServices of the simulated host: the open movies with their casts and members (positions
// 7 and 8), and the road to the stage's sprites: the stage (6), its score (24) and the score's
// sprites (21), each sprite with a "color" property.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/ledger.h"
#include "host/values.h"
#include "kinetiscan/host_services.h"

namespace kinetiscan::host {

class Host;

// One member of a cast: its index and the text of its "type" symbol.
struct MemberSetup {
  std::int32_t index;
  std::string type;
  bool typeReadFails = false;
};

struct CastSetup {
  std::vector<MemberSetup> members;
  // The indices the walk visits from its start; after the last it comes back to the first.
  // Empty: the members' indices in the order given.
  std::vector<std::int32_t> walk;
  bool endless = false;  // the walk never comes back to its start
};

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

  // Opens a movie; its number (from 1) is returned. Its cast count is that of the casts added,
  // and its "castCount" property answers the same unless set otherwise.
  std::int32_t addMovie();
  std::int32_t addCast(std::int32_t movie, CastSetup cast);
  // The movie's "castCount" property: a number, or a read that fails (nullopt).
  void setCastCountProperty(std::int32_t movie, std::optional<std::int32_t> count);
  // Member indices the plug-in asked a cast to remove, in order.
  std::vector<std::int32_t> removals(std::int32_t movie, std::int32_t cast) const;
  // Called when the plug-in asks for a removal, after it is recorded.
  std::function<void(std::int32_t movie, std::int32_t cast, std::int32_t index)> onRemove;
  void closeMovies();
  int walkSteps = 0;  // next-index requests, in all casts

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
  struct Member;
  struct Cast;
  struct Movie;
  friend struct MovieCalls;
  Values& values_;
  std::unique_ptr<Stage> stage_;
  std::unique_ptr<Score> score_;
  std::map<std::int32_t, std::unique_ptr<Sprite>> sprites_;
  std::vector<std::unique_ptr<Movie>> movies_;
  Ledger& ledger_;
};

}  // namespace kinetiscan::host
