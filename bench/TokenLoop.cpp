// Cost of the token loop's own work and of word alignment, each as a ratio to the base-shape
// decoder step measured in the same run:
// - the loop's work per token (prompt forcing, filters with timestamp rules, greedy sampling,
//   stop tests, cache and mask updates; everything but the prediction) over one decoder step
//   (goal: at most 0.10), and its allocations per token once warm (goal: 0);
// - dynamic time warping over a full window's alignment weights (223 tokens x 1500 frames)
//   over the decoding time of that window, 223 decoder steps (goal: at most 0.05).

#include "DivuvovIze/Decoding/Decoder/TokenDecodingLoop.hpp"
#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "DivuvovIze/Decoding/Timing/WordTimestamps.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "bench/support/AllocationCounter.hpp"
#include "bench/support/GoalReport.hpp"
#include "bench/support/NetworkStep.hpp"
#include "bench/support/RunnerBenchmarkMain.hpp"
#include "platform/ml/LoadMLModel.hpp"
#include "platform/ml/runner/TextDecoderModel.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <random>

namespace {

using mqbench::AllocationCounter;
using namespace divuvovize;
using platform::MLMultiArray;
using platform::MLMultiArrayDataType;
using Clock = std::chrono::steady_clock;

constexpr int kVocabulary = 51865;
constexpr int kEmbed = 6 * 512; // base: 6 layers of width 512
constexpr int kFrames = 1500;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class BenchTokenizer : public WhisperTokenizer {
public:
  std::vector<int> encode(std::string_view) const override { return {}; }
  std::string decode(const std::vector<int> &) const override { return {}; }
  std::optional<int> convertTokenToId(std::string_view) const override { return std::nullopt; }
  std::optional<std::string> convertIdToToken(int) const override { return std::nullopt; }
  std::optional<int> vocabularyId(std::string_view) const override { return std::nullopt; }
  const SpecialTokens &specialTokens() const override { return special_; }
  const std::set<int> &allLanguageTokens() const override { return languages_; }
  WordTokens splitToWordTokens(const std::vector<int> &) const override { return {}; }

private:
  SpecialTokens special_;
  std::set<int> languages_{50259, 50260};
};

// Replays prepared logits: each step copies one of them into the output backing, so the
// prediction costs a copy and the loop's own work is what remains. Allocations made inside
// the prediction are counted apart.
class ReplayDecoder : public TextDecoding {
public:
  ReplayDecoder() : tokenizer_(std::make_shared<BenchTokenizer>()) {
    std::mt19937 generator(3);
    std::normal_distribution<float> spread(0.0f, 2.0f);
    for (auto &step : steps_) {
      step.resize(kVocabulary);
      for (float &value : step) {
        value = spread(generator);
      }
      for (int t = 50257; t < kVocabulary; ++t) {
        step[static_cast<std::size_t>(t)] -= 12.0f; // special and timestamp tokens unlikely
      }
    }
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      steps_[i][100 + i] = 12.0f; // a clear text token at every step
    }
    output_.logits = MLMultiArray({1, 1, kVocabulary}, MLMultiArrayDataType::float32);
    output_.cache =
        DecodingCache{MLMultiArray({1, kEmbed, 1, 1}, MLMultiArrayDataType::float16, 0.5f),
                      MLMultiArray({1, kEmbed, 1, 1}, MLMultiArrayDataType::float16, 0.5f),
                      MLMultiArray({1, kFrames}, MLMultiArrayDataType::float32)};
  }

  std::shared_ptr<WhisperTokenizer> tokenizer() const override { return tokenizer_; }
  void setTokenizer(std::shared_ptr<WhisperTokenizer>) override {}
  bool isModelMultilingual() const override { return false; }
  void setIsModelMultilingual(bool) override {}
  bool supportsWordTimestamps() const override { return true; }
  std::optional<int> logitsSize() const override { return kVocabulary; }
  std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters() const override {
    return std::nullopt;
  }
  void setLogitsFilters(std::optional<std::vector<std::shared_ptr<LogitsFiltering>>>) override {}
  std::optional<int> kvCacheEmbedDim() const override { return kEmbed; }
  std::optional<int> kvCacheMaxSequenceLength() const override { return 224; }
  std::optional<int> windowSize() const override { return kFrames; }
  std::optional<int> embedSize() const override { return 512; }

  std::optional<TextDecoderMLMultiArrayOutputType>
  predictLogits(const TextDecoderInputType &input) override {
    const bool counting = AllocationCounter::setCounting(false);
    const auto start = Clock::now();
    const auto &arrays = static_cast<const TextDecoderMLMultiArrayInputType &>(input);
    const int position = arrays.cacheLength.data<std::int32_t>()[0];
    const auto &step = steps_[static_cast<std::size_t>(position) % steps_.size()];
    std::copy(step.begin(), step.end(), output_.logits->data<float>());
    std::optional<TextDecoderMLMultiArrayOutputType> result = output_;
    predictionSeconds += seconds(Clock::now() - start);
    AllocationCounter::setCounting(counting);
    return result;
  }
  std::shared_ptr<DecodingInputsType>
  prefillDecoderInputs(std::shared_ptr<DecodingInputsType> inputs,
                       const std::optional<DecodingOptions> &) override {
    inputs->initialPrompt() = {50258, 50364};
    return inputs;
  }
  DecodingResult decodeText(const AudioEncoderOutputType &encoderOutput, DecodingInputsType &inputs,
                            TokenSampling &sampler, const DecodingOptions &options,
                            const TranscriptionCallback &callback) override {
    return TokenDecodingLoop::decodeText(*this, earlyStop_, encoderOutput, inputs, sampler, options,
                                         callback, *platform::SteadyClock::system(),
                                         *platform::WallClock::system());
  }
  DecodingResult detectLanguage(const AudioEncoderOutputType &, DecodingInputsType &,
                                TokenSampling &, const DecodingOptions &, float) override {
    return {};
  }

