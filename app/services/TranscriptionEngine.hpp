#pragma once

#include "app/services/SpeechModule.hpp"
#include "platform/system/CancellationToken.hpp"
#include "platform/system/Environment.hpp"
#include "platform/system/Executor.hpp"

#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace murmurquill {

// The app's face on the speech module: fetches one model variant into the app's folder,
// builds the engine on it while reporting the load's phases, and turns a take into one
// trimmed line of text with the dictation's fixed decoding options.
//
// Main thread only. The blocking work runs on the worker executor (a serial one, so
// transcriptions end in the order they were asked for) and holds this object and the main
// executor weakly; progress and completions come back on the main executor, and nothing comes
// back once this object is gone. Made only through make().
class TranscriptionEngine final : public std::enable_shared_from_this<TranscriptionEngine> {
public:
  // A phase of the load, in the order the controller ranks them.
  struct LoadingPhase {
    enum class Kind { idle, preparing, downloading, initializing, ready };
    Kind kind = Kind::idle;
    // downloading only: the download's fraction, counts and estimated seconds left.
    double fraction = 0.0;
    std::int64_t downloadedBytes = 0;
    std::int64_t totalBytes = 0;
    std::optional<double> etaSeconds;

    static LoadingPhase of(Kind kind) {
      LoadingPhase phase;
      phase.kind = kind;
      return phase;
    }
    // The rank: 0 for idle up to 4 for ready.
    int ordinal() const { return static_cast<int>(kind); }
    friend bool operator==(const LoadingPhase &, const LoadingPhase &) = default;
  };

  class EngineError : public std::runtime_error {
  public:
    enum class Kind { loadFailed, transcriptionFailed, notReady };
    // `cause` is the wrapped error's description (not for notReady).
    explicit EngineError(Kind kind, const std::string &cause = {});
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
  };

  using ProgressCallback = std::function<void(const LoadingPhase &)>;
  // Called with nullptr on success, else with the EngineError.
  using LoadCompletion = std::function<void(std::exception_ptr error)>;
  // Called with the text and nullptr, or with an empty text and the EngineError.
  using TranscribeCompletion = std::function<void(std::string text, std::exception_ptr error)>;

  // Takes under this many samples (0.1 s) give "" without reaching the engine.
  static constexpr std::size_t kMinimumSamples = 1600;

  static std::shared_ptr<TranscriptionEngine> make(std::shared_ptr<SpeechModule> module,
                                                   platform::Environment environment,
                                                   std::shared_ptr<platform::Executor> main,
                                                   std::shared_ptr<platform::Executor> worker);

  // The dictation's decoding options: English, transcribe, temperature 0 without fallback,
  // no timestamps; built once.
  static const divuvovize::DecodingOptions &dictationDecodingOptions();

  // "Murmurquill" under the Application Support folder, created (with its parents) when
  // computed; a creation error is ignored.
  static std::filesystem::path modelFolder(const platform::Environment &environment);

  // Cancels the load and the transcription under way (their results would reach nobody), so a
  // quit does not wait for a load of minutes.
  ~TranscriptionEngine();
  TranscriptionEngine(const TranscriptionEngine &) = delete;
  TranscriptionEngine &operator=(const TranscriptionEngine &) = delete;

  bool isReady() const { return isReady_; }

  // Downloads `modelName` and builds the engine: `progress` gets preparing, downloading
  // reports (which may arrive late, after later phases), initializing and ready; then
  // `completion` runs. A failure leaves the object as it was. Each call walks every step.
  void load(const std::string &modelName, ProgressCallback progress, LoadCompletion completion);

  // Transcribes a take of 16 kHz mono samples.
  void transcribe(std::vector<float> samples, TranscribeCompletion completion);

private:
  TranscriptionEngine(std::shared_ptr<SpeechModule> module, platform::Environment environment,
                      std::shared_ptr<platform::Executor> main,
                      std::shared_ptr<platform::Executor> worker);
  // Blocking, on the worker: the engine on a downloaded folder.
  static std::shared_ptr<SpeechEngine> buildEngine(SpeechModule &module,
                                                   const std::filesystem::path &folder);
  void report(std::uint64_t load, const LoadingPhase &phase);
  void finishLoad(std::uint64_t load, std::future<std::shared_ptr<SpeechEngine>> outcome);

  std::shared_ptr<SpeechModule> module_;
  platform::Environment environment_;
  std::shared_ptr<platform::Executor> main_;
  std::shared_ptr<platform::Executor> worker_;
  // The callbacks of the loads under way, by number; kept on the main thread.
  struct LoadRequest {
    ProgressCallback progress;
    LoadCompletion completion;
  };
  std::map<std::uint64_t, LoadRequest> loads_;
  std::uint64_t nextLoad_ = 0;
  bool isReady_ = false;
  std::shared_ptr<SpeechEngine> whisper_;
  // The current task's token of the worker's work (CancellationScope), cancelled with this.
  platform::CancellationToken cancellation_;
};

} // namespace murmurquill
