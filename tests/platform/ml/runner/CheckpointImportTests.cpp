// Importing published checkpoints into the runner's model folders.

#include "platform/ml/CheckpointImport.hpp"

#include "platform/ml/LoadMLModel.hpp"
#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/formats/SafeTensorsFile.hpp"
#include "platform/ml/runner/formats/SafeTensorsWriter.hpp"
#include "platform/system/FileDescriptor.hpp"
#include "platform/system/CancellationError.hpp"
#include "platform/system/CancellationScope.hpp"
#include "tests/support/ErrorText.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using mqtest::TempDir;
using platform::MLModelError;
using platform::runner::SafeTensorsFile;
using platform::runner::TestModelOptions;

using mqtest::errorText;

// Every tensor of `expected` is in `actual` with the same type, shape and values.
void expectSameTensors(const fs::path &expected, const fs::path &actual) {
  const SafeTensorsFile a(expected);
  const SafeTensorsFile b(actual);
  ASSERT_EQ(a.tensors().size(), b.tensors().size()) << actual;
  for (const auto &[name, tensor] : a.tensors()) {
    ASSERT_TRUE(b.contains(name)) << name;
    EXPECT_EQ(b.tensors().at(name).type, tensor.type) << name;
    EXPECT_EQ(b.readFloats(name, tensor.shape), a.readFloats(name, tensor.shape)) << name;
  }
}

class CheckpointImportTest : public testing::TestWithParam<SafeTensorsFile::ElementType> {};

TEST_P(CheckpointImportTest, GivesTheSameModelsAsTheirDirectlyWrittenTwins) {
  TempDir temp;
  TestModelOptions options;
  options.weightType = GetParam();
  options.seed = 11;
  platform::runner::writeTestModels(temp / "direct", options);
  platform::runner::writeCheckpoint(temp / "checkpoint", options);
  temp.write("checkpoint/tokenizer.json", "{\"model\": {}}");
  ASSERT_TRUE(platform::isCheckpointFolder(temp / "checkpoint"));

  platform::importCheckpoint(temp / "checkpoint", temp / "imported");
  for (const char *model :
       {"MelSpectrogram.mlmodelc", "AudioEncoder.mlmodelc", "TextDecoder.mlmodelc"}) {
    EXPECT_EQ(TempDir::read(temp / "imported" / model / "model.json"),
              TempDir::read(temp / "direct" / model / "model.json"))
        << model;
    expectSameTensors(temp / "direct" / model / "weights.safetensors",
                      temp / "imported" / model / "weights.safetensors");
    EXPECT_NE(platform::loadMLModel(temp / "imported" / model), nullptr) << model;
  }
  EXPECT_EQ(TempDir::read(temp / "imported/tokenizer.json"), "{\"model\": {}}");
}

INSTANTIATE_TEST_SUITE_P(ElementTypes, CheckpointImportTest,
                         testing::Values(SafeTensorsFile::ElementType::float16,
                                         SafeTensorsFile::ElementType::float32));

// A checkpoint whose tensors or documents disagree with its configuration.
struct Damage {
  const char *what;
  std::function<void(const fs::path &)> apply;
  const char *message; // expected in the error
};

// The names in `folder`, sorted.
std::vector<std::string> entryNames(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class CheckpointDamageTest : public testing::TestWithParam<Damage> {};

TEST_P(CheckpointDamageTest, IsRefusedAndWritesNothing) {
  TempDir temp;
  TestModelOptions options;
  platform::runner::writeCheckpoint(temp / "checkpoint", options);
  GetParam().apply(temp / "checkpoint");
  const std::string error =
      errorText([&] { platform::importCheckpoint(temp / "checkpoint", temp / "imported"); });
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(temp / "imported"));
  EXPECT_FALSE(fs::exists(temp / "imported.partial"));
  EXPECT_EQ(entryNames(temp.path()), std::vector<std::string>{"checkpoint"});
}

void writeFile(const fs::path &file, const std::string &text) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

