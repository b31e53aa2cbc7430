// transcribe: transcribes audio files with the speech engine and prints or writes the results
// as text, JSON, SRT or WebVTT.

#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Pipeline/DivuvovIze.hpp"
#include "DivuvovIze/Writing/ResultWriting.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/ml/LoadMLModel.hpp"
#include "tools/arguments/ArgumentParser.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <unistd.h>
#include <variant>
#include <vector>

namespace {

namespace fs = std::filesystem;
using divuvovize::DecodingOptions;
using divuvovize::DivuvovIze;
using divuvovize::DivuvovIzeConfig;
using murmurquill::ArgumentParser;

// Exit codes. 2: the command line is wrong (nothing is read). 3: an input is not a readable
// file (missing, a folder, or a path that cannot be inspected), or the output folder cannot be
// made or written; checked for every input and the folder before the model is loaded. 4: the model
// folder cannot be inspected, or the model cannot be had or loaded. 5: an input's audio cannot be
// decoded or transcribed, or its output not written or printed; the other inputs are still
// transcribed.
constexpr int kBadFile = 3;
constexpr int kBadModel = 4;
constexpr int kFailed = 5;

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

std::string knownLanguageCodes() {
  std::string codes;
  for (const auto &code : divuvovize::Constants::languageCodes()) {
    codes += (codes.empty() ? "" : ", ") + code;
  }
  return codes;
}

ArgumentParser::Setter store(std::optional<std::string> &target) {
  return [&target](const std::string &value) -> std::optional<std::string> {
    target = value;
    return std::nullopt;
  };
}

ArgumentParser makeParser(Arguments &arguments) {
  ArgumentParser parser(
      "transcribe",
      {"transcribe FILE... [--model-folder DIR | --model NAME] [--model-repo ID]",
       "           [--endpoint URL] [--language L] [--word-timestamps]",
       "           [--format text|json|srt|vtt] [--output-dir DIR]"},
      "Transcribes each audio file (WAV, FLAC, OGG, MP3, ...; any rate and channel count)\n"
      "with the speech engine, printing the text or writing one file per input.");
  parser.positional("FILE...", "the audio files to transcribe, in order");
  parser.option("--model-folder", "DIR",
                "a folder holding MelSpectrogram.mlmodelc, AudioEncoder.mlmodelc and\n"
                "TextDecoder.mlmodelc, or a published checkpoint (imported once into\n"
                "DIR.imported beside it)",
                store(arguments.modelFolder));
  parser.option("--model", "NAME",
                "the model variant to download from the hub (default: this machine's\n"
                "recommended one); not with --model-folder",
                store(arguments.model));
  parser.option("--model-repo", "ID", "the hub repository of the models (owner/name)",
                store(arguments.modelRepo));
  parser.option("--endpoint", "URL", "the hub the models are downloaded from",
                store(arguments.endpoint));
  parser.option("--language", "L",
                "the spoken language's code (en, fr, ...); default: detected from the\n"
                "first 30 seconds",
                [&arguments](const std::string &value) -> std::optional<std::string> {
                  if (divuvovize::Constants::languageCodes().count(value) == 0) {
                    return "not a known language code; known codes: " + knownLanguageCodes();
                  }
                  arguments.language = value;
                  return std::nullopt;
                });
  parser.flag("--word-timestamps", "time every word (JSON words, one subtitle cue per word)",
              [&arguments] { arguments.wordTimestamps = true; });
  parser.option("--format", "F",
                "text (printed, the default), json, srt or vtt (written to files named\n"
                "after the inputs)",
                [&arguments](const std::string &value) -> std::optional<std::string> {
                  if (value != "text" && value != "json" && value != "srt" && value != "vtt") {
                    return "not one of text, json, srt, vtt";
                  }
                  arguments.format = value;
                  return std::nullopt;
                });
  parser.option("--output-dir", "DIR", "where json, srt and vtt files go (default: .)",
                store(arguments.outputDir));
  parser.note("Each output is named after its input's name without the extension; inputs that\n"
              "share that name keep their extension (a.mp3.json, a.flac.json), and inputs\n"
              "that share the whole name are numbered after it (x.wav.json, x.wav-2.json).\n"
              "Nothing written in one run is overwritten in the same run.");
  parser.note("The tokenizer is read from the model folder when it holds one; otherwise it is\n"
              "downloaded from the public hub (or $HF_ENDPOINT), never from --endpoint.");
  parser.note("Exit status: 0 done; 2 wrong command line; 3 an input that is not a readable\n"
              "file, or an output folder that cannot be made or written (both checked before\n"
              "anything is transcribed); 4 a model that cannot be had or loaded; 5 an input\n"
              "that could not be transcribed or written, or text that could not be printed\n"
              "(the others are still done).");
  return parser;
}

// Arguments to run with, or the status to exit with.
std::variant<Arguments, int> parse(int argc, char **argv) {
  Arguments arguments;
  const ArgumentParser parser = makeParser(arguments);
  const auto outcome = parser.parse(argc, argv, arguments.files, std::cout, std::cerr);
  if (outcome != ArgumentParser::Outcome::run) {
    return murmurquill::exitStatus(outcome);
  }
  if (arguments.files.empty()) {
    parser.refuse("no audio file given", std::cerr);
    return murmurquill::exitStatus(ArgumentParser::Outcome::usageError);
  }
  if (arguments.modelFolder && arguments.model) {
    parser.refuse("--model-folder and --model exclude each other", std::cerr);
    return murmurquill::exitStatus(ArgumentParser::Outcome::usageError);
  }
  return arguments;
}

// Why `path` cannot be used as a `wanted` entry (a regular file or a folder), in words; nothing
// when it can.
std::optional<std::string> pathProblem(const std::string &path, fs::file_type wanted,
                                       const std::string &missing) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) {
    return missing;
  }
  if (error) {
    return error.message();
  }
  if (wanted == fs::file_type::regular && status.type() == fs::file_type::directory) {
    return "is a directory, not an audio file";
  }
  if (status.type() != wanted) {
    return wanted == fs::file_type::directory ? "not a folder" : "not a regular file";
  }
  if (::access(path.c_str(), wanted == fs::file_type::directory ? R_OK | X_OK : R_OK) != 0) {
    return std::strerror(errno);
  }
  return std::nullopt;
}

