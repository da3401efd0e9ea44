// The summary printed at the end of a run and kept as summary.txt.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "accuracy.h"
#include "plugin_session.h"

namespace kinetiscan::play {

struct RunFigures {
  std::string input;
  MemberFacts facts;
  int frames = 0;
  std::string stoppedBy;      // the signal or the window that ended the run early, if one did
  std::string inputFailure;   // why the input gave no more frames before its end, if it did
  std::string outputFailure;  // the live stream that failed and ended the run, if one did
  std::string inputNote;      // what the input said about its frames, such as their scaling
  std::string osc;            // what was sent over OSC, if anything
  std::string tuio;           // and over TUIO
  int warmup = 0;
  int rateMs = 0;  // pause between frames; 0 ran as fast as possible
  long regionsTotal = 0;
  int regionsMin = 0;
  int regionsMax = 0;
  double timeTotalMs = 0;  // delivery and analysis, script reads and calls, drawing
  double timeMaxMs = 0;
  std::optional<AccuracyTally> accuracy;  // the built-in scene only
  int callsMade = 0;
  int callsNotReached = 0;  // asked for frames the run did not reach
  std::string folder;
  std::vector<std::string> outputs;
  // Made while the run played, from the window's keys or OSC: "sensitivity 0.5 -> 0.55 at frame
  // 40 by key", "adapt at frame 52 by OSC".
  std::vector<std::string> liveChanges;
  int pauses = 0, steps = 0;

  void addFrame(int regions, double milliseconds);
};

std::string summaryText(const RunFigures& figures);

// A name or message fit for one line of a terminal or a summary: control characters (a newline,
// an escape sequence in a file name) written as \n, \t or \xHH, and a backslash as \\.
std::string printable(const std::string& text);

}  // namespace kinetiscan::play
