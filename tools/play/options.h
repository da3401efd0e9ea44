// What kinetiscan-play is asked to do: the input, the analysis parameters, the script calls and
// where the results go, parsed from the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kinetiscan::play {

enum class InputKind { kSynthetic, kImages, kRaw, kDevice, kVideo };

// One script argument, typed by its shape: "r,g,b" a colour, "top,left,bottom,right" a rect, a
// whole number an integer, any other number a float.
struct ScriptArgument {
  enum class Kind { kInteger, kFloat, kColour, kRect } kind = Kind::kInteger;
  std::string text;  // as typed, for the logs
  double number = 0.0;
  std::int32_t parts[4] = {0, 0, 0, 0};
};

// A method called on the cast member right after the given frame has been analysed.
struct ScriptCall {
  int frame = 0;
  std::string method;
  std::vector<ScriptArgument> arguments;
  bool tracksColour = false;  // one of the four colour-tracking methods, known at parse time
};

// A seed of the built-in scene whose three discs cross and touch in the first 200 frames.
constexpr std::uint32_t kCrossingSeed = 3;

struct PlayOptions {
  InputKind input = InputKind::kSynthetic;
  std::string inputPath;  // folder, raw file, device or video ("-": standard input)
  bool loop = false;      // replay a folder, raw file or video until --frames are done

  // The built-in scene. The camera sees the empty background for `emptyFrames` frames before
  // the discs come in, so the plug-in learns the background it will compare with. With this
  // seed the three discs stay apart for the default 200 frames: each is a region of its own.
  std::uint32_t seed = 57848;
  int discs = 3;
  int noise = 3;
  int emptyFrames = 5;

  int frames = -1;  // -1: 200 for live sources, every frame for files
  // Frames during which the background is learned quickly (adaptivity warmupAdaptivity(n)),
  // after which the chosen adaptivity applies; 0: none.
  int warmup = 0;

  // Unset: the plug-in keeps its own defaults.
  std::optional<double> adaptivity;
  std::optional<double> sensitivity;
  std::optional<std::int32_t> mindensity;

  std::vector<ScriptCall> calls;

  std::string outDir = "out";
  std::vector<int> pngAt;  // frames whose stage is kept as a PNG
  bool pngLast = true;     // and the last frame
  int pngEvery = 0;        // and every n-th frame when > 0
  int gifEvery = -1;  // every n-th frame goes into run.gif; 0: no GIF; -1: 1, or 0 for a webcam

  int rateMs = -1;  // pause between frames; -1: the preview rate the plug-in asks the driver for
  bool quiet = false;
  bool jsonlToStdout = false;  // --jsonl -: each frame's record on standard output as it is done
  bool show = false;           // --show: a live window

  // Live outputs over UDP: --osc HOST:PORT (repeatable), --tuio HOST[:PORT].
  struct UdpAddress {
    std::string host, port;
  };
  std::vector<UdpAddress> oscTargets;
  std::optional<UdpAddress> tuio;

  // Recording, streams and the mask.
  std::string recordPath;   // --record FILE: the source's frames as --raw reads them; empty: none
  bool rawTopDown = false;  // --raw-order top-down: the raw frames' first row is the top one
  std::string maskPath;     // --mask FILE: a PNG whose black pixels the plug-in never sees

  // The control room: --osc-in PORT (0: none) takes OSC commands; --settings FILE gave the
  // parameters above that the command line left unset.
  int oscInPort = 0;
  std::string settingsPath;
};

struct ParseOutcome {
  std::optional<PlayOptions> options;  // set when the program should run
  int exitCode = 0;                    // otherwise: 0 after --help, 2 for a bad command line
  std::string message;                 // help text or the error, for the user
  std::vector<std::string> warnings;   // for standard error before a run: a setting finds nothing
};

ParseOutcome parseOptions(int argc, const char* const* argv);

// The frame count a run will use when none was given.
int effectiveFrames(const PlayOptions& options);

// Parses one script argument; false with the reason in `error` when its shape is unknown.
// The adaptivity of a warm-up of n frames: the background then averages about the last n/4
// frames, so a ghost fades in n/6 to n/3 frames (more for more contrast, n/2 at most at the
// default sensitivity): whoever leaves by frame n/2 is forgotten by its end; whoever is still
// there at its end stays a ghost at the chosen adaptivity.
double warmupAdaptivity(int frames);

bool parseScriptArgument(const std::string& text, ScriptArgument* out, std::string* error);

}  // namespace kinetiscan::play
