// Staging and publishing the results.
#include "output_folder.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kinetiscan::play {

namespace fs = std::filesystem;

namespace {

// The names a results folder's manifest lists. Folders of versions that wrote no manifest are
// recognised by their summary.txt, whose "outputs in" line names the files of that run.
bool listedResults(const fs::path& folder, std::vector<std::string>* listed) {
  std::error_code failure;
  const fs::path manifestPath = folder / OutputFolder::kManifest;
  if (fs::is_regular_file(fs::symlink_status(manifestPath, failure))) {
    std::ifstream manifest(manifestPath);
    std::string line;
    std::getline(manifest, line);  // the title
    while (std::getline(manifest, line)) listed->push_back(line);
    listed->push_back(OutputFolder::kManifest);
    return true;
  }
  const fs::path summaryPath = folder / "summary.txt";
  if (!fs::is_regular_file(fs::symlink_status(summaryPath, failure)) ||
      fs::file_size(summaryPath, failure) > (1u << 20)) {
    return false;
  }
  std::ifstream summary(summaryPath);
  for (std::string line; std::getline(summary, line);) {
    if (line.rfind("  outputs in ", 0) != 0 || line.rfind(':') == std::string::npos) continue;
    std::istringstream names(line.substr(line.rfind(':') + 1));
    for (std::string name; names >> name;) {
      if (OutputFolder::isResultName(name)) listed->push_back(name);
    }
    return std::find(listed->begin(), listed->end(), "summary.txt") != listed->end();
  }
  return false;
}

// The files of a results folder that kinetiscan-play made; false with the offending names in
// `foreign` when it holds anything else, or anything at all without a list of what it made.
bool ownedFiles(const fs::path& folder, std::vector<std::string>* owned,
                std::vector<std::string>* foreign, std::string* error) {
  std::vector<std::string> listed;
  listedResults(folder, &listed);
  std::error_code failure;
  fs::directory_iterator entries(folder, failure);
  for (; !failure && entries != fs::directory_iterator(); entries.increment(failure)) {
    const std::string name = entries->path().filename().string();
    std::error_code status;
    const bool regular = entries->is_regular_file(status) && !entries->is_symlink(status);
    const bool known = std::find(listed.begin(), listed.end(), name) != listed.end();
    if (regular && !status && known) {
      owned->push_back(name);
    } else {
      foreign->push_back(name);
    }
  }
  if (failure) {
    *error = failure.message();
    return false;
  }
  return foreign->empty();
}

std::string listOf(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < 5; ++i) text += (i == 0 ? "" : ", ") + names[i];
  if (names.size() > 5) text += ", ...";
  return text;
}

// Exchanges two paths atomically; where the file system cannot, moves the old one aside first
// and puts it back if the second move fails.
bool exchange(const fs::path& staging, const fs::path& target, std::string* error) {
  if (renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    *error = std::strerror(errno);
    return false;
  }
  const fs::path aside = staging.string() + "-old";
  if (rename(target.c_str(), aside.c_str()) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  if (rename(staging.c_str(), target.c_str()) != 0) {
    *error = std::strerror(errno);
    rename(aside.c_str(), target.c_str());
    return false;
  }
  return rename(aside.c_str(), staging.c_str()) == 0;
}

}  // namespace

OutputFolder::~OutputFolder() { discard(); }

bool OutputFolder::isResultName(const std::string& name) {
  if (name == "run.gif" || name == "track.csv" || name == "track.jsonl" || name == "summary.txt" ||
      name == "regions.csv") {
    return true;
  }
  if (name.size() < 14 || name.rfind("stage-", 0) != 0 ||
      name.compare(name.size() - 4, 4, ".png") != 0) {
    return false;
  }
  return std::all_of(name.begin() + 6, name.end() - 4, [](char c) { return c >= '0' && c <= '9'; });
}

bool OutputFolder::open(const std::string& folder, std::string* error) {
  std::error_code failure;
  fs::path target = fs::absolute(folder, failure).lexically_normal();
  if (!target.has_filename()) target = target.parent_path();  // "out/" and "out/."
  const fs::path parent = target.parent_path();
  if (failure || target.filename() == ".." || target == target.root_path()) {
    *error = folder + ": not a folder the results can be swapped into; name a subfolder";
    return false;
  }
  fs::create_directories(parent, failure);
  if (failure) {
    *error = folder + ": cannot create the folders above it (" + failure.message() + ")";
    return false;
  }
  const fs::file_status status = fs::symlink_status(target, failure);
  if (fs::is_symlink(status)) {
    *error = folder + ": a symbolic link; name the results folder itself";
    return false;
  }
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) {
      *error = folder + ": exists and is not a folder";
      return false;
    }
    std::vector<std::string> owned, foreign;
    std::string why;
    if (!ownedFiles(target, &owned, &foreign, &why)) {
      *error = why.empty()
                   ? folder + ": holds what kinetiscan-play did not make (" + listOf(foreign) +
                         "); name a new folder, or one only kinetiscan-play writes to"
                   : folder + ": cannot read the folder (" + why + ")";
      return false;
    }
  }
  std::string pattern = (parent / ("." + target.filename().string() + ".kinetiscan-play-XXXXXX"));
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = folder + ": cannot write beside the results folder (" + std::strerror(errno) + ")";
    return false;
  }
  folder_ = folder;
  target_ = target.string();
  staging_ = pattern;
  return true;
}

std::string OutputFolder::staged(const std::string& name) {
  if (std::find(names_.begin(), names_.end(), name) == names_.end()) names_.push_back(name);
  return (fs::path(staging_) / name).string();
}

bool OutputFolder::commit(std::string* error) {
  {
    std::ofstream manifest(fs::path(staging_) / kManifest);
    manifest << "kinetiscan-play results: the files below were made by it and are replaced by "
                "its next run here\n";
    for (const std::string& name : names_) manifest << name << "\n";
    manifest.close();
    if (!manifest) {
      *error = folder_ + ": cannot write the list of results";
      return false;
    }
  }
  std::error_code failure;
  const fs::file_status status = fs::symlink_status(target_, failure);
  if (!fs::exists(status)) {
    if (renameat2(AT_FDCWD, staging_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
      *error = folder_ + ": cannot move the results into place (" + std::strerror(errno) + ")";
      return false;
    }
    staging_.clear();
    return true;
  }
  // The folder was checked when the run began; someone may have written to it since.
  std::vector<std::string> owned, foreign;
  std::string why;
  if (!fs::is_directory(status) || fs::is_symlink(status) ||
      !ownedFiles(target_, &owned, &foreign, &why)) {
    *error = folder_ + ": changed during the run and now holds what kinetiscan-play did not make" +
             (foreign.empty() ? "" : " (" + listOf(foreign) + ")") +
             "; the earlier results are left as they were and the new ones discarded";
    return false;
  }
  if (!exchange(staging_, target_, &why)) {
    *error = folder_ + ": cannot swap in the new results (" + why +
             "); the earlier results are left as they were";
    return false;
  }
  // The staging path now holds the earlier results: remove the files known to be ours, then the
  // folder if nothing else appeared in it meanwhile.
  for (const std::string& name : owned) fs::remove(fs::path(staging_) / name, failure);
  fs::remove(staging_, failure);
  staging_.clear();
  return true;
}

void OutputFolder::discard() {
  if (staging_.empty()) return;
  std::error_code failure;
  fs::remove_all(staging_, failure);
  staging_.clear();
}

}  // namespace kinetiscan::play
