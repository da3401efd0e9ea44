// Command line of kinetiscan-play, through CLI11.
#include "options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "live_settings.h"
#include "osc_sender.h"
#include "script_methods.h"
#include "suggestions.h"
#include "tuio_sink.h"

namespace kinetiscan::play {
namespace {

bool parseInteger(const std::string& text, std::int64_t* out) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, *out);
  return error == std::errc() && stop == end && !text.empty();
}

bool parseNumber(const std::string& text, double* out) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, *out);
  return error == std::errc() && stop == end && !text.empty() && std::isfinite(*out);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

// Text for a message: bytes outside printable ASCII as \xNN.
std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

// "--at FRAME METHOD [ARG...]", also accepted as one quoted word.
bool parseCall(std::vector<std::string> words, ScriptCall* call, std::string* error) {
  if (words.size() == 1) {
    std::istringstream in(words[0]);
    words.clear();
    for (std::string word; in >> word;) words.push_back(word);
  }
  if (words.size() < 2) {
    *error = "--at needs a frame and a method, e.g. --at 30 adapt";
    return false;
  }
  std::int64_t frame = 0;
  if (!parseInteger(words[0], &frame) || frame < 0 || frame > 1000000000) {
    *error = "--at: '" + words[0] + "' is not a frame number";
    return false;
  }
  call->frame = static_cast<int>(frame);
  call->method = words[1];
  for (std::size_t i = 2; i < words.size(); ++i) {
    ScriptArgument argument;
    if (!parseScriptArgument(words[i], &argument, error)) {
      *error = "--at " + words[0] + " " + words[1] + ": " + *error;
      return false;
    }
    call->arguments.push_back(argument);
  }
  const std::string where = "--at " + std::to_string(call->frame) + " " + printable(call->method);
  return checkMethod(*call, where, error);
}

// Results written into the images folder would be played by the next run.
bool outsideInput(const std::string& out, const std::string& images) {
  namespace fs = std::filesystem;
  std::error_code failure;
  const fs::path in = fs::weakly_canonical(fs::absolute(images, failure), failure);
  if (failure) return true;  // the input's own error is reported when it is opened
  const fs::path results = fs::weakly_canonical(fs::absolute(out, failure), failure);
  if (failure) return true;
  const fs::path relative = results.lexically_relative(in);
  return relative.empty() || *relative.begin() == "..";
}

bool parsePngList(const std::string& text, PlayOptions* options, std::string* error) {
  options->pngAt.clear();
  options->pngLast = false;
  if (text == "none") return true;
  for (const std::string& item : split(text, ',')) {
    std::int64_t frame = 0;
    if (item == "last") {
      options->pngLast = true;
    } else if (parseInteger(item, &frame) && frame >= 0 && frame <= 1000000000) {
      options->pngAt.push_back(static_cast<int>(frame));
    } else {
      *error = "--png-at: '" + item + "' is neither a frame number nor 'last'";
      return false;
    }
  }
  return true;
}

// CLI11's message, with the nearest known option for each unknown one that is close to it.
std::string unknownOptionMessage(const CLI::App& app, const CLI::ExtrasError& error) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) names.push_back(name);
  }
  std::string message = error.what();
  for (const std::string& word : app.remaining()) {
    const std::size_t start = word.find_first_not_of('-');
    if (start == 0 || start == std::string::npos) continue;  // a stray value, or dashes alone
    const std::string nearest = nearestName(word.substr(start, word.find('=') - start), names);
    if (!nearest.empty()) message += "\n" + printable(word) + ": did you mean --" + nearest + "?";
  }
  return message;
}

// A pixel moves when its blue, green and red differences, 0..1 each, sum to more than the
// sensitivity as the plug-in keeps it, in single precision; the sum is 3 at most.
std::string sensitivityWarning(double sensitivity, const std::string& typed) {
  if (sensitivity < 3.0 && static_cast<float>(sensitivity) < 3.0f) return "";
  const char* rounded = sensitivity < 3.0 ? " (3 in single precision)" : "";
  return "kinetiscan-play: warning: --sensitivity " + printable(typed) + rounded +
         ": a pixel moves when its blue, green and red differences (0..1 each) sum to more "
         "than this, and they sum to 3 at most: no pixel can ever move, no region will be found";
}

