#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "DivuvovIze/Models/ModelSupportConfig.hpp"

namespace divuvovize {

// The speech engine's shared constants. Tables are built once, on first use, and shared.
struct Constants {
  // Token context of the text decoder; the default sample length of DecodingOptions.
  static constexpr int maxTokenContext = 224;
  // 30 s at 16 kHz: the samples of one decoding window.
  static constexpr int defaultWindowSamples = 480000;
  // 30 s at 44.1 kHz: frames read per piece when an audio file is loaded.
  static constexpr std::uint32_t defaultAudioReadFrameSize = 1323000;

  static constexpr std::string_view defaultLanguageCode = "en";
  // The model-support document's file name in a model repository.
  static constexpr std::string_view defaultRemoteConfigName = "config.json";
  // The three characters stripped from a language tag ("<|en|>" -> "en").
  static constexpr std::string_view specialTokenCharacters = "<|>";
  // UTF-8 text of the 9 characters that attach to the following word.
  static const std::string defaultPrependPunctuations;
  // UTF-8 text of the 17 characters that attach to the preceding word.
  static const std::string defaultAppendPunctuations;

  // The public model hub's base address. Every caller takes an endpoint argument defaulting
  // to this, so tests point the engine at a local server instead.
  static std::string defaultRemoteEndpoint();

  // Language name -> code: 100 languages and 12 aliases.
  static const std::unordered_map<std::string, std::string> &languages();
  // The distinct codes of languages() (100).
  static const std::set<std::string> &languageCodes();

  // The built-in model-support table ("divuvovize-coreml-fallback", version "0.4"), completed
  // like a decoded table. Returns a copy of the shared value.
  static ModelSupportConfig fallbackModelSupportConfig();
  // The fallback table's rows as written, before completion (empty `disabled` lists).
  static const std::vector<DeviceSupport> &fallbackDeviceSupports();
  // The fallback table's known models, first-appearance order.
  static const std::vector<std::string> &knownModels();
};

} // namespace divuvovize
