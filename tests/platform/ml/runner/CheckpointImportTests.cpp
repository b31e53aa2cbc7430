// Importing published checkpoints into the runner's model folders.

#include "platform/ml/CheckpointImport.hpp"

#include "platform/ml/LoadMLModel.hpp"
#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/formats/SafeTensorsFile.hpp"
#include "platform/ml/runner/formats/SafeTensorsWriter.hpp"
#include "tests/support/ErrorText.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <string>

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
               "\"decoder_layers\" must be a whole number from 1 to 1048576"},
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
  // A marker inside the import survives only when the import is reused.
  temp.write("imported/marker", "kept");
  platform::importCheckpointIfNeeded(temp / "checkpoint", temp / "imported");
  EXPECT_TRUE(fs::exists(temp / "imported/marker"));

  editConfig(temp / "checkpoint", "generation_config.json", {{"alignment_heads", {{1, 3}}}});
  platform::importCheckpointIfNeeded(temp / "checkpoint", temp / "imported");
  EXPECT_FALSE(fs::exists(temp / "imported/marker"));
  const auto decoder =
      nlohmann::json::parse(TempDir::read(temp / "imported/TextDecoder.mlmodelc/model.json"));
  EXPECT_EQ(decoder["alignment_heads"], nlohmann::json::parse("[[1, 3]]"));
}

} // namespace
