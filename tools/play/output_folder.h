// The results folder. Everything is written into a private staging folder inside it and moved
// into place only when the run has succeeded, so a failed or interrupted run leaves no
// half-written file that looks like a result.
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

  // Creates the folder if needed, and the staging folder in it.
  bool open(const std::string& folder, std::string* error);
  // Where to write a result of this name while the run lasts.
  std::string staged(const std::string& name);
  // Removes the results of an earlier run, then moves every staged file into the folder.
  bool commit(std::string* error);
  void discard();

  const std::string& folder() const { return folder_; }
  const std::vector<std::string>& names() const { return names_; }

  // Whether a file name is one that kinetiscan-play writes (and so replaces).
  static bool isResultName(const std::string& name);

 private:
  std::string folder_;
  std::string staging_;
  std::vector<std::string> names_;
};

}  // namespace kinetiscan::play