  double predictionSeconds = 0;

private:
  std::shared_ptr<WhisperTokenizer> tokenizer_;
  std::array<std::vector<float>, 224> steps_;
  TextDecoderMLMultiArrayOutputType output_;
  deduve::EarlyStopActor earlyStop_;
};

// One base-shape decoder step through the runner's network, best of a few.
double baseDecoderStepSeconds() {
  static const double measured = [] {
    const auto folder = std::filesystem::temp_directory_path() / "mq-bench-base-models";
    platform::runner::TestModelOptions options;
    options.dimensions = platform::runner::TestModelOptions::baseDimensions();
    std::shared_ptr<platform::MLModel> model;
    try {
      model = platform::loadMLModel(folder / "TextDecoder.mlmodelc");
    } catch (const std::exception &) {
      platform::runner::writeTextDecoderModel(folder, options);
      model = platform::loadMLModel(folder / "TextDecoder.mlmodelc");
    }
    const auto &d = options.dimensions;
    const auto &network =
        dynamic_cast<const platform::runner::TextDecoderModel &>(*model).network();
    mqbench::NetworkStep step(network, d, 100);
    double best = 1e30;
    for (int i = 0; i < 20; ++i) {
      const auto start = Clock::now();
      step.run();
      best = std::min(best, seconds(Clock::now() - start));
    }
    return best;
  }();
  return measured;
}

void BM_TokenLoopOwnWorkPerToken(benchmark::State &state) {
  ReplayDecoder decoder;
  DecodingOptions options;
  options.compressionRatioThreshold.reset();
  options.logProbThreshold.reset();
  const MLMultiArray encoderOutput({1, 512, 1, kFrames}, MLMultiArrayDataType::float16, 0.0f);
  auto inputs = decoder.prefillDecoderInputs(decoder.prepareDecoderInputs({50258}), options);
  double best = 1e30;
  long allocationsPerWindow = 0;
  long allocationsShortWindow = 0;
  int tokens = 0;
  for (auto _ : state) {
    for (int sampleLength : {24, 224}) {
      options.sampleLength = sampleLength;
      inputs->reset(224);
      GreedyTokenSampler sampler(0, 50257, options);
      decoder.predictionSeconds = 0;
      AllocationCounter::resetCount();
      AllocationCounter::setCounting(true);
      const auto start = Clock::now();
      const auto result = decoder.decodeText(encoderOutput, *inputs, sampler, options, nullptr);
      const double total = seconds(Clock::now() - start);
      AllocationCounter::setCounting(false);
      benchmark::DoNotOptimize(result.tokens.data());
      if (sampleLength == 24) {
        allocationsShortWindow = AllocationCounter::count();
      } else {
        allocationsPerWindow = AllocationCounter::count();
        tokens = static_cast<int>(result.tokens.size());
        best = std::min(best, (total - decoder.predictionSeconds) / 223.0);
      }
    }
  }
  const double step = baseDecoderStepSeconds();
  state.counters["loop_us_per_token"] = best * 1e6;
  state.counters["decoder_step_ms"] = step * 1e3;
  state.counters["loop_over_step"] = best / step; // goal <= 0.10
  // The difference between a 223-step and a 23-step window: allocations of the steps alone.
  state.counters["allocs_per_token"] =
      static_cast<double>(allocationsPerWindow - allocationsShortWindow) / 200.0; // goal 0
  state.counters["tokens"] = tokens;
  using mqbench::GoalReport;
  GoalReport::value("decoder step, base shape", step * 1e3, "ms");
  GoalReport::value("token loop's own work per token", best * 1e6, "us");
  GoalReport::figure("token loop's own work, share of the step", best / step, "<= 0.10");
  GoalReport::figure("token loop, allocations per token",
                     static_cast<double>(allocationsPerWindow - allocationsShortWindow) / 200.0,
                     "0");
}

void BM_WordAlignmentPerWindow(benchmark::State &state) {
  std::vector<float> weights(223 * kFrames);
  std::mt19937 generator(4);
  std::uniform_real_distribution<float> value(0.0f, 1.0f);
  for (float &w : weights) {
    w = value(generator);
  }
  double best = 1e30;
  for (auto _ : state) {
    const auto start = Clock::now();
    const auto path = WordTimestamps::dynamicTimeWarping(weights, 223, kFrames);
    best = std::min(best, seconds(Clock::now() - start));
    benchmark::DoNotOptimize(path.textIndices.data());
  }
  const double window = 223 * baseDecoderStepSeconds();
  state.counters["dtw_ms"] = best * 1e3;
  state.counters["window_decoding_ms"] = window * 1e3;
  state.counters["dtw_over_window"] = best / window; // goal <= 0.05
  mqbench::GoalReport::figure("word alignment, share of the window's decoding", best / window,
                              "<= 0.05");
}

} // namespace

BENCHMARK(BM_TokenLoopOwnWorkPerToken)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WordAlignmentPerWindow)->Unit(benchmark::kMillisecond)->Iterations(5);

MQ_RUNNER_BENCHMARK_MAIN()
