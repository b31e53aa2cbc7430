// The transcribe program end to end: a WAV file and a model folder written by make-test-model,
// the tool run as a child process, its outputs in the four formats and its exit codes read back.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "tests/DivuvovIze/Decoding/SpeechTokenizerFixture.hpp"
#include "tests/support/RefusingPort.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Tones.hpp"

namespace {

namespace fs = std::filesystem;

std::string quoted(const fs::path &path) { return "'" + path.string() + "'"; }

// Runs `command` in `folder` with HOME pointing inside it (so no user cache is read or written)
// and returns the exit status; standard output and error go to files in the folder.
// `output` is where standard output goes.
int run(const fs::path &folder, const std::string &command,
        const std::string &output = "stdout.txt") {
  const std::string line = "cd " + quoted(folder) + " && env HOME=" + quoted(folder / "home") +
                           " XDG_DATA_HOME=" + quoted(folder / "home/data") +
                           " XDG_DOCUMENTS_DIR=" + quoted(folder / "home/Documents") + " " +
                           command + " >" + output + " 2>stderr.txt";
  const int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 16-bit mono PCM at 16 kHz: a 440 Hz tone of `seconds`.
void writeWav(const fs::path &path, double seconds) {
  const auto frames = static_cast<std::uint32_t>(seconds * 16000);
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char *>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char *>(&v), 2); };
  out.write("RIFF", 4);
  u32(36 + frames * 2);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(1);
  u32(16000);
  u32(32000);
  u16(2);
  u16(16);
  out.write("data", 4);
  u32(frames * 2);
  for (std::uint32_t i = 0; i < frames; ++i) {
    u16(static_cast<std::uint16_t>(
        static_cast<std::int16_t>(mqtest::sineValue(440.0, 16000.0, i, 8000))));
  }
}

// Ids of the English-only speech vocabulary of the small fixture tokenizer (its " Hello" follows
// the 256 byte tokens and the four merges before it).
constexpr int kHello = 260;
constexpr int kEndOfText = 50256;
constexpr int kTimeBegin = 50363; // "<|0.00|>"

// Every step of the scripted decoder sees the same logits; the timestamp rules turn them into
// one window of known tokens: "<|0.00|>" wins outright (and so is predicted for, and kept at, the
// prompt's timestamp position and then sampled once more, closing an empty pair), text follows a
// closed pair (" Hello" above end of text), then the five timestamps just below "<|2.00|>" make
// the timestamps together more probable than text, "<|2.00|>" is the best of them, and once a
// timestamp follows text, end of text beats every timestamp still allowed.
std::string scriptedModelArguments() {
  std::string arguments = " --script-logit " + std::to_string(kTimeBegin) + "=40" +
                          " --script-logit " + std::to_string(kHello) + "=31" + " --script-logit " +
                          std::to_string(kEndOfText) + "=30.5" + " --script-logit " +
                          std::to_string(kTimeBegin + 100) + "=30";
  for (int step = 95; step < 100; ++step) {
    arguments += " --script-logit " + std::to_string(kTimeBegin + step) + "=29.5";
  }
  return arguments;
}

class TranscribeTool : public testing::Test {
protected:
  // The audio and an empty home; the model only for the tests that transcribe (ctest runs each
  // test in a process of its own, and making a model costs seconds).
  static void SetUpTestSuite() {
    folder_ = new mqtest::TempDir;
    writeWav(folder_->path() / "take.wav", 2.0);
    fs::create_directories(folder_->path() / "home");
  }
  static void makeModel() {
    const fs::path model = folder_->path() / "model";
    if (fs::exists(model / "TextDecoder.mlmodelc")) {
      return;
    }
    ASSERT_EQ(run(folder_->path(),
                  quoted(MQ_MAKE_TEST_MODEL_TOOL) + " " + quoted(model) + scriptedModelArguments()),
              0);
    mqtest::writeSpeechTokenizer(model, mqtest::SpeechVocabulary::englishOnly);
  }
  static void TearDownTestSuite() { delete folder_; }

  static const fs::path &folder() { return folder_->path(); }
  static int transcribe(const std::string &arguments, const std::string &output = "stdout.txt") {
    return run(folder(), quoted(MQ_TRANSCRIBE_TOOL) + " " + arguments, output);
  }
  static std::string read(const std::string &name) {
    return mqtest::TempDir::read(folder() / name);
  }

  static mqtest::TempDir *folder_;
};
mqtest::TempDir *TranscribeTool::folder_ = nullptr;

struct FormatCase {
  std::string format;
  std::string file;     // written to the output folder; empty for standard output
  std::string expected; // the whole output
};
void PrintTo(const FormatCase &c, std::ostream *out) { *out << c.format; }

class TranscribeToolFormats : public TranscribeTool,
                              public testing::WithParamInterface<FormatCase> {};

