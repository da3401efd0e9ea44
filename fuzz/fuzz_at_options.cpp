// The --at option as typed: a frame and a method with arguments, in separate words or one quoted
// word, with any bytes (the words are the input split at NUL bytes). What parses is logged as the
// track log logs a call, which must not throw for any text.
#include <cstdint>
#include <string>
#include <vector>

#include "options.h"
#include "track_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kinetiscan::play;
  std::vector<std::string> words = {"kinetiscan-play", "--at"};
  std::string word;
  for (std::size_t i = 0; i < size && words.size() < 80; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(word);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  const ParseOutcome outcome = parseOptions(static_cast<int>(argv.size()), argv.data());
  if (!outcome.options) return 0;
  FrameRecord record;
  for (const ScriptCall& call : outcome.options->calls) {
    CallRecord logged;
    logged.method = call.method;
    for (const ScriptArgument& argument : call.arguments) logged.arguments.push_back(argument.text);
    record.calls.push_back(logged);
  }
  (void)csvLine(record);
  (void)jsonRecord(record).dump();
  return 0;
}
