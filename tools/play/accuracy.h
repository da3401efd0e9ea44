// How well the regions the plug-in reports follow the discs of the built-in scene: each disc
// large enough to be kept is matched to a reported centre, one to one, nearest first.
#pragma once

#include <cstdint>
#include <vector>

#include "camera/frame_source.h"
#include "kinetiscan/records.h"

namespace kinetiscan::play {

// The first frames are not judged: the background is still being learned.
constexpr int kSettleFrames = 10;

// A disc as a script sees it: centre in script coordinates (vertical grows downward, row r is
// 120 - r) and the number of its pixels the frame shows.
struct TruthDisc {
  double vertical = 0;
  double horizontal = 0;
  double radius = 0;
  int area = 0;
  // Its pixels touch another disc's: the sensor reports 8-connected regions, so the two are one
  // region by design and neither is judged.
  bool touching = false;
};

// Counts each disc's visible pixels exactly: clipped at the frame's edges and hidden where a
// later disc is drawn over it.
std::vector<TruthDisc> truthDiscs(const camera::GroundTruth& truth);

struct FrameMatch {
  int present = 0;             // discs with at least `mindensity` visible pixels, touching no other
  int touching = 0;            // discs with enough pixels that touch another, not judged
  int found = 0;               // of those, matched to a reported centre within the disc's radius
  std::vector<double> errors;  // centre distance of each match, in pixels
  int unmatched = 0;           // reported centres that matched no disc
  // Per disc: the index of the centre matched to it; -1 when unmatched; -2 when not judged.
  std::vector<int> centreOfDisc;
};

FrameMatch matchFrame(const std::vector<TruthDisc>& discs, int mindensity,
                      const std::vector<HostPoint>& centres);

class AccuracyTally {
 public:
  void add(const FrameMatch& match);
  // Follows the stable ids of the regions matched to each disc: an id switch is a disc whose
  // region now carries another id than last time it was matched; a fragmentation is a disc
  // matched again after frames in which it was present but not found.
  void addIds(const FrameMatch& match, const std::vector<std::int32_t>& ids);
  int idSwitches() const;
  int fragmentations() const;
  const std::vector<int>& idSwitchesPerDisc() const { return switches_; }
  const std::vector<int>& fragmentationsPerDisc() const { return fragments_; }
  int frames() const { return frames_; }
  int present() const { return present_; }
  int found() const { return found_; }
  int framesAllFound() const { return framesAllFound_; }
  int unmatched() const { return unmatched_; }
  int touching() const { return touching_; }
  double meanError() const { return matches_ == 0 ? 0.0 : errorSum_ / matches_; }
  double maxError() const { return maxError_; }

 private:
  int frames_ = 0, present_ = 0, found_ = 0, framesAllFound_ = 0, unmatched_ = 0, matches_ = 0;
  int touching_ = 0;
  double errorSum_ = 0, maxError_ = 0;
  std::vector<std::int32_t> lastId_;
  std::vector<bool> lost_;
  std::vector<int> switches_, fragments_;
};

}  // namespace kinetiscan::play
