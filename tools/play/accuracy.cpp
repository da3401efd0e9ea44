// Tracking accuracy against the scene's ground truth.
#include "accuracy.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>

namespace kinetiscan::play {

std::vector<TruthDisc> truthDiscs(const camera::GroundTruth& truth) {
  std::vector<TruthDisc> discs;
  for (const camera::Disc& disc : truth.discs) {
    discs.push_back({camera::kHeight - disc.row, disc.column, disc.radius, 0, false});
  }
  // The scene paints discs in order, so the last one covering a pixel owns it.
  std::vector<int> owner(camera::kWidth * camera::kHeight, -1);
  for (int row = 0; row < camera::kHeight; ++row) {
    for (int column = 0; column < camera::kWidth; ++column) {
      for (std::size_t i = truth.discs.size(); i-- > 0;) {
        const camera::Disc& disc = truth.discs[i];
        const double dr = row - disc.row, dc = column - disc.column;
        if (dr * dr + dc * dc <= disc.radius * disc.radius) {
          ++discs[i].area;
          owner[row * camera::kWidth + column] = static_cast<int>(i);
          break;
        }
      }
    }
  }
  // Two discs touch when a pixel of one is among the eight neighbours of a pixel of the other.
  for (int row = 0; row < camera::kHeight; ++row) {
    for (int column = 0; column < camera::kWidth; ++column) {
      const int here = owner[row * camera::kWidth + column];
      if (here < 0) continue;
      for (int dr = 0; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
          const int r = row + dr, c = column + dc;
          if ((dr == 0 && dc <= 0) || r >= camera::kHeight || c < 0 || c >= camera::kWidth) {
            continue;
          }
          const int there = owner[r * camera::kWidth + c];
          if (there >= 0 && there != here) discs[here].touching = discs[there].touching = true;
        }
      }
    }
  }
  return discs;
}

FrameMatch matchFrame(const std::vector<TruthDisc>& discs, int mindensity,
                      const std::vector<HostPoint>& centres) {
  FrameMatch match;
  match.centreOfDisc.assign(discs.size(), -2);
  std::vector<std::tuple<double, std::size_t, std::size_t>> pairs;
  for (std::size_t i = 0; i < discs.size(); ++i) {
    if (discs[i].area < mindensity) continue;
    if (discs[i].touching) {
      ++match.touching;
      continue;
    }
    ++match.present;
    match.centreOfDisc[i] = -1;
    for (std::size_t j = 0; j < centres.size(); ++j) {
      const double distance = std::hypot(centres[j].vertical - discs[i].vertical,
                                         centres[j].horizontal - discs[i].horizontal);
      if (distance <= discs[i].radius) pairs.emplace_back(distance, i, j);
    }
  }
  std::sort(pairs.begin(), pairs.end());
  std::vector<bool> discTaken(discs.size()), centreTaken(centres.size());
  for (const auto& [distance, disc, centre] : pairs) {
    if (discTaken[disc] || centreTaken[centre]) continue;
    discTaken[disc] = centreTaken[centre] = true;
    match.centreOfDisc[disc] = static_cast<int>(centre);
    ++match.found;
    match.errors.push_back(distance);
  }
  match.unmatched = static_cast<int>(std::count(centreTaken.begin(), centreTaken.end(), false));
  return match;
}

void AccuracyTally::add(const FrameMatch& match) {
  ++frames_;
  present_ += match.present;
  found_ += match.found;
  unmatched_ += match.unmatched;
  touching_ += match.touching;
  if (match.found == match.present) ++framesAllFound_;
  for (double error : match.errors) {
    errorSum_ += error;
    maxError_ = std::max(maxError_, error);
    ++matches_;
  }
}

void AccuracyTally::addIds(const FrameMatch& match, const std::vector<std::int32_t>& ids) {
  const std::size_t discs = match.centreOfDisc.size();
  if (lastId_.size() < discs) {
    lastId_.resize(discs, 0);
    lost_.resize(discs, false);
    switches_.resize(discs, 0);
    fragments_.resize(discs, 0);
  }
  for (std::size_t disc = 0; disc < discs; ++disc) {
    const int centre = match.centreOfDisc[disc];
    if (centre == -2) continue;  // not judged: neither found nor lost
    if (centre < 0 || static_cast<std::size_t>(centre) >= ids.size()) {
      if (lastId_[disc] != 0) lost_[disc] = true;
      continue;
    }
    const std::int32_t id = ids[static_cast<std::size_t>(centre)];
    if (lastId_[disc] != 0 && id != lastId_[disc]) ++switches_[disc];
    if (lost_[disc]) ++fragments_[disc];
    lastId_[disc] = id;
    lost_[disc] = false;
  }
}

int AccuracyTally::idSwitches() const {
  return std::accumulate(switches_.begin(), switches_.end(), 0);
}
int AccuracyTally::fragmentations() const {
  return std::accumulate(fragments_.begin(), fragments_.end(), 0);
}

}  // namespace kinetiscan::play
