#pragma once

#include "DivuvovIze/Models/AudioChunk.hpp"
#include "DivuvovIze/Models/DecodingOptions.hpp"
#include "DivuvovIze/Models/TranscriptionResult.hpp"

#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace divuvovize {

// The outcome of transcribing one chunk: its results, or the error that stopped it.
struct ChunkTranscriptionResult {
  std::variant<std::vector<std::shared_ptr<TranscriptionResult>>, std::exception_ptr> value;
};

// Cuts long audio into chunks that can be transcribed independently.
class AudioChunking {
public:
  virtual ~AudioChunking();

  // The chunks of a 16 kHz mono signal, in order, each at most `maxChunkLength` samples.
  // Blocks the caller; throws WhisperError.
  virtual std::vector<AudioChunk> chunkAll(std::span<const float> audioArray, int maxChunkLength,
                                           const std::optional<DecodingOptions> &decodeOptions) = 0;

  // Puts per-chunk results back on the whole signal's time line: every result of chunk i is
  // shifted by the chunk's offset (segments' seek, start and end, words' start and end) and
  // gets that offset as its seekTime; the results are changed in place and returned in chunk
  // order. A failed chunk is logged at debug level and skipped. `audioChunks` holds at least
  // as many entries as `chunkedResults`.
  std::vector<std::shared_ptr<TranscriptionResult>>
  updateSeekOffsetsForResults(const std::vector<ChunkTranscriptionResult> &chunkedResults,
                              const std::vector<AudioChunk> &audioChunks) const;
};

} // namespace divuvovize
