// The three parameters a run may change while it plays (sensitivity, mindensity, adaptivity): the
// values each accepts, the window keys' steps, and the settings file that keeps them between runs
// (--settings FILE, written by the window's key).
#pragma once

#include <optional>
#include <string>

namespace kinetiscan::play {

struct Settings {
  std::optional<double> sensitivity;
  std::optional<double> adaptivity;
  std::optional<double> mindensity;  // a whole number
};

// The file the window's key writes, in the current folder.
constexpr const char* kSettingsFile = "kinetiscan-settings.json";

// True when `name` is one of the three and `value` is one it accepts; otherwise false with the
// reason ("not a finite number", "adaptivity runs from 1 to 1e9", ...).
bool checkSetting(const std::string& name, double value, std::string* reason);

// `steps` key presses from `current`: sensitivity by 0.05 and mindensity by 10 (neither below 0),
// adaptivity times or divided by 1.25 a step, within 1 to 1e9.
double steppedSetting(const std::string& name, double current, int steps);

// A settings file: a JSON object with any of the three names. False with the reason when it
// cannot be read, is not such an object, names anything else or holds a value refused above.
bool loadSettings(const std::string& path, Settings* settings, std::string* error);
// Written whole or not at all (through a file beside it, renamed over it). A file of that name
// that is not a settings file is left alone: false with the reason.
bool saveSettings(const std::string& path, const Settings& settings, std::string* error);

// The same values as options of the command line, e.g. "--sensitivity 0.55 --mindensity 100".
std::string settingsCommandLine(const Settings& settings);

}  // namespace kinetiscan::play
