// The results folder. It belongs to kinetiscan-play: a manifest in it lists the files a run made,
// and a folder holding anything else is refused before the run starts, so no file the program
// did not make is ever replaced or deleted. A run writes into a staging folder beside it and,
// once it has succeeded, swaps the two in one rename: whatever fails, the folder holds either
// the previous results whole or the new ones whole. Where the folder cannot be swapped (a mount
// point, the current folder, a file system without the exchange) the files are replaced one by
// one instead, each in one rename; should that fail too, the staging folder is kept and named.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

namespace kinetiscan::play {

class OutputFolder {
 public:
  // The calls that put a finished run in place, replaceable so that tests can make them fail as
  // a mount point or another file system does. Each returns 0, or -1 with errno set.
  struct Calls {
    int (*exchange)(const char* staging, const char* target);  // swaps two paths in one step
    int (*moveNew)(const char* staging, const char* target);   // renames, never over anything
    int (*link)(const char* from, const char* to);             // a second name for a file
  };
  static Calls systemCalls();

  OutputFolder() = default;
  ~OutputFolder();  // discards whatever was staged and not committed
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  void setCalls(const Calls& calls) { calls_ = calls; }
  // Checks that the folder is absent, empty or holds only earlier results, clears what runs into
  // it that were killed left beside it, and makes the staging folder there (creating the parent
  // folders if needed).
  bool open(const std::string& folder, std::string* error);
  // Where to write a result of this name while the run lasts.
  std::string staged(const std::string& name);
  // Writes the manifest and puts the new results in place of the earlier ones, of which only the
  // listed files are removed. On failure the error says where the new results are.
  bool commit(std::string* error);
  void discard();

  const std::string& folder() const { return folder_; }
  // The results staged so far, the manifest not included.
  const std::vector<std::string>& names() const { return names_; }

  // The manifest's name, in the results folder.
  static constexpr const char* kManifest = ".kinetiscan-play";
  // Whether a name is one kinetiscan-play writes: stage-NNNN.png, run.gif, track.csv,
  // track.jsonl, regions.csv, summary.txt.
  static bool isResultName(const std::string& name);

 private:
  bool swapWhole(const std::vector<std::string>& owned);
  bool replaceFiles(const std::vector<std::string>& owned, std::string* why);
  bool putIn(const std::string& name, std::string* why);
  std::string keepStaging();
  void releaseStaging();

  std::string folder_;   // as given, for messages
  std::string target_;   // absolute
  std::string staging_;  // absolute, beside target_
  std::vector<std::string> names_;
  std::unordered_set<std::string> named_;  // names_, for lookups
  int lock_ = -1;                          // held on the staging folder's lock file
  Calls calls_ = systemCalls();
};

}  // namespace kinetiscan::play
