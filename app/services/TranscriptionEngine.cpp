#include "app/services/TranscriptionEngine.hpp"

#include "DivuvovIze/Models/Constants.hpp"
#include "app/support/TextTrimming.hpp"
#include "platform/system/CancellationScope.hpp"
#include "platform/system/ExceptionDescription.hpp"
#include "platform/system/RunInBackground.hpp"

#include <system_error>

namespace murmurquill {
namespace {

std::string engineErrorText(TranscriptionEngine::EngineError::Kind kind, const std::string &cause) {
  using Kind = TranscriptionEngine::EngineError::Kind;
  switch (kind) {
  case Kind::loadFailed:
    return "Failed to load Whisper model: " + cause;
  case Kind::transcriptionFailed:
    return "Transcription failed: " + cause;
  case Kind::notReady:
    return "Transcription engine is still loading.";
  }
  return {};
}

} // namespace

TranscriptionEngine::EngineError::EngineError(Kind kind, const std::string &cause)
    : std::runtime_error(engineErrorText(kind, cause)), kind_(kind) {}

std::shared_ptr<TranscriptionEngine>
TranscriptionEngine::make(std::shared_ptr<SpeechModule> module, platform::Environment environment,
                          std::shared_ptr<platform::Executor> main,
                          std::shared_ptr<platform::Executor> worker) {
  return std::shared_ptr<TranscriptionEngine>(new TranscriptionEngine(
      std::move(module), std::move(environment), std::move(main), std::move(worker)));
}

TranscriptionEngine::TranscriptionEngine(std::shared_ptr<SpeechModule> module,
                                         platform::Environment environment,
                                         std::shared_ptr<platform::Executor> main,
                                         std::shared_ptr<platform::Executor> worker)
    : module_(std::move(module)), environment_(std::move(environment)), main_(std::move(main)),
      worker_(std::move(worker)) {}

TranscriptionEngine::~TranscriptionEngine() { cancellation_.cancel(); }

const divuvovize::DecodingOptions &TranscriptionEngine::dictationDecodingOptions() {
  static const divuvovize::DecodingOptions options({
      .verbose = false,
      .task = divuvovize::DecodingTask::transcribe,
      .language = "en",
      .temperature = 0.0f,
      .temperatureIncrementOnFallback = 0.2f,
      .temperatureFallbackCount = 0,
      .sampleLength = divuvovize::Constants::maxTokenContext,
      .topK = 5,
      .usePrefillPrompt = true,
      .detectLanguage = false,
      .skipSpecialTokens = true,
      .withoutTimestamps = true,
      .wordTimestamps = false,
      .maxInitialTimestamp = std::nullopt,
      .maxWindowSeek = std::nullopt,
      .clipTimestamps = {},
      .windowClipTime = 1.0f,
      .promptTokens = std::nullopt,
      .prefixTokens = std::nullopt,
      .suppressBlank = false,
      .suppressTokens = std::nullopt,
      .compressionRatioThreshold = 2.4f,
      .logProbThreshold = -1.0f,
      .firstTokenLogProbThreshold = -1.5f,
      .noSpeechThreshold = 0.6f,
      .concurrentWorkerCount = std::nullopt,
      .chunkingStrategy = std::nullopt,
  });
  return options;
}

std::filesystem::path TranscriptionEngine::modelFolder(const platform::Environment &environment) {
  const std::filesystem::path folder = environment.applicationSupportDirectory() / "Murmurquill";
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return folder;
}

void TranscriptionEngine::load(const std::string &modelName, ProgressCallback progress,
                               LoadCompletion completion) {
  using Kind = LoadingPhase::Kind;
  if (progress) {
    progress(LoadingPhase::of(Kind::preparing));
  }
  // The callbacks stay here, on the main thread; the worker names its load by number and holds
  // this object and the main executor weakly.
  const std::uint64_t load = nextLoad_++;
  loads_.emplace(load, LoadRequest{std::move(progress), std::move(completion)});
  const std::weak_ptr<TranscriptionEngine> weak = weak_from_this();
  const std::weak_ptr<platform::Executor> main = main_;
  const auto report = [weak, main, load](const LoadingPhase &phase) {
    platform::postToOwner(main, weak,
                          [load, phase](TranscriptionEngine &self) { self.report(load, phase); });
  };
  platform::runInBackground(
      *worker_,
      [module = module_, modelName, base = modelFolder(environment_), report,
       token = cancellation_] {
        const platform::CancellationScope scope(token);
        try {
          const std::filesystem::path folder =
              module->download(modelName, base, [report](const SpeechDownloadProgress &p) {
                report({Kind::downloading, p.fractionCompleted, p.completedUnitCount,
                        p.totalUnitCount, p.estimatedTimeRemaining});
              });
          report(LoadingPhase::of(Kind::initializing));
          return buildEngine(*module, folder);
        } catch (...) {
          throw EngineError(EngineError::Kind::loadFailed,
                            platform::describe(std::current_exception()));
        }
      },
      main_, weak,
      [load](TranscriptionEngine &self, std::future<std::shared_ptr<SpeechEngine>> outcome) {
        self.finishLoad(load, std::move(outcome));
      });
}

std::shared_ptr<SpeechEngine>
TranscriptionEngine::buildEngine(SpeechModule &module, const std::filesystem::path &folder) {
  divuvovize::DivuvovIzeConfig config({
      .modelFolder = folder.string(),
      .verbose = false,
      .logLevel = deduve::Logging::LogLevel::info,
      .prewarm = true,
      .load = std::nullopt,
      .download = true,
      .useBackgroundDownloadSession = false,
  });
  auto engine = module.makeEngine(config);
  if (!engine) {
    throw std::runtime_error("the speech module built no engine");
  }
  return engine;
}

void TranscriptionEngine::report(std::uint64_t load, const LoadingPhase &phase) {
  const auto request = loads_.find(load);
  if (request != loads_.end() && request->second.progress) {
    request->second.progress(phase);
  }
}

void TranscriptionEngine::finishLoad(std::uint64_t load,
                                     std::future<std::shared_ptr<SpeechEngine>> outcome) {
  const auto found = loads_.find(load);
  if (found == loads_.end()) {
    return;
  }
  LoadRequest request = std::move(found->second);
  loads_.erase(found);
  std::exception_ptr error;
  try {
    whisper_ = outcome.get();
    isReady_ = true;
  } catch (...) {
    error = std::current_exception();
  }
  if (!error && request.progress) {
    request.progress(LoadingPhase::of(LoadingPhase::Kind::ready));
  }
  if (request.completion) {
    request.completion(error);
  }
}

void TranscriptionEngine::transcribe(std::vector<float> samples, TranscribeCompletion completion) {
  if (!whisper_ || samples.size() < kMinimumSamples) {
    const bool ready = whisper_ != nullptr;
    main_->post([completion = std::move(completion), ready] {
      if (completion) {
        completion({}, ready ? nullptr
                             : std::make_exception_ptr(EngineError(EngineError::Kind::notReady)));
      }
    });
    return;
  }
  platform::runInBackground(
      *worker_,
      [engine = whisper_, samples = std::move(samples), token = cancellation_] {
        const platform::CancellationScope scope(token);
        try {
          const auto results = engine->transcribe(samples, dictationDecodingOptions());
          std::string joined;
          for (std::size_t i = 0; i < results.size(); ++i) {
            if (i > 0) {
              joined += ' ';
            }
            joined += results[i] ? results[i]->text() : std::string();
          }
          return trimmingWhitespaceAndNewlines(joined);
        } catch (...) {
          throw EngineError(EngineError::Kind::transcriptionFailed,
                            platform::describe(std::current_exception()));
        }
      },
      main_, weak_from_this(),
      [completion = std::move(completion)](TranscriptionEngine &, std::future<std::string> text) {
        std::string value;
        std::exception_ptr error;
        try {
          value = text.get();
        } catch (...) {
          error = std::current_exception();
        }
        if (completion) {
          completion(std::move(value), error);
        }
      });
}

} // namespace murmurquill
