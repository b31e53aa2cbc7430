#include "app/services/TranscriptionEngine.hpp"

#include "DivuvovIze/Models/Constants.hpp"
#include "app/support/TextTrimming.hpp"

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

std::string describe(const std::exception_ptr &error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception &caught) {
    return caught.what();
  } catch (...) {
    return "unknown error";
  }
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
  const std::filesystem::path base = modelFolder(environment_);
  // Queued work holds the main executor weakly, as the worker may be the main executor itself.
  worker_->post([weak = weak_from_this(), module = module_,
                 weakMain = std::weak_ptr<platform::Executor>(main_), modelName, base,
                 progress = std::move(progress), completion = std::move(completion)] {
    const auto main = weakMain.lock();
    if (!main) {
      return;
    }
    // Each report is read here and handed to the main executor on its own.
    const SpeechModule::ProgressCallback onDownload = [main,
                                                       progress](const SpeechDownloadProgress &p) {
      LoadingPhase phase{Kind::downloading, p.fractionCompleted, p.completedUnitCount,
                         p.totalUnitCount, p.estimatedTimeRemaining};
      main->post([progress, phase] {
        if (progress) {
          progress(phase);
        }
      });
    };
    std::filesystem::path folder;
    try {
      folder = module->download(modelName, base, onDownload);
    } catch (...) {
      const auto error = std::make_exception_ptr(
          EngineError(EngineError::Kind::loadFailed, describe(std::current_exception())));
      main->post([completion, error] {
        if (completion) {
          completion(error);
        }
      });
      return;
    }
    main->post([progress] {
      if (progress) {
        progress(LoadingPhase::of(Kind::initializing));
      }
    });
    std::shared_ptr<SpeechEngine> engine;
    std::exception_ptr error;
    try {
      divuvovize::DivuvovIzeConfig config({
          .modelFolder = folder.string(),
          .verbose = false,
          .logLevel = deduve::Logging::LogLevel::info,
          .prewarm = true,
          .load = std::nullopt,
          .download = true,
          .useBackgroundDownloadSession = false,
      });
      engine = module->makeEngine(config);
      if (!engine) {
        throw std::runtime_error("the speech module built no engine");
      }
    } catch (...) {
      error = std::make_exception_ptr(
          EngineError(EngineError::Kind::loadFailed, describe(std::current_exception())));
    }
    main->post([weak, engine = std::move(engine), error, progress, completion] {
      if (!error) {
        if (const auto self = weak.lock()) {
          self->whisper_ = engine;
          self->isReady_ = true;
        }
        if (progress) {
          progress(LoadingPhase::of(Kind::ready));
        }
      }
      if (completion) {
        completion(error);
      }
    });
  });
}

void TranscriptionEngine::transcribe(std::vector<float> samples, TranscribeCompletion completion) {
  if (!whisper_) {
    main_->post([completion = std::move(completion)] {
      if (completion) {
        completion({}, std::make_exception_ptr(EngineError(EngineError::Kind::notReady)));
      }
    });
    return;
  }
  if (samples.size() < kMinimumSamples) {
    main_->post([completion = std::move(completion)] {
      if (completion) {
        completion({}, nullptr);
      }
    });
    return;
  }
  worker_->post([engine = whisper_, weakMain = std::weak_ptr<platform::Executor>(main_),
                 samples = std::move(samples), completion = std::move(completion)] {
    std::string text;
    std::exception_ptr error;
    try {
      const auto results = engine->transcribe(samples, dictationDecodingOptions());
      std::string joined;
      for (std::size_t i = 0; i < results.size(); ++i) {
        if (i > 0) {
          joined += ' ';
        }
        joined += results[i] ? results[i]->text() : std::string();
      }
      text = trimmingWhitespaceAndNewlines(joined);
    } catch (...) {
      error = std::make_exception_ptr(
          EngineError(EngineError::Kind::transcriptionFailed, describe(std::current_exception())));
    }
    const auto main = weakMain.lock();
    if (!main) {
      return;
    }
    main->post([text = std::move(text), error, completion] {
      if (completion) {
        completion(text, error);
      }
    });
  });
}

} // namespace murmurquill
