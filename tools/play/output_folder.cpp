// Staging and publishing the results.
#include "output_folder.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
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

using NameSet = std::unordered_set<std::string>;

// Files of ours that only a run killed at the wrong moment leaves in a results folder: the lock
// that marks a folder as a live run's, and a file on its way in.
constexpr const char* kLock = ".kinetiscan-play-lock";
constexpr const char* kIncoming = ".kinetiscan-play-incoming";
// The manifest is a file in a user's folder: what it may make us read is bounded. 16 MiB lists
// some 800,000 stage pictures, more than a run keeps.
constexpr std::uintmax_t kMaxManifestBytes = std::uintmax_t{16} << 20;

bool isOurs(const std::string& name) {
  return OutputFolder::isResultName(name) || name == OutputFolder::kManifest || name == kLock ||
         name == kIncoming;
}

std::string errnoText() { return std::strerror(errno); }

// The names a results folder's manifest lists, of those kinetiscan-play writes. Folders of
// versions that wrote no manifest are recognised by their summary.txt, whose "outputs in" line
// names the files of that run. False with `error` set when the manifest is past the bound.
bool listedResults(const fs::path& folder, NameSet* listed, std::string* error) {
  std::error_code failure;
  const fs::path manifestPath = folder / OutputFolder::kManifest;
  if (fs::is_regular_file(fs::symlink_status(manifestPath, failure))) {
    if (fs::file_size(manifestPath, failure) > kMaxManifestBytes) {
      *error = std::string("its list of results, ") + OutputFolder::kManifest + ", is over " +
               std::to_string(kMaxManifestBytes >> 20) + " MiB: not one kinetiscan-play wrote";
      return false;
    }
    std::ifstream manifest(manifestPath);
    std::string line;
    std::getline(manifest, line);  // the title
    while (std::getline(manifest, line)) {
      if (OutputFolder::isResultName(line)) listed->insert(line);
    }
    listed->insert(OutputFolder::kManifest);
    return true;
  }
  const fs::path summaryPath = folder / "summary.txt";
  if (!fs::is_regular_file(fs::symlink_status(summaryPath, failure)) ||
      fs::file_size(summaryPath, failure) > (1u << 20)) {
    return true;
  }
  std::ifstream summary(summaryPath);
  for (std::string line; std::getline(summary, line);) {
    if (line.rfind("  outputs in ", 0) != 0 || line.rfind(':') == std::string::npos) continue;
    NameSet names;
    std::istringstream words(line.substr(line.rfind(':') + 1));
    for (std::string name; words >> name;) {
      if (OutputFolder::isResultName(name)) names.insert(name);
    }
    if (names.count("summary.txt") != 0) *listed = std::move(names);
    break;
  }
  return true;
}

// The files of a results folder that kinetiscan-play made; false with the offending names in
// `foreign` when it holds anything else, or anything at all without a list of what it made, and
// with `error` set when the folder cannot be read.
bool ownedFiles(const fs::path& folder, std::vector<std::string>* owned,
                std::vector<std::string>* foreign, std::string* error) {
  NameSet listed;
  if (!listedResults(folder, &listed, error)) return false;
  std::error_code failure;
  fs::directory_iterator entries(folder, failure);
  for (; !failure && entries != fs::directory_iterator(); entries.increment(failure)) {
    const std::string name = entries->path().filename().string();
    std::error_code status;
    const bool regular = entries->is_regular_file(status) && !entries->is_symlink(status);
    const bool known = listed.count(name) != 0 || name == kLock || name == kIncoming;
    (regular && !status && known ? owned : foreign)->push_back(name);
  }
  if (failure) {
    *error = "cannot read the folder (" + failure.message() + ")";
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

// Opens and locks a lock file; -1 when it is absent or another process holds it. The lock lasts
// while the descriptor is open, so it ends with the process however that ends, and a pid reused
// since cannot fake it.
int takeLock(const std::string& path, bool create) {
  const int file =
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0600);
  if (file < 0) return -1;
  if (flock(file, LOCK_EX | LOCK_NB) != 0) {
    ::close(file);
    return -1;
  }
  return file;
}

// Removes the files of the kinds kinetiscan-play makes from a folder of its own, then the folder
// if nothing else is left in it.
void removeOurFiles(const fs::path& folder) {
  std::vector<fs::path> ours;
  std::error_code failure;
  fs::directory_iterator entries(folder, failure);
  for (; !failure && entries != fs::directory_iterator(); entries.increment(failure)) {
    std::error_code status;
    if (entries->is_regular_file(status) && !entries->is_symlink(status) &&
        isOurs(entries->path().filename().string())) {
      ours.push_back(entries->path());
    }
  }
  for (const fs::path& path : ours) fs::remove(path, failure);
  ::rmdir(folder.c_str());
}

// The staging folders of runs into the same folder that were killed: named as ours, holding our
// lock file, and that lock free because its process is gone. A folder without the lock file, or
// whose lock a live run holds, is left alone, and so is anything but our files in them.
void removeStaleStaging(const fs::path& parent, const std::string& name) {
  const std::string prefix = "." + name + ".kinetiscan-play-";
  std::vector<fs::path> candidates;
  std::error_code failure;
  fs::directory_iterator entries(parent, failure);
  for (; !failure && entries != fs::directory_iterator(); entries.increment(failure)) {
    const std::string entry = entries->path().filename().string();
    std::error_code status;
    if (entry.size() == prefix.size() + 6 && entry.rfind(prefix, 0) == 0 &&
        entries->is_directory(status) && !entries->is_symlink(status)) {
      candidates.push_back(entries->path());
    }
  }
  for (const fs::path& staging : candidates) {
    const int lock = takeLock((staging / kLock).string(), false);
    if (lock < 0) continue;
    removeOurFiles(staging);
    ::close(lock);
  }
}

// A new folder named after `prefix`, with the mode the umask gives a folder (mkdtemp's is 0700).
bool makeStaging(const std::string& prefix, std::string* path) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, 0) != sizeof random) return false;
    *path = prefix;
    for (unsigned char byte : random) *path += kLetters[byte % (sizeof kLetters - 1)];
    if (::mkdir(path->c_str(), 0777) == 0) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

