// transcribe: transcribes audio files with the speech engine and prints or writes the results
// as text, JSON, SRT or WebVTT.

#include "DivuvovIze/Models/ResultWriting.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "DivuvovIze/Pipeline/DivuvovIze.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/ml/LoadMLModel.hpp"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using divuvovize::DecodingOptions;
using divuvovize::DivuvovIze;
using divuvovize::DivuvovIzeConfig;

// Exit codes: usage 2; a file that cannot be read 3; a model that cannot be had or loaded 4;
// a failed transcription or output 5.
constexpr int kUsage = 2;
constexpr int kBadFile = 3;
constexpr int kBadModel = 4;
constexpr int kFailed = 5;

int usage() {
  std::cerr << "usage: transcribe FILE... [--model-folder DIR | --model NAME] [--model-repo ID]\n"
               "                  [--endpoint URL] [--language L] [--word-timestamps]\n"
               "                  [--format text|json|srt|vtt] [--output-dir DIR]\n";
  return kUsage;
}

struct Arguments {
  std::vector<std::string> files;
  std::optional<std::string> modelFolder;
  std::optional<std::string> model;
  std::optional<std::string> modelRepo;
  std::optional<std::string> endpoint;
  std::optional<std::string> language;
  bool wordTimestamps = false;
  std::string format = "text";
  std::optional<std::string> outputDir;
};

std::optional<Arguments> parse(int argc, char **argv) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--word-timestamps") {
      arguments.wordTimestamps = true;
      continue;
    }
    if (flag.rfind("--", 0) != 0) {
      arguments.files.push_back(flag);
      continue;
    }
    if (i + 1 >= argc) {
      return std::nullopt;
    }
    const std::string value = argv[++i];
    if (flag == "--model-folder") {
      arguments.modelFolder = value;
    } else if (flag == "--model") {
      arguments.model = value;
    } else if (flag == "--model-repo") {
      arguments.modelRepo = value;
    } else if (flag == "--endpoint") {
      arguments.endpoint = value;
    } else if (flag == "--language") {
      arguments.language = value;
    } else if (flag == "--format") {
      if (value != "text" && value != "json" && value != "srt" && value != "vtt") {
        return std::nullopt;
      }
      arguments.format = value;
    } else if (flag == "--output-dir") {
      arguments.outputDir = value;
    } else {
      return std::nullopt;
    }
  }
  if (arguments.files.empty() || (arguments.modelFolder && arguments.model)) {
    return std::nullopt;
  }
  return arguments;
}

// A one-line bar on standard error, redrawn as windows finish.
class ProgressBar {
public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  void show(const std::string &name, double fraction) {
    if (!enabled_) {
      return;
    }
    const int width = 30;
    const int filled = static_cast<int>(fraction * width + 0.5);
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", name.c_str(), std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), static_cast<int>(fraction * 100 + 0.5));
    std::fflush(stderr);
  }
  void finish() {
    if (enabled_) {
      std::fputc('\n', stderr);
    }
  }

private:
  bool enabled_;
};

std::unique_ptr<divuvovize::ResultWriting> writerFor(const std::string &format,
                                                     const std::string &folder) {
  if (format == "json") {
    return std::make_unique<divuvovize::WriteJSON>(folder);
  }
  if (format == "srt") {
    return std::make_unique<divuvovize::WriteSRT>(folder);
  }
  return std::make_unique<divuvovize::WriteVTT>(folder);
}

} // namespace

int main(int argc, char **argv) {
  // The model runner picks its matrix kernels while this is the only thread. A BLAS library
  // that cannot be loaded fails again where the first model loads, which reports it.
  try {
    platform::startMLRunner();
  } catch (const std::exception &) {
  }
  const std::optional<Arguments> arguments = parse(argc, argv);
  if (!arguments) {
    return usage();
  }
  for (const auto &file : arguments->files) {
    if (!fs::is_regular_file(file)) {
      std::cerr << "transcribe: " << file << ": no such file\n";
      return kBadFile;
    }
  }
  if (arguments->modelFolder && !fs::is_directory(*arguments->modelFolder)) {
    std::cerr << "transcribe: " << *arguments->modelFolder << ": no such model folder\n";
    return kBadModel;
  }

  std::unique_ptr<DivuvovIze> engine;
  try {
    DivuvovIzeConfig config;
    config.modelFolder = arguments->modelFolder;
    config.model = arguments->model;
    config.modelRepo = arguments->modelRepo;
    config.modelEndpoint = arguments->endpoint;
    config.download = !arguments->modelFolder;
    config.load = true;
    engine = std::make_unique<DivuvovIze>(config);
  } catch (const std::exception &error) {
    std::string message = error.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    std::cerr << "transcribe: cannot load the model: " << message << "\n";
    return kBadModel;
  }

  DecodingOptions options;
  options.language = arguments->language;
  options.detectLanguage = !arguments->language;
  options.wordTimestamps = arguments->wordTimestamps;
  options.skipSpecialTokens = true;
  // Every format decodes with timestamps, so the text printed is the text of the segments the
  // other formats write, and a long file moves on at its windows' last closed timestamps.
  options.withoutTimestamps = false;

  const bool showProgress = isatty(STDERR_FILENO);
  int status = 0;
  for (const auto &file : arguments->files) {
    ProgressBar bar(showProgress);
    const std::string name = fs::path(file).filename().string();
    double duration = 0;
    engine->transcriptionStateCallback = [&](divuvovize::TranscriptionState state) {
      if (state == divuvovize::TranscriptionState::transcribing) {
        bar.show(name, 0.0);
      }
    };
    engine->segmentDiscoveryCallback = [&](const std::vector<divuvovize::TranscriptionSegment> &s) {
      if (!s.empty() && duration > 0) {
        bar.show(name, std::min(1.0, static_cast<double>(s.back().end) / duration));
      }
    };
    try {
      // The length from the header, for the bar only; reading the audio is the engine's.
      const auto audio = platform::AudioFile::openForReading(file);
      duration = static_cast<double>(audio->length()) / audio->fileFormat().sampleRate();
      const auto results = engine->transcribe(file, options);
      bar.show(name, 1.0);
      bar.finish();
      for (const auto &result : results) {
        if (arguments->format == "text") {
          std::cout << result->text() << "\n";
          continue;
        }
        const std::string folder = arguments->outputDir.value_or(".");
        fs::create_directories(folder);
        const auto writer = writerFor(arguments->format, folder);
        const auto written = writer->write(*result, fs::path(file).stem().string());
        if (!written.isSuccess()) {
          std::cerr << "transcribe: " << file << ": " << written.errorMessage() << "\n";
          status = kFailed;
        } else {
          std::cerr << "Wrote " << written.value() << "\n";
        }
      }
    } catch (const std::exception &error) {
      bar.finish();
      std::cerr << "transcribe: " << file << ": " << error.what() << "\n";
      status = kFailed;
    }
  }
  return status;
}
