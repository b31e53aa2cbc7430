// Speed and memory of the CPU model runner on the base shape (float16 weights), each figure as a
// ratio to a limit measured in the same run:
// - resident memory after loading and after one window, over the weight files plus the caches and
//   scratch (goal: at most 1.15);
// - encoder: achieved GFLOP/s over this machine's fp32 FMA peak (a register-only FMA loop on every
//   runner thread; goal: at least 0.45) and over sgemm on the encoder's own matrix products
//   (goal: at least 0.6), and the share of the window spent widening float16 weights (goal: at
//   most 0.05); the BLAS core the library runs with is printed;
// - decoder step at position 100: step time (a prediction into caller-owned outputs, as the
//   decoding loop makes it) over the time to read the decoder's stored weights once, from its
//   weight file as the runner maps it (goal: at most 1.3), as the ratio of the best times and as
//   the median of each round's ratio, for a step right after the probe and for one straight
//   after a step; the network step on each float16 kernel path, and allocations of a step and of
//   a prediction with output backings (goal: 0);
// - 16 windows stepped in turn: step time over one window's step time (goal: at most 1.2);
// - mel and the whole chain (mel, encoder, 100 decoder steps): real-time factor of a 30 s window.

#include "bench/support/AllocationCounter.hpp"
#include "bench/support/EncoderLimits.hpp"
#include "bench/support/GoalReport.hpp"
#include "bench/support/Median.hpp"
#include "bench/support/NetworkStep.hpp"
#include "bench/support/RunnerBenchmarkMain.hpp"
#include "bench/support/StoredWeightsProbe.hpp"
#include "platform/ml/LoadMLModel.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"
#include "platform/ml/runner/AudioEncoderModel.hpp"
#include "platform/ml/runner/TextDecoderModel.hpp"
#include "platform/ml/runner/kernels/Blas.hpp"
#include "platform/ml/runner/kernels/HalfKernels.hpp"
#include "platform/ml/runner/kernels/InstructionSet.hpp"
#include "platform/ml/runner/kernels/Parallel.hpp"
#include "platform/ml/runner/ops/Linear.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <immintrin.h>
#include <random>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using mqbench::AllocationCounter;
using mqbench::fileBytes;
using mqbench::fmaPeakGflops;
using mqbench::GoalReport;
using mqbench::residentBytes;
using mqbench::sgemmSecondsForEncoderShapes;
using mqbench::StoredWeightsProbe;
using mqbench::widenSecondsForEncoderShapes;
using namespace platform;
using mqbench::Clock;

struct Models {
  std::filesystem::path folder;
  std::shared_ptr<MLModel> mel, encoder, decoder;
  runner::ModelDimensions dims;
  Models() {
    folder = std::filesystem::temp_directory_path() / "mq-bench-base-models";
    runner::TestModelOptions options;
    options.dimensions = runner::TestModelOptions::baseDimensions();
    dims = options.dimensions;
    // Writing the base shape takes a while, so the models of an earlier run are reused when they
    // load; anything missing or damaged is written again.
    for (int attempt = 0;; ++attempt) {
      try {
        mel = loadMLModel(folder / "MelSpectrogram.mlmodelc");
        encoder = loadMLModel(folder / "AudioEncoder.mlmodelc");
        decoder = loadMLModel(folder / "TextDecoder.mlmodelc");
        return;
      } catch (const std::exception &) {
        if (attempt > 0) {
          throw;
        }
        runner::writeTestModels(folder, options);
      }
    }
  }
};