bool writeManifest(const fs::path& path, const std::vector<std::string>& names) {
  std::ofstream manifest(path);
  manifest << "kinetiscan-play results: the files below were made by it and are replaced by "
              "its next run here\n";
  for (const std::string& name : names) manifest << name << "\n";
  manifest.close();
  return static_cast<bool>(manifest);
}

// Whether the process's current folder is the folder or inside it: swapping it away would leave
// the process, and the shell it was started from, in a deleted folder.
bool holdsCurrentFolder(const fs::path& folder) {
  std::error_code failure;
  const fs::path current = fs::current_path(failure);
  if (failure) return false;
  const fs::path real = fs::canonical(folder, failure);
  if (failure) return false;
  return std::mismatch(real.begin(), real.end(), current.begin(), current.end()).first ==
         real.end();
}

int exchangePaths(const char* staging, const char* target) {
  return renameat2(AT_FDCWD, staging, AT_FDCWD, target, RENAME_EXCHANGE);
}

int moveToNewPath(const char* staging, const char* target) {
  return renameat2(AT_FDCWD, staging, AT_FDCWD, target, RENAME_NOREPLACE);
}

int linkPath(const char* from, const char* to) { return ::link(from, to); }

}  // namespace

OutputFolder::Calls OutputFolder::systemCalls() { return {exchangePaths, moveToNewPath, linkPath}; }

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
                   : folder + ": " + why;
      return false;
    }
  }
  removeStaleStaging(parent, target.filename().string());
  std::string staging;
  if (!makeStaging((parent / ("." + target.filename().string() + ".kinetiscan-play-")).string(),
                   &staging)) {
    *error = folder + ": cannot write beside the results folder (" + errnoText() + ")";
    return false;
  }
  folder_ = folder;
  target_ = target.string();
  staging_ = staging;
  lock_ = takeLock((fs::path(staging_) / kLock).string(), true);
  return true;
}

std::string OutputFolder::staged(const std::string& name) {
  if (named_.insert(name).second) names_.push_back(name);
  return (fs::path(staging_) / name).string();
}