void editConfig(const fs::path &folder, const char *file, const nlohmann::json &patch) {
  nlohmann::json document = nlohmann::json::parse(TempDir::read(folder / file));
  document.merge_patch(patch);
  writeFile(folder / file, document.dump());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckpointDamageTest,
    testing::Values(
        Damage{"width disagrees with the tensors",
               [](const fs::path &f) {
                 editConfig(f, "config.json", {{"d_model", 128}});
               },
               "tensor model.encoder.conv1.weight has shape [64, 80, 3], expected [128, 80, 3]"},
        Damage{"a required key is missing",
               [](const fs::path &f) {
                 editConfig(f, "config.json", {{"vocab_size", nullptr}});
               },
               "\"vocab_size\" is missing"},
        Damage{"an absurd dimension",
               [](const fs::path &f) {
                 editConfig(f, "config.json", {{"decoder_layers", 4294967296ull}});
               },
               "\"decoder_layers\" must be a whole number from 1 to 256"},
        // The loader's bounds hold before any work: the filterbank of these alone would take
        // gigabytes, and the loader would refuse the models written from them.
        Damage{"more mel bins than the loader takes",
               [](const fs::path &f) {
                 editConfig(f, "config.json", {{"num_mel_bins", 1024}});
               },
               "\"num_mel_bins\" must be a whole number from 1 to 512"},
        Damage{"a transform longer than the loader takes",
               [](const fs::path &f) {
                 editConfig(f, "preprocessor_config.json", {{"n_fft", 16384}});
               },
               "\"n_fft\" must be a whole number from 1 to 8192"},
        Damage{"a transform that does not fit the window",
               [](const fs::path &f) {
                 editConfig(f, "preprocessor_config.json", {{"n_fft", 8192}, {"n_samples", 4000}});
               },
               "n_fft 8192 and hop_length 160 do not fit n_samples 4000"},
        // Every dimension within its bound, but the encoder's attention scores alone would be
        // 65536 x 65536 floats: refused before any work, not left to fail allocating 16 GiB.
        Damage{"an encoder whose working memory would be gigabytes",
               [](const fs::path &f) {
                 editConfig(f, "config.json", {{"max_source_positions", 65536}});
                 editConfig(f, "preprocessor_config.json",
                            {{"hop_length", 32}, {"n_samples", 65536 * 2 * 32}});
               },
               "the audio_encoder would need 16"},
        Damage{"an alignment head beyond the decoder",
               [](const fs::path &f) {
                 editConfig(f, "generation_config.json", {{"alignment_heads", {{2, 0}}}});
               },
               "\"alignment_heads\" holds an entry that is not a [layer, head] pair within 2 "
               "layers of 4 heads"},
        Damage{"mel bins disagree",
               [](const fs::path &f) {
                 editConfig(f, "preprocessor_config.json", {{"feature_size", 128}});
               },
               "\"feature_size\" 128 differs from \"num_mel_bins\" 80"},
        Damage{"configuration nested too deep",
               [](const fs::path &f) {
                 writeFile(f / "config.json", std::string(5000, '[') + std::string(5000, ']'));
               },
               "nested more than 32 levels deep"}),
    [](const testing::TestParamInfo<Damage> &info) { return "Case" + std::to_string(info.index); });

