// Runs a fuzz target over files, or over every file of the folders given, without libFuzzer: the
// coverage build counts the corpus this way, and the test suites replay the corpus on both
// targets. With --journal first, prints one line per input in file name order, the name, the
// journal of what the plug-in answered and the number of message boxes shown, for comparing
// targets; KINETISCAN_JOURNAL_TRACE=1 also
// prints every entry of the journals to stderr. Prints how many inputs ran.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int first = 1;
  const bool journals = argc > 1 && std::strcmp(argv[1], "--journal") == 0;
  if (journals) {
    kinetiscan::fuzz::startJournals();
    first = 2;
  }
  std::vector<std::filesystem::path> files;
  for (int i = first; i < argc; ++i) {
    const std::filesystem::path path = argv[i];
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.filename() < b.filename(); });
  for (const std::filesystem::path& file : files) {
    std::ifstream stream(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(stream), {}};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (journals) {
      std::printf("%s %016" PRIx64 " %u\n", file.filename().string().c_str(),
                  kinetiscan::fuzz::lastJournal(),
                  static_cast<unsigned>(kinetiscan::fuzz::lastBoxCount()));
      std::fflush(stdout);  // a replay that stops shows where
    }
  }
  std::fprintf(journals ? stderr : stdout, "%s: %zu inputs replayed\n",
               argc > 0 ? argv[0] : "replay", files.size());
  return 0;
}
