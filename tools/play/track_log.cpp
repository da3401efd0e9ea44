// Track log formatting and writing.
#include "track_log.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>

#include "region_tracker.h"

namespace kinetiscan::play {
namespace {

// A field with a comma, quote or line break is quoted, quotes doubled.
std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string formatNumber(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string callText(const CallRecord& call) {
  std::string text = call.method + "(";
  for (std::size_t i = 0; i < call.arguments.size(); ++i) {
    text += (i == 0 ? "" : " ") + call.arguments[i];
  }
  char code[16];
  std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(call.result));
  text += ")=" + std::string(call.result == kOk ? "0" : code);
  if (!call.value.is_null()) {
    text += " " + call.value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  if (call.found == false) text += " not found";
  return text;
}

// The columns every line of both CSV files opens with.
std::string timeFields(const FrameRecord& record) {
  return std::to_string(record.frame) + "," + formatNumber(record.capturedMs, 3) + "," +
         isoTime(record.wallMicros) + "," + formatNumber(record.milliseconds, 3);
}

bool writeAll(std::FILE* file, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

// The length of the well-formed UTF-8 sequence at `at`, or 0.
std::size_t utf8Sequence(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  const auto continuation = [&](std::size_t i, unsigned low = 0x80, unsigned high = 0xBF) {
    return byte(i) >= low && byte(i) <= high;
  };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    // No overlong forms, no UTF-16 surrogates.
    const unsigned low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    return continuation(1, low, high) && continuation(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    return continuation(1, low, high) && continuation(2) && continuation(3) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string isoTime(std::int64_t unixMicros) {
  const std::int64_t millis = std::max<std::int64_t>(unixMicros, 0) / 1000;
  const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
  std::tm utc{};
  char text[64] = "";
  if (gmtime_r(&seconds, &utc) == nullptr) return text;
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis % 1000));
  return text;
}

std::string escapeInvalidUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (const std::size_t length = utf8Sequence(text, at); length != 0) {
      out.append(text, at, length);
      at += length;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[at]));
    out += escaped;
    ++at;
  }
  return out;
}

nlohmann::json describeValue(const host::Value& value) {
  using nlohmann::json;
  switch (value.kind) {
    case host::kValueInteger:
      return {{"integer", value.integer}};
    case host::kValueFloat:
      return std::isfinite(value.real) ? json{{"float", value.real}} : json{{"float", nullptr}};
    case host::kValueString:
      return {{"string", escapeInvalidUtf8(value.text)}};
    case host::kValuePoint:
      return {{"point", {value.point.vertical, value.point.horizontal}}};
    case host::kValueRect:
      return {{"rect", {value.rect.top, value.rect.left, value.rect.bottom, value.rect.right}}};
    case host::kValueColour:
      return {{"colour", {value.colour.red, value.colour.green, value.colour.blue}}};
    case host::kValueImage:
      if (value.image == nullptr) return {{"image", nullptr}};
      return {{"image", {value.image->width, value.image->height}}};
    case host::kValueList: {
      json items = json::array();
      for (const host::Value& item : value.items) items.push_back(describeValue(item));
      return {{"list", items}};
    }
    default:
      return {{"kind", value.kind}};
  }
}

std::string csvHeader() {
  return "frame,t_ms,wall_time,processing_ms,regions,loclist,boundingboxlist,calls,discs_present,"
         "discs_found,"
         "mean_error_px\n";
}

std::string csvLine(const FrameRecord& record) {
  std::ostringstream centres, rects;
  for (std::size_t i = 0; i < record.centres.size(); ++i) {
    centres << (i == 0 ? "" : " ") << record.centres[i].vertical << ':'
            << record.centres[i].horizontal;
  }
  for (std::size_t i = 0; i < record.rects.size(); ++i) {
    const HostRect& r = record.rects[i];
    rects << (i == 0 ? "" : " ") << r.top << ':' << r.left << ':' << r.bottom << ':' << r.right;
  }
  std::string calls;
  for (std::size_t i = 0; i < record.calls.size(); ++i) {
    calls += (i == 0 ? "" : "; ") + callText(record.calls[i]);
  }
  std::string line = timeFields(record) + "," + std::to_string(record.centres.size()) + "," +
                     centres.str() + "," + rects.str() + "," + csvField(calls) + ",";
  if (record.match) {
    const FrameMatch& match = *record.match;
    double sum = 0;
    for (double error : match.errors) sum += error;
    line += std::to_string(match.present) + "," + std::to_string(match.found) + "," +
            (match.errors.empty() ? "" : formatNumber(sum / match.errors.size(), 3));
  } else {
    line += ",,";
  }
  return line + "\n";
}

std::string regionsHeader() {
  return "frame,t_ms,wall_time,processing_ms,id,point_vertical,point_horizontal,rect_top,rect_left,"
         "rect_bottom,"
         "rect_right,x,y,width,height\n";
}

std::string regionLines(const FrameRecord& record) {
  std::string lines;
  const std::size_t count = std::min(record.centres.size(), record.rects.size());
  for (std::size_t i = 0; i < count; ++i) {
    const HostPoint& p = record.centres[i];
    const HostRect& r = record.rects[i];
    const PictureBox box = pictureBox(r);
    const std::int32_t id = i < record.ids.size() ? record.ids[i] : 0;
    std::ostringstream line;
    line << timeFields(record) << ',' << id << ',' << p.vertical << ',' << p.horizontal << ','
         << r.top << ',' << r.left << ',' << r.bottom << ',' << r.right << ',' << box.x << ','
         << box.y << ',' << box.width << ',' << box.height << '\n';
    lines += line.str();
  }
  return lines;
}

nlohmann::json jsonRecord(const FrameRecord& record) {
  using nlohmann::json;
  json centres = json::array(), rects = json::array(), calls = json::array();
  for (const HostPoint& p : record.centres) centres.push_back({p.vertical, p.horizontal});
  for (const HostRect& r : record.rects) rects.push_back({r.top, r.left, r.bottom, r.right});
  for (const CallRecord& call : record.calls) {
    json arguments = json::array();
    for (const std::string& argument : call.arguments) {
      arguments.push_back(escapeInvalidUtf8(argument));
    }
    calls.push_back({{"method", escapeInvalidUtf8(call.method)},
                     {"arguments", arguments},
                     {"result", static_cast<std::uint32_t>(call.result)},
                     {"value", call.value}});
    if (call.found) calls.back()["found"] = *call.found;
  }
  json boxes = json::array(), regions = json::array();
  for (std::size_t i = 0; i < record.rects.size(); ++i) {
    const HostRect& r = record.rects[i];
    const PictureBox box = pictureBox(r);
    boxes.push_back({box.x, box.y, box.width, box.height});
    json region = {{"id", i < record.ids.size() ? record.ids[i] : 0},
                   {"box", {{"x", box.x}, {"y", box.y}, {"w", box.width}, {"h", box.height}}},
                   {"point", i < record.centres.size() ? centres[i] : json()},
                   {"rect", rects[i]}};
    if (i < record.merged.size() && !record.merged[i].empty()) region["merged"] = record.merged[i];
    regions.push_back(region);
  }
  const auto rounded = [](double value) { return std::round(value * 1000) / 1000; };
  json line = {{"frame", record.frame},
               {"t_ms", rounded(record.capturedMs)},
               {"wall_time", isoTime(record.wallMicros)},
               {"processing_ms", rounded(record.milliseconds)},
               {"ids", record.ids},
               {"loclist", centres},
               {"boundingboxlist", rects},
               {"boxes_xywh", boxes},
               {"regions", regions},
               {"calls", calls}};
  if (record.match) {
    json errors = json::array();
    for (double error : record.match->errors) errors.push_back(std::round(error * 1000) / 1000);
    line["truth"] = {{"present", record.match->present},
                     {"found", record.match->found},
                     {"errors_px", errors},
                     {"unmatched", record.match->unmatched},
                     {"touching", record.match->touching}};
  }
  return line;
}

TrackLog::~TrackLog() {
  if (csv_ != nullptr) std::fclose(csv_);
  if (json_ != nullptr) std::fclose(json_);
  if (regions_ != nullptr) std::fclose(regions_);
}

bool TrackLog::open(const std::string& csvPath, const std::string& jsonPath,
                    const std::string& regionsPath, std::string* error) {
  csv_ = std::fopen(csvPath.c_str(), "w");
  json_ = std::fopen(jsonPath.c_str(), "w");
  regions_ = std::fopen(regionsPath.c_str(), "w");
  if (csv_ == nullptr || json_ == nullptr || regions_ == nullptr) {
    *error = (csv_ == nullptr    ? csvPath
              : json_ == nullptr ? jsonPath
                                 : regionsPath) +
             ": cannot create";
    return false;
  }
  if (!writeAll(csv_, csvHeader()) || !writeAll(regions_, regionsHeader())) {
    *error = csvPath + ": cannot write (" + std::strerror(errno) + ")";
    return false;
  }
  return true;
}

bool TrackLog::add(const FrameRecord& record, std::string* error) {
  errno = 0;
  if (!writeAll(csv_, csvLine(record)) ||
      !writeAll(json_,
                jsonRecord(record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
                    "\n") ||
      !writeAll(regions_, regionLines(record)) || std::fflush(csv_) != 0 ||
      std::fflush(json_) != 0 || std::fflush(regions_) != 0) {
    *error = std::string("cannot write the track log (") +
             (errno != 0 ? std::strerror(errno) : "short write") + ")";
    return false;
  }
  return true;
}

bool TrackLog::close(std::string* error) {
  const bool csvOk = csv_ == nullptr || std::fclose(csv_) == 0;
  const bool jsonOk = json_ == nullptr || std::fclose(json_) == 0;
  const bool regionsOk = regions_ == nullptr || std::fclose(regions_) == 0;
  csv_ = json_ = regions_ = nullptr;
  if (!csvOk || !jsonOk || !regionsOk) {
    *error = std::string("cannot finish the track log (") + std::strerror(errno) + ")";
    return false;
  }
  return true;
}

}  // namespace kinetiscan::play