struct RecordFlags {
  CLI::Option* record = nullptr;
  CLI::Option* order = nullptr;
  CLI::Option* mask = nullptr;
  std::string orderText;
};

// Fills `flags` where it lies: the parser keeps a reference to its orderText.
void addRecordFlags(CLI::App& app, PlayOptions* options, RecordFlags& flags) {
  flags.record = app.add_option(
      "--record", options->recordPath,
      "FILE: also write the frames the input gives (a webcam's too) to a new raw file, frame by "
      "frame, for --raw to replay; an existing file is not overwritten");
  flags.order = app.add_option("--raw-order", flags.orderText,
                               "bottom-up (default) or top-down: the row order of --raw's "
                               "frames; ffmpeg's rawvideo bgr24 is top-down")
                    ->check(CLI::IsMember({"bottom-up", "top-down"}));
  flags.mask = app.add_option("--mask", options->maskPath,
                              "FILE: a PNG of any size, scaled to 160x120, whose black pixels "
                              "(red, green and blue all below 64) are ignored: no motion there");
}

bool checkRecordFlags(const RecordFlags& flags, PlayOptions* options, std::string* error) {
  const bool stream = options->input == InputKind::kRaw && options->inputPath == "-";
  if (flags.order->count() != 0) {
    if (options->input != InputKind::kRaw) {
      *error = "--raw-order applies to --raw only";
      return false;
    }
    options->rawTopDown = flags.orderText == "top-down";
  }
  if (stream && options->loop) {
    *error = "--loop cannot replay standard input (--raw -): a stream is read once";
    return false;
  }
  if (flags.mask->count() != 0 && options->maskPath.empty()) {
    *error = "--mask: the file name is empty";
    return false;
  }
  if (flags.record->count() == 0) return true;
  const std::string& record = options->recordPath;
  std::error_code failure;
  if (record.empty()) {
    *error = "--record: the file name is empty";
  } else if (record == "-") {
    *error = "--record: only a file is offered, not standard output";
  } else if (options->input == InputKind::kRaw && !stream &&
             std::filesystem::equivalent(record, options->inputPath, failure)) {
    *error = "--record " + printable(record) + " is the --raw input itself";
  } else if (!outsideInput(record, options->outDir)) {
    *error = "--record " + printable(record) + " is inside the results folder " +
             printable(options->outDir) + ", which each run replaces whole";
  } else {
    return true;
  }
  return false;
}

}  // namespace

bool parseScriptArgument(const std::string& text, ScriptArgument* out, std::string* error) {
  out->text = text;
  const std::vector<std::string> parts = split(text, ',');
  if (parts.size() == 3 || parts.size() == 4) {
    for (std::size_t i = 0; i < parts.size(); ++i) {
      std::int64_t value = 0;
      const bool colour = parts.size() == 3;
      if (!parseInteger(parts[i], &value) || (colour && (value < 0 || value > 255)) ||
          value < INT32_MIN || value > INT32_MAX) {
        *error = "'" + text + "' is not " +
                 (colour ? "a colour r,g,b of 0..255" : "a rect top,left,bottom,right");
        return false;
      }
      out->parts[i] = static_cast<std::int32_t>(value);
    }
    out->kind = parts.size() == 3 ? ScriptArgument::Kind::kColour : ScriptArgument::Kind::kRect;
    return true;
  }
  std::int64_t integer = 0;
  if (parts.size() == 1 && parseInteger(text, &integer) && integer >= INT32_MIN &&
      integer <= INT32_MAX) {
    out->kind = ScriptArgument::Kind::kInteger;
    out->number = static_cast<double>(integer);
    return true;
  }
  if (parts.size() == 1 && parseNumber(text, &out->number)) {
    out->kind = ScriptArgument::Kind::kFloat;
    return true;
  }
  *error = "'" + text + "' is not an integer, a float, a colour r,g,b or a rect t,l,b,r";
  return false;
}

double warmupAdaptivity(int frames) { return std::max(2.0, frames / 4.0); }

int effectiveFrames(const PlayOptions& options) {
  if (options.frames >= 0) return options.frames;
  const bool live = options.input == InputKind::kSynthetic || options.input == InputKind::kDevice;
  return live || options.loop ? 200 : -1;
}

