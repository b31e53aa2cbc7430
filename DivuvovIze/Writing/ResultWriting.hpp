#pragma once

#include <exception>
#include <map>
#include <optional>
#include <string>

#include "DivuvovIze/Models/TranscriptionResult.hpp"

namespace divuvovize {

// The outcome of writing a result file: the written file's "file://" URL (percent-encoded),
// or the error of the encoder or the file system. Writers never throw.
class WriteResult {
public:
  static WriteResult success(std::string url);
  static WriteResult failure(std::exception_ptr error);

  bool isSuccess() const { return !error_; }
  // The URL; rethrows the error of a failure.
  const std::string &value() const;
  std::exception_ptr error() const { return error_; }
  // what() of the failure's error; empty for a success.
  std::string errorMessage() const;

private:
  std::string url_;
  std::exception_ptr error_;
};

// A result file format. Each writer knows its output folder and writes
// <outputDir>/<file><extension>, replacing a file of that name; `file` is used unchanged (a
// name that already ends in an extension gets a second one).
class ResultWriting {
public:
  using Options = std::map<std::string, std::string>;

  virtual ~ResultWriting() = default;
  virtual const std::string &outputDir() const = 0;
  // `options` is accepted and ignored by the built-in writers.
  virtual WriteResult write(const TranscriptionResult &result, const std::string &file,
                            const std::optional<Options> &options = std::nullopt) = 0;

  // "HH:MM:SS<marker>mmm", or "MM:SS<marker>mmm" below one hour unless `alwaysIncludeHours`;
  // every part truncated in single precision (2.3 s -> 00:00:02,299); a negative time is
  // written as 0. Throws std::invalid_argument for a non-finite time or one beyond 1e9 s (the
  // writers then fail).
  virtual std::string formatTime(float seconds, bool alwaysIncludeHours,
                                 const std::string &decimalMarker) const;
  // One SubRip cue: "<index>\n<start> --> <end>\n<text>\n\n" (hours forced, ","). Blank lines
  // in the text are dropped, so one call always makes exactly one cue.
  std::string formatSegment(int index, float start, float end, const std::string &text) const;
  // One WebVTT cue: "<start> --> <end>\n<text>\n\n" (hours from one hour on, "."). Blank lines
  // in the text are dropped and "-->" is written "--&gt;", so one call makes exactly one cue.
  std::string formatTiming(float start, float end, const std::string &text) const;

  // The "file://" URL text of a file-system path (made absolute), percent-encoded.
  static std::string fileURLString(const std::string &path);
};

// The result's own JSON document, pretty-printed with two-space indents (".json").
class WriteJSON : public ResultWriting {
public:
  explicit WriteJSON(std::string outputDir);
  const std::string &outputDir() const override { return outputDir_; }
  WriteResult write(const TranscriptionResult &result, const std::string &file,
                    const std::optional<Options> &options = std::nullopt) override;

private:
  const std::string outputDir_;
};

// SubRip subtitles (".srt"): one cue per word when a segment has words, else per segment,
// numbered from 1 across all segments. Written atomically.
class WriteSRT : public ResultWriting {
public:
  explicit WriteSRT(std::string outputDir);
  const std::string &outputDir() const override { return outputDir_; }
  WriteResult write(const TranscriptionResult &result, const std::string &file,
                    const std::optional<Options> &options = std::nullopt) override;

private:
  const std::string outputDir_;
};

// WebVTT subtitles (".vtt"): "WEBVTT\n\n" and cues as for SubRip, without numbers. Written
// atomically.
class WriteVTT : public ResultWriting {
public:
  explicit WriteVTT(std::string outputDir);
  const std::string &outputDir() const override { return outputDir_; }
  WriteResult write(const TranscriptionResult &result, const std::string &file,
                    const std::optional<Options> &options = std::nullopt) override;

private:
  const std::string outputDir_;
};

} // namespace divuvovize
