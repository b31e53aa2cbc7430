// Loading model folders: the descriptions the engine reads, and clear errors for bad folders.

#include "platform/ml/LoadMLModel.hpp"
#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/formats/SafeTensorsWriter.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace {

using namespace platform;
using platform::runner::ModelConfig;
using platform::runner::ModelKind;
using platform::runner::SafeTensorsFile;
using platform::runner::TestModelOptions;

MLMultiArrayConstraint constraint(const MLModel &model, const std::string &name, bool input) {
  const auto &map = input ? model.description().inputDescriptionsByName
                          : model.description().outputDescriptionsByName;
  const auto found = map.find(name);
  EXPECT_NE(found, map.end()) << name;
  if (found == map.end() || !found->second.multiArrayConstraint) {
    return {};
  }
  EXPECT_EQ(found->second.type, MLFeatureType::multiArray);
  return *found->second.multiArrayConstraint;
}

TEST(ModelFolder, DescriptionsReportEveryFeatureTheEngineReads) {
  mqtest::TempDir dir;
  TestModelOptions options; // D 64, 2 decoder layers, 1500 positions, 224 cache slots
  runner::writeTestModels(dir.path(), options);
  const auto mel = loadMLModel(dir / "MelSpectrogram.mlmodelc");
  const auto encoder = loadMLModel(dir / "AudioEncoder.mlmodelc", {MLComputeUnits::cpuOnly});
  const auto decoder = loadMLModel(dir / "TextDecoder.mlmodelc");
  using Shape = MLMultiArray::Shape;
  using T = MLMultiArrayDataType;
  struct Expected {
    const MLModel *model;
    std::string name;
    bool input;
    Shape shape;
    T type;
  };
  const std::vector<Expected> table = {
      {mel.get(), "audio", true, {480000}, T::float32},
      {mel.get(), "melspectrogram_features", false, {1, 80, 1, 3000}, T::float16},
      {encoder.get(), "melspectrogram_features", true, {1, 80, 1, 3000}, T::float16},
      {encoder.get(), "encoder_output_embeds", false, {1, 64, 1, 1500}, T::float16},
      {decoder.get(), "input_ids", true, {1}, T::int32},
      {decoder.get(), "cache_length", true, {1}, T::int32},
      {decoder.get(), "key_cache", true, {1, 128, 1, 224}, T::float16},
      {decoder.get(), "value_cache", true, {1, 128, 1, 224}, T::float16},
      {decoder.get(), "kv_cache_update_mask", true, {1, 224}, T::int32},
      {decoder.get(), "encoder_output_embeds", true, {1, 64, 1, 1500}, T::float16},
      {decoder.get(), "decoder_key_padding_mask", true, {1, 224}, T::float16},
      {decoder.get(), "logits", false, {1, 1, 51864}, T::float32},
      {decoder.get(), "key_cache_updates", false, {1, 128, 1, 1}, T::float16},
      {decoder.get(), "value_cache_updates", false, {1, 128, 1, 1}, T::float16},
      {decoder.get(), "alignment_heads_weights", false, {1, 1500}, T::float32},
  };
  for (const auto &row : table) {
    SCOPED_TRACE(row.name);
    const auto c = constraint(*row.model, row.name, row.input);
    EXPECT_EQ(c.shape, row.shape);
    EXPECT_EQ(c.dataType, row.type);
  }
  EXPECT_EQ(mel->description().inputDescriptionsByName.size(), 1u);
  EXPECT_EQ(decoder->description().inputDescriptionsByName.size(), 7u);
  EXPECT_EQ(decoder->description().outputDescriptionsByName.size(), 4u);

  // A decoder written without the alignment output does not describe one.
  mqtest::TempDir other;
  options.withAlignmentOutput = false;
  const auto plain = loadMLModel(runner::writeTextDecoderModel(other.path(), options));
  EXPECT_EQ(plain->description().outputDescriptionsByName.count("alignment_heads_weights"), 0u);
}

TEST(ModelFolder, TheSameSeedWritesTheSameFiles) {
  TestModelOptions options;
  options.dimensions.vocabularySize = 1000;
  options.dimensions.audioContext = 16;
  mqtest::TempDir first, second, third;
  runner::writeTestModels(first.path(), options);
  runner::writeTestModels(second.path(), options);
  options.seed += 1;
  runner::writeTestModels(third.path(), options);
  for (const std::string model : {"MelSpectrogram", "AudioEncoder", "TextDecoder"}) {
    SCOPED_TRACE(model);
    for (const std::string file : {"model.json", "weights.safetensors"}) {
      const auto relative = std::filesystem::path(model + ".mlmodelc") / file;
      EXPECT_EQ(mqtest::TempDir::read(first / relative.string()),
                mqtest::TempDir::read(second / relative.string()))
          << file;
    }
  }
  // Another seed changes the random weights, not the filterbank.
  EXPECT_NE(mqtest::TempDir::read(first / "TextDecoder.mlmodelc/weights.safetensors"),
            mqtest::TempDir::read(third / "TextDecoder.mlmodelc/weights.safetensors"));
  EXPECT_EQ(mqtest::TempDir::read(first / "MelSpectrogram.mlmodelc/weights.safetensors"),
            mqtest::TempDir::read(third / "MelSpectrogram.mlmodelc/weights.safetensors"));
}

