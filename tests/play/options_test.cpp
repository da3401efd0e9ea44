// The command line of kinetiscan-play: defaults, every option, script calls and bad input.
#include "options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "play_test_support.h"
#include "suggestions.h"

namespace kinetiscan::play {
namespace {

ParseOutcome parse(std::initializer_list<const char*> words) {
  std::vector<const char*> argv{"kinetiscan-play"};
  argv.insert(argv.end(), words);
  return parseOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(Options, NoArgumentsPlayTheBuiltInScene) {
  const ParseOutcome outcome = parse({});
  ASSERT_TRUE(outcome.options.has_value()) << outcome.message;
  const PlayOptions& options = *outcome.options;
  EXPECT_EQ(options.input, InputKind::kSynthetic);
  EXPECT_EQ(effectiveFrames(options), 200);
  EXPECT_EQ(options.outDir, "out");
  EXPECT_EQ(options.pngAt, (std::vector<int>{10, 50}));
  EXPECT_TRUE(options.pngLast);
  EXPECT_TRUE(options.calls.empty());
  EXPECT_FALSE(options.adaptivity || options.sensitivity || options.mindensity)
      << "the plug-in's own defaults stay unless asked";
  EXPECT_EQ(options.rateMs, -1);
  EXPECT_EQ(options.gifEvery, 1);
  const ParseOutcome webcam = parse({"--device", "/dev/video9"});
  ASSERT_TRUE(webcam.options.has_value()) << webcam.message;
  EXPECT_EQ(webcam.options->gifEvery, 0) << "a webcam session writes no GIF unless asked";
}

TEST(Options, EveryOptionLandsInItsField) {
  const ParseOutcome outcome =
      parse({"--raw",   "frames.raw",    "--loop", "--frames",     "30", "--adaptivity",
             "2.5",     "--sensitivity", "0.25",   "--mindensity", "40", "--out",
             "results", "--png-at",      "3,7",    "--png-every",  "10", "--gif-every",
             "2",       "--rate",        "0",      "--quiet"});
  ASSERT_TRUE(outcome.options.has_value()) << outcome.message;
  const PlayOptions& options = *outcome.options;
  EXPECT_EQ(options.input, InputKind::kRaw);
  EXPECT_EQ(options.inputPath, "frames.raw");
  EXPECT_TRUE(options.loop);
  EXPECT_EQ(effectiveFrames(options), 30);
  EXPECT_EQ(options.adaptivity, 2.5);
  EXPECT_EQ(options.sensitivity, 0.25);
  EXPECT_EQ(options.mindensity, 40);
  EXPECT_EQ(options.outDir, "results");
  EXPECT_EQ(options.pngAt, (std::vector<int>{3, 7}));
  EXPECT_FALSE(options.pngLast);
  EXPECT_EQ(options.pngEvery, 10);
  EXPECT_EQ(options.gifEvery, 2);
  EXPECT_EQ(options.rateMs, 0);
  EXPECT_TRUE(options.quiet);
}

TEST(Options, FileInputsPlayEveryFrameUnlessLoopedOrCounted) {
  EXPECT_EQ(effectiveFrames(*parse({"--images", "pictures"}).options), -1);
  EXPECT_EQ(effectiveFrames(*parse({"--images", "pictures", "--loop"}).options), 200);
  EXPECT_EQ(effectiveFrames(*parse({"--device", "/dev/video0"}).options), 200);
  const PlayOptions video = *parse({"--video", "walk.mp4"}).options;
  EXPECT_EQ(video.input, InputKind::kVideo);
  EXPECT_EQ(video.inputPath, "walk.mp4");
  EXPECT_EQ(effectiveFrames(video), -1);
  const PlayOptions scene =
      *parse({"--seed", "3", "--discs", "2", "--noise", "0", "--empty-frames", "1"}).options;
  EXPECT_EQ(scene.seed, 3u);
  EXPECT_EQ(scene.discs, 2);
  EXPECT_EQ(scene.noise, 0);
  EXPECT_EQ(scene.emptyFrames, 1);
}

TEST(Options, ScriptCallsKeepTheirFrameMethodAndTypedArguments) {
  const ParseOutcome outcome = parse({"--at", "30", "adapt", "--at", "40", "trackcolor", "255,0,0",
                                      "30", "--at", "50 block -5,0,60,80"});
  ASSERT_TRUE(outcome.options.has_value()) << outcome.message;
  const std::vector<ScriptCall>& calls = outcome.options->calls;
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].frame, 30);
  EXPECT_EQ(calls[0].method, "adapt");
  EXPECT_TRUE(calls[0].arguments.empty());
  EXPECT_EQ(calls[1].method, "trackcolor");
  ASSERT_EQ(calls[1].arguments.size(), 2u);
  EXPECT_EQ(calls[1].arguments[0].kind, ScriptArgument::Kind::kColour);
  EXPECT_EQ(calls[1].arguments[0].parts[0], 255);
  EXPECT_EQ(calls[1].arguments[1].kind, ScriptArgument::Kind::kInteger);
  EXPECT_EQ(calls[1].arguments[1].number, 30);
  EXPECT_EQ(calls[2].frame, 50) << "one quoted word is split into its parts";
  ASSERT_EQ(calls[2].arguments.size(), 1u);
  EXPECT_EQ(calls[2].arguments[0].kind, ScriptArgument::Kind::kRect);
  EXPECT_EQ(calls[2].arguments[0].parts[0], -5);
  EXPECT_EQ(calls[2].arguments[0].parts[3], 80);
  ScriptArgument real;
  std::string error;
  ASSERT_TRUE(parseScriptArgument("0.5", &real, &error));
  EXPECT_EQ(real.kind, ScriptArgument::Kind::kFloat);
  EXPECT_EQ(real.text, "0.5");
}

TEST(Options, ArgumentsOfUnknownShapeAreRefused) {
  ScriptArgument argument;
  std::string error;
  for (const char* bad : {"", "1,2", "300,0,0", "-1,0,0", "1,,3", "1,2,3,4,5", "red", "1e999",
                          "nan", "1,2,3,99999999999"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(parseScriptArgument(bad, &argument, &error));
    EXPECT_FALSE(error.empty());
  }
  EXPECT_TRUE(parseScriptArgument("-2147483648", &argument, &error));
  EXPECT_EQ(argument.kind, ScriptArgument::Kind::kInteger);
  EXPECT_TRUE(parseScriptArgument("3000000000", &argument, &error));
  EXPECT_EQ(argument.kind, ScriptArgument::Kind::kFloat) << "too large for an integer";
}

TEST(Options, BadCommandLinesExitWithTwoAndSayWhy) {
  struct Case {
    std::initializer_list<const char*> words;
    const char* mentions;
  };
  for (const Case& c : std::initializer_list<Case>{
           {{"--no-such-option"}, "--no-such-option"},
           {{"--images", "a", "--raw", "b"}, "excludes"},
           {{"--video", "a.mp4", "--device", "/dev/video0"}, "excludes"},
           {{"--raw", "a", "--video", "b.mkv"}, "excludes"},
           {{"--video", ""}, "empty"},
           {{"--frames", "-1"}, "frames"},
           {{"--frames", "many"}, "frames"},
           {{"--discs", "7"}, "discs"},
           {{"--warmup", "-3"}, "warmup"},
           {{"--jsonl", "frames.jsonl"}, "--jsonl"},
           {{"--gif-every", "-1"}, "gif-every"},
           {{"--adaptivity", "nan"}, "--adaptivity"},
           {{"--adaptivity", "-5"}, "--adaptivity"},
           {{"--adaptivity", "0.5"}, "from 1"},  // each frame would overshoot the background
           {{"--adaptivity", "1e-308"}, "--adaptivity"},
           {{"--adaptivity", "1e308"}, "--adaptivity"},  // beyond a float's range
           {{"--sensitivity", "inf"}, "--sensitivity"},
           {{"--sensitivity", "-0.5"}, "--sensitivity"},
           {{"--mindensity", "-1"}, "--mindensity"},
           {{"--png-at", "10,soon"}, "soon"},
           {{"--at", "x", "adapt"}, "'x'"},
           {{"--at", "5"}, "--at"},
           {{"--at", "5", "block", "1,2"}, "'1,2'"},
           {{"--at", "5", "ajust"},
            "editsource adapt trackcolorbounds"},  // misspelt: the methods are listed
           {{"--at", "5", "block"}, "takes a rect"},
           {{"--at", "5", "Adapt", "1"}, "takes no arguments"},
           {{"--at", "5", "trackcolor", "255,0,0", "0.5"}, "whole-number tolerance"},
           {{"--osc", "127.0.0.1"}, "HOST:PORT"},
           {{"--osc", "localhost:70000"}, "1 to 65535"},
           {{"--osc", "::1:9000"}, "in brackets"},
           {{"--raw", ""}, "empty"},
           {{"--out", ""}, "empty"},
           {{"stray"}, "stray"},
       }) {
    const ParseOutcome outcome = parse(c.words);
    SCOPED_TRACE(*c.words.begin());
    EXPECT_FALSE(outcome.options.has_value());
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_NE(outcome.message.find(c.mentions), std::string::npos) << outcome.message;
  }
}

TEST(Options, MisspeltNamesSuggestTheNearestOnlyWhenClose) {
  struct Case {
    std::initializer_list<const char*> words;
    const char* suggests;  // nullptr: no suggestion
  };
  for (const Case& c : std::initializer_list<Case>{
           {{"--imgaes", "pictures"}, "--imgaes: did you mean --images?"},  // two letters swapped
           {{"--sensitivty", "1"}, "did you mean --sensitivity?"},
           {{"--rtae", "0"}, "did you mean --rate?"},
           {{"--imags=pictures"}, "--imags=pictures: did you mean --images?"},
           {{"-frames", "3"}, "did you mean --frames?"},
           {{"stray", "--shwo"}, "--shwo: did you mean --show?"},
           {{"--no-such-option"}, nullptr},
           {{"--verbose"}, nullptr},
           {{"--rte2"}, nullptr},   // 2 edits from --rate, but a short word allows one
           {{"stray"}, nullptr},    // a stray value is no option
           {{"--", "-"}, nullptr},  // nor are dashes alone
           {{"--at", "5", "trackcolour", "255,0,0", "3"}, "(did you mean trackcolor?)"},
           {{"--at", "5", "ADAPTT"}, "(did you mean adapt?)"},
           {{"--at", "5", "ajust"}, nullptr},
       }) {
    const ParseOutcome outcome = parse(c.words);
    SCOPED_TRACE(*c.words.begin());
    EXPECT_FALSE(outcome.options.has_value());
    EXPECT_EQ(outcome.exitCode, 2);
    if (c.suggests != nullptr) {
      EXPECT_NE(outcome.message.find(c.suggests), std::string::npos) << outcome.message;
    } else {
      EXPECT_EQ(outcome.message.find("did you mean"), std::string::npos) << outcome.message;
    }
  }
}

TEST(Options, EditDistanceCountsSwapsAsOneEdit) {
  EXPECT_EQ(editDistance("", ""), 0u);
  EXPECT_EQ(editDistance("", "abc"), 3u);
  EXPECT_EQ(editDistance("abc", ""), 3u);
  EXPECT_EQ(editDistance("imgaes", "images"), 1u);
  EXPECT_EQ(editDistance("kitten", "sitting"), 3u);
  EXPECT_EQ(editDistance("ca", "abc"), 3u);  // each character edited once: not 2
  EXPECT_EQ(nearestName("blok", {"adapt", "block", "blocks"}), "block") << "the nearest wins";
  EXPECT_EQ(nearestName("blockk", {"block", "blocks"}), "block") << "a tie: the first";
  EXPECT_EQ(nearestName("x", {}), "");
}

TEST(Options, HelpIsNotAnErrorAndListsTheScriptMethods) {
  const ParseOutcome outcome = parse({"--help"});
  EXPECT_FALSE(outcome.options.has_value());
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_NE(outcome.message.find("--at"), std::string::npos);
  EXPECT_NE(outcome.message.find("--device"), std::string::npos);
  // Each method on a line of its own with the arguments it takes, and a call of that shape is
  // accepted, so the list and the check cannot disagree.
  struct Method {
    const char* name;
    const char* shape;
    std::initializer_list<const char*> arguments;
  };
  for (const Method& m : std::initializer_list<Method>{
           {"editsource", "", {}},
           {"adapt", "", {}},
           {"trackcolorbounds", "R,G,B TOLERANCE", {"255,0,0", "30"}},
           {"trackcolor", "R,G,B TOLERANCE", {"255,0,0", "30"}},
           {"tracknotcolorbounds", "R,G,B TOLERANCE", {"255,0,0", "30"}},
           {"tracknotcolor", "R,G,B TOLERANCE", {"255,0,0", "30"}},
           {"block", "TOP,LEFT,BOTTOM,RIGHT", {"10,20,60,80"}},
           {"camerablock", "TOP,LEFT,BOTTOM,RIGHT", {"10,20,60,80"}},
           {"retinablock", "TOP,LEFT,BOTTOM,RIGHT", {"10,20,60,80"}},
           {"differenceblock", "TOP,LEFT,BOTTOM,RIGHT", {"10,20,60,80"}},
       }) {
    SCOPED_TRACE(m.name);
    const std::size_t line = outcome.message.find(std::string("\n  ") + m.name + " ");
    ASSERT_NE(line, std::string::npos) << outcome.message;
    const std::string text =
        outcome.message.substr(line + 1, outcome.message.find('\n', line + 1) - line);
    const bool takesArguments =
        text.find("R,G,B") != std::string::npos || text.find("TOP,LEFT") != std::string::npos;
    EXPECT_EQ(takesArguments, *m.shape != 0) << text;
    EXPECT_NE(text.find(m.shape), std::string::npos) << text;
    std::vector<const char*> argv{"kinetiscan-play", "--at", "1", m.name};
    argv.insert(argv.end(), m.arguments);
    const ParseOutcome call = parseOptions(static_cast<int>(argv.size()), argv.data());
    EXPECT_TRUE(call.options.has_value()) << call.message;
  }
}

TEST(Options, ASensitivityNoPixelCanExceedIsWarnedAboutButRuns) {
  // The three differences sum to 3 at most and a pixel moves only above the sensitivity, which
  // the plug-in keeps in single precision.
  struct Case {
    const char* sensitivity;
    bool warned;
  };
  for (const Case& c : std::initializer_list<Case>{{"3.5", true},
                                                   {"3", true},
                                                   {"2.9999999", true},  // 3 as a float
                                                   {"1e300", true},
                                                   {"2.9999998", false},  // the float below 3
                                                   {"2.9", false},
                                                   {"0", false}}) {
    SCOPED_TRACE(c.sensitivity);
    const ParseOutcome outcome = parse({"--sensitivity", c.sensitivity});
    ASSERT_TRUE(outcome.options.has_value()) << outcome.message;
    ASSERT_EQ(outcome.warnings.size(), c.warned ? 1u : 0u);
    if (c.warned) {
      EXPECT_NE(outcome.warnings[0].find("--sensitivity " + std::string(c.sensitivity)),
                std::string::npos);
      EXPECT_NE(outcome.warnings[0].find("no pixel can ever move"), std::string::npos);
    }
  }
  EXPECT_TRUE(parse({}).warnings.empty());
}

class OptionsRun : public ScratchFolder {};

TEST_F(OptionsRun, WarningsGoToStandardErrorOnceAndTheRunGoesOn) {
  ASSERT_EQ(runProgram("--sensitivity 3 --frames 2 --rate 0 --gif-every 0 --jsonl -"), 0)
      << read("stderr.txt");
  const std::string errors = read("stderr.txt");
  const std::size_t warning = errors.find("warning: --sensitivity 3");
  ASSERT_NE(warning, std::string::npos) << errors;
  EXPECT_EQ(errors.find("warning:", warning + 1), std::string::npos) << "once";
  EXPECT_EQ(read("stdout.txt").find("warning"), std::string::npos) << "the stream stays clean";
  EXPECT_TRUE(std::filesystem::exists(path("out/summary.txt")));
}

}  // namespace
}  // namespace kinetiscan::play
