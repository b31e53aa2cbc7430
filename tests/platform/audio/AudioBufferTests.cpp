#include "platform/audio/AudioFormat.hpp"
#include "platform/audio/PcmBuffer.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

using platform::AudioCommonFormat;
using platform::AudioFormat;
using platform::PcmBuffer;

TEST(AudioFormatTest, EqualityComparesEveryAttribute) {
  const auto base = *AudioFormat::make(44100, 2, AudioCommonFormat::pcmFormatFloat32, false);
  struct Case {
    const char *name;
    std::optional<AudioFormat> other;
    bool equal;
  };
  const Case cases[] = {
      {"same", AudioFormat::standard(44100, 2), true},
      {"rate", AudioFormat::standard(48000, 2), false},
      {"channels", AudioFormat::standard(44100, 1), false},
      {"common format", AudioFormat::make(44100, 2, AudioCommonFormat::pcmFormatInt16, false),
       false},
      {"interleaving", AudioFormat::make(44100, 2, AudioCommonFormat::pcmFormatFloat32, true),
       false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.other.has_value());
    EXPECT_EQ(base == *c.other, c.equal);
  }
  EXPECT_TRUE(base.isStandard());
}

TEST(AudioFormatTest, RefusesImpossibleFormats) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double rate : {0.0, -16000.0, nan, inf}) {
    SCOPED_TRACE(rate);
    EXPECT_FALSE(AudioFormat::standard(rate, 1).has_value());
  }
  EXPECT_FALSE(AudioFormat::standard(16000, 0).has_value());
  EXPECT_FALSE(AudioFormat::standard(16000, AudioFormat::kMaxChannelCount + 1).has_value());
}

TEST(PcmBufferTest, LayoutFollowsTheFormat) {
  struct Case {
    AudioCommonFormat common;
    bool interleaved;
    std::uint32_t buffers;
    std::uint32_t stride;
    bool floats;
  };
  const Case cases[] = {
      {AudioCommonFormat::pcmFormatFloat32, false, 3, 1, true},
      {AudioCommonFormat::pcmFormatFloat32, true, 1, 3, true},
      {AudioCommonFormat::pcmFormatInt16, false, 3, 1, false},
      {AudioCommonFormat::pcmFormatInt16, true, 1, 3, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.common) * 10 + c.interleaved);
    const auto format = *AudioFormat::make(8000, 3, c.common, c.interleaved);
    auto buffer = PcmBuffer::make(format, 100);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->frameCapacity(), 100u);
    EXPECT_EQ(buffer->frameLength(), 0u);
    EXPECT_EQ(buffer->stride(), c.stride);
    EXPECT_EQ(buffer->hasFloatChannelData(), c.floats);
    for (std::uint32_t i = 0; i < c.buffers; ++i) {
      EXPECT_EQ(buffer->floatChannelData(i) != nullptr, c.floats);
      EXPECT_EQ(buffer->int16ChannelData(i) != nullptr, !c.floats);
    }
    EXPECT_EQ(buffer->floatChannelData(c.buffers), nullptr);
    EXPECT_EQ(buffer->int16ChannelData(c.buffers), nullptr);
    if (c.floats) {
      // The last sample of the last channel buffer is addressable and zero.
      EXPECT_EQ(buffer->floatChannelData(c.buffers - 1)[100 * c.stride - 1], 0.0f);
    }
  }
}

TEST(PcmBufferTest, FrameLengthStaysWithinCapacity) {
  auto buffer = PcmBuffer::make(*AudioFormat::standard(16000, 1), 10);
  buffer->setFrameLength(10);
  EXPECT_EQ(buffer->frameLength(), 10u);
  EXPECT_THROW(buffer->setFrameLength(11), std::out_of_range);
  EXPECT_EQ(buffer->frameLength(), 10u);

  auto empty = PcmBuffer::make(*AudioFormat::standard(16000, 2), 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_NE(empty->floatChannelData(1), nullptr);
  EXPECT_THROW(empty->setFrameLength(1), std::out_of_range);
}

} // namespace