TEST_P(TranscribeToolFormats, WritesTheKnownTranscription) {
  const FormatCase &c = GetParam();
  makeModel();
  const std::string outputs = "out-" + c.format;
  ASSERT_EQ(
      transcribe("take.wav --model-folder model --format " + c.format + " --output-dir " + outputs),
      0)
      << read("stderr.txt");
  if (c.file.empty()) {
    EXPECT_EQ(read("stdout.txt"), c.expected);
    EXPECT_FALSE(fs::exists(folder() / outputs)) << "text goes to standard output only";
    return;
  }
  EXPECT_EQ(read(outputs + "/" + c.file), c.expected);
  // The path, as the folder was given: not a URL.
  EXPECT_EQ(read("stderr.txt"), "Wrote " + outputs + "/" + c.file + " from take.wav\n");
}

INSTANTIATE_TEST_SUITE_P(AllFour, TranscribeToolFormats,
                         testing::Values(FormatCase{"text", "", "Hello\n"},
                                         FormatCase{"srt", "take.srt",
                                                    "1\n00:00:00,000 --> 00:00:00,000\n\n\n"
                                                    "2\n00:00:00,000 --> 00:00:02,000\n Hello\n\n"},
                                         FormatCase{"vtt", "take.vtt",
                                                    "WEBVTT\n\n00:00.000 --> 00:00.000\n\n\n"
                                                    "00:00.000 --> 00:02.000\n Hello\n\n"}),
                         [](const testing::TestParamInfo<FormatCase> &info) {
                           return info.param.format;
                         });

TEST_F(TranscribeTool, JsonHoldsTheSegmentsTokensAndLanguage) {
  makeModel();
  ASSERT_EQ(transcribe("take.wav --model-folder model --format json --output-dir out-json"), 0)
      << read("stderr.txt");
  const auto json = nlohmann::json::parse(read("out-json/take.json"));
  EXPECT_EQ(json.at("text"), "Hello");
  EXPECT_EQ(json.at("language"), "en");
  const auto &segments = json.at("segments");
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[1].at("text"), " Hello");
  EXPECT_EQ(segments[1].at("start"), 0.0);
  EXPECT_EQ(segments[1].at("end"), 2.0);
  EXPECT_EQ(segments[1].at("tokens"), nlohmann::json({kTimeBegin, kHello, kTimeBegin + 100}));
  EXPECT_GT(json.at("timings").at("inputAudioSeconds"), 1.99);
}

struct FailureCase {
  std::string name;
  std::string arguments;
  int status;
  std::string message; // the start of the one line on standard error
};
void PrintTo(const FailureCase &c, std::ostream *out) { *out << c.name; }

class TranscribeToolFailures : public TranscribeTool,
                               public testing::WithParamInterface<FailureCase> {};

TEST_P(TranscribeToolFailures, ExitWithTheirCodeAndOneLine) {
  const FailureCase &c = GetParam();
  EXPECT_EQ(transcribe(c.arguments), c.status);
  const std::string error = read("stderr.txt");
  EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
  EXPECT_EQ(read("stdout.txt"), "");
}

INSTANTIATE_TEST_SUITE_P(
    ExitCodes, TranscribeToolFailures,
    testing::Values(
        FailureCase{"NoFile", "--model-folder model", 2, "usage: transcribe FILE..."},
        FailureCase{"UnknownFormat", "take.wav --model-folder model --format doc", 2,
                    "usage: transcribe FILE..."},
        FailureCase{"FolderAndName", "take.wav --model-folder model --model tiny", 2,
                    "usage: transcribe FILE..."},
        FailureCase{"MissingFile", "missing.wav --model-folder model", 3,
                    "transcribe: missing.wav: no such file\n"},
        FailureCase{"MissingModelFolder", "take.wav --model-folder nowhere", 4,
                    "transcribe: nowhere: no such model folder\n"},
        FailureCase{"FolderWithoutModels", "take.wav --model-folder home", 4,
                    "transcribe: cannot load the model: Model file not found at "},
        FailureCase{"FolderAsInput", "home --model-folder model", 3,
                    "transcribe: home: is a directory, not an audio file\n"},
        // Paths the system cannot even inspect: one line, not an abort.
        FailureCase{"InputNameTooLong", std::string(300, 'n') + ".wav --model-folder model", 3,
                    "transcribe: " + std::string(300, 'n') + ".wav: File name too long\n"},
        FailureCase{"ModelFolderNameTooLong", "take.wav --model-folder " + std::string(300, 'm'), 4,
                    "transcribe: " + std::string(300, 'm') + ": File name too long\n"},
        // An output folder that cannot take the outputs is found before the model is even
        // looked for (there is none here), not after each file is transcribed.
        FailureCase{"OutputDirIsAFile",
                    "take.wav --model-folder model --format json --output-dir take.wav", 3,
                    "transcribe: --output-dir take.wav: not a folder\n"},
        FailureCase{"OutputDirUnderAFile",
                    "take.wav --model-folder model --format srt --output-dir take.wav/out", 3,
                    "transcribe: --output-dir take.wav/out: cannot be made: Not a directory\n"},
        FailureCase{"OutputDirEmpty", "take.wav --model-folder model --format vtt --output-dir ''",
                    3, "transcribe: --output-dir : an empty path is not a folder\n"},
        FailureCase{"UnknownLanguage", "take.wav --model-folder model --language xx", 2,
                    "usage: transcribe FILE..."},
        FailureCase{"UnknownOption", "take.wav --model-folder model --modle x", 2,
                    "usage: transcribe FILE..."}),
    [](const testing::TestParamInfo<FailureCase> &info) { return info.param.name; });

