// The outputs of a run, each one sink: the track logs, the stage PNGs, the GIF, JSON Lines on
// standard output, OSC and the window. The run hands every sink each frame in turn and closes
// them at the end; a new output is one new sink and one line where the sinks are made.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "options.h"
#include "picture_writers.h"
#include "stage_labels.h"
#include "summary.h"
#include "track_log.h"

namespace kinetiscan::play {

class LiveWindow;
class OutputFolder;

// What each output gets of a frame.
struct FrameOutput {
  const FrameRecord& record;
  const Picture& stage;       // the four views as drawn, without the bands
  const Picture& labelled;    // the stage between its bands, as the PNGs show it
  const StageLabels& labels;  // what the bands say, for outputs that add to them
  double seconds;             // since the run began
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // False with the reason when the run cannot go on (a result file that cannot be written).
  virtual bool add(const FrameOutput& frame, std::string* error) = 0;
  // After the last frame, `last`: finishes what the sink writes and adds its figures.
  virtual bool close(const FrameOutput& last, RunFigures* figures, std::string* error) {
    (void)last, (void)figures, (void)error;
    return true;
  }
  // A live output that can take no more frames (a stream downstream that failed): why. The run
  // then ends after the frame, keeping the results.
  virtual std::string failure() const { return {}; }
};

// Where the sinks come from: the options, the results folder they write into, the pause between
// frames (for the GIF's timing) and the window when there is one (opened before anything else).
struct SinkSetting {
  const PlayOptions& options;
  OutputFolder& folder;
  int rateMs;
  LiveWindow* window;
  std::ostream& out;  // standard output, for --jsonl -
  std::ostream& err;  // for notes
};

// The sinks in the order they get each frame; false with the reason when one cannot be opened.
bool makeSinks(const SinkSetting& setting, std::vector<std::unique_ptr<FrameSink>>* sinks,
               std::string* error);

}  // namespace kinetiscan::play
