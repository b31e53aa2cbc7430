#include "app/ScenarioRunner.hpp"

#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"
#include "tests/app/AppTestSupport.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

namespace murmurquill {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kHello = 18435; // " Hello" in the speech vocabulary
constexpr std::size_t kEndOfText = 50256;

class ScenarioRunnerTest : public ::testing::Test {
protected:
  void SetUp() override { setenv("CI_DISABLE_NETWORK_MONITOR", "1", 1); }

  // A small English-only model whose decoder always prefers " Hello", with the speech
  // tokenizer beside it.
  fs::path writeModelFolder() const {
    platform::runner::TestModelOptions options;
    options.scriptedLogits = {{kHello, 30.0f}, {kEndOfText, 20.0f}};
    const fs::path folder = temp / "model";
    platform::runner::writeTestModels(folder, options);
    for (const char *file : {"tokenizer.json", "tokenizer_config.json"}) {
      fs::copy_file(mqtest::fixturePath(std::string("tokenizers/speech-en/") + file),
                    folder / file);
    }
    return folder;
  }

  fs::path writeScenario(const std::string &text) const {
    const fs::path path = temp / "scenario.txt";
    std::ofstream(path) << text;
    return path;
  }

  ScenarioRunner::Options optionsFor(const fs::path &scenario) {
    ScenarioRunner::Options options;
    options.scenario = scenario;
    options.modelFolder = writeModelFolder();
    options.environment =
        platform::Environment({{"XDG_DATA_HOME", (temp / "data").string()}}, temp.path() / "home");
    options.log = log.sink();
    return options;
  }

  mqtest::TempDir temp;
  testing::LogRecorder log;
};

TEST_F(ScenarioRunnerTest, DictatesAWavFileIntoTheFocusedField) {
  // Two seconds at 48 kHz stereo: the capture resamples it to 16 kHz mono.
  audiotest::writeFile(temp / "take.wav", {.sampleRate = 48000, .channelCount = 2}, 96000,
                       audiotest::sine(440, 48000, 0.3));
  const auto options = optionsFor(writeScenario("# one take\n"
                                                "field \"Dear team, \"\n"
                                                "at 0.5 keydown\n"
                                                "at 0.6 audio take.wav\n"
                                                "at 3.0 keyup\n"
                                                "at 4.0 refine\n"));
  const ScenarioRunner::Result result = ScenarioRunner::run(options);

  // The dictation road's log lines, in order (the transcript line names the text).
  const auto lines = log.lines();
  const std::vector<std::string> expectedPrefixes = {
      "[HotkeyMonitor] Started", "[TranscriptionEngine] Model loaded in",
      "[AudioCapture] Recording started", "[TranscriptionEngine] \xE2\x86\x92 \"Hello",
      "[TextInjector] Pasted"};
  auto next = lines.begin();
  for (const std::string &prefix : expectedPrefixes) {
    next = std::find_if(next, lines.end(),
                        [&](const std::string &line) { return line.rfind(prefix, 0) == 0; });
    ASSERT_NE(next, lines.end()) << prefix << " in " << ::testing::PrintToString(lines);
  }
  ASSERT_EQ(result.typed.size(), 1u) << ::testing::PrintToString(lines);
  EXPECT_EQ(result.typed[0].rfind("Hello", 0), 0u) << result.typed[0];
  ASSERT_TRUE(result.field.has_value());
  EXPECT_EQ(*result.field, "Dear team, " + result.typed[0]);
  // The refine chord within the refine window answers with the rules (no language model here).
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Refined: " + result.typed[0]), lines.end())
      << ::testing::PrintToString(lines);
  for (const char *mode : {"HUD: recording", "HUD: transcribing", "HUD: hidden"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), mode), lines.end()) << mode;
  }
}

// The lines of `log` that `keep` accepts, in order.
std::vector<std::string> linesWhere(const std::vector<std::string> &log,
                                    const std::function<bool(const std::string &)> &keep) {
  std::vector<std::string> kept;
  std::copy_if(log.begin(), log.end(), std::back_inserter(kept), keep);
  return kept;
}

bool isHudOrKeyLine(const std::string &line) {
  return line.rfind("HUD: ", 0) == 0 || line.rfind("[TranscriptionEngine] Model loaded", 0) == 0 ||
         line.rfind("[AudioCapture] Hotkey pressed", 0) == 0 ||
         line.rfind("[TranscriptionEngine] Hotkey pressed", 0) == 0 ||
         line.rfind("[AudioCapture] Recording started", 0) == 0;
}

TEST_F(ScenarioRunnerTest, AHeldLoadScriptsTheNotReadyRoad) {
  ScenarioRunner::run(optionsFor(writeScenario("at 0.5 keydown\n"
                                               "at 0.6 keyup\n"
                                               "at 1 load-finishes\n"
                                               "at 5 keydown\n"
                                               "at 5.1 keyup\n")));
  std::vector<std::string> road = linesWhere(log.lines(), isHudOrKeyLine);
  for (auto &line : road) {
    line = line.substr(0, line.find(" in ")); // the load's time varies
  }
  EXPECT_EQ(road, (std::vector<std::string>{
                      "[TranscriptionEngine] Hotkey pressed before model ready \xE2\x80\x94 "
                      "Checking for Whisper model\xE2\x80\xA6",
                      "HUD: notReady", "HUD: ready (Right Alt)",
                      "[TranscriptionEngine] Model loaded", "HUD: hidden", "HUD: recording",
                      "[AudioCapture] Recording started", "HUD: hidden"}))
      << ::testing::PrintToString(log.lines());
}

