#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DeduveCore/Support/PropertyLock.hpp"
#include "DivuvovIze/Models/JsonCoding.hpp"
#include "DivuvovIze/Models/TranscriptionSegment.hpp"
#include "DivuvovIze/Models/TranscriptionTimings.hpp"

namespace divuvovize {

// What the engine hands back for one transcribed stretch. Shared between tasks (held by
// std::shared_ptr): each of the five properties sits behind its own lock, so single reads and
// writes are safe from any thread. There is no lock over several properties. modify*() holds
// the property's lock while `change` runs, so concurrent changes of one property never lose
// each other's updates; `change` must not touch the same property of this result.
class TranscriptionResult {
public:
  explicit TranscriptionResult(std::string text = {},
                               std::vector<TranscriptionSegment> segments = {},
                               std::string language = {}, TranscriptionTimings timings = {},
                               std::optional<float> seekTime = std::nullopt);
  virtual ~TranscriptionResult();
  TranscriptionResult(const TranscriptionResult &) = delete;
  TranscriptionResult &operator=(const TranscriptionResult &) = delete;

  virtual std::string text() const;
  virtual void setText(std::string text);
  virtual void modifyText(const std::function<void(std::string &)> &change);

  virtual std::vector<TranscriptionSegment> segments() const;
  virtual void setSegments(std::vector<TranscriptionSegment> segments);
  virtual void
  modifySegments(const std::function<void(std::vector<TranscriptionSegment> &)> &change);

  virtual std::string language() const;
  virtual void setLanguage(std::string language);
  virtual void modifyLanguage(const std::function<void(std::string &)> &change);

  virtual TranscriptionTimings timings() const;
  virtual void setTimings(TranscriptionTimings timings);
  virtual void modifyTimings(const std::function<void(TranscriptionTimings &)> &change);

  // Seconds of audio consumed, when known.
  virtual std::optional<float> seekTime() const;
  virtual void setSeekTime(std::optional<float> seekTime);
  virtual void modifySeekTime(const std::function<void(std::optional<float> &)> &change);

  // The words of every segment that has them, in segment order.
  std::vector<WordTiming> allWords() const;

  // One debug line per segment: "[Segment i] [start --> end] text" (times "%.2f", i the
  // position in the list).
  virtual void logSegments() const;
  // The timing report, logged once at info level.
  virtual void logTimings() const;
  // The report text that logTimings() logs.
  std::string timingsReport() const;

  // Keys "text", "segments", "language", "timings", "seekTime"; "seekTime" is always written
  // (null when absent). Throws JsonEncodingError for a non-finite number.
  virtual Json toJson() const;
  // All five keys required ("seekTime" may be null).
  static std::shared_ptr<TranscriptionResult> fromJson(const Json &document,
                                                       const std::string &path = "");

private:
  deduve::PropertyLock<std::string> text_;
  deduve::PropertyLock<std::vector<TranscriptionSegment>> segments_;
  deduve::PropertyLock<std::string> language_;
  deduve::PropertyLock<TranscriptionTimings> timings_;
  deduve::PropertyLock<std::optional<float>> seekTime_;
};

// The plain value form of a result, without locks.
struct TranscriptionResultStruct {
  std::string text;
  std::vector<TranscriptionSegment> segments;
  std::string language;
  TranscriptionTimings timings;
  std::optional<float> seekTime;

  bool operator==(const TranscriptionResultStruct &) const = default;

  // As TranscriptionResult's document, except that an absent seekTime leaves its key out and a
  // missing or null "seekTime" reads as absent.
  Json toJson() const;
  static TranscriptionResultStruct fromJson(const Json &document, const std::string &path = "");
};

} // namespace divuvovize