bool OutputFolder::commit(std::string* error) {
  if (!writeManifest(fs::path(staging_) / kManifest, names_)) {
    *error = folder_ + ": cannot write the list of results" + keepStaging();
    return false;
  }
  std::error_code failure;
  if (!fs::exists(fs::symlink_status(target_, failure))) {
    if (calls_.moveNew(staging_.c_str(), target_.c_str()) == 0) {
      ::unlink((fs::path(target_) / kLock).c_str());
      releaseStaging();
      return true;
    }
    // Where rename takes no flags (NFS, 9p), the files go into a new folder one by one.
    if (::mkdir(target_.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = folder_ + ": cannot make the results folder (" + errnoText() + ")" + keepStaging();
      return false;
    }
  }
  // The folder was checked when the run began; someone may have written to it since.
  std::vector<std::string> owned, foreign;
  std::string why;
  const fs::file_status status = fs::symlink_status(target_, failure);
  if (!fs::is_directory(status) || fs::is_symlink(status) ||
      !ownedFiles(target_, &owned, &foreign, &why)) {
    *error = folder_ + ": " +
             (why.empty() ? "changed during the run and now holds what kinetiscan-play did not make"
                          : why) +
             (foreign.empty() ? "" : " (" + listOf(foreign) + ")") +
             "; the earlier results are left as they were" + keepStaging();
    return false;
  }
  if (!holdsCurrentFolder(target_) && swapWhole(owned)) return true;
  if (!replaceFiles(owned, &why)) {
    *error = folder_ + ": cannot put the new results in place (" + why + ")" + keepStaging();
    return false;
  }
  removeOurFiles(staging_);
  releaseStaging();
  return true;
}

// Swaps the staging folder with the folder of earlier results, which is then removed file by
// file, listed files only. False, with nothing changed, when the folder cannot be swapped.
bool OutputFolder::swapWhole(const std::vector<std::string>& owned) {
  struct stat earlier {};
  if (::lstat(target_.c_str(), &earlier) != 0) return false;
  // The earlier results hold a lock of ours too while they sit in the staging path, so that a
  // kill before they are removed leaves them to the next run's clean-up.
  const std::string guard = (fs::path(target_) / kLock).string();
  const int guardLock = takeLock(guard, true);
  if (calls_.exchange(staging_.c_str(), target_.c_str()) != 0) {
    if (guardLock >= 0) {
      ::unlink(guard.c_str());
      ::close(guardLock);
    }
    return false;
  }
  ::unlink(guard.c_str());  // the staging folder's own lock, swapped in with it
  // The folder keeps its group and mode (a shared 2775 folder stays one).
  struct stat swapped {};
  if (::lstat(target_.c_str(), &swapped) == 0 && swapped.st_gid != earlier.st_gid &&
      ::chown(target_.c_str(), static_cast<uid_t>(-1), earlier.st_gid) != 0) {
    // Not a group of ours: the folder gets the staging folder's.
  }
  ::chmod(target_.c_str(), earlier.st_mode & 07777);
  std::error_code failure;
  for (const std::string& name : owned) fs::remove(fs::path(staging_) / name, failure);
  ::unlink((fs::path(staging_) / kLock).c_str());
  ::rmdir(staging_.c_str());  // unless something else appeared in it meanwhile
  if (guardLock >= 0) ::close(guardLock);
  releaseStaging();
  return true;
}

// Puts the staged results into the folder a file at a time, each in one rename. The staging
// folder keeps every file until all are in, and meanwhile the folder's manifest lists both runs'
// files, so a failure or a kill at any point leaves all the new results in the staging folder
// and nothing of ours unlisted in the folder.
bool OutputFolder::replaceFiles(const std::vector<std::string>& owned, std::string* why) {
  std::vector<std::string> both = names_;
  for (const std::string& name : owned) {
    if (named_.count(name) == 0 && isResultName(name)) both.push_back(name);
  }
  const fs::path target(target_);
  if (!writeManifest(target / kIncoming, both) ||
      ::rename((target / kIncoming).c_str(), (target / kManifest).c_str()) != 0) {
    *why = "cannot write its list of results";
    return false;
  }
  for (const std::string& name : names_) {
    if (!putIn(name, why)) return false;
  }
  for (const std::string& name : owned) {
    if (named_.count(name) != 0 || name == kManifest) continue;
    if (::unlink((target / name).c_str()) != 0 && errno != ENOENT) {
      *why = "cannot remove the earlier " + name + ": " + errnoText();
      return false;
    }
  }
  return putIn(kManifest, why);
}

// One staged file into the folder under its name, replacing the earlier one in one rename. It
// goes in under a second name, or as a copy where the staging folder is on another file system
// (as beside a mount point) or the file system has no second names.
bool OutputFolder::putIn(const std::string& name, std::string* why) {
  const fs::path from = fs::path(staging_) / name, incoming = fs::path(target_) / kIncoming;
  ::unlink(incoming.c_str());
  std::error_code failure;
  if (calls_.link(from.c_str(), incoming.c_str()) != 0) {
    fs::copy_file(from, incoming, failure);
  }
  if (failure || ::rename(incoming.c_str(), (fs::path(target_) / name).c_str()) != 0) {
    *why = name + ": " + (failure ? failure.message() : errnoText());
    ::unlink(incoming.c_str());
    return false;
  }
  return true;
}

// Leaves the staging folder where it is, without the lock that would let a later run clear it,
// and says where it is.
std::string OutputFolder::keepStaging() {
  const std::string kept = staging_;
  ::unlink((fs::path(staging_) / kLock).c_str());
  releaseStaging();
  return "; the new results are in " + kept;
}

void OutputFolder::releaseStaging() {
  if (lock_ >= 0) ::close(lock_);
  lock_ = -1;
  staging_.clear();
}

void OutputFolder::discard() {
  if (staging_.empty()) return;
  removeOurFiles(staging_);
  releaseStaging();
}

}  // namespace kinetiscan::play