namespace {

// What the parser writes before it is checked and moved into the options, and the options whose
// presence counts.
struct ParsedText {
  std::string images, raw, device, video, scene = "default", pngAt = "10,50,last", jsonl, tuio;
  std::vector<std::vector<std::string>> at;
  std::vector<std::string> osc;
  double adaptivity = 0, sensitivity = 0;
  std::int32_t mindensity = 0;
  CLI::Option *imagesOption = nullptr, *rawOption = nullptr, *deviceOption = nullptr,
              *videoOption = nullptr, *sceneOption = nullptr, *seedOption = nullptr;
  CLI::Option *adaptivityOption = nullptr, *sensitivityOption = nullptr,
              *mindensityOption = nullptr, *settingsOption = nullptr;
  CLI::Option *jsonlOption = nullptr, *tuioOption = nullptr;
  RecordFlags recordFlags;
};

void addInputOptions(CLI::App& app, PlayOptions& options, ParsedText& text) {
  text.imagesOption =
      app.add_option("--images", text.images,
                     "play the images of a folder in name order: PNG, JPEG or BMP files "
                     "(.png, .jpg, .jpeg, .bmp) of at most 8192 pixels a side");
  text.rawOption =
      app.add_option("--raw", text.raw,
                     "play a raw file of 160x120 BGR frames (bottom-up), or '-' standard input");
  text.deviceOption = app.add_option("--device", text.device,
                                     "use a V4L2 webcam (YUYV or MJPEG), e.g. /dev/video0");
  text.videoOption = app.add_option(
      "--video", text.video,
      "play a video file (any FFmpeg reads: MP4, MKV, AVI, ...; '-' standard input), scaled to "
      "160x120 as images are, one frame per --rate");
  text.imagesOption->excludes(text.rawOption, text.deviceOption, text.videoOption);
  text.rawOption->excludes(text.deviceOption, text.videoOption);
  text.deviceOption->excludes(text.videoOption);
  app.add_flag("--loop", options.loop,
               "replay the folder, raw file or video until --frames are done");
  app.add_option("--frames", options.frames, "frames to play (default 200; files: all)")
      ->check(CLI::Range(1, 1000000));
  text.sceneOption =
      app.add_option("--scene", text.scene,
                     "built-in scene: 'default' (the discs stay apart) or 'crossing' (they "
                     "cross and touch, for following ids through merges and splits)")
          ->check(CLI::IsMember({"default", "crossing"}));
  text.seedOption = app.add_option("--seed", options.seed,
                                   "built-in scene: seed of the disc placement and noise");
  app.add_option("--discs", options.discs, "built-in scene: number of discs")
      ->check(CLI::Range(0, 6));
  app.add_option("--noise", options.noise, "built-in scene: sensor noise amplitude")
      ->check(CLI::Range(0, 64));
  app.add_option("--empty-frames", options.emptyFrames,
                 "built-in scene: frames of empty background before the discs come in")
      ->check(CLI::Range(0, 10000));
}

void addTuningOptions(CLI::App& app, PlayOptions& options, ParsedText& text) {
  text.adaptivityOption = app.add_option(
      "--adaptivity", text.adaptivity,
      "the background moves 1/N of the way to each frame (default 1000: someone "
      "standing still fades into it in about a minute; smaller forgets faster; 1 to 1e9)");
  text.sensitivityOption = app.add_option(
      "--sensitivity", text.sensitivity,
      "motion threshold on the difference summed over blue, green and red, each 0..1 (default "
      "0.5); a higher sensitivity finds less motion");
  app.add_option("--warmup", options.warmup,
                 "learn the background quickly from the first N frames (adaptivity N/4, at "
                 "least 2), then use --adaptivity: whoever stands in the first frame and leaves "
                 "by frame N/2 leaves no ghost; whoever is still there at frame N does. "
                 "Or take an empty frame as the background with --at N adapt")
      ->check(CLI::Range(0, 1000000));
  text.mindensityOption = app.add_option("--mindensity", text.mindensity,
                                         "smallest region kept, in pixels (default 100)");
  app.add_option("--at", text.at,
                 "FRAME METHOD [ARG...]: call a script method after FRAME, e.g. --at 30 adapt, "
                 "--at 40 trackcolor 255,0,0 30, --at 50 block 10,20,60,80")
      ->expected(1, 64)
      ->allow_extra_args();
  text.settingsOption =
      app.add_option("--settings", options.settingsPath,
                     "FILE: sensitivity, mindensity and adaptivity from a settings file (as the "
                     "window's w key writes it); options given here win over the file");
}

void addFileOptions(CLI::App& app, PlayOptions& options, ParsedText& text) {
  app.add_option("--out", options.outDir,
                 "folder for the pictures, logs and summary; each run replaces it whole, so it "
                 "may hold only kinetiscan-play's results")
      ->capture_default_str();
  app.add_option("--png-at", text.pngAt, "frames kept as stage PNGs: numbers, 'last' or 'none'")
      ->capture_default_str();
  app.add_option("--png-every", options.pngEvery, "also keep every N-th frame as a PNG")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--gif-every", options.gifEvery,
                 "every N-th frame goes into run.gif; 0 writes no GIF (default 1; a webcam: 0)")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--rate", options.rateMs,
                 "milliseconds per frame; 0 as fast as the input gives frames (default: the "
                 "capture rate the plug-in asks for; a webcam keeps its own)")
      ->check(CLI::Range(0, 10000));
  app.add_flag("--quiet", options.quiet, "no progress line");
}

