#pragma once

#include "DeduveCore/Hub/Progress.hpp"
#include "app/services/DownloadTimeEstimator.hpp"
#include "app/services/SpeechModule.hpp"
#include "platform/system/Clock.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace murmurquill {

// The speech module over the DivuvovIze engine: downloads a variant from the engine's default
// model repository at the default hub endpoint (no background session, no token), and builds,
// prewarms and loads a DivuvovIze on a model folder.
//
// The hub reports no time estimate of its own; the module estimates it from the download's
// share done and the time taken. With a fixed model folder, download() returns that folder
// without touching the network, so the app runs on a folder the user already has.
class DivuvovIzeSpeechModule final : public SpeechModule {
public:
  // `clock` times the download for its estimate of the time left (null: the system's).
  explicit DivuvovIzeSpeechModule(std::optional<std::filesystem::path> fixedModelFolder = {},
                                  std::shared_ptr<platform::SteadyClock> clock = nullptr);

  // One report of the hub's download as the app reads it: the share done, the unit counts, and
  // the time left as `estimator` (made when the download started) estimates it.
  static SpeechDownloadProgress progressReport(const deduve::Progress &report,
                                               const DownloadTimeEstimator &estimator);

  std::filesystem::path download(const std::string &variant,
                                 const std::filesystem::path &downloadBase,
                                 const ProgressCallback &progress) override;
  std::shared_ptr<SpeechEngine> makeEngine(const divuvovize::DivuvovIzeConfig &config) override;

private:
  std::optional<std::filesystem::path> fixedModelFolder_;
  std::shared_ptr<platform::SteadyClock> clock_;
};

} // namespace murmurquill