// The name each input's outputs take: its stem, its whole file name when another input has
// the same stem, and a number after that when the whole names meet too.
std::vector<std::string> outputNames(const std::vector<std::string> &files) {
  std::map<std::string, int> stems;
  for (const auto &file : files) {
    ++stems[fs::path(file).stem().string()];
  }
  std::vector<std::string> names;
  std::set<std::string> taken;
  for (const auto &file : files) {
    const fs::path path(file);
    const std::string base =
        stems[path.stem().string()] > 1 ? path.filename().string() : path.stem().string();
    std::string name = base;
    for (int n = 2; taken.count(name) > 0; ++n) {
      name = base + "-" + std::to_string(n);
    }
    taken.insert(name);
    names.push_back(name);
  }
  return names;
}

// Prints one transcript line and flushes it, so a full disk or a closed pipe is seen here and
// not lost at exit; false (errno set) when standard output did not take it.
bool printText(const std::string &text) {
  errno = 0;
  std::cout << text << "\n" << std::flush;
  if (std::cout) {
    return true;
  }
  if (errno == 0) {
    errno = EIO;
  }
  return false;
}

// Why the output folder cannot take the outputs, in words; nothing once it exists (made when
// missing) and is writable.
std::optional<std::string> outputDirProblem(const std::string &folder) {
  if (folder.empty()) {
    return "an empty path is not a folder";
  }
  std::error_code error;
  fs::create_directories(folder, error);
  if (const auto problem = pathProblem(folder, fs::file_type::directory, "")) {
    // A folder still missing could not be made: the reason is the making's.
    return problem->empty() ? "cannot be made: " + error.message() : *problem;
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return std::strerror(errno);
  }
  return std::nullopt;
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

std::unique_ptr<DivuvovIze> makeEngine(const Arguments &arguments) {
  DivuvovIzeConfig config;
  config.modelFolder = arguments.modelFolder;
  config.model = arguments.model;
  config.modelRepo = arguments.modelRepo;
  config.modelEndpoint = arguments.endpoint;
  config.download = !arguments.modelFolder;
  config.load = true;
  return std::make_unique<DivuvovIze>(config);
}

DecodingOptions optionsFor(const Arguments &arguments) {
  DecodingOptions options;
  options.language = arguments.language;
  options.detectLanguage = !arguments.language;
  options.wordTimestamps = arguments.wordTimestamps;
  options.skipSpecialTokens = true;
  // Every format decodes with timestamps, so the text printed is the text of the segments the
  // other formats write, and a long file moves on at its windows' last closed timestamps.
  options.withoutTimestamps = false;
  return options;
}

// Transcribes one input and prints or writes its results; returns 0 or kFailed.
int transcribeOne(DivuvovIze &engine, const Arguments &arguments, const DecodingOptions &options,
                  const std::string &file, const std::string &outputName) {
  ProgressBar bar(isatty(STDERR_FILENO) != 0);
  const std::string name = fs::path(file).filename().string();
  double duration = 0;
  engine.transcriptionStateCallback = [&](divuvovize::TranscriptionState state) {
    if (state == divuvovize::TranscriptionState::transcribing) {
      bar.show(name, 0.0);
    }
  };
  engine.segmentDiscoveryCallback = [&](const std::vector<divuvovize::TranscriptionSegment> &s) {
    if (!s.empty() && duration > 0) {
      bar.show(name, std::min(1.0, static_cast<double>(s.back().end) / duration));
    }
  };
  try {
    // The length from the header, for the bar only; reading the audio is the engine's.
    const auto audio = platform::AudioFile::openForReading(file);
    duration = static_cast<double>(audio->length()) / audio->fileFormat().sampleRate();
    const auto results = engine.transcribe(file, options);
    bar.show(name, 1.0);
    bar.finish();
    int status = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
      if (arguments.format == "text") {
        if (!printText(results[i]->text())) {
          std::cerr << "transcribe: " << file
                    << ": cannot write the text to standard output: " << std::strerror(errno)
                    << "\n";
          return kFailed;
        }
        continue;
      }
      const std::string folder = arguments.outputDir.value_or(".");
      const std::string stem = i == 0 ? outputName : outputName + "-" + std::to_string(i + 1);
      const auto written = writerFor(arguments.format, folder)->write(*results[i], stem);
      if (!written.isSuccess()) {
        std::cerr << "transcribe: " << file << ": " << written.errorMessage() << "\n";
        status = kFailed;
      } else {
        // The writer answers with a URL; the user named a folder, so the path is what helps.
        std::cerr << "Wrote " << (fs::path(folder) / (stem + "." + arguments.format)).string()
                  << " from " << file << "\n";
      }
    }
    return status;
  } catch (const std::exception &error) {
    bar.finish();
    std::string message = error.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    std::cerr << "transcribe: " << file << ": " << message << "\n";
    return kFailed;
  }
}

} // namespace

