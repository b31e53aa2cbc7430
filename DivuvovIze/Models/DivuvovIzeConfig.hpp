#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DeduveCore/Support/Logging.hpp"
#include "DivuvovIze/Models/ModelComputeOptions.hpp"

namespace divuvovize {

// Components the configuration can hold in place of the engine's standard ones. Each is
// defined by the subsystem that owns it; the configuration only holds them.
struct AudioInputConfig;
class AudioProcessing;
class FeatureExtracting;
class AudioEncoding;
class TextDecoding;
class LogitsFiltering;
class SegmentSeeking;
class VoiceActivityDetector;

// Everything a caller fills in to create the speech pipeline. Shared by reference; it holds
// the components strongly, and the pipeline reads it once at construction. Construction
// stores the arguments and nothing else (no checks, no derived values); every field may be
// changed afterwards.
class DivuvovIzeConfig {
public:
  struct Arguments {
    std::optional<std::string> model{};
    std::optional<std::filesystem::path> downloadBase{};
    std::optional<std::string> modelRepo{};
    std::optional<std::string> modelToken{};
    std::optional<std::string> modelEndpoint{};
    std::optional<std::string> modelFolder{};
    std::optional<std::filesystem::path> tokenizerFolder{};
    std::optional<ModelComputeOptions> computeOptions{};
    std::shared_ptr<const AudioInputConfig> audioInputConfig{};
    std::shared_ptr<AudioProcessing> audioProcessor{};
    std::shared_ptr<FeatureExtracting> featureExtractor{};
    std::shared_ptr<AudioEncoding> audioEncoder{};
    std::shared_ptr<TextDecoding> textDecoder{};
    std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters{};
    std::shared_ptr<SegmentSeeking> segmentSeeker{};
    std::shared_ptr<VoiceActivityDetector> voiceActivityDetector{};
    bool verbose = false;
    deduve::Logging::LogLevel logLevel = deduve::Logging::LogLevel::none;
    std::optional<bool> prewarm{};
    std::optional<bool> load{};
    bool download = false;
    bool useBackgroundDownloadSession = false;
  };

  DivuvovIzeConfig();
  explicit DivuvovIzeConfig(Arguments arguments);

  // Model variant to fetch (matched against repository folder names); absent: the device's
  // default model.
  std::optional<std::string> model;
  // Folder under which downloaded repositories are stored.
  std::optional<std::filesystem::path> downloadBase;
  // Repository to fetch from; absent: the pipeline's default repository.
  std::optional<std::string> modelRepo;
  // Access token for the model hub.
  std::optional<std::string> modelToken;
  // Hub endpoint; absent: the default hub. Tests point this at a local server.
  std::optional<std::string> modelEndpoint;
  // Path of a local folder that already holds the models; when set nothing is downloaded.
  std::optional<std::string> modelFolder;
  // Folder of the tokenizer files.
  std::optional<std::filesystem::path> tokenizerFolder;
  // Compute units per model; absent: the pipeline's defaults.
  std::optional<ModelComputeOptions> computeOptions;
  // Microphone channel handling; null: all channels summed.
  std::shared_ptr<const AudioInputConfig> audioInputConfig;
  // Replacement components; null builds the standard one.
  std::shared_ptr<AudioProcessing> audioProcessor;
  std::shared_ptr<FeatureExtracting> featureExtractor;
  std::shared_ptr<AudioEncoding> audioEncoder;
  std::shared_ptr<TextDecoding> textDecoder;
  // Logits filters for the decoder.
  std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters;
  std::shared_ptr<SegmentSeeking> segmentSeeker;
  std::shared_ptr<VoiceActivityDetector> voiceActivityDetector;
  // False: the pipeline logs nothing; true: it sets the logging level to logLevel.
  bool verbose = false;
  deduve::Logging::LogLevel logLevel = deduve::Logging::LogLevel::none;
  // True: prewarm the models after set-up.
  std::optional<bool> prewarm;
  // True: load after set-up; absent: load when a model folder is known.
  std::optional<bool> load;
  // Fetch the model from the repository when no model folder is given.
  bool download = false;
  // Downloads run in a background session.
  bool useBackgroundDownloadSession = false;
};

} // namespace divuvovize
