#pragma once

#include "app/services/SpeechModule.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace murmurquill {

// The speech module over the DivuvovIze engine: downloads a variant from the engine's default
// model repository at the default hub endpoint (no background session, no token), and builds,
// prewarms and loads a DivuvovIze on a model folder.
//
// With a fixed model folder, download() returns that folder without touching the network, so
// the app runs on a folder the user already has.
class DivuvovIzeSpeechModule final : public SpeechModule {
public:
  explicit DivuvovIzeSpeechModule(std::optional<std::filesystem::path> fixedModelFolder = {});

  std::filesystem::path download(const std::string &variant,
                                 const std::filesystem::path &downloadBase,
                                 const ProgressCallback &progress) override;
  std::shared_ptr<SpeechEngine> makeEngine(const divuvovize::DivuvovIzeConfig &config) override;

private:
  std::optional<std::filesystem::path> fixedModelFolder_;
};

} // namespace murmurquill
