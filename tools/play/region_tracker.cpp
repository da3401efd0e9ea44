// Frame-to-frame matching of regions: greedy by overlap, then by distance, each track and each
// region used once; then merges, and before the next frame's matching, splits.
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

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::size_t kAbsorbed = kNone - 1;

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

// A group that now overlaps two regions or more has split: its ids become tracks again, each at
// its last box moved on by its motion (kept inside the group's box), for the matching to place.
void RegionTracker::splitGroups(const std::vector<PictureBox>& regions) {
  std::vector<Track> tracks;
  for (Track& track : tracks_) {
    const auto parts = std::count_if(regions.begin(), regions.end(), [&](const PictureBox& r) {
      return overlap(track.box, r) > 0;
    });
    if (track.unseen != 0 || track.members.empty() || parts < 2) {
      tracks.push_back(std::move(track));
      continue;
    }
    for (const Member& member : track.members) {
      PictureBox box = member.box;
      const PictureBox& group = track.box;
      box.x = std::clamp(box.x + static_cast<int>(std::lround(member.dx * member.hidden)), group.x,
                         group.x + std::max(group.width - box.width, 0));
      box.y = std::clamp(box.y + static_cast<int>(std::lround(member.dy * member.hidden)), group.y,
                         group.y + std::max(group.height - box.height, 0));
      tracks.push_back(Track{member.id, box, 0, member.dx, member.dy, {}});
    }
  }
  tracks_ = std::move(tracks);
}

// Overlap first (pass 0): between two frames a region mostly covers where it was. Then the
// nearest centres within the gate, for small or fast regions and for those coming back.
void RegionTracker::match(const std::vector<PictureBox>& regions, int pass,
                          std::vector<std::int32_t>* ids, std::vector<std::size_t>* owner) {
  std::vector<Pair> pairs;
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    if ((*owner)[t] != kNone) continue;
    for (std::size_t r = 0; r < regions.size(); ++r) {
      if ((*ids)[r] != 0) continue;
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
  // Best first; ties go to the older track, then to the earlier region, so the result does not
  // depend on the sort's stability.
  std::sort(pairs.begin(), pairs.end(), [this](const Pair& a, const Pair& b) {
    if (a.score != b.score) return a.score > b.score;
    if (tracks_[a.track].id != tracks_[b.track].id) {
      return tracks_[a.track].id < tracks_[b.track].id;
    }
    return a.region < b.region;
  });
  for (const Pair& pair : pairs) {
    if ((*owner)[pair.track] != kNone || (*ids)[pair.region] != 0) continue;
    Track& track = tracks_[pair.track];
    (*owner)[pair.track] = pair.region;
    (*ids)[pair.region] = track.id;
    const PictureBox& now = regions[pair.region];
    const int frames = track.unseen + 1;
    track.dx = (track.dx + (now.centreX() - track.box.centreX()) / frames) / 2;
    track.dy = (track.dy + (now.centreY() - track.box.centreY()) / frames) / 2;
    track.box = now;
    track.unseen = 0;
    for (Member& member : track.members) ++member.hidden;
  }
}

// A track seen last frame that found no region of its own and overlaps one another track took
// has merged into it: that region keeps both ids, the oldest as its own.
void RegionTracker::absorb(const std::vector<PictureBox>& regions,
                           const std::vector<PictureBox>& before, std::vector<std::int32_t>* ids,
                           std::vector<std::size_t>* owner) {
  std::vector<std::size_t> trackOfRegion(regions.size(), kNone);
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    if ((*owner)[t] != kNone) trackOfRegion[(*owner)[t]] = t;
  }
  const auto asMembers = [](const Track& track, const PictureBox& box, int hidden) {
    if (!track.members.empty()) return track.members;
    return std::vector<Member>{Member{track.id, box, track.dx, track.dy, hidden}};
  };
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    if ((*owner)[t] != kNone || tracks_[t].unseen != 0) continue;
    long best = 0;
    std::size_t into = kNone;
    for (std::size_t r = 0; r < regions.size(); ++r) {
      const long shared = trackOfRegion[r] == kNone ? 0 : overlap(tracks_[t].box, regions[r]);
      if (shared > best) best = shared, into = r;
    }
    if (into == kNone) continue;
    Track& group = tracks_[trackOfRegion[into]];
    std::vector<Member> members = asMembers(group, before[trackOfRegion[into]], 1);
    for (Member member : asMembers(tracks_[t], tracks_[t].box, 0)) {
      ++member.hidden;
      members.push_back(member);
    }
    std::sort(members.begin(), members.end(),
              [](const Member& a, const Member& b) { return a.id < b.id; });
    group.members = std::move(members);
    group.id = group.members.front().id;
    (*ids)[into] = group.id;
    (*owner)[t] = kAbsorbed;
  }
}

std::vector<std::int32_t> RegionTracker::update(const std::vector<PictureBox>& regions) {
  splitGroups(regions);
  std::vector<PictureBox> before;
  for (const Track& track : tracks_) before.push_back(track.box);
  std::vector<std::int32_t> ids(regions.size(), 0);
  std::vector<std::size_t> owner(tracks_.size(), kNone);
  for (int pass = 0; pass < 2; ++pass) match(regions, pass, &ids, &owner);
  absorb(regions, before, &ids, &owner);

  std::vector<Track> kept;
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    Track track = tracks_[t];
    if (owner[t] == kAbsorbed) continue;
    if (owner[t] == kNone) ++track.unseen;
    if (track.unseen <= settings_.graceFrames) kept.push_back(track);
  }
  for (std::size_t r = 0; r < regions.size(); ++r) {
    if (ids[r] != 0) continue;
    ids[r] = nextId_++;
    kept.push_back(Track{ids[r], regions[r], 0, 0, 0, {}});
  }
  tracks_ = std::move(kept);
  merged_.assign(regions.size(), {});
  for (const Track& track : tracks_) {
    if (track.unseen != 0 || track.members.empty()) continue;
    const auto at = std::find(ids.begin(), ids.end(), track.id) - ids.begin();
    for (const Member& member : track.members) {
      if (member.id != track.id) merged_[static_cast<std::size_t>(at)].push_back(member.id);
    }
  }
  return ids;
}

}  // namespace kinetiscan::play
