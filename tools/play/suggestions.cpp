// Edit distances for the command line's hints.
#include "suggestions.h"

#include <algorithm>

namespace kinetiscan::play {

std::size_t editDistance(const std::string& from, const std::string& to) {
  // Three rows of the table suffice: a swap looks two rows back.
  const std::size_t width = to.size() + 1;
  std::vector<std::size_t> older(width), previous(width), current(width);
  for (std::size_t j = 0; j < width; ++j) previous[j] = j;
  for (std::size_t i = 1; i <= from.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j < width; ++j) {
      const std::size_t cost = from[i - 1] == to[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && from[i - 1] == to[j - 2] && from[i - 2] == to[j - 1]) {
        current[j] = std::min(current[j], older[j - 2] + 1);
      }
    }
    std::swap(older, previous);
    std::swap(previous, current);
  }
  return previous[to.size()];
}

std::string nearestName(const std::string& typed, const std::vector<std::string>& names) {
  const std::size_t allowed = typed.size() <= 5 ? 1 : 2;
  std::string best;
  std::size_t bestDistance = allowed + 1;
  for (const std::string& name : names) {
    const std::size_t distance = editDistance(typed, name);
    if (distance < bestDistance) best = name, bestDistance = distance;
  }
  return best;
}

}  // namespace kinetiscan::play
