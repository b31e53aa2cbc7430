#include "app/ScenarioRunner.hpp"

#include "tests/app/AppTestSupport.hpp"
#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

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
                                                "at 3.0 keyup\n"));
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
