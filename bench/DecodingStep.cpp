// Cost per token of the logits filters and the greedy sampler against the base-shape decoder
// step they follow, measured in the same run (goal: filters + sampler at most 5% of the step),
// and their allocations per token once warm (goal: 0). The filters are the token loop's full set
// for a window with timestamps: suppress-blank, suppress-tokens and the timestamp rules.

#include "DivuvovIze/Decoding/Decoder/TextDecoder.hpp"
#include "DivuvovIze/Decoding/Filters/SuppressBlankFilter.hpp"
#include "DivuvovIze/Decoding/Filters/SuppressTokensFilter.hpp"
#include "DivuvovIze/Decoding/Filters/TimestampRulesFilter.hpp"
#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "bench/support/AllocationCounter.hpp"
#include "bench/support/GoalReport.hpp"
#include "bench/support/RunnerBenchmarkMain.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

namespace {

using mqbench::AllocationCounter;
using namespace divuvovize;
using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct BaseDecoder {
  TextDecoder decoder;
  std::shared_ptr<DecodingInputs> inputs;
  platform::MLMultiArray encoderOutput;
  BaseDecoder() {
    const auto folder = std::filesystem::temp_directory_path() / "mq-bench-decoding-step";
    platform::runner::TestModelOptions options;
    options.dimensions = platform::runner::TestModelOptions::baseDimensions();
    if (!std::filesystem::exists(folder / "TextDecoder.mlmodelc" / "weights.safetensors")) {
      platform::runner::writeTextDecoderModel(folder, options);
    }
    decoder.loadModel(folder / "TextDecoder.mlmodelc", platform::MLComputeUnits::cpuOnly, false);
    inputs = std::dynamic_pointer_cast<DecodingInputs>(decoder.prepareDecoderInputs({50257}));
    encoderOutput = platform::MLMultiArray(
        {1, 512, 1, 1500}, platform::MLMultiArrayDataType::float16, platform::Float16(0.1f));
    for (int p = 0; p <= 100; ++p) {
      inputs->decoderKeyPaddingMask().setValue(p, 0.0);
      inputs->kvCacheUpdateMask().setValue(p, p == 100 ? 1.0 : 0.0);
    }
    inputs->inputIds().setValue(0, 440);
    inputs->cacheLength().setValue(0, 100);
  }
  TextDecoderMLMultiArrayOutputType step() {
    return *decoder.predictLogits(TextDecoderMLMultiArrayInputType(
        inputs->inputIds(), inputs->cacheLength(), inputs->keyCache(), inputs->valueCache(),
        inputs->kvCacheUpdateMask(), encoderOutput, inputs->decoderKeyPaddingMask()));
  }
};

BaseDecoder &baseDecoder() {
  static BaseDecoder decoder;
  return decoder;
}

void BM_FiltersAndSamplerPerToken(benchmark::State &state) {
  auto &base = baseDecoder();
  base.step(); // the cross-attention memory is computed once per window
  double stepBest = 1e30;
  for (int i = 0; i < 10; ++i) {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(base.step());
    stepBest = std::min(stepBest, seconds(Clock::now() - start));
  }
  auto output = base.step();
  platform::MLMultiArray &logits = *output.logits;
  const std::vector<float> original(logits.data<float>(), logits.data<float>() + logits.count());

  // Specials of the English base vocabulary; a prompt of three tokens, then 100 sampled: text
  // after an opening timestamp, so every timestamp rule runs.
  SpecialTokens special;
  special.endToken = special.specialTokenBegin = 50256;
  special.startOfTranscriptToken = 50257;
  special.noTimestampsToken = 50362;
  special.timeTokenBegin = 50363;
  const SuppressBlankFilter blank(special, 3);
  const SuppressTokensFilter suppress({1, 2, 7, 8, 9, 10, 14, 25, 26, 27, 28, 29, 31, 58, 59});
  const TimestampRulesFilter timestamps(special, 3, std::nullopt, false);
  std::vector<int> tokens = {50257, 50363, 50363};
  for (int i = 0; i < 100; ++i) {
    tokens.push_back(i % 20 == 0 ? 50363 + i : 440 + i);
  }
  GreedyTokenSampler sampler(0, 50256, DecodingOptions{});
  SamplingResult sequence;
  sequence.tokens.reserve(256);
  sequence.logProbs.reserve(256);

  auto token = [&] {
    std::memcpy(logits.data<float>(), original.data(), original.size() * sizeof(float));
    const auto start = Clock::now();
    blank.filterLogits(logits, tokens);
    suppress.filterLogits(logits, tokens);
    timestamps.filterLogits(logits, tokens);
    sampler.update(sequence, logits);
    const double elapsed = seconds(Clock::now() - start);
    sequence.tokens.clear();
    sequence.logProbs.clear();
    return elapsed;
  };
  token();
  double best = 1e30;
  for (auto _ : state) {
    best = std::min(best, token());
  }
  AllocationCounter::resetCount();
  AllocationCounter::setCounting(true);
  for (int i = 0; i < 100; ++i) {
    token();
  }
  AllocationCounter::setCounting(false);

  state.counters["decoder_step_ms"] = stepBest * 1e3;
  state.counters["filters_sampler_us"] = best * 1e6;
  state.counters["share_of_step"] = best / stepBest;
  state.counters["allocations_per_token"] = static_cast<double>(AllocationCounter::count()) / 100.0;
  using mqbench::GoalReport;
  GoalReport::value("decoder step, base shape", stepBest * 1e3, "ms");
  GoalReport::value("filters + sampler per token", best * 1e6, "us");
  GoalReport::figure("filters + sampler, share of the step", best / stepBest, "<= 0.05");
  GoalReport::figure("filters + sampler, allocations per token",
                     static_cast<double>(AllocationCounter::count()) / 100.0, "0");
}

} // namespace

BENCHMARK(BM_FiltersAndSamplerPerToken)->Unit(benchmark::kMicrosecond)->Iterations(200);

MQ_RUNNER_BENCHMARK_MAIN()
