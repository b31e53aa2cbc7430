#include "DivuvovIze/Writing/ResultWriting.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "DivuvovIze/Formatting/NumberFormatting.hpp"
#include "platform/system/AtomicFileWriter.hpp"
#include "platform/system/ExceptionDescription.hpp"

namespace divuvovize {

namespace fs = std::filesystem;

WriteResult WriteResult::success(std::string url) {
  WriteResult result;
  result.url_ = std::move(url);
  return result;
}

WriteResult WriteResult::failure(std::exception_ptr error) {
  WriteResult result;
  result.error_ = std::move(error);
  return result;
}

const std::string &WriteResult::value() const {
  if (error_) {
    std::rethrow_exception(error_);
  }
  return url_;
}

std::string WriteResult::errorMessage() const {
  if (!error_) {
    return {};
  }
  return platform::describe(error_);
}

std::string ResultWriting::formatTime(float seconds, bool alwaysIncludeHours,
                                      const std::string &decimalMarker) const {
  if (!std::isfinite(seconds) || seconds > 1.0e9f) {
    // Converting such a value to an integer has no defined result; refuse it instead of
    // writing a garbage time.
    throw std::invalid_argument("Cannot format the time " + numbers::describe(seconds) +
                                " s: not a finite time in range");
  }
  // A cue cannot start before the recording: early times (a negative offset, or a rounding
  // just below zero) are written as its start.
  seconds = std::max(seconds, 0.0f);
  // Single-precision arithmetic throughout: the truncations depend on it.
  const int hours = static_cast<int>(seconds / 3600.0f);
  const int minutes = static_cast<int>(std::fmod(seconds, 3600.0f) / 60.0f);
  const int secs = static_cast<int>(std::fmod(seconds, 60.0f));
  const int milliseconds = static_cast<int>((seconds - std::floor(seconds)) * 1000.0f);
  char buffer[128];
  if (hours < 1 && !alwaysIncludeHours) {
    std::snprintf(buffer, sizeof(buffer), "%02d:%02d%s%03d", minutes, secs, decimalMarker.c_str(),
                  milliseconds);
  } else {
    std::snprintf(buffer, sizeof(buffer), "%02d:%02d:%02d%s%03d", hours, minutes, secs,
                  decimalMarker.c_str(), milliseconds);
  }
  return buffer;
}

namespace {

// A cue's text with no blank line in it (a blank line ends a cue, so text after one would be
// read as further cues): lines that are empty or hold only spaces and tabs are dropped, line
// breaks (CR, LF, CRLF) become LF, and with `escapeArrow` every "-->" becomes "--&gt;" (WebVTT
// reads that arrow as a timing line).
std::string cueText(const std::string &text, bool escapeArrow) {
  std::string out;
  out.reserve(text.size());
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string_view line(text.data() + begin, end - begin);
    if (line.find_first_not_of(" \t") != std::string_view::npos) {
      if (!out.empty()) {
        out += '\n';
      }
      out += line;
    }
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
      ++end;
    }
    begin = end + 1;
  }
  if (escapeArrow) {
    for (std::size_t at = out.find("-->"); at != std::string::npos; at = out.find("-->", at)) {
      out.replace(at, 3, "--&gt;");
      at += 6;
    }
  }
  return out;
}

} // namespace

std::string ResultWriting::formatSegment(int index, float start, float end,
                                         const std::string &text) const {
  return std::to_string(index) + "\n" + formatTime(start, true, ",") + " --> " +
         formatTime(end, true, ",") + "\n" + cueText(text, /*escapeArrow=*/false) + "\n\n";
}

std::string ResultWriting::formatTiming(float start, float end, const std::string &text) const {
  return formatTime(start, false, ".") + " --> " + formatTime(end, false, ".") + "\n" +
         cueText(text, /*escapeArrow=*/true) + "\n\n";
}

std::string ResultWriting::fileURLString(const std::string &path) {
  std::error_code ignored;
  fs::path absolute = fs::absolute(fs::path(path), ignored);
  if (absolute.empty()) {
    absolute = fs::path(path);
  }
  const std::string text = absolute.lexically_normal().string();
  static const char *const hex = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : text) {
    const bool allowed =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        std::string_view("-._~!$&'()*+,;=:@/").find(static_cast<char>(c)) != std::string_view::npos;
    if (allowed) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 0x0f];
    }
  }
  return url;
}

namespace {

fs::path targetPath(const std::string &outputDir, const std::string &file, const char *extension) {
  return fs::path(outputDir) / (file + extension);
}

[[noreturn]] void throwIOError(const std::string &what, const fs::path &path) {
  throw std::system_error(errno, std::generic_category(), what + " " + path.string());
}

void writePlain(const fs::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    throwIOError("Cannot open for writing:", path);
  }
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  if (!out) {
    throwIOError("Cannot write:", path);
  }
}

// Per word when a segment has words, else per segment.
template <class Cue> void visitCues(const TranscriptionResult &result, Cue &&cue) {
  for (const auto &segment : result.segments()) {
    if (segment.words && !segment.words->empty()) {
      for (const auto &word : *segment.words) {
        cue(word.start, word.end, word.word);
      }
    } else {
      cue(segment.start, segment.end, segment.text);
    }
  }
}

} // namespace

WriteJSON::WriteJSON(std::string outputDir) : outputDir_(std::move(outputDir)) {}

WriteResult WriteJSON::write(const TranscriptionResult &result, const std::string &file,
                             const std::optional<Options> & /*options*/) {
  const auto path = targetPath(outputDir_, file, ".json");
  try {
    const std::string bytes =
        result.toJson().dump(2, ' ', /*ensure_ascii=*/false, Json::error_handler_t::replace);
    writePlain(path, bytes);
    return WriteResult::success(fileURLString(path.string()));
  } catch (...) {
    return WriteResult::failure(std::current_exception());
  }
}

WriteSRT::WriteSRT(std::string outputDir) : outputDir_(std::move(outputDir)) {}

WriteResult WriteSRT::write(const TranscriptionResult &result, const std::string &file,
                            const std::optional<Options> & /*options*/) {
  const auto path = targetPath(outputDir_, file, ".srt");
  try {
    std::string text;
    int index = 1;
    visitCues(result, [&](float start, float end, const std::string &cueText) {
      text += formatSegment(index++, start, end, cueText);
    });
    platform::replaceFileAtomically(path, text);
    return WriteResult::success(fileURLString(path.string()));
  } catch (...) {
    return WriteResult::failure(std::current_exception());
  }
}

WriteVTT::WriteVTT(std::string outputDir) : outputDir_(std::move(outputDir)) {}

WriteResult WriteVTT::write(const TranscriptionResult &result, const std::string &file,
                            const std::optional<Options> & /*options*/) {
  const auto path = targetPath(outputDir_, file, ".vtt");
  try {
    std::string text = "WEBVTT\n\n";
    visitCues(result, [&](float start, float end, const std::string &cueText) {
      text += formatTiming(start, end, cueText);
    });
    platform::replaceFileAtomically(path, text);
    return WriteResult::success(fileURLString(path.string()));
  } catch (...) {
    return WriteResult::failure(std::current_exception());
  }
}

} // namespace divuvovize