void writeText(const std::filesystem::path &file, const std::string &text) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

// Rewrites the weights file without `dropped` (and with `reshaped` given a wrong first dimension).
void rewriteWeights(const std::filesystem::path &folder, const std::string &dropped,
                    const std::string &reshaped = "") {
  const auto path = folder / "weights.safetensors";
  runner::SafeTensorsWriter writer;
  {
    const SafeTensorsFile file(path);
    for (const auto &[name, tensor] : file.tensors()) {
      if (name == dropped) {
        continue;
      }
      auto values = file.readFloats(name, tensor.shape);
      auto shape = tensor.shape;
      if (name == reshaped) {
        shape[0] -= 1;
        values.resize(values.size() / tensor.shape[0] * shape[0]);
      }
      writer.add(name, shape, values, tensor.type);
    }
  }
  writer.write(path);
}

// The eight-byte little-endian length that starts a safetensors file.
std::string safetensorsLength(std::size_t length) {
  std::string bytes(8, '\0');
  for (std::size_t i = 0; i < 8; ++i) {
    bytes[i] = static_cast<char>((length >> (8 * i)) & 0xff);
  }
  return bytes;
}

TEST(ModelFolder, BadFoldersFailWithErrorsNamingTheFileAndTensor) {
  struct Case {
    std::string name;
    std::function<void(const std::filesystem::path &)> spoil;
    std::string file;    // file the message must name
    std::string message; // text the message must hold
  };
  TestModelOptions options;
  options.dimensions.audioContext = 16;
  options.dimensions.vocabularySize = 1000;
  // A decoder description of other dimensions than the written weights.
  auto describeDecoder = [&](const std::filesystem::path &folder,
                             const std::function<void(runner::ModelDimensions &)> &change) {
    auto dimensions = options.dimensions;
    change(dimensions);
    auto config = ModelConfig::standard(ModelKind::textDecoder, dimensions);
    config.alignmentHeads = {{0, 1}};
    writeText(folder / "model.json", config.toJson());
  };
  // A valid decoder description with one dimension's value replaced by raw JSON text.
  auto withDimension = [&](const std::filesystem::path &folder, const std::string &key,
                           const std::string &json) {
    auto config = ModelConfig::standard(ModelKind::textDecoder, options.dimensions);
    config.alignmentHeads = {{0, 1}};
    std::string text = config.toJson();
    const std::string field = "\"" + key + "\": ";
    const auto at = text.find(field) + field.size();
    text.replace(at, text.find_first_of(",\n", at) - at, json);
    writeText(folder / "model.json", text);
  };
  const std::vector<Case> cases = {
      {"no folder", [](const auto &f) { std::filesystem::remove_all(f); }, "TextDecoder.mlmodelc",
       "no such model folder"},
      {"no model.json", [](const auto &f) { std::filesystem::remove(f / "model.json"); },
       "model.json", "cannot read"},
      {"malformed model.json", [](const auto &f) { writeText(f / "model.json", "{\"kind\": "); },
       "model.json", "malformed JSON"},
      {"unknown kind",
       [](const auto &f) {
         writeText(f / "model.json", R"({"kind": "vocoder", "dimensions": {}})");
       },
       "model.json", "unknown kind \"vocoder\""},
      {"missing dimension",
       [](const auto &f) {
         writeText(f / "model.json", R"({"kind": "text_decoder", "dimensions": {}})");
       },
       "model.json", "missing dimension \"d_model\""},
      {"feature of another shape",
       [&](const auto &f) {
         auto config = ModelConfig::standard(ModelKind::textDecoder, options.dimensions);
         config.outputs[0].shape = {1, 1, 7};
         writeText(f / "model.json", config.toJson());
       },
       "model.json", "feature logits has shape [1, 1, 7], expected [1, 1, 1000]"},
      {"description larger than the weights",
       [&](const auto &f) { describeDecoder(f, [](auto &d) { d.width = 128; }); },
       "weights.safetensors",
       "tensor model.decoder.embed_tokens.weight has shape [1000, 64], expected [1000, 128]"},
      {"absurd width",
       [&](const auto &f) { describeDecoder(f, [](auto &d) { d.width = std::size_t{1} << 22; }); },
       "model.json", "dimension \"d_model\" is 4194304, above the bound 8192"},
      {"absurd cache length",
       [&](const auto &f) { withDimension(f, "kv_cache_length", "16777216"); }, "model.json",
       "dimension \"kv_cache_length\" is 16777216, above the bound 65536"},
      {"cache longer than the learned positions",
       [&](const auto &f) { describeDecoder(f, [](auto &d) { d.cacheLength = 449; }); },
       "model.json",
       "dimension \"kv_cache_length\" is 449, above the bound 448 (\"max_target_positions\")"},
      {"features of gigabytes",
       [&](const auto &f) {
         describeDecoder(f, [](auto &d) {
           d.decoderLayers = 200;
           d.width = 8192;
           d.decoderHeads = 8;
           d.textContext = 65536;
           d.cacheLength = 65536;
         });
       },
       "model.json", "feature key_cache of shape [1, 1638400, 1, 65536] holds"},
      {"dimension nested thousands deep",
       [&](const auto &f) {
         withDimension(f, "d_model", std::string(5000, '[') + std::string(5000, ']'));
       },
       "model.json", "nested more than 64 levels deep"},
      {"dimension of the wrong type",
       [&](const auto &f) { withDimension(f, "d_model", "\"" + std::string(500, 'x') + "\""); },
       "model.json",
       "dimension \"d_model\" must be a positive integer, not the string \"xxxxxxxxxx"},
      {"alignment weights without alignment heads",
       [&](const auto &f) {
         writeText(f / "model.json",
                   ModelConfig::standard(ModelKind::textDecoder, options.dimensions).toJson());
       },
       "model.json",
       "the output alignment_heads_weights is listed but \"alignment_heads\" names no head"},
      {"no weights file", [](const auto &f) { std::filesystem::remove(f / "weights.safetensors"); },
       "weights.safetensors", "cannot open"},
      {"missing tensor", [](const auto &f) { rewriteWeights(f, "model.decoder.layer_norm.bias"); },
       "weights.safetensors", "missing tensor model.decoder.layer_norm.bias"},
      {"tensor of another shape",
       [](const auto &f) { rewriteWeights(f, "", "model.decoder.embed_tokens.weight"); },
       "weights.safetensors",
       "tensor model.decoder.embed_tokens.weight has shape [999, 64], expected [1000, 64]"},
      {"truncated weights",
       [](const auto &f) {
         const auto path = f / "weights.safetensors";
         std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
       },
       "weights.safetensors", "truncated"},
      {"header longer than the file",
       [](const auto &f) {
         writeText(f / "weights.safetensors",
                   std::string("\xff\xff\xff\x00\x00\x00\x00\x00{}", 10));
       },
       "weights.safetensors", "header length"},
      {"malformed header",
       [](const auto &f) {
         writeText(f / "weights.safetensors",
                   std::string("\x04\x00\x00\x00\x00\x00\x00\x00{\"a", 12));
       },
       "weights.safetensors", "malformed header"},
      {"element type nested deeply",
       [](const auto &f) {
         const std::string header = "{\"a\": {\"dtype\": " + std::string(200000, '[') +
                                    std::string(200000, ']') +
                                    ", \"shape\": [], \"data_offsets\": [0, 0]}}";
         std::string file(8, '\0');
         for (int i = 0; i < 8; ++i) {
           file[static_cast<std::size_t>(i)] = static_cast<char>((header.size() >> (8 * i)) & 0xff);
         }
         writeText(f / "weights.safetensors", file + header);
       },
       "weights.safetensors", "malformed header: nested more than 64 levels deep"},
      {"more tensors than any model holds",
       [](const auto &f) {
         std::string header = "{";
         for (std::size_t i = 0; i <= SafeTensorsFile::kMaxTensors; ++i) {
           header += (i == 0 ? "\"t" : ",\"t") + std::to_string(i) +
                     "\":{\"dtype\":\"F32\",\"shape\":[0],\"data_offsets\":[0,0]}";
         }
         header += "}";
         writeText(f / "weights.safetensors", safetensorsLength(header.size()) + header);
       },
       "weights.safetensors", "header lists 16385 tensors, above the bound 16384"},
      {"description of megabytes",
       [&](const auto &f) {
         auto config = ModelConfig::standard(ModelKind::textDecoder, options.dimensions);
         config.alignmentHeads = {{0, 1}};
         std::string text = config.toJson();
         text.insert(1, "\"padding\": \"" + std::string(4 << 20, 'x') + "\",");
         writeText(f / "model.json", text);
       },
       "model.json", "larger than 4194304 bytes"},
      {"a number of a million digits in the header",
       [](const auto &f) {
         const std::string header = "{\"a\": {\"dtype\": \"F32\", \"shape\": [1" +
                                    std::string(1 << 20, '0') + "], \"data_offsets\": [0, 0]}}";
         writeText(f / "weights.safetensors", safetensorsLength(header.size()) + header);
       },
       "weights.safetensors", "malformed header: "},
      {"element type of the wrong type",
       [](const auto &f) {
         const std::string header =
             "{\"a\": {\"dtype\": [1, 2, 3], \"shape\": [], \"data_offsets\": [0, 0]}}";
         std::string file(8, '\0');
         file[0] = static_cast<char>(header.size());
         writeText(f / "weights.safetensors", file + header);
       },
       "weights.safetensors", "tensor a: unsupported element type an array of 3"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    mqtest::TempDir dir;
    const auto folder = runner::writeTextDecoderModel(dir.path(), options);
    c.spoil(folder);
    try {
      loadMLModel(folder);
      ADD_FAILURE() << "loaded";
    } catch (const MLModelError &error) {
      const std::string what = error.what();
      // Outside data is quoted by an excerpt, never whole.
      EXPECT_LT(what.size(), 1000u);
      EXPECT_NE(what.find(c.file), std::string::npos) << what;
      EXPECT_NE(what.find(c.message), std::string::npos) << what;
    }
  }
}

} // namespace

