#include "app/services/DivuvovIzeSpeechModule.hpp"

#include "DeduveCore/Hub/Progress.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Pipeline/DivuvovIze.hpp"

#include <span>

namespace murmurquill {
namespace {

// One loaded DivuvovIze; transcriptions run one at a time on the caller's thread.
class DivuvovIzeSpeechEngine final : public SpeechEngine {
public:
  explicit DivuvovIzeSpeechEngine(const divuvovize::DivuvovIzeConfig &config) : engine_(config) {}

  std::vector<std::shared_ptr<divuvovize::TranscriptionResult>>
  transcribe(const std::vector<float> &audioArray,
             const divuvovize::DecodingOptions &options) override {
    return engine_.transcribe(std::span<const float>(audioArray), options);
  }

private:
  divuvovize::DivuvovIze engine_;
};

} // namespace

DivuvovIzeSpeechModule::DivuvovIzeSpeechModule(
    std::optional<std::filesystem::path> fixedModelFolder,
    std::shared_ptr<platform::SteadyClock> clock)
    : fixedModelFolder_(std::move(fixedModelFolder)),
      clock_(clock ? std::move(clock) : platform::SteadyClock::system()) {}

SpeechDownloadProgress
DivuvovIzeSpeechModule::progressReport(const deduve::Progress &report,
                                       const DownloadTimeEstimator &estimator) {
  const double fraction = report.fractionCompleted();
  return {fraction, report.completedUnitCount(), report.totalUnitCount(),
          estimator.secondsRemaining(fraction)};
}

std::filesystem::path DivuvovIzeSpeechModule::download(const std::string &variant,
                                                       const std::filesystem::path &downloadBase,
                                                       const ProgressCallback &progress) {
  if (fixedModelFolder_) {
    return *fixedModelFolder_;
  }
  const auto estimator = std::make_shared<DownloadTimeEstimator>(clock_);
  const divuvovize::DivuvovIze::ProgressCallback onProgress =
      [progress, estimator](const std::shared_ptr<deduve::Progress> &report) {
        if (progress && report) {
          progress(progressReport(*report, *estimator));
        }
      };
  return divuvovize::DivuvovIze::download(
      variant, downloadBase, /*useBackgroundSession=*/false,
      std::string(divuvovize::DivuvovIze::defaultModelRepo), /*token=*/std::nullopt,
      divuvovize::Constants::defaultRemoteEndpoint(), onProgress);
}

std::shared_ptr<SpeechEngine>
DivuvovIzeSpeechModule::makeEngine(const divuvovize::DivuvovIzeConfig &config) {
  return std::make_shared<DivuvovIzeSpeechEngine>(config);
}

} // namespace murmurquill
