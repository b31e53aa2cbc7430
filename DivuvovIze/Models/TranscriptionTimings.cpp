#include "DivuvovIze/Models/TranscriptionTimings.hpp"

namespace divuvovize {

namespace {
using T = TranscriptionTimings;
} // namespace

const std::array<TranscriptionTimings::Field, 33> &TranscriptionTimings::fields() {
  static const std::array<Field, 33> table{{
      {"pipelineStart", &T::pipelineStart},
      {"firstTokenTime", &T::firstTokenTime},
      {"inputAudioSeconds", &T::inputAudioSeconds},
      {"modelLoading", &T::modelLoading},
      {"prewarmLoadTime", &T::prewarmLoadTime},
      {"encoderLoadTime", &T::encoderLoadTime},
      {"decoderLoadTime", &T::decoderLoadTime},
      {"encoderSpecializationTime", &T::encoderSpecializationTime},
      {"decoderSpecializationTime", &T::decoderSpecializationTime},
      {"tokenizerLoadTime", &T::tokenizerLoadTime},
      {"audioLoading", &T::audioLoading},
      {"audioProcessing", &T::audioProcessing},
      {"logmels", &T::logmels},
      {"encoding", &T::encoding},
      {"decodingInit", &T::decodingInit},
      {"decodingLoop", &T::decodingLoop},
      {"decodingPredictions", &T::decodingPredictions},
      {"decodingFiltering", &T::decodingFiltering},
      {"decodingSampling", &T::decodingSampling},
      {"decodingFallback", &T::decodingFallback},
      {"decodingWindowing", &T::decodingWindowing},
      {"decodingKvCaching", &T::decodingKvCaching},
      {"decodingWordTimestamps", &T::decodingWordTimestamps},
      {"decodingNonPrediction", &T::decodingNonPrediction},
      {"totalAudioProcessingRuns", &T::totalAudioProcessingRuns},
      {"totalLogmelRuns", &T::totalLogmelRuns},
      {"totalEncodingRuns", &T::totalEncodingRuns},
      {"totalDecodingLoops", &T::totalDecodingLoops},
      {"totalKVUpdateRuns", &T::totalKVUpdateRuns},
      {"totalTimestampAlignmentRuns", &T::totalTimestampAlignmentRuns},
      {"totalDecodingFallbacks", &T::totalDecodingFallbacks},
      {"totalDecodingWindows", &T::totalDecodingWindows},
      {"fullPipeline", &T::fullPipeline},
  }};
  return table;
}

std::optional<TranscriptionTimings::Field> TranscriptionTimings::field(std::string_view name) {
  for (const auto &f : fields()) {
    if (f.name == name) {
      return f;
    }
  }
  return std::nullopt;
}

Json TranscriptionTimings::toJson(std::string_view path) const {
  Json document = Json::object();
  for (const auto &f : fields()) {
    const std::string key(f.name);
    document[key] = json::writeDouble(this->*f.member, json::joinPath(path, key));
  }
  return document;
}

TranscriptionTimings TranscriptionTimings::fromJson(const Json &document, const std::string &path) {
  const json::ObjectReader reader(document, path);
  TranscriptionTimings timings;
  for (const auto &f : fields()) {
    timings.*f.member = reader.required<double>(f.name);
  }
  return timings;
}

std::string_view description(TranscriptionState state) {
  switch (state) {
  case TranscriptionState::convertingAudio:
    return "Converting Audio";
  case TranscriptionState::transcribing:
    return "Transcribing";
  case TranscriptionState::finished:
    return "Finished";
  }
  return "";
}

std::ostream &operator<<(std::ostream &out, TranscriptionState state) {
  return out << description(state);
}

} // namespace divuvovize