TEST_F(TranscribeTool, AnUnknownLanguageNamesTheKnownCodes) {
  EXPECT_EQ(transcribe("take.wav --model-folder model --language english"), 2);
  const std::string error = read("stderr.txt");
  EXPECT_NE(error.find("transcribe: --language english: not a known language code; known codes: "),
            std::string::npos)
      << error;
  for (const char *code : {"de", "en", "fr", "yue"}) {
    EXPECT_NE(error.find(std::string(" ") + code + ","), std::string::npos) << code;
  }
}

// Inputs whose names meet, in the extension or in a folder: each gets its own output, named in
// the message, and none overwrites another.
TEST_F(TranscribeTool, InputsWithTheSameNameGetOutputsOfTheirOwn) {
  makeModel();
  fs::create_directories(folder() / "d");
  for (const char *copy : {"x.wav", "x.audio", "d/x.wav"}) {
    fs::copy_file(folder() / "take.wav", folder() / copy, fs::copy_options::overwrite_existing);
  }
  ASSERT_EQ(transcribe("x.wav x.audio d/x.wav --model-folder model --format json --output-dir "
                       "same-names"),
            0)
      << read("stderr.txt");
  for (const char *output : {"x.wav.json", "x.audio.json", "x.wav-2.json"}) {
    EXPECT_EQ(nlohmann::json::parse(read(std::string("same-names/") + output)).at("text"), "Hello")
        << output;
  }
  EXPECT_EQ(
      std::distance(fs::directory_iterator(folder() / "same-names"), fs::directory_iterator()), 3);
  const std::string error = read("stderr.txt");
  for (const char *line :
       {"x.wav.json from x.wav\n", "x.audio.json from x.audio\n", "x.wav-2.json from d/x.wav\n"}) {
    EXPECT_NE(error.find(line), std::string::npos) << error;
  }
}

// The help's example of numbered outputs names the files the tool writes for them.
TEST_F(TranscribeTool, HelpNamesTheOutputsOfInputsOfTheSameName) {
  makeModel();
  fs::create_directories(folder() / "e");
  fs::copy_file(folder() / "take.wav", folder() / "x.wav", fs::copy_options::overwrite_existing);
  fs::copy_file(folder() / "take.wav", folder() / "e/x.wav", fs::copy_options::overwrite_existing);
  ASSERT_EQ(transcribe("x.wav e/x.wav --model-folder model --format json --output-dir numbered"), 0)
      << read("stderr.txt");
  std::vector<std::string> written;
  for (const auto &entry : fs::directory_iterator(folder() / "numbered")) {
    written.push_back(entry.path().filename().string());
  }
  // The first input's output, then the numbered one.
  std::sort(written.begin(), written.end(),
            [](const auto &a, const auto &b) { return a.size() < b.size(); });
  ASSERT_EQ(written.size(), 2u);
  ASSERT_EQ(transcribe("--help"), 0);
  const std::string help = read("stdout.txt");
  EXPECT_NE(help.find("(" + written[0] + ", " + written[1] + ")"), std::string::npos) << help;
}

// A transcript standard output does not take (a full disk) is a failure, not a silent loss.
TEST_F(TranscribeTool, TextThatCannotBePrintedFails) {
  makeModel();
  EXPECT_EQ(transcribe("take.wav --model-folder model", "/dev/full"), 5);
  EXPECT_EQ(read("stderr.txt"), "transcribe: take.wav: cannot write the text to standard output: "
                                "No space left on device\n");
}

// A model asked for by name from a hub that cannot be reached: the model cannot be had.
TEST_F(TranscribeTool, UnreachableHubIsAMissingModel) {
  const mqtest::RefusingPort hub;
  EXPECT_EQ(transcribe("take.wav --model tiny --model-repo owner/models --endpoint " + hub.url()),
            4);
  const std::string error = read("stderr.txt");
  EXPECT_EQ(error.rfind("transcribe: cannot load the model: Model not found. Please check the "
                        "model or repo name and try again. Error: ",
                        0),
            0u)
      << error;
  EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
}

} // namespace
