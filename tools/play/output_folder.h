// The results folder. It belongs to kinetiscan-play: a manifest in it lists the files a run made,
// and a folder holding anything else is refused before the run starts, so no file the program
// did not make is ever replaced or deleted. A run writes into a staging folder beside it and,
// once it has succeeded, swaps the two in one rename: whatever fails, the folder holds either
// the previous results whole or the new ones whole.
#pragma once

#include <string>
#include <vector>

namespace kinetiscan::play {

class OutputFolder {
 public:
  OutputFolder() = default;
  ~OutputFolder();  // discards whatever was staged and not committed
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Checks that the folder is absent, empty or holds only earlier results, and makes the staging
  // folder beside it (creating the parent folders if needed).
  bool open(const std::string& folder, std::string* error);
  // Where to write a result of this name while the run lasts.
  std::string staged(const std::string& name);
  // Writes the manifest, then swaps the staging folder with the folder of earlier results, which
  // is then removed file by file, listed files only.
  bool commit(std::string* error);
  void discard();

  const std::string& folder() const { return folder_; }
  // The results staged so far, the manifest not included.
  const std::vector<std::string>& names() const { return names_; }

  // The manifest's name, in the results folder.
  static constexpr const char* kManifest = ".kinetiscan-play";
  // Whether a name is one kinetiscan-play writes: stage-NNNN.png, run.gif, track.csv,
  // track.jsonl, summary.txt.
  static bool isResultName(const std::string& name);

 private:
  std::string folder_;   // as given, for messages
  std::string target_;   // absolute
  std::string staging_;  // absolute, beside target_
  std::vector<std::string> names_;
};

}  // namespace kinetiscan::play