int main(int argc, char **argv) {
  // The model runner picks its matrix kernels while this is the only thread. A BLAS library
  // that cannot be loaded fails again where the first model loads, which reports it.
  try {
    platform::startMLRunner();
  } catch (const std::exception &) {
  }
  const auto parsed = parse(argc, argv);
  if (const int *status = std::get_if<int>(&parsed)) {
    return *status;
  }
  const Arguments &arguments = std::get<Arguments>(parsed);
  for (const auto &file : arguments.files) {
    if (const auto problem = pathProblem(file, fs::file_type::regular, "no such file")) {
      std::cerr << "transcribe: " << file << ": " << *problem << "\n";
      return kBadFile;
    }
  }
  if (arguments.format != "text") {
    const std::string folder = arguments.outputDir.value_or(".");
    if (const auto problem = outputDirProblem(folder)) {
      std::cerr << "transcribe: --output-dir " << folder << ": " << *problem << "\n";
      return kBadFile;
    }
  }
  if (arguments.modelFolder) {
    if (const auto problem =
            pathProblem(*arguments.modelFolder, fs::file_type::directory, "no such model folder")) {
      std::cerr << "transcribe: " << *arguments.modelFolder << ": " << *problem << "\n";
      return kBadModel;
    }
  }

  std::unique_ptr<DivuvovIze> engine;
  try {
    engine = makeEngine(arguments);
  } catch (const std::exception &error) {
    std::string message = error.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    std::cerr << "transcribe: cannot load the model: " << message << "\n";
    return kBadModel;
  }

  const DecodingOptions options = optionsFor(arguments);
  const std::vector<std::string> names = outputNames(arguments.files);
  int status = 0;
  for (std::size_t i = 0; i < arguments.files.size(); ++i) {
    status =
        std::max(status, transcribeOne(*engine, arguments, options, arguments.files[i], names[i]));
  }
  return status;
}
