#include "DivuvovIze/Decoding/Decoder/TextDecoding.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DeduveCore/Support/Logging.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/Float16.hpp"
#include "tests/support/LogCapture.hpp"

namespace divuvovize {
namespace {

using platform::MLMultiArray;
using platform::MLMultiArrayDataType;

// Sizes only: enough for the shared defaults of the interface.
class SizedDecoder : public TextDecoding {
public:
  std::optional<int> embedDim = 8, sequenceLength = 6, window = 5;

  std::shared_ptr<WhisperTokenizer> tokenizer() const override { return nullptr; }
  void setTokenizer(std::shared_ptr<WhisperTokenizer>) override {}
  bool isModelMultilingual() const override { return false; }
  void setIsModelMultilingual(bool) override {}
  bool supportsWordTimestamps() const override { return false; }
  std::optional<int> logitsSize() const override { return std::nullopt; }
  std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters() const override {
    return std::nullopt;
  }
  void setLogitsFilters(std::optional<std::vector<std::shared_ptr<LogitsFiltering>>>) override {}
  std::optional<int> kvCacheEmbedDim() const override { return embedDim; }
  std::optional<int> kvCacheMaxSequenceLength() const override { return sequenceLength; }
  std::optional<int> windowSize() const override { return window; }
  std::optional<int> embedSize() const override { return std::nullopt; }
  std::optional<TextDecoderMLMultiArrayOutputType>
  predictLogits(const TextDecoderInputType &) override {
    return std::nullopt;
  }
  std::shared_ptr<DecodingInputsType>
  prefillDecoderInputs(std::shared_ptr<DecodingInputsType> inputs,
                       const std::optional<DecodingOptions> &) override {
    return inputs;
  }
  DecodingResult decodeText(const AudioEncoderOutputType &, DecodingInputsType &, TokenSampling &,
                            const DecodingOptions &, const TranscriptionCallback &) override {
    return {};
  }
  DecodingResult detectLanguage(const AudioEncoderOutputType &, DecodingInputsType &,
                                TokenSampling &, const DecodingOptions &, float) override {
    return {};
  }
};

TEST(TextDecodingTest, PreparedInputsHaveTheDecodersSizesAndFreshMasks) {
  SizedDecoder decoder;
  auto prepared = decoder.prepareDecoderInputs({7, 8});
  auto &inputs = dynamic_cast<DecodingInputs &>(*prepared);
  EXPECT_EQ(inputs.initialPrompt(), (std::vector<int>{7, 8}));
  EXPECT_EQ(inputs.keyCache().shape(), (MLMultiArray::Shape{1, 8, 1, 6}));
  EXPECT_EQ(inputs.valueCache().dataType(), MLMultiArrayDataType::float16);
  EXPECT_EQ(inputs.alignmentWeights().shape(), (MLMultiArray::Shape{6, 5}));
  EXPECT_EQ(inputs.inputIds().dataType(), MLMultiArrayDataType::int32);
  for (int p = 0; p < 6; ++p) {
    EXPECT_EQ(inputs.kvCacheUpdateMask().value(p), p == 0 ? 1 : 0);
    EXPECT_EQ(inputs.decoderKeyPaddingMask().value(p), p == 0 ? 0 : -10000);
  }
}

TEST(TextDecodingTest, PrepareNamesTheFirstMissingSize) {
  struct Case {
    bool embed, sequence, window;
    const char *message;
  };
  for (const auto &c :
       std::vector<Case>{{false, false, false, "Unable to determine kvCacheEmbedDim"},
                         {true, false, false, "Unable to determine kvCacheMaxSequenceLength"},
                         {true, true, false, "Unable to determine encoderOutputDim"}}) {
    SizedDecoder decoder;
    if (!c.embed)
      decoder.embedDim.reset();
    if (!c.sequence)
      decoder.sequenceLength.reset();
    if (!c.window)
      decoder.window.reset();
    try {
      decoder.prepareDecoderInputs({1});
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const WhisperError &error) {
      EXPECT_EQ(error, WhisperError::prepareDecoderInputsFailed(c.message));
    }
  }
}

TEST(TextDecodingTest, CacheUpdateWritesOnePositionOfEveryChannel) {
  // Each element width is copied whole, whatever the type.
  for (const auto type :
       {MLMultiArrayDataType::float16, MLMultiArrayDataType::float32, MLMultiArrayDataType::float64,
        MLMultiArrayDataType::int32, MLMultiArrayDataType::int8}) {
    SCOPED_TRACE(platform::description(type));
    MLMultiArray keys({1, 3, 1, 4}, type);
    MLMultiArray values({1, 3, 1, 4}, type);
    MLMultiArray keySlice({1, 3, 1, 1}, type);
    MLMultiArray valueSlice({1, 3, 1, 1}, type);
    for (int j = 0; j < 3; ++j) {
      keySlice.setValue(j, j + 1);
      valueSlice.setValue(j, -(j + 1));
    }
    TextDecoding::updateKVCache(keys, keySlice, values, valueSlice, 2);
    for (int j = 0; j < 3; ++j) {
      for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(keys.value({0, j, 0, p}), p == 2 ? j + 1 : 0) << j << "," << p;
        EXPECT_EQ(values.value({0, j, 0, p}), p == 2 ? -(j + 1) : 0) << j << "," << p;
      }
    }
    // A position beyond the cache writes nothing instead of past the arrays.
    TextDecoding::updateKVCache(keys, keySlice, values, valueSlice, 4);
    TextDecoding::updateKVCache(keys, keySlice, values, valueSlice, -1);
    EXPECT_EQ(keys.value({0, 0, 0, 3}), 0);
  }
}

TEST(TextDecodingTest, AlignmentUpdateWritesTheRowAfterTheIndex) {
  MLMultiArray alignment({3, 4}, MLMultiArrayDataType::float16, 0.0f);
  MLMultiArray slice({1, 4}, MLMultiArrayDataType::float32);
  for (int i = 0; i < 4; ++i) {
    slice.setValue(i, 0.25 * (i + 1));
  }
  TextDecoding::updateAlignmentWeights(alignment, slice, 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(alignment.value({2, i}), 0.25 * (i + 1));
    EXPECT_EQ(alignment.value({1, i}), 0);
  }
  TextDecoding::updateAlignmentWeights(alignment, slice, 2); // row 3 does not exist
  EXPECT_EQ(alignment.value({0, 0}), 0);
}

using mqtest::LogCapture;

TEST(TextDecodingTest, DebugDumpPrintsFourPositionsPastTheIndex) {
  SizedDecoder decoder;
  decoder.sequenceLength = 300;
  auto prepared = decoder.prepareDecoderInputs({1});
  auto &inputs = dynamic_cast<DecodingInputs &>(*prepared);
  inputs.inputIds().setValue(0, 50257);
  inputs.cacheLength().setValue(0, 2);
  {
    LogCapture capture;
    debugDecoderInputs(inputs, 2);
    ASSERT_EQ(capture.lines().size(), 3u + 6u);
    EXPECT_EQ(capture.lines()[0], "--------------- DECODER INPUTS DEBUG ---------------");
    EXPECT_EQ(capture.lines()[1], "Cache Length:  2 Input Token: 50257");
    EXPECT_EQ(capture.lines()[2],
              "Key Cache | Val Cache | Align Cache | Update Mask | Decoder Mask | Position");
    EXPECT_EQ(capture.lines()[3],
              " 0.000000 |  0.000000 |  0.000000 |           1 |            0 | 0");
    EXPECT_EQ(capture.lines()[8],
              " 0.000000 |  0.000000 |  0.000000 |           0 |       -10000 | 5");
  }
  {
    LogCapture capture;
    debugDecoderInputs(inputs, 300);
    EXPECT_EQ(capture.lines().size(), 3u + 224u);
  }
}

} // namespace
} // namespace divuvovize
