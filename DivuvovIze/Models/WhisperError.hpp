#pragma once

#include <exception>
#include <optional>
#include <ostream>
#include <string>

namespace divuvovize {

// Every failure the speech engine reports to its callers: the stage that failed and a
// human-readable message. what() is the message. Thrown by value, passed up unchanged.
class WhisperError : public std::exception {
public:
  // The stage that failed; the order is the case number.
  enum class Case {
    tokenizerUnavailable,       // no tokenizer is loaded or it cannot be built
    modelsUnavailable,          // a model is missing or not loaded, or an input of wrong kind
    audioProcessingFailed,      // audio preparation or a model prediction on audio
    decodingLogitsFailed,       // the decoder's logits prediction
    segmentingFailed,           // cutting tokens into segments and word timings
    loadAudioFailed,            // reading or converting an audio file
    prepareDecoderInputsFailed, // building the decoder's inputs
    transcriptionFailed,        // the transcription as a whole
    decodingFailed,             // decoding, including language detection
    microphoneUnavailable,      // the microphone cannot be used
    initializationError,        // setting the engine up
  };

  WhisperError(Case errorCase, std::string message);

  static WhisperError tokenizerUnavailable(std::string message = "Tokenizer is unavailable");
  static WhisperError modelsUnavailable(std::string message = "Models are unavailable");
  static WhisperError audioProcessingFailed(std::string message);
  static WhisperError decodingLogitsFailed(std::string message = "Unable to decode logits");
  static WhisperError segmentingFailed(std::string message);
  static WhisperError loadAudioFailed(std::string message);
  static WhisperError prepareDecoderInputsFailed(std::string message);
  static WhisperError transcriptionFailed(std::string message);
  static WhisperError decodingFailed(std::string message = "Decoding failed");
  static WhisperError microphoneUnavailable(std::string message);
  static WhisperError initializationError(std::string message);

  Case errorCase() const { return case_; }
  const std::string &message() const { return message_; }
  // The message; has no side effect (unlike errorDescription()).
  const char *what() const noexcept override { return message_.c_str(); }
  // Logs the message at error level (every read logs again) and returns it.
  std::optional<std::string> errorDescription() const;

  // Same case and equal messages (compared exactly).
  bool operator==(const WhisperError &other) const {
    return case_ == other.case_ && message_ == other.message_;
  }

private:
  Case case_;
  std::string message_;
};

// The case's name ("transcriptionFailed").
const char *caseName(WhisperError::Case errorCase);
std::ostream &operator<<(std::ostream &out, const WhisperError &error);

} // namespace divuvovize
