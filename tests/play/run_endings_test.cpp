// How a run of kinetiscan-play ends when something outside it goes: a signal while it is blocked,
// a stream downstream that closes or fills, standard descriptors it was started without. Each
// way keeps what was recorded, leaves no staging folder and says what happened.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "play_test_support.h"

namespace kinetiscan::play {
namespace {

using Clock = std::chrono::steady_clock;

class RunEndings : public ScratchFolder {
 protected:
  // Starts the program in the folder with `standardOutput` as its descriptor 1 (or stdout.txt
  // when -1) and stderr.txt as 2.
  pid_t start(const std::vector<std::string>& arguments, int standardOutput = -1) const {
    const pid_t child = fork();
    if (child != 0) return child;
    if (chdir(folder_.c_str()) != 0) _exit(120);
    const int out =
        standardOutput >= 0 ? standardOutput : open("stdout.txt", O_WRONLY | O_CREAT, 0644);
    const int err = open("stderr.txt", O_WRONLY | O_CREAT, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(121);
    for (int other = 3; other < 1024; ++other) close(other);  // the test's pipe ends among them
    std::vector<char*> argv{const_cast<char*>(KINETISCAN_PLAY_PROGRAM)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(122);
  }
  // Its exit code, or -1 when it had not ended within `seconds` (it is then killed).
  static int waitFor(pid_t child, double seconds) {
    int status = 0;
    for (const auto end = Clock::now() + std::chrono::duration<double>(seconds);;) {
      if (waitpid(child, &status, WNOHANG) == child) {
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (Clock::now() > end) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
  }
  bool stagingLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      if (entry.path().filename().string().find(".kinetiscan-play-") != std::string::npos) {
        return true;
      }
    }
    return false;
  }
};

const std::vector<std::string> kLongRun = {"--frames", "100000", "--gif-every", "0",
                                           "--png-at", "none",   "--quiet"};

std::vector<std::string> with(std::vector<std::string> more) {
  std::vector<std::string> all = kLongRun;
  all.insert(all.end(), more.begin(), more.end());
  return all;
}

TEST_F(RunEndings, SignalsEndTheRunWhateverItIsBlockedOn) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    bool stalledReader;  // standard output a FIFO that is opened but never read
    int signal;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"a reader that never reads", with({"--jsonl", "-", "--rate", "0"}), true, SIGTERM},
           {"a long pause between frames", with({"--rate", "10000"}), false, SIGINT},
       }) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(path("out"));
    int reader = -1, writer = -1;
    if (c.stalledReader) {
      ASSERT_EQ(mkfifo(path("stalled").c_str(), 0600), 0);
      reader = open(path("stalled").c_str(), O_RDONLY | O_NONBLOCK);
      writer = open(path("stalled").c_str(), O_WRONLY);
      ASSERT_GE(writer, 0);
    }
    const pid_t child = start(c.arguments, writer);
    if (writer >= 0) close(writer);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the pipe has filled
    kill(child, c.signal);
    const int code = waitFor(child, 5);
    if (reader >= 0) close(reader);
    std::filesystem::remove(path("stalled"));
    EXPECT_EQ(code, 128 + c.signal) << read("stderr.txt");
    EXPECT_NE(read("out/summary.txt").find("stopped:"), std::string::npos) << read("stderr.txt");
    EXPECT_FALSE(stagingLeft());
  }
  // A FIFO to read frames from is refused at once, not waited on where no signal ends it.
  ASSERT_EQ(mkfifo(path("frames.raw").c_str(), 0600), 0);
  EXPECT_EQ(waitFor(start({"--raw", "frames.raw"}), 10), 1);
  EXPECT_NE(read("stderr.txt").find("not a regular file"), std::string::npos) << read("stderr.txt");
}

TEST_F(RunEndings, AStreamThatFailsEndsTheRunKeepingTheResults) {
  struct Case {
    const char* name;
    std::function<int()> output;  // the descriptor to hand the program as its standard output
    const char* reason;
  };
  int pipeEnds[2] = {-1, -1};
  for (const Case& c : std::initializer_list<Case>{
           {"a reader that reads one line and goes",
            [&] {
              EXPECT_EQ(pipe(pipeEnds), 0);
              return pipeEnds[1];
            },
            "Broken pipe"},
           {"a full disk", [] { return open("/dev/full", O_WRONLY); }, "No space left on device"},
       }) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(path("out"));
    const int output = c.output();
    ASSERT_GE(output, 0);
    const pid_t child = start(with({"--jsonl", "-", "--rate", "0"}), output);
    close(output);
    if (pipeEnds[0] >= 0) {
      char byte = 0;
      while (::read(pipeEnds[0], &byte, 1) == 1 && byte != '\n') {
      }
      close(pipeEnds[0]);
      pipeEnds[0] = -1;
    }
    EXPECT_EQ(waitFor(child, 20), 1) << read("stderr.txt");
    const std::string summary = read("out/summary.txt");
    EXPECT_NE(summary.find("output failed"), std::string::npos) << summary;
    EXPECT_NE(summary.find(std::string("standard output (--jsonl -): ") + c.reason),
              std::string::npos)
        << summary;
    EXPECT_FALSE(stagingLeft());
  }
}

TEST_F(RunEndings, ClosedStandardDescriptorsReceiveNoResults) {
  for (const char* closed : {"2>&-", ">&- --jsonl -", "<&- 2>&-"}) {
    SCOPED_TRACE(closed);
    std::filesystem::remove_all(path("out"));
    const std::string command = "cd '" + folder_.string() +
                                "' && '" KINETISCAN_PLAY_PROGRAM
                                "' --frames 120 --rate 0 --gif-every 0 >stdout.txt " +
                                closed;
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 0);
    const std::string csv = read("out/track.csv");
    EXPECT_EQ(csv.rfind("frame,", 0), 0u) << csv.substr(0, 200);
    EXPECT_EQ(csv.find("kinetiscan-play"), std::string::npos) << "the summary or progress";
    const std::string json = read("out/track.jsonl");
    EXPECT_EQ(json.find("\n{"), json.find('\n')) << "one record a line, nothing else";
    EXPECT_EQ(json.find("summary"), std::string::npos);
  }
}

TEST_F(RunEndings, TheSummarySaysWhatHappenedInPrintableLines) {
  // Names with a newline and an escape sequence are shown, not obeyed by the terminal.
  const std::string hostile = "res\x1b[2J\nults";
  EXPECT_EQ(
      waitFor(start({"--frames", "20", "--rate", "0", "--warmup", "100", "--out", hostile}), 60), 0)
      << read("stderr.txt");
  const std::string summary = read(hostile + "/summary.txt");
  EXPECT_NE(summary.find("outputs in res\\x1b[2J\\nults:"), std::string::npos) << summary;
  EXPECT_EQ(summary.find('\x1b'), std::string::npos);
  // A warm-up longer than the run learned the frames that were played, and says so.
  EXPECT_NE(summary.find("frames 0 to 19 learned the background at adaptivity 25 (the run ended "
                         "within the warm-up)"),
            std::string::npos)
      << summary;
  EXPECT_EQ(waitFor(start({"--raw", "missing\n\x1b[31m.raw"}), 30), 1);
  EXPECT_EQ(read("stderr.txt"),
            "kinetiscan-play: missing\\n\\x1b[31m.raw: cannot open (No such file or directory)\n");
}

}  // namespace
}  // namespace kinetiscan::play
