// The simulated host's movie services: the stage, its score and its sprites.
#include "host/movies.h"

#include <string>

#include "host/host.h"
#include "host/host_object.h"

namespace kinetiscan::host {

struct Movies::Stage : HostStage {
  Stage(Ledger& ledger, Movies& owner) : movies(owner), references(ledger, "stage") {}
  Movies& movies;
  ReferenceCount references;
};
struct Movies::Score : HostScore {
  Score(Ledger& ledger, Movies& owner) : movies(owner), references(ledger, "score") {}
  Movies& movies;
  ReferenceCount references;
};
struct Movies::Sprite : HostSprite {
  Sprite(Ledger& ledger, Movies& owner, std::int32_t n)
      : movies(owner), references(ledger, "sprite " + std::to_string(n)) {}
  Movies& movies;
  ReferenceCount references;
  std::optional<ColourRecord> colour;
};

struct MovieCalls {
  static Result KINETISCAN_CALL getStage(MovieServices* self, HostStage** out) {
    auto& movies = *static_cast<Movies*>(self);
    ++movies.stageRequests;
    if (out == nullptr) return kHostFailure;
    *out = nullptr;
    if (movies.stageAnswer != kOk) return movies.stageAnswer;
    movies.stage_->references.addRef();
    *out = movies.stage_.get();
    return kOk;
  }
  static Result KINETISCAN_CALL movieCount(MovieServices*, std::int32_t* count) {
    if (count == nullptr) return kHostFailure;
    *count = 0;
    return kOk;
  }
  static Result KINETISCAN_CALL getMovie(MovieServices*, std::int32_t, HostMovie** out) {
    if (out != nullptr) *out = nullptr;
    return kHostFailure;
  }
  static Result KINETISCAN_CALL getScore(HostStage* self, HostScore** out) {
    Movies& movies = static_cast<Movies::Stage*>(self)->movies;
    ++movies.scoreRequests;
    if (out == nullptr) return kHostFailure;
    *out = nullptr;
    if (movies.scoreAnswer != kOk) return movies.scoreAnswer;
    movies.score_->references.addRef();
    *out = movies.score_.get();
    return kOk;
  }
  static Result KINETISCAN_CALL getSprite(HostScore* self, std::int32_t number, HostSprite** out) {
    Movies& movies = static_cast<Movies::Score*>(self)->movies;
    ++movies.spriteRequests;
    movies.lastSpriteNumber = number;
    if (out == nullptr) return kHostFailure;
    *out = nullptr;
    if (movies.spriteAnswer != kOk) return movies.spriteAnswer;
    Movies::Sprite& sprite = spriteOf(movies, number);
    sprite.references.addRef();
    *out = &sprite;
    return kOk;
  }
  // Sprites exist once asked for or given a colour, and live as long as the movie services.
  static Movies::Sprite& spriteOf(Movies& movies, std::int32_t number) {
    static constexpr HostSpriteOps kSpriteOps = {
        .queryInterface = noOtherInterface<Movies::Sprite, HostSprite>,
        .addRef = countedAddRef<Movies::Sprite, HostSprite>,
        .release = countedRelease<Movies::Sprite, HostSprite>,
        .getProperty = getProperty,
    };
    auto& sprite = movies.sprites_[number];
    if (sprite == nullptr) {
      sprite = std::make_unique<Movies::Sprite>(movies.ledger_, movies, number);
      sprite->ops = &kSpriteOps;
    }
    return *sprite;
  }
  static Result KINETISCAN_CALL getProperty(HostSprite* self, Symbol name, HostValue* out) {
    auto* sprite = static_cast<Movies::Sprite*>(self);
    Movies& movies = sprite->movies;
    ++movies.colourReads;
    if (movies.colourAnswer != kOk) return movies.colourAnswer;
    if (out == nullptr || movies.values_.symbolText(name) != "color" || !sprite->colour) {
      return kHostFailure;
    }
    *out = movies.values_.colour(sprite->colour->red, sprite->colour->green, sprite->colour->blue);
    return kOk;
  }
};

Movies::Movies(Ledger& ledger, Values& values)
    : references(ledger, "MovieServices"),
      values_(values),
      stage_(std::make_unique<Stage>(ledger, *this)),
      score_(std::make_unique<Score>(ledger, *this)),
      ledger_(ledger) {
  constexpr Placeholder u = unexpectedPosition;
  static constexpr MovieServicesOps kOps = {
      .queryInterface = noOtherInterface<Movies, MovieServices>,
      .addRef = countedAddRef<Movies, MovieServices>,
      .release = countedRelease<Movies, MovieServices>,
      .reserved3 = {u, u, u},
      .getStage = MovieCalls::getStage,
      .movieCount = MovieCalls::movieCount,
      .getMovie = MovieCalls::getMovie,
  };
  static constexpr HostStageOps kStageOps = {
      .queryInterface = noOtherInterface<Stage, HostStage>,
      .addRef = countedAddRef<Stage, HostStage>,
      .release = countedRelease<Stage, HostStage>,
      .reserved3 = {u, u, u, u, u, u, u, u, u, u, u, u, u, u, u, u, u, u, u, u, u},
      .getScore = MovieCalls::getScore,
  };
  static constexpr HostScoreOps kScoreOps = {
      .queryInterface = noOtherInterface<Score, HostScore>,
      .addRef = countedAddRef<Score, HostScore>,
      .release = countedRelease<Score, HostScore>,
      .reserved3 = {u, u, u, u, u, u, u, u, u, u, u, u, u, u, u, u, u, u},
      .getSprite = MovieCalls::getSprite,
  };
  ops = &kOps;
  stage_->ops = &kStageOps;
  score_->ops = &kScoreOps;
}

Movies::~Movies() = default;

void Movies::offerTo(Host& host) {
  host.offerService(kMovieServicesId,
                    reinterpret_cast<Unknown*>(static_cast<MovieServices*>(this)));
}

void Movies::setSpriteColour(std::int32_t number, std::uint8_t red, std::uint8_t green,
                             std::uint8_t blue) {
  MovieCalls::spriteOf(*this, number).colour = ColourRecord{red, green, blue, 0};
}

}  // namespace kinetiscan::host
