// The results folder where it cannot be swapped whole: mount points, the current folder, file
// systems without the exchange; and what it keeps (its mode, killed runs' leftovers, manifests
// that are not ours to trust).
#include "output_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "play_test_support.h"

namespace kinetiscan::play {
namespace {

namespace fs = std::filesystem;
using ResultsFolder = ScratchFolder;

int failBusy(const char*, const char*) { return errno = EBUSY, -1; }
int failCrossDevice(const char*, const char*) { return errno = EXDEV, -1; }
int failNoFlags(const char*, const char*) { return errno = EINVAL, -1; }
int failDenied(const char*, const char*) { return errno = EPERM, -1; }
int linkPath(const char* from, const char* to) { return ::link(from, to); }
// Links the first `linksLeft` files, then claims to link without doing it: the file then cannot
// be renamed into place, a failure midway through replacing the files.
int linksLeft = 0;
int linkThenLose(const char* from, const char* to) {
  return linksLeft-- > 0 ? ::link(from, to) : 0;
}

ino_t inodeOf(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Folder : public ResultsFolder {
 protected:
  // Stages files holding "<tag> <name>" and commits them into out/.
  bool commitRun(const std::vector<std::string>& names, const std::string& tag,
                 const OutputFolder::Calls& calls, std::string* error) {
    OutputFolder folder;
    folder.setCalls(calls);
    if (!folder.open(path("out"), error)) return false;
    for (const std::string& name : names) std::ofstream(folder.staged(name)) << tag << " " << name;
    return folder.commit(error);
  }
  bool commitRun(const std::vector<std::string>& names, const std::string& tag) {
    std::string error;
    const bool done = commitRun(names, tag, OutputFolder::systemCalls(), &error);
    EXPECT_TRUE(done) << error;
    return done;
  }
};

TEST_F(Folder, WhereTheFolderCannotBeSwappedItsFilesAreReplacedOneByOne) {
  const OutputFolder::Calls system = OutputFolder::systemCalls();
  const struct {
    const char* why;
    OutputFolder::Calls calls;
  } cases[] = {
      {"a mount point", {failBusy, system.moveNew, linkPath}},
      {"a mount point over another file system", {failBusy, system.moveNew, failCrossDevice}},
      {"no exchange", {failNoFlags, system.moveNew, linkPath}},
      {"no exchange nor hard links", {failDenied, system.moveNew, failDenied}},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.why);
    fs::remove_all(path("out"));
    ASSERT_TRUE(commitRun({"summary.txt", "stage-0003.png", "track.csv"}, "old"));
    const ino_t folder = inodeOf(path("out"));
    std::string error;
    ASSERT_TRUE(commitRun({"summary.txt", "stage-0010.png"}, "new", row.calls, &error)) << error;
    EXPECT_EQ(inodeOf(path("out")), folder) << "the folder itself stays";
    EXPECT_EQ(entries(folder_), std::vector<std::string>{"out"}) << "no staging folder left";
    EXPECT_EQ(entries(path("out")),
              (std::vector<std::string>{".kinetiscan-play", "stage-0010.png", "summary.txt"}));
    EXPECT_EQ(read("out/summary.txt"), "new summary.txt");
    const std::string manifest = read("out/.kinetiscan-play");
    EXPECT_EQ(manifest.substr(manifest.find('\n') + 1), "summary.txt\nstage-0010.png\n")
        << "the new run's files alone, once they are all in";
  }
  // A first run where rename takes no flags (NFS, 9p): the folder is made and filled.
  fs::remove_all(path("out"));
  std::string error;
  ASSERT_TRUE(commitRun({"summary.txt"}, "first", {failNoFlags, failNoFlags, linkPath}, &error))
      << error;
  EXPECT_EQ(read("out/summary.txt"), "first summary.txt");
}

TEST_F(Folder, ACommitThatFailsKeepsTheNewResultsAndSaysWhere) {
  ASSERT_TRUE(commitRun({"summary.txt", "stage-0003.png", "track.csv"}, "old"));
  linksLeft = 1;  // summary.txt goes in, stage-0010.png does not
  std::string error;
  EXPECT_FALSE(commitRun({"summary.txt", "stage-0010.png", "run.gif"}, "new",
                         {failBusy, failBusy, linkThenLose}, &error));
  const std::string marker = "the new results are in ";
  ASSERT_NE(error.find(marker), std::string::npos) << error;
  const fs::path kept = error.substr(error.find(marker) + marker.size());
  EXPECT_EQ(kept.parent_path(), folder_) << "beside the results folder";
  for (const char* name : {"summary.txt", "stage-0010.png", "run.gif"}) {
    EXPECT_EQ(read(kept.filename().string() + "/" + name), std::string("new ") + name) << name;
  }
  EXPECT_EQ(read("out/stage-0003.png"), "old stage-0003.png") << "nothing earlier removed yet";

  // Both runs' files are listed meanwhile, so the folder is still one a run may replace, and
  // that run leaves the kept results alone.
  ASSERT_TRUE(commitRun({"summary.txt"}, "next"));
  EXPECT_EQ(entries(path("out")), (std::vector<std::string>{".kinetiscan-play", "summary.txt"}));
  EXPECT_EQ(read(kept.filename().string() + "/stage-0010.png"), "new stage-0010.png");

  // Files that appear during the run are not ours to replace: the new results are kept too.
  OutputFolder folder;
  ASSERT_TRUE(folder.open(path("out"), &error)) << error;
  std::ofstream(folder.staged("track.csv")) << "recorded";
  writeFile("out/notes.txt", "the user's");
  EXPECT_FALSE(folder.commit(&error));
  EXPECT_NE(error.find("notes.txt"), std::string::npos) << error;
  ASSERT_NE(error.find(marker), std::string::npos) << error;
  EXPECT_EQ(read(fs::path(error.substr(error.find(marker) + marker.size())).filename().string() +
                 "/track.csv"),
            "recorded");
}

TEST_F(Folder, TheFolderKeepsItsModeAndANewOneGetsTheUmasks) {
  const mode_t umaskBefore = ::umask(027);
  ASSERT_TRUE(commitRun({"summary.txt"}, "first"));
  struct stat status {};
  ASSERT_EQ(::stat(path("out").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0750u);
  ASSERT_EQ(::chmod(path("out").c_str(), 02775), 0);
  ASSERT_TRUE(commitRun({"summary.txt"}, "second"));  // swapped whole
  ASSERT_EQ(::stat(path("out").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 02775u);
  ::umask(umaskBefore);
}

TEST_F(Folder, TheCurrentFolderIsNotSwappedAway) {
  fs::create_directory(path("out"));
  const ino_t folder = inodeOf(path("out"));
  for (const char* frames : {"4", "6"}) {
    const std::string command = "cd '" + path("out") +
                                "' && '" KINETISCAN_PLAY_PROGRAM "' --frames " + frames +
                                " --rate 0 --out . >../stdout.txt 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << read("stdout.txt");
  }
  EXPECT_EQ(inodeOf(path("out")), folder) << "the shell's folder is the results folder still";
  EXPECT_NE(read("out/summary.txt").find("frames:      6"), std::string::npos);
  EXPECT_FALSE(fs::exists(path("out/stage-0003.png"))) << "the first run's last picture";
  EXPECT_TRUE(fs::exists(path("out/stage-0005.png")));
}

TEST_F(Folder, KilledRunsStagingFoldersAreClearedWhenProvablyTheirs) {
  // A run killed before its commit: the child leaves without its destructor, as a kill does.
  const pid_t child = fork();
  if (child == 0) {
    OutputFolder folder;
    std::string error;
    if (folder.open(path("out"), &error)) std::ofstream(folder.staged("track.csv")) << "partial";
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(entries(folder_).size(), 1u) << "the killed run's staging folder";
  // Folders a live run locks, folders without our lock, other folders' and others' files stay.
  const auto make = [this](const std::string& name, bool lock, const std::string& extra) {
    fs::create_directory(path(name));
    writeFile(name + "/stage-0001.png", "staged");
    if (lock) writeFile(name + "/.kinetiscan-play-lock", "");
    if (!extra.empty()) writeFile(name + "/" + extra, "someone's");
  };
  make(".out.kinetiscan-play-live00", true, "");
  make(".out.kinetiscan-play-nolock", false, "");
  make(".out.kinetiscan-play-extras", true, "notes.txt");
  make(".elsewhere.kinetiscan-play-abcdef", true, "");
  const int live = ::open(path(".out.kinetiscan-play-live00/.kinetiscan-play-lock").c_str(),
                          O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(live, LOCK_EX), 0);
  ASSERT_TRUE(commitRun({"summary.txt"}, "next"));
  ::close(live);
  EXPECT_EQ(entries(folder_),
            (std::vector<std::string>{".elsewhere.kinetiscan-play-abcdef",
                                      ".out.kinetiscan-play-extras", ".out.kinetiscan-play-live00",
                                      ".out.kinetiscan-play-nolock", "out"}));
  EXPECT_EQ(entries(path(".out.kinetiscan-play-extras")), std::vector<std::string>{"notes.txt"});
  for (const char* kept : {".out.kinetiscan-play-live00", ".out.kinetiscan-play-nolock",
                           ".elsewhere.kinetiscan-play-abcdef"}) {
    EXPECT_EQ(read(std::string(kept) + "/stage-0001.png"), "staged") << kept;
  }
}

TEST_F(Folder, AManifestNamesOnlyResultsAndIsBounded) {
  fs::create_directory(path("out"));
  writeFile("out/.kinetiscan-play", "title\nnotes.txt\nsummary.txt\n");
  writeFile("out/notes.txt", "the user's");
  OutputFolder folder;
  std::string error;
  EXPECT_FALSE(folder.open(path("out"), &error)) << "a listed name we never write is not ours";
  EXPECT_NE(error.find("notes.txt"), std::string::npos) << error;
  fs::remove(path("out/notes.txt"));
  std::string huge = "title\n";
  while (huge.size() <= (std::size_t{16} << 20)) huge += "stage-0000000001.png\n";
  writeFile("out/.kinetiscan-play", huge);
  EXPECT_FALSE(folder.open(path("out"), &error));
  EXPECT_NE(error.find("over 16 MiB"), std::string::npos) << error;
}

// Through the program into a real bind mount, where the kernel refuses to move the folder.
TEST_F(Folder, ABindMountedFolderGetsTheResults) {
  if (::geteuid() != 0 || std::system("unshare -m true 2>/dev/null") != 0) {
    GTEST_SKIP() << "needs root allowed to unshare a mount namespace and bind-mount";
  }
  fs::create_directories(path("volume"));
  fs::create_directories(path("out"));
  const std::string play = "'" KINETISCAN_PLAY_PROGRAM "' --rate 0 --out out ";
  const std::string command = "cd '" + folder_.string() +
                              "' && unshare -m sh -c \"mount --make-rprivate / && "
                              "mount --bind volume out && " +
                              play + "--frames 20 && " + play +
                              "--frames 6 --png-at 2\" >stdout.txt 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << read("stdout.txt");
  EXPECT_NE(read("volume/summary.txt").find("frames:      6"), std::string::npos);
  EXPECT_TRUE(fs::exists(path("volume/stage-0002.png")));
  EXPECT_FALSE(fs::exists(path("volume/stage-0019.png"))) << "the first run's, replaced";
  EXPECT_EQ(entries(folder_), (std::vector<std::string>{"out", "stdout.txt", "volume"}));
}

}  // namespace
}  // namespace kinetiscan::play