TEST(CheckpointImportIfNeededTest, ReusesAnUpToDateImportAndRedoesAChangedOne) {
  TempDir temp;
  TestModelOptions options;
  platform::runner::writeCheckpoint(temp / "checkpoint", options);
  platform::importCheckpointIfNeeded(temp / "checkpoint", temp / "imported");
  // A change to a file the import wrote survives only when the import is reused.
  const fs::path weights = temp / "imported/MelSpectrogram.mlmodelc/weights.safetensors";
  std::ofstream(weights, std::ios::binary | std::ios::app) << "x";
  const std::string changed = TempDir::read(weights);
  platform::importCheckpointIfNeeded(temp / "checkpoint", temp / "imported");
  EXPECT_EQ(TempDir::read(weights), changed);

  editConfig(temp / "checkpoint", "generation_config.json", {{"alignment_heads", {{1, 3}}}});
  platform::importCheckpointIfNeeded(temp / "checkpoint", temp / "imported");
  EXPECT_NE(TempDir::read(weights), changed);
  const auto decoder =
      nlohmann::json::parse(TempDir::read(temp / "imported/TextDecoder.mlmodelc/model.json"));
  EXPECT_EQ(decoder["alignment_heads"], nlohmann::json::parse("[[1, 3]]"));
  // Nothing of the earlier import is left beside it, and no staging folder either.
  EXPECT_EQ(entryNames(temp.path()), (std::vector<std::string>{"checkpoint", "imported"}));

  // A failed import leaves the earlier one as it was.
  const std::string before = TempDir::read(temp / "imported/TextDecoder.mlmodelc/model.json");
  editConfig(temp / "checkpoint", "config.json", {{"d_model", 128}});
  EXPECT_THROW(platform::importCheckpoint(temp / "checkpoint", temp / "imported"), MLModelError);
  EXPECT_EQ(TempDir::read(temp / "imported/TextDecoder.mlmodelc/model.json"), before);
  EXPECT_EQ(entryNames(temp.path()), (std::vector<std::string>{"checkpoint", "imported"}));
}

TEST(CheckpointImportTest, ReimportingReplacesOnlyWhatTheEarlierImportWrote) {
  TempDir temp;
  platform::runner::writeCheckpoint(temp / "checkpoint", TestModelOptions{});
  temp.write("checkpoint/vocab.json", "{}");
  platform::importCheckpoint(temp / "checkpoint", temp / "imported");
  temp.write("imported/notes.txt", "mine");
  temp.write("imported/TextDecoder.mlmodelc/notes.txt", "mine too");

  fs::remove(temp / "checkpoint/vocab.json");
  editConfig(temp / "checkpoint", "generation_config.json", {{"alignment_heads", {{1, 3}}}});
  platform::importCheckpoint(temp / "checkpoint", temp / "imported");
  EXPECT_EQ(TempDir::read(temp / "imported/notes.txt"), "mine");
  EXPECT_EQ(TempDir::read(temp / "imported/TextDecoder.mlmodelc/notes.txt"), "mine too");
  EXPECT_FALSE(fs::exists(temp / "imported/vocab.json")) << "written by the earlier import";
  const auto decoder =
      nlohmann::json::parse(TempDir::read(temp / "imported/TextDecoder.mlmodelc/model.json"));
  EXPECT_EQ(decoder["alignment_heads"], nlohmann::json::parse("[[1, 3]]"));
  EXPECT_NE(platform::loadMLModel(temp / "imported/TextDecoder.mlmodelc"), nullptr);
  EXPECT_EQ(entryNames(temp.path()), (std::vector<std::string>{"checkpoint", "imported"}));

  // A file of the user's where the import would now write is left, and the import refused.
  temp.write("checkpoint/vocab.json", "{}");
  temp.write("imported/vocab.json", "the user's");
  const std::string error =
      errorText([&] { platform::importCheckpoint(temp / "checkpoint", temp / "imported"); });
  EXPECT_NE(error.find("was not written by an earlier import"), std::string::npos) << error;
  EXPECT_EQ(TempDir::read(temp / "imported/vocab.json"), "the user's");
  EXPECT_EQ(entryNames(temp.path()), (std::vector<std::string>{"checkpoint", "imported"}));

  // A model folder swapped for a link to the user's folder: nothing is written or deleted there.
  fs::remove(temp / "imported/vocab.json");
  temp.write("elsewhere/model.json", "the user's");
  fs::remove_all(temp / "imported/TextDecoder.mlmodelc");
  fs::create_directory_symlink(temp / "elsewhere", temp / "imported/TextDecoder.mlmodelc");
  const std::string linkError =
      errorText([&] { platform::importCheckpoint(temp / "checkpoint", temp / "imported"); });
  EXPECT_NE(linkError.find("is a link"), std::string::npos) << linkError;
  EXPECT_EQ(entryNames(temp / "elsewhere"), std::vector<std::string>{"model.json"});
  EXPECT_EQ(TempDir::read(temp / "elsewhere/model.json"), "the user's");
}