Models &models() {
  static Models shared;
  return shared;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

MLMultiArray speechLikeWindow() {
  MLMultiArray audio({480000}, MLMultiArrayDataType::float32);
  std::mt19937 generator(1);
  std::normal_distribution<float> noise(0.0f, 0.01f);
  float *samples = audio.data<float>();
  for (int i = 0; i < 480000; ++i) {
    samples[i] =
        0.2f * static_cast<float>(std::sin(2 * M_PI * 220.0 * i / 16000.0)) + noise(generator);
  }
  return audio;
}

MLMultiArray runOne(const MLModel &model, const std::string &inputName, const MLMultiArray &input,
                    const std::string &outputName) {
  const auto out = model.prediction(
      MLDictionaryFeatureProvider(std::map<std::string, MLMultiArray>{{inputName, input}}));
  return *out->featureValue(outputName)->multiArrayValue();
}

void BM_EncoderBase(benchmark::State &state) {
  auto &m = models();
  const auto mel = runOne(*m.mel, "audio", speechLikeWindow(), "melspectrogram_features");
  runOne(*m.encoder, "melspectrogram_features", mel, "encoder_output_embeds"); // warm pools
  // The encoder and its sgemm limit are timed alternately, so both see the same machine load.
  double best = 1e30;
  double sgemmFlops = 0;
  double sgemmSeconds = 1e30;
  for (auto _ : state) {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(
        runOne(*m.encoder, "melspectrogram_features", mel, "encoder_output_embeds"));
    best = std::min(best, seconds(Clock::now() - start));
    sgemmSeconds = std::min(sgemmSeconds, sgemmSecondsForEncoderShapes(m.dims, sgemmFlops, 1));
  }
  const auto &network = dynamic_cast<const runner::AudioEncoderModel &>(*m.encoder).network();
  const double encoderGflops = network.flops() / best / 1e9;
  const double sgemmGflops = sgemmFlops / sgemmSeconds / 1e9;
  state.counters["encoder_GFLOPs"] = encoderGflops;
  state.counters["sgemm_GFLOPs"] = sgemmGflops;
  state.counters["ratio_to_sgemm"] = encoderGflops / sgemmGflops;
  state.counters["widen_share"] = widenSecondsForEncoderShapes(m.dims, 5) / best;
  const double peak = fmaPeakGflops();
  state.counters["fma_peak_GFLOPs"] = peak;
  state.counters["share_of_fma_peak"] = encoderGflops / peak;
  GoalReport::figure("encoder, share of the fp32 FMA peak", encoderGflops / peak, ">= 0.45");
  GoalReport::figure("encoder, ratio to sgemm on its products", encoderGflops / sgemmGflops,
                     ">= 0.6");
  GoalReport::figure("encoder, share of the window widening float16 weights",
                     state.counters["widen_share"], "<= 0.05");
  const auto &blas = runner::loadBlas(runner::parallelThreadCount());
  std::printf("BLAS core %s (library's own choice %s), %zu BLAS threads, %zu runner threads\n",
              blas.core.c_str(), blas.detectedCore.c_str(), blas.threads,
              runner::parallelThreadCount());
}

struct DecoderInputs {
  MLMultiArray ids, length, keys, values, update, encoder, padding;
  std::map<std::string, MLMultiArray> map() const {
    return {{"input_ids", ids},
            {"cache_length", length},
            {"key_cache", keys},
            {"value_cache", values},
            {"kv_cache_update_mask", update},
            {"encoder_output_embeds", encoder},
            {"decoder_key_padding_mask", padding}};
  }
};

// Caller-owned arrays for every decoder output.
std::map<std::string, MLMultiArray> decoderBackings(const runner::ModelDimensions &d) {
  const int width = static_cast<int>(d.decoderLayers * d.width);
  return {{"logits",
           MLMultiArray({1, 1, static_cast<int>(d.vocabularySize)}, MLMultiArrayDataType::float32)},
          {"key_cache_updates", MLMultiArray({1, width, 1, 1}, MLMultiArrayDataType::float16)},
          {"value_cache_updates", MLMultiArray({1, width, 1, 1}, MLMultiArrayDataType::float16)},
          {"alignment_heads_weights",
           MLMultiArray({1, static_cast<int>(d.audioContext)}, MLMultiArrayDataType::float32)}};
}

DecoderInputs decoderAt(const runner::ModelDimensions &d, int position) {
  const int width = static_cast<int>(d.decoderLayers * d.width);
  const int s = static_cast<int>(d.cacheLength);
  DecoderInputs in{MLMultiArray::from({440}),
                   MLMultiArray::from({position}),
                   MLMultiArray({1, width, 1, s}, MLMultiArrayDataType::float16),
                   MLMultiArray({1, width, 1, s}, MLMultiArrayDataType::float16),
                   MLMultiArray({1, s}, MLMultiArrayDataType::int32),
                   MLMultiArray({1, static_cast<int>(d.width), 1, static_cast<int>(d.audioContext)},
                                MLMultiArrayDataType::float16),
                   MLMultiArray({1, s}, MLMultiArrayDataType::float16)};
  std::mt19937 generator(2);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  for (auto *array : {&in.keys, &in.values, &in.encoder}) {
    auto *h = array->data<Float16>();
    for (int i = 0; i < array->count(); ++i) {
      h[i] = static_cast<Float16>(value(generator));
    }
  }
  for (int i = 0; i < s; ++i) {
    in.padding.data<Float16>()[i] = static_cast<Float16>(i <= position ? 0.0f : -10000.0f);
    in.update.data<std::int32_t>()[i] = i == position ? 1 : 0;
  }
  return in;
}

// Resident memory after the three models load, and after one window has run through them, over
// the weight files plus the caches and scratch that window needs (encoder scratch, cross-attention
// memory, the decoder's workspace and the window's own arrays). Runs first, so the models load
// here.
void BM_ResidentMemory(benchmark::State &state) {
  runner::loadBlas(runner::parallelThreadCount());
  const double before = residentBytes();
  auto &m = models();
  const double loaded = residentBytes();
  const auto &d = m.dims;
  double used = 0;
  for (auto _ : state) {
    const auto mel = runOne(*m.mel, "audio", speechLikeWindow(), "melspectrogram_features");
    auto inputs = decoderAt(d, 0);
    inputs.encoder = runOne(*m.encoder, "melspectrogram_features", mel, "encoder_output_embeds");
    benchmark::DoNotOptimize(m.decoder->prediction(MLDictionaryFeatureProvider(inputs.map())));
    used = residentBytes();
  }
  const double weights = fileBytes(m.folder / "MelSpectrogram.mlmodelc/weights.safetensors") +
                         fileBytes(m.folder / "AudioEncoder.mlmodelc/weights.safetensors") +
                         fileBytes(m.folder / "TextDecoder.mlmodelc/weights.safetensors");
  const auto &encoder = dynamic_cast<const runner::AudioEncoderModel &>(*m.encoder).network();
  const auto &decoder = dynamic_cast<const runner::TextDecoderModel &>(*m.decoder).network();
  const double t = static_cast<double>(d.audioContext), w = static_cast<double>(d.width);
  const double encoderScratch = 4.0 * (2 * t * static_cast<double>(d.melCount) +
                                       static_cast<double>(encoder.scratchSize()) + t * w);
  const double crossMemory =
      (decoder.memoryIsHalf() ? 2.0 : 4.0) * static_cast<double>(decoder.memorySize());
  const double decoderWorkspace =
      4.0 * (t * w + 2 * static_cast<double>(d.vocabularySize) +
             w * static_cast<double>(d.cacheLength) * 2 + t * static_cast<double>(d.decoderHeads));
  const double kvCaches =
      2.0 * 2 * static_cast<double>(d.decoderLayers) * w * static_cast<double>(d.cacheLength);
  const double windowArrays = 4.0 * (480000 + 2 * t * static_cast<double>(d.melCount)) + 2 * t * w;
  const double cachesAndScratch =
      encoderScratch + crossMemory + decoderWorkspace + kvCaches + windowArrays;
  state.counters["rss_before_MB"] = before / 1e6;
  state.counters["rss_load_MB"] = (loaded - before) / 1e6;
  state.counters["rss_used_MB"] = (used - before) / 1e6;
  state.counters["weight_files_MB"] = weights / 1e6;
  state.counters["caches_scratch_MB"] = cachesAndScratch / 1e6;
  state.counters["ratio_to_limit_base"] = (used - before) / (weights + cachesAndScratch);
  GoalReport::figure("resident memory over weights, caches and scratch",
                     (used - before) / (weights + cachesAndScratch), "<= 1.15");
}

void BM_DecoderStepBase(benchmark::State &state) {
  auto &m = models();
  const auto inputs = decoderAt(m.dims, 100);
  const MLDictionaryFeatureProvider provider(inputs.map());
  m.decoder->prediction(provider); // computes the cross-attention memory once
  const auto &network = dynamic_cast<const runner::TextDecoderModel &>(*m.decoder).network();
  // The step as the decoding loop takes it: into caller-owned outputs, reused step after step.
  MLPredictionOptions backed;
  backed.outputBackings = std::make_shared<MLDictionaryFeatureProvider>(decoderBackings(m.dims));
  // The bandwidth probe and the steps alternate, so both see the same machine load: each round
  // reads the weights once, then takes one step after the probe and one straight after that step,
  // as the decoding loop takes them. On a shared host the memory bandwidth left to this process
  // moves from one millisecond to the next, and the probe, the shorter run, catches a quiet moment
  // more often: the ratio of the best times leans high. The median over rounds of each step over
  // its own round's probe is reported beside it.
  const StoredWeightsProbe probe(m.folder / "TextDecoder.mlmodelc/weights.safetensors",
                                 network.weightBytesPerStep());
  auto timedStep = [&] {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(m.decoder->prediction(provider, backed));
    return seconds(Clock::now() - start);
  };
  double best = 1e30;
  double steadyBest = 1e30;
  double readSeconds = 1e30;
  std::vector<double> stepRatios;
  std::vector<double> steadyRatios;
  for (auto _ : state) {
    const double read = probe.seconds();
    const double step = timedStep();
    const double steady = timedStep();
    readSeconds = std::min(readSeconds, read);
    best = std::min(best, step);
    steadyBest = std::min(steadyBest, steady);
    stepRatios.push_back(step / read);
    steadyRatios.push_back(steady / read);
  }

  // Allocations of the network's step alone (the prediction call also builds its result arrays).
  mqbench::NetworkStep step(network, m.dims, 100,
                            static_cast<const std::uint16_t *>(inputs.keys.dataPointer()),
                            static_cast<const std::uint16_t *>(inputs.values.dataPointer()));
  step.run();
  double networkBest = 1e30;
  for (int i = 0; i < 20; ++i) {
    const auto start = Clock::now();
    step.run();
    networkBest = std::min(networkBest, seconds(Clock::now() - start));
  }
  AllocationCounter::resetCount();
  AllocationCounter::setCounting(true);
  for (int i = 0; i < 10; ++i) {
    step.run();
  }
  AllocationCounter::setCounting(false);
  // The network step on each instruction set this CPU offers.
  for (auto path : {runner::InstructionSet::baseline, runner::InstructionSet::avx2,
                    runner::InstructionSet::avx512}) {
    if (!runner::instructionSetAvailable(path)) {
      continue;
    }
    runner::forceInstructionSet(path);
    double pathBest = 1e30;
    for (int i = 0; i < 20; ++i) {
      const auto start = Clock::now();
      step.run();
      pathBest = std::min(pathBest, seconds(Clock::now() - start));
    }
    state.counters["network_step_ms_" + std::string(runner::instructionSetName(path))] =
        pathBest * 1e3;
  }
  runner::resetInstructionSet();

  state.counters["step_ms"] = best * 1e3;
  state.counters["steady_step_ms"] = steadyBest * 1e3;
  state.counters["network_step_ms"] = networkBest * 1e3;
  state.counters["weights_MB"] = network.weightBytesPerStep() / 1e6;
  state.counters["read_once_ms"] = readSeconds * 1e3;
  state.counters["ratio_to_read_once"] = best / readSeconds;
  state.counters["ratio_to_read_once_median"] = mqbench::median(stepRatios);
  state.counters["steady_ratio_to_read_once_median"] = mqbench::median(steadyRatios);
  state.counters["allocs_per_network_step"] =
      static_cast<double>(AllocationCounter::count()) / 10.0;

  // Allocations of whole predictions that write into caller-owned outputs.
  m.decoder->prediction(provider, backed);
  AllocationCounter::resetCount();
  AllocationCounter::setCounting(true);
  for (int i = 0; i < 10; ++i) {
    m.decoder->prediction(provider, backed);
  }
  AllocationCounter::setCounting(false);
  state.counters["allocs_per_backed_prediction"] =
      static_cast<double>(AllocationCounter::count()) / 10.0;
  GoalReport::value("decoder step, base shape", best * 1e3, "ms");
  GoalReport::value("reading the decoder's stored weights once", readSeconds * 1e3, "ms");
  GoalReport::figure("decoder step / reading its stored weights once, best times",
                     best / readSeconds, "<= 1.3");
  GoalReport::figure("decoder step / reading its stored weights once, median of rounds",
                     mqbench::median(stepRatios), "<= 1.3");
  GoalReport::figure("decoder step straight after a step / reading once, median of rounds",
                     mqbench::median(steadyRatios), "<= 1.3");
  GoalReport::figure("decoder, allocations per network step",
                     state.counters["allocs_per_network_step"], "0");
  GoalReport::figure("decoder, allocations per prediction into caller-owned outputs",
                     state.counters["allocs_per_backed_prediction"], "0");
}

// 16 windows decoding at once, stepped in turn on one thread (as the decoding loop interleaves
// concurrent windows), against one window stepped alone.
void BM_DecoderInterleavedWindows(benchmark::State &state) {
  auto &m = models();
  constexpr int kWindows = 16;
  std::vector<DecoderInputs> inputs;
  std::vector<std::unique_ptr<MLDictionaryFeatureProvider>> providers;
  for (int w = 0; w < kWindows; ++w) {
    inputs.push_back(decoderAt(m.dims, 100));
    // Each window its own encoder output.
    auto *h = inputs.back().encoder.data<Float16>();
    std::mt19937 generator(static_cast<unsigned>(10 + w));
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    for (int i = 0; i < inputs.back().encoder.count(); ++i) {
      h[i] = static_cast<Float16>(value(generator));
    }
    providers.push_back(std::make_unique<MLDictionaryFeatureProvider>(inputs.back().map()));
  }
  MLPredictionOptions backed;
  backed.outputBackings = std::make_shared<MLDictionaryFeatureProvider>(decoderBackings(m.dims));
  for (const auto &provider : providers) {
    m.decoder->prediction(*provider, backed); // each window's cross-attention memory
  }
  double single = 1e30;
  double interleaved = 1e30;
  for (auto _ : state) {
    for (int i = 0; i < 3; ++i) {
      const auto start = Clock::now();
      m.decoder->prediction(*providers[0], backed);
      single = std::min(single, seconds(Clock::now() - start));
    }
    const auto start = Clock::now();
    for (const auto &provider : providers) {
      m.decoder->prediction(*provider, backed);
    }
    interleaved = std::min(interleaved, seconds(Clock::now() - start) / kWindows);
  }
  state.counters["single_step_ms"] = single * 1e3;
  state.counters["interleaved_step_ms"] = interleaved * 1e3;
  state.counters["ratio_to_single"] = interleaved / single;
  GoalReport::figure("16 windows stepped in turn, step over one window's step",
                     interleaved / single, "<= 1.2");
}

// The mel window's goal is a third of a PyTorch STFT of the same window timed side by side. PyTorch
// is not part of this project's build, so the side-by-side time is not measured here; the figure
// is given with the work an FFT-based mel spectrogram does, counted in floating-point operations,
// and the time that work takes at this machine's fp32 FMA peak (a floor no FFT reaches).
void reportMelAgainstFftWork(const runner::ModelDimensions &d, double melSeconds) {
  const double n = static_cast<double>(d.fftLength);
  const double bins = n / 2 + 1;
  const double frames = static_cast<double>(d.melFrames());
  const double mels = static_cast<double>(d.melCount);
  // Per frame: a real FFT (2.5 n log2 n); around it the window, the power spectrum, the dense
  // filter bank and the logarithm with its clamp.
  const double fftFlops = frames * 2.5 * n * std::log2(n);
  const double flops = fftFlops + frames * (n + 3 * bins + 2 * mels * bins + 4 * mels);
  const double peak = fmaPeakGflops() * 1e9;
  GoalReport::figure("mel window", melSeconds * 1e3, "<= 1/3 of a PyTorch STFT side by side", "ms");
  GoalReport::note("PyTorch STFT: not available on this machine (PyTorch is not installed), so "
                   "the side-by-side time is not measured");
  GoalReport::value("mel window's real FFTs", fftFlops / 1e6, "MFLOP");
  GoalReport::value("mel window's work with window, power, filter bank and log", flops / 1e6,
                    "MFLOP");
  GoalReport::value("FFT FLOP-based expectation at this machine's fp32 FMA peak",
                    flops / peak * 1e3, "ms");
  GoalReport::value("mel window, achieved", flops / melSeconds / 1e9, "GFLOP/s");
}

void BM_MelWindow(benchmark::State &state) {
  auto &m = models();
  const auto audio = speechLikeWindow();
  runOne(*m.mel, "audio", audio, "melspectrogram_features");
  double best = 1e30;
  for (auto _ : state) {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(runOne(*m.mel, "audio", audio, "melspectrogram_features"));
    best = std::min(best, seconds(Clock::now() - start));
  }
  state.counters["real_time_factor"] = best / 30.0;
  reportMelAgainstFftWork(m.dims, best);
}

void BM_WholeChainBase(benchmark::State &state) {
  auto &m = models();
  const auto audio = speechLikeWindow();
  double best = 1e30;
  for (auto _ : state) {
    const auto start = Clock::now();
    const auto mel = runOne(*m.mel, "audio", audio, "melspectrogram_features");
    const auto encoded =
        runOne(*m.encoder, "melspectrogram_features", mel, "encoder_output_embeds");
    auto inputs = decoderAt(m.dims, 0);
    inputs.encoder = encoded;
    const int s = static_cast<int>(m.dims.cacheLength);
    for (int i = 0; i < s; ++i) {
      inputs.padding.data<Float16>()[i] = static_cast<Float16>(i == 0 ? 0.0f : -10000.0f);
      inputs.update.data<std::int32_t>()[i] = i == 0 ? 1 : 0;
    }
    for (int i = 0; i < 100; ++i) {
      inputs.length.data<std::int32_t>()[0] = i;
      const auto out = m.decoder->prediction(MLDictionaryFeatureProvider(inputs.map()));
      const auto k = *out->featureValue("key_cache_updates")->multiArrayValue();
      const auto v = *out->featureValue("value_cache_updates")->multiArrayValue();
      const int width = k.count();
      for (int c = 0; c < width; ++c) {
        inputs.keys.data<Float16>()[c * s + i] = k.data<Float16>()[c];
        inputs.values.data<Float16>()[c * s + i] = v.data<Float16>()[c];
      }
      inputs.padding.data<Float16>()[i + 1] = 0;
      inputs.update.data<std::int32_t>()[i] = 0;
      inputs.update.data<std::int32_t>()[i + 1] = 1;
    }
    best = std::min(best, seconds(Clock::now() - start));
  }
  state.counters["window_s"] = best;
  state.counters["real_time_factor"] = best / 30.0;
}

BENCHMARK(BM_ResidentMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_MelWindow)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_EncoderBase)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DecoderStepBase)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_DecoderInterleavedWindows)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WholeChainBase)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

MQ_RUNNER_BENCHMARK_MAIN()
