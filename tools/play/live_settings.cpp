// Rules, key steps and the settings file of the live parameters.
#include "live_settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>

namespace kinetiscan::play {
namespace {

constexpr double kMinAdaptivity = 1, kMaxAdaptivity = 1e9;
constexpr std::uintmax_t kMaxFileBytes = 64 * 1024;

// The member keeps its parameters in single precision, so 0.55 reads back as 0.550000011920929;
// written as the shortest text that gives the same float again, it stays 0.55 in files and on
// the command line.
double tidy(double value) {
  const float single = static_cast<float>(value);
  if (static_cast<double>(single) != value) return value;
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, single).ptr;
  double back = value;
  std::from_chars(text, end, back);
  return static_cast<float>(back) == single ? back : value;
}

std::string numberText(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, tidy(value)).ptr;
  return std::string(text, end);
}

}  // namespace

bool checkSetting(const std::string& name, double value, std::string* reason) {
  if (name != "sensitivity" && name != "adaptivity" && name != "mindensity") {
    *reason = "'" + name + "' is not a live setting (sensitivity, mindensity, adaptivity)";
    return false;
  }
  if (!std::isfinite(value)) {
    *reason = name + " must be a finite number";
    return false;
  }
  if (name == "adaptivity" && !(value >= kMinAdaptivity && value <= kMaxAdaptivity)) {
    *reason = "adaptivity runs from 1 (the background is each last frame) to 1e9";
    return false;
  }
  if (name == "sensitivity" && value < 0) {
    *reason = "sensitivity must be 0 or more";
    return false;
  }
  if (name == "mindensity" && (value < 0 || value > 2147483647.0 || value != std::floor(value))) {
    *reason = "mindensity must be a whole number of pixels, 0 or more";
    return false;
  }
  return true;
}

double steppedSetting(const std::string& name, double current, int steps) {
  if (name == "adaptivity") {
    return std::clamp(current * std::pow(1.25, steps), kMinAdaptivity, kMaxAdaptivity);
  }
  if (name == "mindensity") return std::clamp(current + 10.0 * steps, 0.0, 2147483647.0);
  // Rounded to the step, so presses up and down come back to the same value.
  return std::max(0.0, std::round((current + 0.05 * steps) * 1e6) / 1e6);
}

bool loadSettings(const std::string& path, Settings* settings, std::string* error) {
  const std::string where = "--settings " + path + ": ";
  std::error_code failure;
  const std::uintmax_t size = std::filesystem::file_size(path, failure);
  std::ifstream in(path, std::ios::binary);
  if (failure || !in) {
    *error = where + "cannot read it (" + (failure ? failure.message() : "no such file") + ")";
    return false;
  }
  if (size > kMaxFileBytes) {
    *error = where + "not a settings file (larger than 64 KiB)";
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  const nlohmann::json file = nlohmann::json::parse(text.str(), nullptr, false);
  if (file.is_discarded() || !file.is_object()) {
    *error = where + "not a settings file (a JSON object such as {\"sensitivity\": 0.5})";
    return false;
  }
  Settings loaded;
  for (const auto& [name, value] : file.items()) {
    std::string reason;
    if (!value.is_number()) {
      reason = "'" + name + "' is not a number";
    } else if (checkSetting(name, value.get<double>(), &reason)) {
      std::optional<double>& slot = name == "sensitivity"  ? loaded.sensitivity
                                    : name == "adaptivity" ? loaded.adaptivity
                                                           : loaded.mindensity;
      slot = value.get<double>();
      continue;
    }
    *error = where + reason;
    return false;
  }
  *settings = loaded;
  return true;
}

bool saveSettings(const std::string& path, const Settings& settings, std::string* error) {
  Settings existing;
  std::string ignored;
  if (std::filesystem::exists(path) && !loadSettings(path, &existing, &ignored)) {
    *error = path + " exists and is not a settings file; it is left as it is";
    return false;
  }
  nlohmann::json file = nlohmann::json::object();
  if (settings.sensitivity) file["sensitivity"] = tidy(*settings.sensitivity);
  if (settings.mindensity) file["mindensity"] = static_cast<std::int64_t>(*settings.mindensity);
  if (settings.adaptivity) file["adaptivity"] = tidy(*settings.adaptivity);
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << file.dump(2) << "\n";
    out.close();
    if (!out) {
      std::error_code ignoredFailure;
      std::filesystem::remove(temporary, ignoredFailure);
      *error = temporary + ": cannot write";
      return false;
    }
  }
  std::error_code failure;
  std::filesystem::rename(temporary, path, failure);
  if (failure) {
    *error = path + ": cannot replace (" + failure.message() + ")";
    std::filesystem::remove(temporary, failure);
    return false;
  }
  return true;
}

std::string settingsCommandLine(const Settings& settings) {
  std::string line;
  auto add = [&line](const char* option, const std::optional<double>& value) {
    if (value) line += std::string(line.empty() ? "" : " ") + option + " " + numberText(*value);
  };
  add("--sensitivity", settings.sensitivity);
  add("--mindensity", settings.mindensity);
  add("--adaptivity", settings.adaptivity);
  return line;
}

}  // namespace kinetiscan::play
