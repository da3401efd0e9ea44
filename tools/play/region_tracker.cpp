// Frame-to-frame matching of regions: greedy by overlap, then by distance, each track and each
// region used once.
#include "region_tracker.h"

#include <algorithm>
#include <cmath>

namespace kinetiscan::play {
namespace {

long overlap(const PictureBox& a, const PictureBox& b) {
  const int width = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
  const int height = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
  return width > 0 && height > 0 ? static_cast<long>(width) * height : 0;
}

double distance(const PictureBox& a, const PictureBox& b) {
  return std::hypot(a.centreX() - b.centreX(), a.centreY() - b.centreY());
}

struct Pair {
  double score;  // larger is better
  std::size_t track;
  std::size_t region;
};

}  // namespace

PictureBox pictureBox(const HostRect& rect) {
  return PictureBox{rect.right, rect.top - 1, rect.left - rect.right + 1,
                    rect.bottom - rect.top + 1};
}

std::vector<std::int32_t> RegionTracker::update(const std::vector<PictureBox>& regions) {
  std::vector<std::int32_t> ids(regions.size(), 0);
  std::vector<bool> trackUsed(tracks_.size(), false);

  // Overlap first: between two frames a region mostly covers where it was. Then the nearest
  // centres within the gate, for small or fast regions and for those coming back.
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<Pair> pairs;
    for (std::size_t t = 0; t < tracks_.size(); ++t) {
      if (trackUsed[t]) continue;
      for (std::size_t r = 0; r < regions.size(); ++r) {
        if (ids[r] != 0) continue;
        if (pass == 0) {
          // Only a track seen last frame claims by overlap.
          const long shared = tracks_[t].unseen == 0 ? overlap(tracks_[t].box, regions[r]) : 0;
          if (shared > 0) pairs.push_back(Pair{static_cast<double>(shared), t, r});
        } else {
          const double d = distance(tracks_[t].box, regions[r]);
          if (d <= settings_.gatePixels) pairs.push_back(Pair{-d, t, r});
        }
      }
    }
    // Best first; ties go to the older track, then to the earlier region, so the result does
    // not depend on the sort's stability.
    std::sort(pairs.begin(), pairs.end(), [this](const Pair& a, const Pair& b) {
      if (a.score != b.score) return a.score > b.score;
      if (tracks_[a.track].id != tracks_[b.track].id) {
        return tracks_[a.track].id < tracks_[b.track].id;
      }
      return a.region < b.region;
    });
    for (const Pair& pair : pairs) {
      if (trackUsed[pair.track] || ids[pair.region] != 0) continue;
      trackUsed[pair.track] = true;
      ids[pair.region] = tracks_[pair.track].id;
      tracks_[pair.track].box = regions[pair.region];
      tracks_[pair.track].unseen = 0;
    }
  }

  std::vector<Track> kept;
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    Track track = tracks_[t];
    if (!trackUsed[t]) ++track.unseen;
    if (track.unseen <= settings_.graceFrames) kept.push_back(track);
  }
  for (std::size_t r = 0; r < regions.size(); ++r) {
    if (ids[r] != 0) continue;
    ids[r] = nextId_++;
    kept.push_back(Track{ids[r], regions[r], 0});
  }
  tracks_ = std::move(kept);
  return ids;
}

}  // namespace kinetiscan::play