void addLiveOptions(CLI::App& app, PlayOptions& options, ParsedText& text) {
  text.jsonlOption = app.add_option(
      "--jsonl", text.jsonl,
      "'-': stream each frame's record (as in track.jsonl) to standard output as it is done; "
      "the summary then goes to standard error");
  app.add_option("--osc", text.osc,
                 "HOST:PORT: send each frame's regions as an OSC bundle over UDP as it is done "
                 "(addresses in the README), e.g. 127.0.0.1:9000; give it again for more "
                 "receivers")
      ->take_all();
  text.tuioOption = app.add_option(
      "--tuio", text.tuio,
      "HOST[:PORT]: send each frame's regions as TUIO 1.1 blobs (/tuio/2Dblb) over UDP, port "
      "3333 unless given");
  app.add_flag("--show", options.show,
               "show the four views live in a window, with keys for the live settings, pause "
               "and step (see the README); Escape or closing it ends the run and keeps what was "
               "recorded");
  app.add_option("--osc-in", options.oscInPort,
                 "PORT: take OSC commands on this UDP port of every interface: /kinetiscan/set "
                 "NAME VALUE, /kinetiscan/adapt, /kinetiscan/pause, /kinetiscan/step")
      ->check(CLI::Range(1, 65535));
}

// Each check below answers the reason the options cannot be taken, or nothing.
std::string takeInput(const ParsedText& text, PlayOptions& options) {
  if (text.imagesOption->count() != 0) options.input = InputKind::kImages;
  if (text.rawOption->count() != 0) options.input = InputKind::kRaw;
  if (text.deviceOption->count() != 0) options.input = InputKind::kDevice;
  if (text.videoOption->count() != 0) options.input = InputKind::kVideo;
  switch (options.input) {
    case InputKind::kImages:
      options.inputPath = text.images;
      break;
    case InputKind::kRaw:
      options.inputPath = text.raw;
      break;
    case InputKind::kDevice:
      options.inputPath = text.device;
      break;
    case InputKind::kVideo:
      options.inputPath = text.video;
      break;
    case InputKind::kSynthetic:
      return {};
  }
  return options.inputPath.empty() ? "the input path is empty" : "";
}

