// Staging and publishing the results.
#include "output_folder.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>

namespace kinetiscan::play {

namespace fs = std::filesystem;

OutputFolder::~OutputFolder() { discard(); }

bool OutputFolder::isResultName(const std::string& name) {
  if (name == "run.gif" || name == "track.csv" || name == "track.jsonl" || name == "summary.txt") {
    return true;
  }
  return name.size() > 10 && name.rfind("stage-", 0) == 0 &&
         name.compare(name.size() - 4, 4, ".png") == 0;
}

bool OutputFolder::open(const std::string& folder, std::string* error) {
  std::error_code failure;
  fs::create_directories(folder, failure);
  if (failure || !fs::is_directory(folder, failure)) {
    *error = folder + ": cannot create the output folder" +
             (failure ? " (" + failure.message() + ")" : "");
    return false;
  }
  folder_ = folder;
  std::string pattern = (fs::path(folder) / ".kinetiscan-play-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = folder + ": cannot write in the output folder";
    return false;
  }
  staging_ = pattern;
  return true;
}

std::string OutputFolder::staged(const std::string& name) {
  if (std::find(names_.begin(), names_.end(), name) == names_.end()) names_.push_back(name);
  return (fs::path(staging_) / name).string();
}

bool OutputFolder::commit(std::string* error) {
  std::error_code failure;
  for (const auto& entry : fs::directory_iterator(folder_, failure)) {
    if (entry.is_regular_file() && isResultName(entry.path().filename().string())) {
      fs::remove(entry.path(), failure);
    }
  }
  for (const std::string& name : names_) {
    fs::rename(fs::path(staging_) / name, fs::path(folder_) / name, failure);
    if (failure) {
      *error = folder_ + "/" + name + ": cannot move into place (" + failure.message() + ")";
      return false;
    }
  }
  discard();
  return true;
}

void OutputFolder::discard() {
  if (staging_.empty()) return;
  std::error_code failure;
  fs::remove_all(staging_, failure);
  staging_.clear();
}

}  // namespace kinetiscan::play
