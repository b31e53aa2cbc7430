#include "DeduveCore/Text/Regex.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include <unicode/brkiter.h>
#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include "DeduveCore/Text/Utf8.hpp"

namespace deduve {

struct Regex::Compiled {
  std::unique_ptr<icu::RegexPattern> pattern;
  int timeLimit = 0;
};

namespace {

// The searched text in UTF-16, as ICU's matcher wants it, with the UTF-8 offset of every
// UTF-16 index so that ranges can be reported in the caller's terms. Kept per thread so that
// repeated searches reuse the storage.
struct Utf16Text {
  std::u16string units;
  std::vector<std::uint32_t> utf8Offset; // size units.size() + 1
  icu::UnicodeString text;               // a read-only alias of `units`
  bool busy = false;                     // in use by a search further up this thread's stack

  void assign(std::string_view utf8) {
    if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
      throw std::length_error("Text of " + std::to_string(utf8.size()) +
                              " bytes is too long for a regular-expression search");
    units.resize(utf8.size());
    utf8Offset.resize(utf8.size() + 1);
    std::size_t count = 0;
    std::size_t offset = 0;
    while (offset < utf8.size()) {
      const auto start = static_cast<std::uint32_t>(offset);
      const auto byte = static_cast<unsigned char>(utf8[offset]);
      if (byte < 0x80) { // the common case, without the decoder's checks
        ++offset;
        utf8Offset[count] = start;
        units[count++] = byte;
        continue;
      }
      const char32_t scalar = nextScalar(utf8, offset); // an ill-formed byte reads as U+FFFD
      if (scalar >= 0x10000) {
        // A four-byte sequence gives two units: never more units than bytes. The low
        // surrogate is never a reported boundary.
        utf8Offset[count] = start;
        units[count++] = static_cast<char16_t>(0xD800 + ((scalar - 0x10000) >> 10));
        utf8Offset[count] = start;
        units[count++] = static_cast<char16_t>(0xDC00 + ((scalar - 0x10000) & 0x3FF));
      } else {
        utf8Offset[count] = start;
        units[count++] = static_cast<char16_t>(scalar);
      }
    }
    utf8Offset[count] = static_cast<std::uint32_t>(utf8.size());
    units.resize(count);
    text.setTo(false, units.data(), static_cast<int32_t>(count));
  }

  TextRange range(int64_t begin, int64_t end) const {
    return {utf8Offset[static_cast<std::size_t>(begin)], utf8Offset[static_cast<std::size_t>(end)]};
  }
};

// Lends the thread's scratch text to one search, or a fresh one when a search further up the
// stack holds it. Storage grown for a large text is given back afterwards, so a thread does not
// keep megabytes for the rest of its life.
class ScratchText {
public:
  ScratchText() : text_(scratch().busy ? local_ : scratch()) { text_.busy = true; }
  ~ScratchText() {
    text_.busy = false;
    constexpr std::size_t kKeptUnits = 1 << 18;
    if (text_.units.capacity() > kKeptUnits) {
      text_.text.remove();
      std::u16string().swap(text_.units);
      std::vector<std::uint32_t>().swap(text_.utf8Offset);
    }
  }
  ScratchText(const ScratchText &) = delete;
  ScratchText &operator=(const ScratchText &) = delete;
  Utf16Text &operator*() { return text_; }

private:
  static Utf16Text &scratch() {
    thread_local Utf16Text text;
    return text;
  }
  Utf16Text local_;
  Utf16Text &text_;
};

icu::BreakIterator &characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status))
      throw std::runtime_error(std::string("Grapheme break iterator failed: ") +
                               u_errorName(status));
    return it;
  }();
  return *iterator;
}

// Finds grapheme boundaries in one search's text. The thread's break iterator is pointed at
// the text on first use only (empty matches are rare) and without copying it, so that a
// pattern matching the empty string everywhere still takes linear time.
class CharacterSteps {
public:
  explicit CharacterSteps(const std::u16string &units) : units_(units) {}
  ~CharacterSteps() { utext_close(&utext_); }
  CharacterSteps(const CharacterSteps &) = delete;
  CharacterSteps &operator=(const CharacterSteps &) = delete;

  // The UTF-16 index of the grapheme boundary after `index`.
  int64_t next(int64_t index) {
    auto &iterator = characterIterator();
    if (!attached_) {
      UErrorCode status = U_ZERO_ERROR;
      utext_openUChars(&utext_, units_.data(), static_cast<int64_t>(units_.size()), &status);
      iterator.setText(&utext_, status);
      if (U_FAILURE(status))
        throw std::runtime_error(std::string("Grapheme break iterator failed: ") +
                                 u_errorName(status));
      attached_ = true;
    }
    const int32_t following = iterator.following(static_cast<int32_t>(index));
    return following == icu::BreakIterator::DONE ? static_cast<int64_t>(units_.size()) : following;
  }

private:
  const std::u16string &units_;
  UText utext_ = UTEXT_INITIALIZER;
  bool attached_ = false;
};