// Scripts may give the plug-in any number and it keeps a defined behaviour; a person typing NaN
// or a negative value here has made a mistake.
std::string takeTuning(const ParsedText& text, PlayOptions& options, ParseOutcome& outcome) {
  if (text.adaptivityOption->count() != 0) {
    // Below 1 each frame overshoots the background; above 1e9 it never moves in a lifetime (and
    // beyond a float's range the plug-in would hold infinity).
    if (!(text.adaptivity >= 1 && text.adaptivity <= 1e9)) {
      return "--adaptivity must be a number from 1 (the background is each last frame) to "
             "1e9 (it practically never moves)";
    }
    options.adaptivity = text.adaptivity;
  }
  if (text.sensitivityOption->count() != 0) {
    if (!std::isfinite(text.sensitivity) || text.sensitivity < 0) {
      return "--sensitivity must be a finite number of 0 or more";
    }
    options.sensitivity = text.sensitivity;
    const std::string warning =
        sensitivityWarning(text.sensitivity, text.sensitivityOption->results()[0]);
    if (!warning.empty()) outcome.warnings.push_back(warning);
  }
  if (text.mindensityOption->count() != 0) {
    if (text.mindensity < 0) return "--mindensity must be 0 or more";
    options.mindensity = text.mindensity;
  }
  std::string error;
  if (text.settingsOption->count() != 0) {
    Settings file;
    if (!loadSettings(options.settingsPath, &file, &error)) return error;
    if (!options.sensitivity) options.sensitivity = file.sensitivity;
    if (!options.adaptivity) options.adaptivity = file.adaptivity;
    if (!options.mindensity && file.mindensity) {
      options.mindensity = static_cast<std::int32_t>(*file.mindensity);
    }
  }
  for (const auto& words : text.at) {
    ScriptCall call;
    if (!parseCall(words, &call, &error)) return error;
    options.calls.push_back(std::move(call));
  }
  return {};
}

std::string takeLiveOutputs(const ParsedText& text, PlayOptions& options) {
  std::string error;
  if (text.jsonlOption->count() != 0) {
    if (text.jsonl != "-") {
      return "--jsonl: only '-' (standard output) is offered; track.jsonl in the results folder "
             "is written anyway";
    }
    options.jsonlToStdout = true;
  }
  for (const std::string& target : text.osc) {
    PlayOptions::UdpAddress address;
    if (!parseOscTarget(target, &address.host, &address.port, &error)) return error;
    options.oscTargets.push_back(address);
  }
  if (text.tuioOption->count() != 0) {
    PlayOptions::UdpAddress address;
    if (!parseUdpTarget("--tuio", text.tuio, kTuioDefaultPort, &address.host, &address.port,
                        &error)) {
      return error;
    }
    options.tuio = address;
  }
  return {};
}

std::string takeFiles(const ParsedText& text, PlayOptions& options) {
  if (options.gifEvery < 0) options.gifEvery = options.input == InputKind::kDevice ? 0 : 1;
  // The crossing scene is a seed whose discs cross and touch within the default 200 frames.
  if (text.sceneOption->count() != 0 && text.scene == "crossing" && text.seedOption->count() == 0) {
    options.seed = kCrossingSeed;
  }
  std::string error;
  if (!parsePngList(text.pngAt, &options, &error)) return error;
  if (!checkRecordFlags(text.recordFlags, &options, &error)) return error;
  if (options.outDir.empty()) return "--out: the folder name is empty";
  if (options.input == InputKind::kImages && !outsideInput(options.outDir, options.inputPath)) {
    return "--out " + options.outDir +
           " is the --images folder or inside it; the next run would play its results";
  }
  return {};
}

}  // namespace

ParseOutcome parseOptions(int argc, const char* const* argv) {
  PlayOptions options;
  CLI::App app{
      "kinetiscan-play: loads libkinetiscan.so as a host does, feeds it camera frames and shows "
      "what the motion sensor sees. Without arguments it plays the built-in scene."};
  app.name("kinetiscan-play");
  app.get_formatter()->column_width(34);
  app.footer(methodsHelp());
  ParsedText text;
  addInputOptions(app, options, text);
  addTuningOptions(app, options, text);
  addFileOptions(app, options, text);
  addLiveOptions(app, options, text);
  addRecordFlags(app, &options, text.recordFlags);

  ParseOutcome outcome;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    outcome.message = app.help();
    return outcome;
  } catch (const CLI::ParseError& error) {
    outcome.exitCode = 2;
    const auto* extras = dynamic_cast<const CLI::ExtrasError*>(&error);
    outcome.message = extras != nullptr ? unknownOptionMessage(app, *extras) : error.what();
    outcome.message += "\nRun with --help for the options.";
    return outcome;
  }
  // In this order, the first that fails: later checks read what earlier ones took.
  std::string error = takeInput(text, options);
  if (error.empty()) error = takeTuning(text, options, outcome);
  if (error.empty()) error = takeLiveOutputs(text, options);
  if (error.empty()) error = takeFiles(text, options);
  if (!error.empty()) {
    outcome.exitCode = 2;
    outcome.message = std::move(error);
    return outcome;
  }
  outcome.options = std::move(options);
  return outcome;
}

}  // namespace kinetiscan::play
