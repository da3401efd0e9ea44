// The cast scan. The warning box it may show runs a modal loop, in which frames (and so further
// scans) can arrive, and a removal can make the host destroy the member it was reached through;
// so the current member is looked up again before every use of its services.
#include "member/cast_scan.h"

#include <cstring>

#include "analysis/frame_analysis.h"
#include "capture/capture_session.h"
#include "member/cast_member.h"
#include "member/member_state.h"
#include "objects/held_interface.h"
#include "objects/symbol_name.h"

namespace kinetiscan {
namespace {

constexpr char kWarning[] = "Only one Kinetiscan cast member is allowed at this time.";
// A host whose walk never comes back to its start, or that reports absurd counts, still ends.
constexpr int kMaxWalkSteps = 65536;
constexpr std::int32_t kMaxCastsPerMovie = 65536;
constexpr std::int32_t kMaxMovies = 65536;

// The services the scan needs, from the member that is current now; null fields when there is
// no member or it holds neither service.
struct ScanServices {
  MovieServices* movies;
  ValueServices* values;
  explicit operator bool() const { return movies != nullptr && values != nullptr; }
};
ScanServices currentServices() {
  CastMemberInstance* member = currentCastMember();
  if (member == nullptr) return {nullptr, nullptr};
  return {member->movieServices, member->valueServices};
}

struct ScanResult {
  bool found = false;
  bool ended = false;  // the member went away: the scan stops without changing capture
};

// Whether the member at `index` is one of ours. Reads its "type" property as a symbol's text,
// letter case significant.
bool isOurType(HostCast* cast, std::int32_t index, ScanServices services) {
  HostMember* member = nullptr;
  cast->ops->getMember(cast, index, &member);
  if (member == nullptr) return false;
  ValueServices* values = services.values;
  bool ours = false;
  Symbol type = 0;
  values->ops->stringToSymbol(values, "type", &type);
  HostValue value{};
  if (member->ops->getProperty(member, type, &value) == kOk) {
    Symbol symbol = 0;
    values->ops->valueToSymbol(values, &value, &symbol);
    SymbolName text;
    symbolText(values, symbol, &text);
    ours = std::strcmp(text.text, kTypeSymbol) == 0;
    values->ops->releaseValue(values, &value);
  }
  releaseHeld(member);
  return ours;
}

// Walks one cast from its start index until the walk comes back to it. Returns the index of the
// last extra member of the type met, or -1.
std::int32_t memberIndexWalk(HostCast* cast, ScanResult& scan) {
  MemberState& state = memberState();
  std::int32_t removeIndex = -1;
  state.firstMemberIndex = -1;
  std::int32_t start = -1;
  cast->ops->startMemberIndex(cast, &start);
  std::int32_t index = start;
  for (int step = 0; step < kMaxWalkSteps; ++step) {
    if (index != 0) {
      const ScanServices services = currentServices();
      if (!services) {
        scan.ended = true;
        return -1;
      }
      if (isOurType(cast, index, services)) {
        scan.found = true;
        if (state.firstMemberIndex == -1) {
          state.firstMemberIndex = index;
        } else if (state.firstMemberIndex != index) {
          MessageBoxA(hostWindow(), kWarning, "Kinetiscan", MB_OK | MB_ICONEXCLAMATION);
          removeIndex = index;
        }
      }
    }
    std::int32_t next = start;  // a host that cannot say ends the walk
    cast->ops->nextMemberIndex(cast, index, &next);
    index = next;
    if (index == start && index != -1) break;
  }
  return removeIndex;
}

void scanMovie(HostMovie* movie, ScanServices services, ScanResult& scan) {
  std::int32_t casts = 0;
  movie->ops->castCount(movie, &casts);
  ValueServices* values = services.values;
  Symbol castCount = 0;
  values->ops->stringToSymbol(values, "castCount", &castCount);
  HostValue value{};
  if (movie->ops->getProperty(movie, castCount, &value) == kOk) {
    values->ops->valueToInteger(values, &value, &casts);
    values->ops->releaseValue(values, &value);
  }
  if (casts > kMaxCastsPerMovie) casts = kMaxCastsPerMovie;
  for (std::int32_t j = 1; j <= casts && !scan.ended; ++j) {
    if (!currentServices()) {
      scan.ended = true;
      break;
    }
    HostCast* cast = nullptr;
    movie->ops->getCast(movie, j, &cast);
    if (cast == nullptr) continue;
    const std::int32_t removeIndex = memberIndexWalk(cast, scan);
    if (removeIndex != -1 && !scan.ended) cast->ops->removeMember(cast, removeIndex);
    releaseHeld(cast);
  }
}

}  // namespace

void scanCasts() {
  MemberState& state = memberState();
  // A scan started inside another one (a frame delivered in the warning's modal loop) returns.
  if (state.scanning) return;
  ScanServices services = currentServices();
  if (!services) return;
  state.scanning = true;

  ScanResult scan;
  std::int32_t movies = 0;
  services.movies->ops->movieCount(services.movies, &movies);
  if (movies > kMaxMovies) movies = kMaxMovies;
  for (std::int32_t i = 1; i <= movies && !scan.ended; ++i) {
    services = currentServices();
    if (!services) {
      scan.ended = true;
      break;
    }
    HostMovie* movie = nullptr;
    services.movies->ops->getMovie(services.movies, i, &movie);
    if (movie == nullptr) continue;
    scanMovie(movie, services, scan);
    releaseHeld(movie);
  }

  // A member destroyed during the scan (the host removing the one it was asked to) closed
  // capture for the module; with no member object left, capture stays as that left it.
  if (currentCastMember() == nullptr) scan.ended = true;
  if (!scan.ended) {
    if (scan.found && !state.captureRunning) {
      state.captureRunning = true;
      openCaptureSession(hostWindow);
      resetBackground(latestFrame());
    } else if (!scan.found && state.captureRunning) {
      state.captureRunning = false;
      closeCaptureSession();
    }
  }
  state.scanning = false;
}

}  // namespace kinetiscan
