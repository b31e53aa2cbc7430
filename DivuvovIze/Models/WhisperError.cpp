#include "DivuvovIze/Models/WhisperError.hpp"

#include "DivuvovIze/Logging/ModelsLog.hpp"

namespace divuvovize {

WhisperError::WhisperError(Case errorCase, std::string message)
    : case_(errorCase), message_(std::move(message)) {}

WhisperError WhisperError::tokenizerUnavailable(std::string message) {
  return {Case::tokenizerUnavailable, std::move(message)};
}
WhisperError WhisperError::modelsUnavailable(std::string message) {
  return {Case::modelsUnavailable, std::move(message)};
}
WhisperError WhisperError::audioProcessingFailed(std::string message) {
  return {Case::audioProcessingFailed, std::move(message)};
}
WhisperError WhisperError::decodingLogitsFailed(std::string message) {
  return {Case::decodingLogitsFailed, std::move(message)};
}
WhisperError WhisperError::segmentingFailed(std::string message) {
  return {Case::segmentingFailed, std::move(message)};
}
WhisperError WhisperError::loadAudioFailed(std::string message) {
  return {Case::loadAudioFailed, std::move(message)};
}
WhisperError WhisperError::prepareDecoderInputsFailed(std::string message) {
  return {Case::prepareDecoderInputsFailed, std::move(message)};
}
WhisperError WhisperError::transcriptionFailed(std::string message) {
  return {Case::transcriptionFailed, std::move(message)};
}
WhisperError WhisperError::decodingFailed(std::string message) {
  return {Case::decodingFailed, std::move(message)};
}
WhisperError WhisperError::microphoneUnavailable(std::string message) {
  return {Case::microphoneUnavailable, std::move(message)};
}
WhisperError WhisperError::initializationError(std::string message) {
  return {Case::initializationError, std::move(message)};
}

std::optional<std::string> WhisperError::errorDescription() const {
  modelslog::error(message_);
  return message_;
}

const char *caseName(WhisperError::Case errorCase) {
  switch (errorCase) {
  case WhisperError::Case::tokenizerUnavailable:
    return "tokenizerUnavailable";
  case WhisperError::Case::modelsUnavailable:
    return "modelsUnavailable";
  case WhisperError::Case::audioProcessingFailed:
    return "audioProcessingFailed";
  case WhisperError::Case::decodingLogitsFailed:
    return "decodingLogitsFailed";
  case WhisperError::Case::segmentingFailed:
    return "segmentingFailed";
  case WhisperError::Case::loadAudioFailed:
    return "loadAudioFailed";
  case WhisperError::Case::prepareDecoderInputsFailed:
    return "prepareDecoderInputsFailed";
  case WhisperError::Case::transcriptionFailed:
    return "transcriptionFailed";
  case WhisperError::Case::decodingFailed:
    return "decodingFailed";
  case WhisperError::Case::microphoneUnavailable:
    return "microphoneUnavailable";
  case WhisperError::Case::initializationError:
    return "initializationError";
  }
  return "unknown";
}

std::ostream &operator<<(std::ostream &out, const WhisperError &error) {
  return out << caseName(error.errorCase()) << "(\"" << error.message() << "\")";
}

} // namespace divuvovize