// Expands a replacement template the way ICU defines it: "\\c" is the character c, "$n" is
// capture group n, reading as many digits as the largest group number has; "$" before anything
// else, and a group number beyond the pattern's groups, stand for themselves.
template <typename Group>
void expandTemplate(std::string_view replacement, int32_t groupCount, const Group &group,
                    std::string &out) {
  int32_t maxDigits = 1;
  for (int32_t n = groupCount; n >= 10; n /= 10)
    ++maxDigits;
  std::size_t i = 0;
  while (i < replacement.size()) {
    const char c = replacement[i];
    if (c == '\\' && i + 1 < replacement.size()) {
      std::size_t next = i + 1;
      nextScalar(replacement, next);
      out.append(replacement.substr(i + 1, next - i - 1));
      i = next;
      continue;
    }
    if (c == '$') {
      std::size_t j = i + 1;
      int32_t number = 0;
      int32_t digits = 0;
      while (j < replacement.size() && digits < maxDigits && replacement[j] >= '0' &&
             replacement[j] <= '9') {
        number = number * 10 + (replacement[j] - '0');
        ++digits;
        ++j;
      }
      if (digits > 0 && number <= groupCount) {
        out.append(group(number));
        i = j;
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
}

void checkSearch(const std::string &pattern, UErrorCode status) {
  if (U_FAILURE(status))
    throw RegexSearchError(pattern, "The regular expression \"" + pattern +
                                        "\" could not finish a search: " + u_errorName(status));
}

// ICU's time limit of one search over `units` UTF-16 units, in its time steps.
int32_t scaledTimeLimit(int limit, int64_t units) {
  constexpr int64_t kMatchingStepsPerTimeStep = 10'000;
  const int64_t allowance =
      (units * Regex::kStepsPerCharacter + kMatchingStepsPerTimeStep - 1) / kMatchingStepsPerTimeStep;
  return static_cast<int32_t>(
      std::min<int64_t>(limit + allowance, std::numeric_limits<int32_t>::max()));
}

int32_t scaledStackLimit(int64_t units) {
  const int64_t bytes = static_cast<int64_t>(Regex::kBaseStackBytes) +
                        units * static_cast<int64_t>(Regex::kStackBytesPerCharacter);
  return static_cast<int32_t>(std::min<int64_t>(bytes, std::numeric_limits<int32_t>::max()));
}

} // namespace

RegexSearchError::RegexSearchError(std::string pattern, const std::string &what)
    : std::runtime_error(what), pattern_(std::move(pattern)) {}

RegexTimeLimitError::RegexTimeLimitError(std::string pattern, int limit)
    : RegexSearchError(pattern, "The regular expression \"" + pattern +
                                    "\" ran past its time limit of " + std::to_string(limit) +
                                    " steps") {}

RegexError::RegexError(std::string pattern, const std::string &reason)
    : std::runtime_error("Cannot compile regular expression \"" + pattern + "\": " + reason),
      pattern_(std::move(pattern)) {}

Regex::Regex(std::string_view pattern) : Regex(pattern, Options{}) {}

Regex::Regex(std::string_view pattern, Options options) : pattern_(pattern) {
  uint32_t flags = 0;
  if (options.caseInsensitive)
    flags |= UREGEX_CASE_INSENSITIVE;
  if (options.dotMatchesLineSeparators)
    flags |= UREGEX_DOTALL;
  if (!isValidUtf8(pattern_))
    throw RegexError(pattern_, "the pattern is not valid UTF-8");
  UParseError parseError{};
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
      icu::UnicodeString::fromUTF8(icu::StringPiece(pattern_.data(), pattern_.size())), flags,
      parseError, status));
  if (U_FAILURE(status) || !compiled)
    throw RegexError(pattern_, std::string(u_errorName(status)) + " at offset " +
                                   std::to_string(parseError.offset));
  auto holder = std::make_shared<Compiled>();
  holder->pattern = std::move(compiled);
  holder->timeLimit = options.timeLimit > 0 ? options.timeLimit : 0;
  compiled_ = std::move(holder);
}

