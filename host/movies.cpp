// The simulated host's movie services: the stage, its score and its sprites.
#include "host/movies.h"

#include <algorithm>
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

struct Movies::Member : HostMember {
  Member(Ledger& ledger, Movies& owner, MemberSetup member)
      : movies(owner),
        setup(std::move(member)),
        references(ledger, "member " + std::to_string(setup.index)) {}
  Movies& movies;
  MemberSetup setup;
  bool removed = false;
  ReferenceCount references;
};
struct Movies::Cast : HostCast {
  Cast(Ledger& ledger, Movies& owner, CastSetup cast, const std::string& name)
      : movies(owner), setup(std::move(cast)), references(ledger, name) {
    if (setup.walk.empty()) {
      for (const MemberSetup& member : setup.members) setup.walk.push_back(member.index);
    }
  }
  Movies& movies;
  CastSetup setup;
  std::vector<std::unique_ptr<Member>> members;
  std::vector<std::int32_t> removed;
  ReferenceCount references;
};
struct Movies::Movie : HostMovie {
  Movie(Ledger& ledger, Movies& owner, std::int32_t number)
      : movies(owner), references(ledger, "movie " + std::to_string(number)) {}
  Movies& movies;
  std::vector<std::unique_ptr<Cast>> casts;
  bool castCountSet = false;
  std::optional<std::int32_t> castCountProperty;
  ReferenceCount references;
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
  static Result KINETISCAN_CALL movieCount(MovieServices* self, std::int32_t* count) {
    if (count == nullptr) return kHostFailure;
    *count = static_cast<std::int32_t>(static_cast<Movies*>(self)->movies_.size());
    return kOk;
  }
  template <class Object, class Interface>
  static Result handOut(Object* object, Interface** out) {
    if (out == nullptr) return kHostFailure;
    *out = object;
    if (object == nullptr) return kHostFailure;
    object->references.addRef();
    return kOk;
  }
  static Result KINETISCAN_CALL getMovie(MovieServices* self, std::int32_t index, HostMovie** out) {
    auto& movies = static_cast<Movies*>(self)->movies_;
    const bool valid = index >= 1 && index <= static_cast<std::int32_t>(movies.size());
    return handOut(valid ? movies[index - 1].get() : nullptr, out);
  }
  static Result KINETISCAN_CALL movieProperty(HostMovie* self, Symbol name, HostValue* out) {
    auto* movie = static_cast<Movies::Movie*>(self);
    if (out == nullptr || movie->movies.values_.symbolText(name) != "castCount") {
      return kHostFailure;
    }
    std::int32_t count = static_cast<std::int32_t>(movie->casts.size());
    if (movie->castCountSet) {
      if (!movie->castCountProperty) return kHostFailure;
      count = *movie->castCountProperty;
    }
    *out = movie->movies.values_.integer(count);
    return kOk;
  }
  static Result KINETISCAN_CALL castCount(HostMovie* self, std::int32_t* count) {
    if (count == nullptr) return kHostFailure;
    *count = static_cast<std::int32_t>(static_cast<Movies::Movie*>(self)->casts.size());
    return kOk;
  }
  static Result KINETISCAN_CALL getCast(HostMovie* self, std::int32_t index, HostCast** out) {
    auto& casts = static_cast<Movies::Movie*>(self)->casts;
    const bool valid = index >= 1 && index <= static_cast<std::int32_t>(casts.size());
    return handOut(valid ? casts[index - 1].get() : nullptr, out);
  }
  static Result KINETISCAN_CALL startMemberIndex(HostCast* self, std::int32_t* start) {
    const auto& walk = static_cast<Movies::Cast*>(self)->setup.walk;
    if (start == nullptr) return kHostFailure;
    *start = walk.empty() ? -1 : walk.front();
    return kOk;
  }
  static Result KINETISCAN_CALL nextMemberIndex(HostCast* self, std::int32_t index,
                                                std::int32_t* next) {
    auto* cast = static_cast<Movies::Cast*>(self);
    ++cast->movies.walkSteps;
    if (next == nullptr) return kHostFailure;
    const auto& walk = cast->setup.walk;
    if (walk.empty()) {
      *next = -1;
    } else if (cast->setup.endless) {
      *next = static_cast<std::int32_t>(static_cast<std::uint32_t>(index) + 1);
    } else {
      auto at = std::find(walk.begin(), walk.end(), index);
      *next = (at == walk.end() || at + 1 == walk.end()) ? walk.front() : *(at + 1);
    }
    return kOk;
  }
  static Result KINETISCAN_CALL getMember(HostCast* self, std::int32_t index, HostMember** out) {
    auto* cast = static_cast<Movies::Cast*>(self);
    Movies::Member* found = nullptr;
    for (auto& member : cast->members) {
      if (member->setup.index == index && !member->removed) found = member.get();
    }
    return handOut(found, out);
  }
  static Result KINETISCAN_CALL removeMember(HostCast* self, std::int32_t index) {
    auto* cast = static_cast<Movies::Cast*>(self);
    cast->removed.push_back(index);
    for (auto& member : cast->members) {
      if (member->setup.index == index) member->removed = true;
    }
    Movies& movies = cast->movies;
    if (movies.onRemove) {
      for (std::size_t m = 0; m < movies.movies_.size(); ++m) {
        auto& casts = movies.movies_[m]->casts;
        for (std::size_t c = 0; c < casts.size(); ++c) {
          if (casts[c].get() == cast) {
            movies.onRemove(static_cast<std::int32_t>(m + 1), static_cast<std::int32_t>(c + 1),
                            index);
          }
        }
      }
    }
    return kOk;
  }
  static Result KINETISCAN_CALL memberProperty(HostMember* self, Symbol name, HostValue* out) {
    auto* member = static_cast<Movies::Member*>(self);
    Values& values = member->movies.values_;
    if (out == nullptr || member->setup.typeReadFails || values.symbolText(name) != "type") {
      return kHostFailure;
    }
    *out = values.symbolValue(member->setup.type);
    return kOk;
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

std::int32_t Movies::addMovie() {
  constexpr Placeholder u = unexpectedPosition;
  static constexpr HostMovieOps kMovieOps = {
      .queryInterface = noOtherInterface<Movie, HostMovie>,
      .addRef = countedAddRef<Movie, HostMovie>,
      .release = countedRelease<Movie, HostMovie>,
      .getProperty = MovieCalls::movieProperty,
      .reserved4 = {u, u, u, u, u},
      .castCount = MovieCalls::castCount,
      .getCast = MovieCalls::getCast,
  };
  const auto number = static_cast<std::int32_t>(movies_.size() + 1);
  movies_.push_back(std::make_unique<Movie>(ledger_, *this, number));
  movies_.back()->ops = &kMovieOps;
  return number;
}

std::int32_t Movies::addCast(std::int32_t movie, CastSetup setup) {
  constexpr Placeholder u = unexpectedPosition;
  static constexpr HostCastOps kCastOps = {
      .queryInterface = noOtherInterface<Cast, HostCast>,
      .addRef = countedAddRef<Cast, HostCast>,
      .release = countedRelease<Cast, HostCast>,
      .reserved3 = {u, u, u, u},
      .nextMemberIndex = MovieCalls::nextMemberIndex,
      .startMemberIndex = MovieCalls::startMemberIndex,
      .reserved9 = {u, u, u, u},
      .getMember = MovieCalls::getMember,
      .reserved14 = u,
      .removeMember = MovieCalls::removeMember,
  };
  static constexpr HostMemberOps kMemberOps = {
      .queryInterface = noOtherInterface<Member, HostMember>,
      .addRef = countedAddRef<Member, HostMember>,
      .release = countedRelease<Member, HostMember>,
      .getProperty = MovieCalls::memberProperty,
  };
  Movie& owner = *movies_.at(static_cast<std::size_t>(movie - 1));
  const auto number = static_cast<std::int32_t>(owner.casts.size() + 1);
  auto cast =
      std::make_unique<Cast>(ledger_, *this, std::move(setup),
                             "cast " + std::to_string(movie) + "." + std::to_string(number));
  cast->ops = &kCastOps;
  for (const MemberSetup& member : cast->setup.members) {
    cast->members.push_back(std::make_unique<Member>(ledger_, *this, member));
    cast->members.back()->ops = &kMemberOps;
  }
  owner.casts.push_back(std::move(cast));
  return number;
}

void Movies::setCastCountProperty(std::int32_t movie, std::optional<std::int32_t> count) {
  Movie& owner = *movies_.at(static_cast<std::size_t>(movie - 1));
  owner.castCountSet = true;
  owner.castCountProperty = count;
}

std::vector<std::int32_t> Movies::removals(std::int32_t movie, std::int32_t cast) const {
  const Movie& owner = *movies_.at(static_cast<std::size_t>(movie - 1));
  return owner.casts.at(static_cast<std::size_t>(cast - 1))->removed;
}

void Movies::closeMovies() { movies_.clear(); }

}  // namespace kinetiscan::host
