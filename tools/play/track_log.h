// The track logs: per frame, what scripts would see after it (region centres and rects, the
// answers of script calls) and, for the built-in scene, how that matched the truth, as CSV and
// as JSON Lines; and per region, its stable id, the point and rect as scripts get them and its
// box in picture pixels (regions.csv). Every line is flushed as soon as its frame is done, so
// the files can be followed while the program runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "accuracy.h"
#include "host/values.h"

namespace kinetiscan::play {

struct CallRecord {
  std::string method;
  std::vector<std::string> arguments;
  Result result = kOk;
  nlohmann::json value;  // null when the call left its result untouched
  // Colour tracking: false when the answer is the one given when no pixel matched (the rect
  // 120,0,120,0 or the point 120,0; a lone match at the bottom-left pixel answers the same).
  std::optional<bool> found;
};

struct FrameRecord {
  int frame = 0;
  double milliseconds = 0;  // processing time of the frame, from its delivery to its outputs
  std::vector<HostPoint> centres;
  std::vector<HostRect> rects;
  std::vector<std::int32_t> ids;  // stable region ids, parallel to centres and rects
  std::vector<CallRecord> calls;
  std::optional<FrameMatch> match;  // frames judged against the ground truth
  // When the source delivered the frame: milliseconds since the run began, and wall-clock
  // microseconds since 1970 (UTC), for receivers that line the frames up with other clocks.
  double capturedMs = 0;
  std::int64_t wallMicros = 0;
  // Per region, parallel to ids: the ids it absorbed when regions merged (oldest first).
  std::vector<std::vector<std::int32_t>> merged;
};

// Wall-clock microseconds since 1970 as ISO-8601 UTC with milliseconds, 2026-12-09T18:42:15.123Z.
std::string isoTime(std::int64_t unixMicros);

// A host value as the log shows it, e.g. {"point":[60,80]} or {"colour":[255,0,0]}.
nlohmann::json describeValue(const host::Value& value);

// Text as valid UTF-8: each byte that is not part of a well-formed sequence becomes "\xNN".
std::string escapeInvalidUtf8(const std::string& text);

std::string csvHeader();
std::string csvLine(const FrameRecord& record);
std::string regionsHeader();
// One line per region of the frame.
std::string regionLines(const FrameRecord& record);
// Strings in it are valid UTF-8 (see escapeInvalidUtf8), so dumping it cannot throw.
nlohmann::json jsonRecord(const FrameRecord& record);

class TrackLog {
 public:
  TrackLog() = default;
  ~TrackLog();
  TrackLog(const TrackLog&) = delete;
  TrackLog& operator=(const TrackLog&) = delete;

  bool open(const std::string& csvPath, const std::string& jsonPath, const std::string& regionsPath,
            std::string* error);
  bool add(const FrameRecord& record, std::string* error);
  bool close(std::string* error);

 private:
  std::FILE* csv_ = nullptr;
  std::FILE* json_ = nullptr;
  std::FILE* regions_ = nullptr;
};

}  // namespace kinetiscan::play
