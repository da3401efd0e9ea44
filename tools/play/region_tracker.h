// Stable region ids for kinetiscan-play: the plug-in lists regions in scan order, which changes
// whenever regions cross; this follows each region from frame to frame and gives it an id that
// stays while it lives, as blob trackers do. Matching is by box overlap first, then by nearest
// centre within a gating distance; a region missed for a few frames keeps its id when it comes
// back near where it was. Regions that merge (people meeting) keep their ids: the merged region
// carries the oldest as its id and the others as absorbed; when it splits, each part takes back
// the id whose last box, moved on by its last motion, it overlaps most.
#pragma once

#include <cstdint>
#include <vector>

#include "kinetiscan/records.h"

namespace kinetiscan::play {

// A region's box in picture pixels: x to the right, y downwards from the top row, inclusive.
struct PictureBox {
  int x = 0, y = 0, width = 0, height = 0;
  double centreX() const { return x + (width - 1) / 2.0; }
  double centreY() const { return y + (height - 1) / 2.0; }
};

// The host's rect as scripts get it (top, left, bottom, right, with left >= right and the
// vertical one below the picture row) as a picture box.
PictureBox pictureBox(const HostRect& rect);

struct TrackerSettings {
  double gatePixels = 24.0;  // farthest a centre may move between frames and keep its id
  int graceFrames = 5;       // frames a region may go unseen and still get its id back
};

class RegionTracker {
 public:
  explicit RegionTracker(TrackerSettings settings = {}) : settings_(settings) {}
  // The ids of this frame's regions, in the order given.
  std::vector<std::int32_t> update(const std::vector<PictureBox>& regions);
  // Per region of the last update: the ids it absorbed, oldest first; empty for most.
  const std::vector<std::vector<std::int32_t>>& merged() const { return merged_; }

 private:
  // An id inside a merged region: its own box and motion when it was last seen alone.
  struct Member {
    std::int32_t id;
    PictureBox box;
    double dx, dy;
    int hidden;  // frames since
  };
  struct Track {
    std::int32_t id;
    PictureBox box;
    int unseen;
    double dx = 0, dy = 0;        // motion per frame of the box centre, smoothed
    std::vector<Member> members;  // merged: every id in it, its own included
  };
  void splitGroups(const std::vector<PictureBox>& regions);
  void match(const std::vector<PictureBox>& regions, int pass, std::vector<std::int32_t>* ids,
             std::vector<std::size_t>* owner);
  void absorb(const std::vector<PictureBox>& regions, const std::vector<PictureBox>& before,
              std::vector<std::int32_t>* ids, std::vector<std::size_t>* owner);

  TrackerSettings settings_;
  std::vector<Track> tracks_;
  std::vector<std::vector<std::int32_t>> merged_;
  std::int32_t nextId_ = 1;
};

}  // namespace kinetiscan::play