TEST_F(ScenarioRunnerTest, PermissionsAndTheChosenKeyChangeMidRun) {
  ScenarioRunner::run(optionsFor(writeScenario("at 0.5 permission microphone denied\n"
                                               "at 1 keydown\n"
                                               "at 1.1 keyup\n"
                                               "at 5 permission microphone granted\n"
                                               "at 5 permission accessibility denied\n"
                                               "at 6 keydown\n"
                                               "at 6.1 keyup\n"
                                               "at 10 permission accessibility granted\n"
                                               "at 10 key leftOption\n"
                                               "at 11 keydown\n"
                                               "at 11.1 keyup\n")));
  const auto hud =
      linesWhere(log.lines(), [](const std::string &line) { return line.rfind("HUD: ", 0) == 0; });
  EXPECT_EQ(hud, (std::vector<std::string>{"HUD: micDenied", "HUD: hidden", "HUD: injectionDenied",
                                           "HUD: hidden", "HUD: recording", "HUD: hidden"}));
}

TEST_F(ScenarioRunnerTest, EachAudioFileIsReadOnceWithinOneBound) {
  audiotest::writeFile(temp / "a.wav", {.sampleRate = 16000, .channelCount = 1}, 800,
                       audiotest::sine(440, 16000, 0.3));
  audiotest::writeFile(temp / "b.wav", {.sampleRate = 16000, .channelCount = 1}, 800,
                       audiotest::sine(220, 16000, 0.3));
  std::string text;
  for (int line = 0; line < 400; ++line) {
    text += "at " + std::to_string(line) + " audio a.wav\n";
  }
  const auto script = ScenarioScript::parse(writeScenario(text), /*maxAudioSamples=*/1000);
  ASSERT_EQ(script.statements.size(), 400u);
  for (const auto &statement : script.statements) {
    EXPECT_EQ(statement.audio, script.statements.front().audio);
  }
  try {
    ScenarioScript::parse(writeScenario(text + "at 500 audio b.wav\n"), 1000);
    ADD_FAILURE() << "two files of 800 samples passed a bound of 1000";
  } catch (const ScenarioError &error) {
    EXPECT_NE(std::string(error.what()).find("scenario.txt:401: "), std::string::npos)
        << error.what();
  }
}

TEST_F(ScenarioRunnerTest, TheLanguagesNewLinesAreCheckedAndNameTheLine) {
  for (const std::string text :
       {"at 1e300 keydown\n", "at 86400.5 keyup\n", "at -1 keyup\n", "at nan keyup\n",
        "at 1 load-finishes\nat 2 load-finishes\n", "at 1 refine now\n",
        "at 1 permission camera granted\n", "at 1 permission microphone maybe\n",
        "at 1 key optionSpace\n", "at 1 key\n", "at 1\n"}) {
    try {
      ScenarioScript::parse(writeScenario(text));
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ScenarioError &error) {
      EXPECT_NE(std::string(error.what()).find("scenario.txt:"), std::string::npos) << error.what();
    }
  }
  const auto script = ScenarioScript::parse(writeScenario("at 86400 keyup\n"));
  EXPECT_EQ(script.statements.at(0).seconds, 86400.0);
}

// A scenario is a regular file within the bound: a device without an end, a folder or a FIFO
// would be read without limit, waited for or taken for an empty run.
TEST_F(ScenarioRunnerTest, OnlyARegularFileIsAScenario) {
  const fs::path fifo = temp / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const fs::path &path : {fs::path("/dev/zero"), temp.path(), fifo}) {
    try {
      ScenarioScript::parse(path);
      ADD_FAILURE() << "accepted: " << path;
    } catch (const ScenarioError &error) {
      EXPECT_EQ(std::string(error.what()), path.string() + ": the scenario is not a regular file");
    }
  }
}

// What a line says must be all of it, and a WAV file must be at a microphone's rate (the
// capture's buffers grow with 16 kHz over the rate: 1 Hz cost half a gigabyte).
TEST_F(ScenarioRunnerTest, TrailingTextAndAnAbsurdSampleRateAreRefused) {
  audiotest::writeFile(temp / "slow.wav", {.sampleRate = 1, .channelCount = 1}, 4,
                       audiotest::sine(0.1, 1, 0.3));
  for (const std::string text : {"field \"a\" b\n", "at 1 audio slow.wav\n"}) {
    try {
      ScenarioScript::parse(writeScenario(text));
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ScenarioError &error) {
      EXPECT_NE(std::string(error.what()).find("scenario.txt:1: "), std::string::npos)
          << error.what();
    }
  }
  EXPECT_EQ(ScenarioScript::parse(writeScenario("field \"say \"hi\"\"\n")).field, "say \"hi\"");
}

TEST_F(ScenarioRunnerTest, MalformedScenariosNameTheLine) {
  for (const std::string text : {"at 1 jump\n", "at x keydown\n", "at 2 keydown\nat 1 keyup\n",
                                 "field no quotes\n", "at 1 audio missing.wav\n"}) {
    ScenarioRunner::Options options;
    options.scenario = writeScenario(text);
    options.log = log.sink();
    try {
      ScenarioRunner::run(options);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ScenarioError &error) {
      EXPECT_NE(std::string(error.what()).find("scenario.txt:"), std::string::npos) << error.what();
    }
  }
}

} // namespace
} // namespace murmurquill
