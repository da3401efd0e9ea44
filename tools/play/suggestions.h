// "Did you mean" hints: the known name nearest to a misspelt one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kinetiscan::play {

// Edits (insertions, deletions, substitutions and swaps of two neighbours) that turn one word into
// the other, each character edited at most once.
std::size_t editDistance(const std::string& from, const std::string& to);

// The first of `names` nearest to `typed`, when it is close enough to be what was meant: at most
// one edit for words of up to five characters, two for longer ones. Empty otherwise.
std::string nearestName(const std::string& typed, const std::vector<std::string>& names);

}  // namespace kinetiscan::play