template <typename OnMatch>
void Regex::forEachMatch(std::string_view text, OnMatch &&onMatch) const {
  ScratchText scratch;
  Utf16Text &input = *scratch;
  input.assign(text);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(input.text, status));
  checkSearch(pattern_, status);
  const int64_t length = input.text.length();
  matcher->setStackLimit(scaledStackLimit(length), status);
  checkSearch(pattern_, status);
  if (compiled_->timeLimit > 0) {
    matcher->setTimeLimit(scaledTimeLimit(compiled_->timeLimit, length), status);
    checkSearch(pattern_, status);
  }
  CharacterSteps characters(input.units);
  int64_t start = 0;
  while (start <= length) {
    // find(start) resets the matcher, but the region stays the whole text: look-behind and \b
    // still see what precedes `start`, and "^" matches only at the real start.
    const bool found = matcher->find(start, status);
    if (status == U_REGEX_TIME_OUT)
      throw RegexTimeLimitError(pattern_, compiled_->timeLimit);
    checkSearch(pattern_, status);
    if (!found)
      break;
    const int64_t begin = matcher->start64(status);
    const int64_t end = matcher->end64(status);
    checkSearch(pattern_, status);
    onMatch(*matcher, input);
    if (end > begin)
      start = end;
    else if (end >= length)
      break;
    else
      start = characters.next(end);
  }
}

void Regex::findAll(std::string_view text, std::vector<TextRange> &out) const {
  out.clear();
  forEachMatch(text, [&](icu::RegexMatcher &matcher, const Utf16Text &input) {
    UErrorCode status = U_ZERO_ERROR;
    out.push_back(input.range(matcher.start64(status), matcher.end64(status)));
  });
}

std::vector<TextRange> Regex::findAll(std::string_view text) const {
  std::vector<TextRange> out;
  findAll(text, out);
  return out;
}

std::vector<RegexMatch> Regex::matches(std::string_view text) const {
  std::vector<RegexMatch> out;
  forEachMatch(text, [&](icu::RegexMatcher &matcher, const Utf16Text &input) {
    UErrorCode status = U_ZERO_ERROR;
    RegexMatch match;
    match.range = input.range(matcher.start64(status), matcher.end64(status));
    const int32_t groupCount = matcher.groupCount();
    match.groups.reserve(static_cast<std::size_t>(groupCount) + 1);
    for (int32_t group = 0; group <= groupCount; ++group) {
      const int64_t begin = matcher.start64(group, status);
      const int64_t end = matcher.end64(group, status);
      if (begin < 0)
        match.groups.emplace_back(std::nullopt);
      else
        match.groups.emplace_back(input.range(begin, end));
    }
    checkSearch(pattern(), status);
    out.push_back(std::move(match));
  });
  return out;
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacementTemplate) const {
  std::string out;
  out.reserve(text.size());
  std::size_t copied = 0;
  forEachMatch(text, [&](icu::RegexMatcher &matcher, const Utf16Text &input) {
    UErrorCode status = U_ZERO_ERROR;
    const TextRange range = input.range(matcher.start64(status), matcher.end64(status));
    out.append(text.substr(copied, range.begin - copied));
    const int32_t groupCount = matcher.groupCount();
    const auto group = [&](int32_t n) -> std::string_view {
      UErrorCode groupStatus = U_ZERO_ERROR;
      const int64_t begin = matcher.start64(n, groupStatus);
      if (U_FAILURE(groupStatus) || begin < 0)
        return {}; // a group that took no part expands to nothing
      return input.range(begin, matcher.end64(n, groupStatus)).of(text);
    };
    expandTemplate(replacementTemplate, groupCount, group, out);
    copied = range.end;
  });
  out.append(text.substr(copied));
  return out;
}

std::vector<std::string> Regex::split(std::string_view text) const {
  std::vector<std::string> out;
  std::size_t cut = 0;
  for (const TextRange &range : findAll(text)) {
    out.emplace_back(text.substr(cut, range.begin - cut));
    cut = range.end;
  }
  out.emplace_back(text.substr(cut));
  return out;
}

std::string Regex::escape(std::string_view literal) {
  std::string out;
  out.reserve(literal.size() * 2);
  for (const char c : literal) {
    const auto byte = static_cast<unsigned char>(c);
    // A backslash before any ASCII character that is not a letter or digit is always a
    // literal in ICU's syntax, so escaping all of them is safe and future-proof.
    if (byte < 0x80 && byte > 0x20 && !std::isalnum(byte))
      out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string Regex::escapeTemplate(std::string_view literal) {
  std::string out;
  out.reserve(literal.size());
  for (const char c : literal) {
    if (c == '$' || c == '\\')
      out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

} // namespace deduve
