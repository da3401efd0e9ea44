// The per-frame track log: what scripts would see after each frame (region centres and rects,
// the answers of script calls) and, for the built-in scene, how that matched the truth. Written
// as CSV and as JSON Lines, one record per frame.
#pragma once

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
};

struct FrameRecord {
  int frame = 0;
  double milliseconds = 0;
  std::vector<HostPoint> centres;
  std::vector<HostRect> rects;
  std::vector<CallRecord> calls;
  std::optional<FrameMatch> match;  // frames judged against the ground truth
};

// A host value as the log shows it, e.g. {"point":[60,80]} or {"colour":[255,0,0]}.
nlohmann::json describeValue(const host::Value& value);

// Text as valid UTF-8: each byte that is not part of a well-formed sequence becomes "\xNN".
std::string escapeInvalidUtf8(const std::string& text);

std::string csvHeader();
std::string csvLine(const FrameRecord& record);
// Strings in it are valid UTF-8 (see escapeInvalidUtf8), so dumping it cannot throw.
nlohmann::json jsonRecord(const FrameRecord& record);

class TrackLog {
 public:
  TrackLog() = default;
  ~TrackLog();
  TrackLog(const TrackLog&) = delete;
  TrackLog& operator=(const TrackLog&) = delete;

  bool open(const std::string& csvPath, const std::string& jsonPath, std::string* error);
  bool add(const FrameRecord& record, std::string* error);
  bool close(std::string* error);

 private:
  std::FILE* csv_ = nullptr;
  std::FILE* json_ = nullptr;
};

}  // namespace kinetiscan::play
