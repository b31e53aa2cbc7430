// The streaming transcriber built over a loaded pipeline's components: its passes run a real
// transcription task on the scripted model, fed by the in-memory microphone. This program also
// runs under ThreadSanitizer (scripts/test).

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Audio/AudioStreamTranscriber.hpp"
#include "DivuvovIze/Pipeline/DivuvovIze.hpp"
#include "platform/audio/InMemoryAudioInput.hpp"
#include "tests/DivuvovIze/Pipeline/FacadeFixture.hpp"

#include <gtest/gtest.h>

namespace {

using divuvovize::AudioProcessor;
using divuvovize::AudioStreamTranscriber;
using divuvovize::DivuvovIze;
using namespace facadetest;

TEST_F(FacadeTest, TheStreamTranscriberRunsItsOwnTaskOverThePipelinesComponents) {
  DivuvovIze engine(configFor(writeModelFolder(temp), /*load=*/true));
  auto input = std::make_shared<platform::InMemoryAudioInput>();
  input->setDevices({{1, "Microphone", 1, 16000}});
  input->setTake(1, {tone(3.0)});
  auto processor = std::make_shared<AudioProcessor>(input);
  processor->setMinBufferLength(1600);

  std::shared_ptr<AudioStreamTranscriber> transcriber;
  AudioStreamTranscriber::Options options;
  options.useVAD = false;
  options.requestRecordPermission = [] { return true; };
  int waits = 0;
  // Between passes: the whole take has arrived; a safety net stops a run that never confirms.
  options.waitBeforeNextPass = [&](std::chrono::milliseconds) {
    input->waitForBuffers(30);
    if (++waits > 5) {
      transcriber->stopStreamTranscription();
    }
  };
  DecodingOptions decoding = shortOptions();
  transcriber = AudioStreamTranscriber::make(
      engine.audioEncoder, engine.featureExtractor, engine.segmentSeeker, engine.textDecoder,
      engine.tokenizer(), processor, decoding, options,
      [&](const AudioStreamTranscriber::State &, const AudioStreamTranscriber::State &after) {
        if (after.isRecording && !after.unconfirmedSegments.empty()) {
          transcriber->stopStreamTranscription();
        }
      });
  transcriber->startStreamTranscription();

  const auto state = transcriber->state();
  EXPECT_FALSE(state.isRecording);
  EXPECT_LE(waits, 5);
  EXPECT_EQ(state.lastBufferSize, 48000);
  ASSERT_EQ(state.unconfirmedSegments.size(), 1u);
  EXPECT_EQ(state.unconfirmedSegments[0].text, " " + kScriptedText);
  EXPECT_FALSE(processor->hasAudioEngine());
}

} // namespace