// The marker an earlier version wrote held the source's stamp alone; such a folder is still an
// import, whose files are the six model files and the tokenizer files its stamp names.
TEST(CheckpointImportTest, AnEarlierVersionsMarkerIsReadAsTheFilesThatVersionWrote) {
  TempDir temp;
  platform::runner::writeCheckpoint(temp / "checkpoint", TestModelOptions{});
  platform::importCheckpoint(temp / "checkpoint", temp / "imported");
  std::string stamp;
  std::istringstream marker(TempDir::read(temp / "imported/.checkpoint-import"));
  for (std::string line; std::getline(marker, line);) {
    if (line.starts_with("source ")) {
      stamp += line.substr(7) + "\n";
    }
  }
  ASSERT_FALSE(stamp.empty());
  temp.write("imported/.checkpoint-import", stamp);
  temp.write("imported/notes.txt", "mine");

  platform::importCheckpointIfNeeded(temp / "checkpoint", temp / "imported");
  EXPECT_EQ(TempDir::read(temp / "imported/notes.txt"), "mine");
  EXPECT_TRUE(TempDir::read(temp / "imported/.checkpoint-import")
                  .starts_with("Murmurquill checkpoint import\n"));
}

TEST(CheckpointImportTest, StagingFoldersOfKilledImportsAreSweptAndOthersKept) {
  TempDir temp;
  platform::runner::writeCheckpoint(temp / "checkpoint", TestModelOptions{});
  // Left by an import that was killed: its lock file is held by nobody.
  temp.write("imported.partial-Ab3xYz/.import-in-progress", "");
  temp.write("imported.partial-Ab3xYz/AudioEncoder.mlmodelc/weights.safetensors", "half");
  // An import running meanwhile holds its lock.
  const fs::path running = temp.write("imported.partial-Run123/.import-in-progress", "");
  const platform::FileDescriptor held(::open(running.c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_EQ(::flock(held.get(), LOCK_EX | LOCK_NB), 0);
  // Not ours: no lock file, or a name mkdtemp never makes.
  temp.write("imported.partial-mine12/notes.txt", "keep");
  temp.write("imported.partial-longer-name/.import-in-progress", "");

  platform::importCheckpoint(temp / "checkpoint", temp / "imported");
  EXPECT_EQ(entryNames(temp.path()),
            (std::vector<std::string>{"checkpoint", "imported", "imported.partial-Run123",
                                      "imported.partial-longer-name", "imported.partial-mine12"}));
  EXPECT_FALSE(fs::exists(temp / "imported/.import-in-progress"));
}

// An import takes minutes on a large checkpoint; a caller that gave up (the app quitting) stops
// it, and it leaves nothing behind: no import, no staging folder.
TEST(CheckpointImportTest, ACancelledImportStopsAndLeavesNothing) {
  TempDir temp;
  platform::runner::writeCheckpoint(temp / "checkpoint", TestModelOptions{});
  platform::CancellationToken token;
  token.cancel();
  {
    const platform::CancellationScope scope(token);
    EXPECT_THROW(platform::importCheckpointIfNeeded(temp / "checkpoint", temp / "imported"),
                 platform::CancellationError);
  }
  EXPECT_EQ(entryNames(temp.path()), std::vector<std::string>{"checkpoint"});
}

TEST(CheckpointImportTest, AnEmptyListOfAlignmentHeadsGivesTheUpperHalfOfTheDecoder) {
  TempDir temp;
  platform::runner::writeCheckpoint(temp / "checkpoint", TestModelOptions{});
  editConfig(temp / "checkpoint", "generation_config.json",
             {{"alignment_heads", nlohmann::json::array()}});
  platform::importCheckpoint(temp / "checkpoint", temp / "imported");
  EXPECT_NE(platform::loadMLModel(temp / "imported/TextDecoder.mlmodelc"), nullptr);
  const auto decoder =
      nlohmann::json::parse(TempDir::read(temp / "imported/TextDecoder.mlmodelc/model.json"));
  EXPECT_EQ(decoder["alignment_heads"], nlohmann::json::parse("[[1, 0], [1, 1], [1, 2], [1, 3]]"));
}

TEST(CheckpointImportTest, RepeatedAlignmentHeadsAreWrittenOnce) {
  TempDir temp;
  platform::runner::writeCheckpoint(temp / "checkpoint", TestModelOptions{});
  editConfig(temp / "checkpoint", "generation_config.json",
             {{"alignment_heads", {{1, 3}, {0, 0}, {1, 3}, {0, 0}, {1, 2}, {1, 3}}}});
  platform::importCheckpoint(temp / "checkpoint", temp / "imported");
  const auto decoder =
      nlohmann::json::parse(TempDir::read(temp / "imported/TextDecoder.mlmodelc/model.json"));
  EXPECT_EQ(decoder["alignment_heads"], nlohmann::json::parse("[[1, 3], [0, 0], [1, 2]]"));
}

// Every file, folder and link under `folder` with the files' contents, to show nothing changed.
std::map<std::string, std::string> snapshot(const fs::path &folder) {
  std::map<std::string, std::string> entries;
  for (const auto &entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().lexically_relative(folder).string();
    if (entry.is_symlink()) {
      entries[name] = "link to " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      entries[name] = "folder";
    } else {
      entries[name] = TempDir::read(entry.path());
    }
  }
  return entries;
}

// A destination the importer must leave alone, and what its refusal says.
struct Destination {
  const char *what;
  // Lays out what stands around the checkpoint (at "checkpoint") and returns the destination.
  std::function<fs::path(TempDir &)> arrange;
  const char *message;
};

class CheckpointDestinationTest : public testing::TestWithParam<Destination> {};

TEST_P(CheckpointDestinationTest, IsRefusedAndNothingIsDeletedOrWritten) {
  TempDir temp;
  platform::runner::writeCheckpoint(temp / "checkpoint", TestModelOptions{});
  const fs::path workingFolder = fs::current_path();
  const fs::path destination = GetParam().arrange(temp);
  const auto before = snapshot(temp.path());
  const std::string error =
      errorText([&] { platform::importCheckpoint(temp / "checkpoint", destination); });
  fs::current_path(workingFolder);
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
  EXPECT_EQ(snapshot(temp.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckpointDestinationTest,
    testing::Values(Destination{"a folder of the user's",
                                [](TempDir &t) {
                                  t.write("mine/notes.txt", "keep");
                                  return t / "mine";
                                },
                                "exists and is not an earlier import"},
                    Destination{"a file", [](TempDir &t) { return t.write("notes.txt", "keep"); },
                                "exists and is not an earlier import"},
                    Destination{"a folder with an empty marker",
                                [](TempDir &t) {
                                  t.write("mine/notes.txt", "keep");
                                  t.write("mine/.checkpoint-import", "");
                                  return t / "mine";
                                },
                                "exists and is not an earlier import"},
                    Destination{"a folder with a marker an import did not write",
                                [](TempDir &t) {
                                  t.write("mine/notes.txt", "keep");
                                  t.write("mine/.checkpoint-import", "notes.txt 4 1\n");
                                  return t / "mine";
                                },
                                "exists and is not an earlier import"},
                    Destination{"an empty folder",
                                [](TempDir &t) {
                                  fs::create_directories(t / "empty");
                                  return t / "empty";
                                },
                                "exists and is not an earlier import"},
                    Destination{"the current directory",
                                [](TempDir &t) {
                                  t.write("work/notes.txt", "keep");
                                  fs::current_path(t / "work");
                                  return fs::path(".");
                                },
                                "exists and is not an earlier import"},
                    Destination{"the checkpoint itself",
                                [](TempDir &t) { return t / "checkpoint/../checkpoint/"; },
                                "is the checkpoint folder or lies inside it"},
                    Destination{"a folder inside the checkpoint",
                                [](TempDir &t) { return t / "checkpoint/imported"; },
                                "is the checkpoint folder or lies inside it"},
                    Destination{"the folder holding the checkpoint",
                                [](TempDir &t) { return t.path(); },
                                "holds the checkpoint folder"}),
    [](const testing::TestParamInfo<Destination> &info) {
      return "Case" + std::to_string(info.index);
    });

} // namespace
