// Formatting the run's summary.
#include "summary.h"

#include <algorithm>
#include <cstdio>

namespace kinetiscan::play {
namespace {

template <class... Args>
std::string format(const char* pattern, Args... args) {
  char line[512];
  std::snprintf(line, sizeof line, pattern, args...);
  return line;
}

double percent(int part, int whole) { return whole == 0 ? 100.0 : 100.0 * part / whole; }

}  // namespace

std::string printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      shown += "\\\\";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      shown += format("\\x%02x", byte);
    } else {
      shown += c;
    }
  }
  return shown;
}

void RunFigures::addFrame(int regions, double milliseconds) {
  regionsMin = frames == 0 ? regions : std::min(regionsMin, regions);
  regionsMax = frames == 0 ? regions : std::max(regionsMax, regions);
  regionsTotal += regions;
  timeTotalMs += milliseconds;
  timeMaxMs = std::max(timeMaxMs, milliseconds);
  ++frames;
}

namespace {

// How the run went: its input, parameters and frames, and why it ended where it did.
std::string runLines(const RunFigures& f) {
  std::string text = "  input:       " + printable(f.input) + "\n";
  if (!f.inputNote.empty()) text += "  input note:  " + printable(f.inputNote) + "\n";
  text += "  plug-in:     registered as \"" + f.facts.registeredSymbol + "\", version \"" +
          f.facts.version + "\"\n";
  text += format("  parameters:  adaptivity %g, sensitivity %g, mindensity %d\n",
                 f.facts.adaptivity, f.facts.sensitivity, f.facts.mindensity);
  text += format("  frames:      %d", f.frames);
  text += f.rateMs > 0 ? format(", one every %d ms\n", f.rateMs)
                       : std::string(", as fast as the input gave them\n");
  if (f.warmup > 0 && f.frames > 0) {
    const bool cut = f.frames < f.warmup;
    text += format("  warm-up:     frames 0 to %d learned the background at adaptivity %g%s\n",
                   std::min(f.warmup, f.frames) - 1, warmupAdaptivity(f.warmup),
                   cut ? " (the run ended within the warm-up)" : "");
  }
  if (!f.stoppedBy.empty()) {
    text += format("  stopped:     at frame %d by %s; what was recorded up to it is kept\n",
                   f.frames - 1, printable(f.stoppedBy).c_str());
  }
  if (!f.inputFailure.empty()) {
    text += format("  input failed: after frame %d: %s; what was recorded up to it is kept\n",
                   f.frames - 1, printable(f.inputFailure).c_str());
  }
  if (!f.outputFailure.empty()) {
    text += format(
        "  output failed: after frame %d: %s; the run stopped there, what was recorded "
        "up to it is kept\n",
        f.frames - 1, printable(f.outputFailure).c_str());
  }
  return text;
}

// The built-in scene's ground truth against what the plug-in found.
std::string trackingLines(const AccuracyTally& a) {
  if (a.frames() == 0) {
    return format("  tracking:    not judged: the run is not longer than %d frames\n",
                  kSettleFrames);
  }
  std::string text = format("  tracking:    frames %d to %d against the scene's ground truth\n",
                            kSettleFrames, kSettleFrames + a.frames() - 1);
  text += format(
      "    discs found:   %d of %d present (%.1f%%), every disc found in %d of %d "
      "frames\n",
      a.found(), a.present(), percent(a.found(), a.present()), a.framesAllFound(), a.frames());
  text += format("    centre error:  %.3f px on average, %.3f px at most\n", a.meanError(),
                 a.maxError());
  text += format("    other regions: %d (centres matching no disc)\n", a.unmatched());
  std::string perDisc;
  for (std::size_t i = 0; i < a.idSwitchesPerDisc().size(); ++i) {
    perDisc += format("%sdisc %zu: %d/%d", i == 0 ? "" : ", ", i + 1, a.idSwitchesPerDisc()[i],
                      a.fragmentationsPerDisc()[i]);
  }
  text += format("    region ids:    %d id switches, %d fragmentations (%s)\n", a.idSwitches(),
                 a.fragmentations(), perDisc.c_str());
  if (a.touching() > 0) {
    text += format("    not judged:    %d discs touching another (one region by design)\n",
                   a.touching());
  }
  return text;
}

// What scripts, the controls and the live outputs did, and where the results are.
std::string controlLines(const RunFigures& f) {
  std::string text = format("  script calls: %d made", f.callsMade);
  text += f.callsNotReached > 0
              ? format(", %d not made (their frame was not reached)\n", f.callsNotReached)
              : std::string("\n");
  if (!f.liveChanges.empty()) {
    text += format("  live changes: %zu (", f.liveChanges.size());
    const std::size_t listed = std::min<std::size_t>(f.liveChanges.size(), 10);
    for (std::size_t i = 0; i < listed; ++i) {
      text += (i == 0 ? "" : ", ") + printable(f.liveChanges[i]);
    }
    if (listed < f.liveChanges.size()) text += format(", %zu more", f.liveChanges.size() - listed);
    text += ")\n";
  }
  if (f.pauses > 0 || f.steps > 0) {
    text += format("  paused:      %d times, %d single frames played while paused\n", f.pauses,
                   f.steps);
  }
  if (!f.osc.empty()) text += "  OSC:         " + printable(f.osc) + "\n";
  if (!f.tuio.empty()) text += "  TUIO:        " + printable(f.tuio) + "\n";
  text += "  outputs in " + printable(f.folder) + ":";
  for (const std::string& name : f.outputs) text += " " + printable(name);
  return text + "\n";
}

}  // namespace

std::string summaryText(const RunFigures& f) {
  std::string text = "kinetiscan-play summary\n" + runLines(f);
  const double frames = f.frames == 0 ? 1.0 : f.frames;
  text += format("  regions:     %.2f per frame on average (min %d, max %d)\n",
                 f.regionsTotal / frames, f.regionsMin, f.regionsMax);
  text += format("  time:        %.3f ms per frame on average, %.3f ms at most\n",
                 f.timeTotalMs / frames, f.timeMaxMs);
  text += "               (delivery and analysis, script reads and calls, drawing four sprites)\n";
  if (f.accuracy) text += trackingLines(*f.accuracy);
  return text + controlLines(f);
}

}  // namespace kinetiscan::play
