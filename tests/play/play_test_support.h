// Scratch folders for kinetiscan-play's tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kinetiscan::play {

// A fresh folder per test, removed afterwards.
class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::filesystem::temp_directory_path() /
              (std::string("kinetiscan-play-") + info->test_suite_name() + "-" + info->name() +
               "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }
  void writeFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Runs kinetiscan-play in the folder with its output in stdout.txt and stderr.txt, after
  // `launcher` (e.g. "timeout 60") when one is given; its exit code.
  int runProgram(const std::string& arguments, const std::string& launcher = "") const {
    const std::string command = "cd '" + folder_.string() + "' && " + launcher + " '" +
                                KINETISCAN_PLAY_PROGRAM "' " + arguments +
                                " >stdout.txt 2>stderr.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::filesystem::path folder_;
};

}  // namespace kinetiscan::play