namespace {

TEST(ModelFolder, AnEmptyTensorReadsAsNoValues) {
  mqtest::TempDir dir;
  for (const auto type :
       {SafeTensorsFile::ElementType::float16, SafeTensorsFile::ElementType::float32}) {
    runner::SafeTensorsWriter writer;
    writer.add("empty", {0, 4}, {}, type);
    writer.add("one", {1}, {2.5f}, type);
    writer.write(dir / "weights.safetensors");
    const SafeTensorsFile file(dir / "weights.safetensors");
    EXPECT_TRUE(file.readFloats("empty", {0, 4}).empty());
    EXPECT_EQ(file.readFloats("one", {1}), std::vector<float>{2.5f});
  }
}

TEST(ModelFolder, RepeatedAlignmentHeadsAreReadOnce) {
  mqtest::TempDir dir;
  TestModelOptions options;
  auto config = ModelConfig::standard(ModelKind::textDecoder, options.dimensions);
  config.alignmentHeads = {{1, 3}, {0, 0}, {1, 3}};
  for (int repeat = 0; repeat < 1000; ++repeat) {
    config.alignmentHeads.emplace_back(0, 0);
  }
  config.alignmentHeads.emplace_back(1, 2);
  writeText(dir / "model.json", config.toJson());
  const auto read = ModelConfig::load(dir / "model.json");
  EXPECT_EQ(read.alignmentHeads,
            (std::vector<std::pair<std::size_t, std::size_t>>{{1, 3}, {0, 0}, {1, 2}}));
}

TEST(ModelFolder, RunnerModelsHoldNoState) {
  mqtest::TempDir dir;
  TestModelOptions options;
  options.dimensions = TestModelOptions::smallDimensions();
  options.dimensions.vocabularySize = 1000;
  const auto model = loadMLModel(runner::writeTextDecoderModel(dir.path(), options));
  try {
    model->makeState();
    ADD_FAILURE() << "made a state";
  } catch (const MLModelError &error) {
    EXPECT_STREQ(error.what(), "text_decoder: the model holds no state");
  }
}

} // namespace

namespace {

// The working-memory bound stops hostile shapes, not real ones: the largest published shapes
// (128 mel bins, 32 layers of 20 heads over 1280 channels) pass it with room to spare.
TEST(ModelFolder, TheLargestPublishedShapesFitTheWorkingMemoryBound) {
  runner::ModelDimensions large;
  large.melCount = 128;
  large.width = 1280;
  large.encoderLayers = large.decoderLayers = 32;
  large.encoderHeads = large.decoderHeads = 20;
  large.ffnWidth = 5120;
  large.vocabularySize = 51866;
  for (const ModelKind kind : {ModelKind::mel, ModelKind::audioEncoder, ModelKind::textDecoder}) {
    EXPECT_EQ(runner::dimensionsProblem(kind, large), "") << runner::kindName(kind);
  }
  runner::ModelDimensions hostile = large;
  hostile.audioContext = 32768;
  EXPECT_NE(runner::dimensionsProblem(ModelKind::audioEncoder, hostile).find("above the bound"),
            std::string::npos);
}

} // namespace
