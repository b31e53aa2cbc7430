#include "DeduveCore/Text/Unicode.hpp"

#include <memory>
#include <stdexcept>

#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include "DeduveCore/Text/Utf8.hpp"

namespace deduve {
namespace {

// ICU reports failures only for broken installations or memory exhaustion: both are fatal for
// the caller, so they surface as exceptions rather than as silently wrong text.
void check(UErrorCode status, const char *what) {
  if (U_FAILURE(status))
    throw std::runtime_error(std::string(what) + " failed: " + u_errorName(status));
}

// ICU's UTF-8 entry points already substitute U+FFFD for ill-formed bytes, but do it per
// sequence in ways that differ between services; repairing first keeps every function on the
// same reading of the input.
std::string_view wellFormed(std::string_view text, std::string &scratch) {
  if (isValidUtf8(text))
    return text;
  scratch = repairUtf8(text);
  return scratch;
}

const icu::Normalizer2 &normalizer(NormalizationForm form) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2 *instance = nullptr;
  switch (form) {
  case NormalizationForm::nfc:
    instance = icu::Normalizer2::getNFCInstance(status);
    break;
  case NormalizationForm::nfd:
    instance = icu::Normalizer2::getNFDInstance(status);
    break;
  case NormalizationForm::nfkc:
    instance = icu::Normalizer2::getNFKCInstance(status);
    break;
  case NormalizationForm::nfkd:
    instance = icu::Normalizer2::getNFKDInstance(status);
    break;
  }
  check(status, "Unicode normalizer");
  return *instance;
}

// A character break iterator per thread: creating one loads rule data, and an instance is not
// safe to share between threads.
icu::BreakIterator &characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    check(status, "Grapheme break iterator");
    return it;
  }();
  return *iterator;
}

// Points the per-thread iterator at UTF-8 text; the iterator's positions are then byte offsets.
class GraphemeScope {
public:
  explicit GraphemeScope(std::string_view text) : iterator_(characterIterator()) {
    UErrorCode status = U_ZERO_ERROR;
    utext_openUTF8(&utext_, text.data(), static_cast<int64_t>(text.size()), &status);
    check(status, "Opening text");
    iterator_.setText(&utext_, status);
    check(status, "Grapheme break iterator");
  }
  ~GraphemeScope() { utext_close(&utext_); }
  GraphemeScope(const GraphemeScope &) = delete;
  GraphemeScope &operator=(const GraphemeScope &) = delete;
  icu::BreakIterator &iterator() { return iterator_; }

private:
  UText utext_ = UTEXT_INITIALIZER;
  icu::BreakIterator &iterator_;
};

} // namespace

std::string normalize(std::string_view text, NormalizationForm form) {
  std::string scratch;
  const std::string_view input = wellFormed(text, scratch);
  std::string out;
  out.reserve(input.size());
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode status = U_ZERO_ERROR;
  normalizer(form).normalizeUTF8(0, icu::StringPiece(input.data(), input.size()), sink, nullptr,
                                 status);
  check(status, "Unicode normalization");
  return out;
}

std::string lowercase(std::string_view text) {
  std::string scratch;
  const std::string_view input = wellFormed(text, scratch);
  std::string out;
  out.reserve(input.size());
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode status = U_ZERO_ERROR;
  icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(input.data(), input.size()), sink, nullptr,
                            status);
  check(status, "Lower-case mapping");
  return out;
}

std::string uppercase(std::string_view text) {
  std::string scratch;
  const std::string_view input = wellFormed(text, scratch);
  std::string out;
  out.reserve(input.size());
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode status = U_ZERO_ERROR;
  icu::CaseMap::utf8ToUpper("", 0, icu::StringPiece(input.data(), input.size()), sink, nullptr,
                            status);
  check(status, "Upper-case mapping");
  return out;
}

std::string stripDiacritics(std::string_view text) {
  const std::string decomposed = normalize(text, NormalizationForm::nfd);
  std::string stripped;
  stripped.reserve(decomposed.size());
  std::size_t offset = 0;
  while (offset < decomposed.size()) {
    const char32_t scalar = nextScalar(decomposed, offset);
    if (u_charType(static_cast<UChar32>(scalar)) != U_NON_SPACING_MARK)
      appendUtf8(stripped, scalar);
  }
  return stripped;
}

std::string foldDiacritics(std::string_view text) {
  return normalize(stripDiacritics(text), NormalizationForm::nfc);
}

bool isWordCharacter(char32_t scalar) {
  const auto c = static_cast<UChar32>(scalar);
  if (c < 0x80)
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  if (c == 0x200C || c == 0x200D || u_hasBinaryProperty(c, UCHAR_ALPHABETIC))
    return true;
  return (U_GET_GC_MASK(c) & (U_GC_M_MASK | U_GC_ND_MASK | U_GC_PC_MASK)) != 0;
}

bool isLetter(char32_t scalar) {
  return (U_GET_GC_MASK(static_cast<UChar32>(scalar)) & U_GC_L_MASK) != 0;
}

bool isNumber(char32_t scalar) {
  return (U_GET_GC_MASK(static_cast<UChar32>(scalar)) & U_GC_N_MASK) != 0;
}

bool isUppercaseOrTitlecase(char32_t scalar) {
  const auto category = u_charType(static_cast<UChar32>(scalar));
  return category == U_UPPERCASE_LETTER || category == U_TITLECASE_LETTER;
}

std::u16string lowercase(std::u16string_view text) {
  icu::UnicodeString unicode(text.data(), static_cast<int32_t>(text.size()));
  unicode.toLower(icu::Locale::getRoot());
  return std::u16string(reinterpret_cast<const char16_t *>(unicode.getBuffer()),
                        static_cast<std::size_t>(unicode.length()));
}

bool canonicallyEquivalent(std::u16string_view a, std::u16string_view b) {
  if (a == b)
    return true;
  const icu::Normalizer2 &nfc = normalizer(NormalizationForm::nfc);
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString left =
      nfc.normalize(icu::UnicodeString(a.data(), static_cast<int32_t>(a.size())), status);
  const icu::UnicodeString right =
      nfc.normalize(icu::UnicodeString(b.data(), static_cast<int32_t>(b.size())), status);
  check(status, "Unicode normalization");
  return left == right;
}

void graphemeBoundaries(std::u16string_view text, std::vector<std::size_t> &boundaries) {
  boundaries.clear();
  boundaries.push_back(0);
  if (text.empty())
    return;
  auto &iterator = characterIterator();
  const icu::UnicodeString unicode(false, text.data(), static_cast<int32_t>(text.size()));
  iterator.setText(unicode);
  for (int32_t position = iterator.next(); position != icu::BreakIterator::DONE;
       position = iterator.next())
    boundaries.push_back(static_cast<std::size_t>(position));
  // The aliased text must not outlive this call inside the thread's iterator.
  iterator.setText(icu::UnicodeString());
}

std::string capitalizeWords(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  bool startOfWord = true;
  int32_t offset = 0;
  const auto length = static_cast<int32_t>(text.size());
  while (offset < length) {
    const int32_t start = offset;
    UChar32 scalar = 0;
    U8_NEXT(text.data(), offset, length, scalar);
    if (scalar < 0) {
      result.append(
          text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(offset - start)));
      startOfWord = false;
      continue;
    }
    const bool blank = u_isWhitespace(scalar) != 0;
    const UChar32 mapped = blank ? scalar : (startOfWord ? u_toupper(scalar) : u_tolower(scalar));
    startOfWord = blank;
    char buffer[U8_MAX_LENGTH];
    int32_t written = 0;
    U8_APPEND_UNSAFE(buffer, written, mapped); // a scalar never needs more than U8_MAX_LENGTH
    result.append(buffer, static_cast<std::size_t>(written));
  }
  return result;
}

bool isWhiteSpace(char32_t scalar) {
  return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_WHITE_SPACE);
}

bool isSpaceSeparator(char32_t scalar) {
  return u_charType(static_cast<UChar32>(scalar)) == U_SPACE_SEPARATOR;
}

bool isPunctuation(char32_t scalar) { return u_ispunct(static_cast<UChar32>(scalar)); }

bool isOtherCategory(char32_t scalar) {
  switch (u_charType(static_cast<UChar32>(scalar))) {
  case U_CONTROL_CHAR:
  case U_FORMAT_CHAR:
  case U_SURROGATE:
  case U_PRIVATE_USE_CHAR:
  case U_UNASSIGNED:
    return true;
  default:
    return false;
  }
}

void graphemeBoundaries(std::string_view text, std::vector<std::size_t> &boundaries) {
  boundaries.clear();
  boundaries.push_back(0);
  if (text.empty())
    return;
  GraphemeScope scope(text);
  auto &it = scope.iterator();
  for (int32_t position = it.next(); position != icu::BreakIterator::DONE; position = it.next())
    boundaries.push_back(static_cast<std::size_t>(position));
}

std::size_t nextGraphemeBoundary(std::string_view text, std::size_t offset) {
  if (offset >= text.size())
    return text.size();
  GraphemeScope scope(text);
  const int32_t position = scope.iterator().following(static_cast<int32_t>(offset));
  return position == icu::BreakIterator::DONE ? text.size() : static_cast<std::size_t>(position);
}

std::vector<std::string_view> graphemes(std::string_view text) {
  std::vector<std::size_t> boundaries;
  graphemeBoundaries(text, boundaries);
  std::vector<std::string_view> out;
  out.reserve(boundaries.size() - 1);
  for (std::size_t i = 1; i < boundaries.size(); ++i)
    out.push_back(text.substr(boundaries[i - 1], boundaries[i] - boundaries[i - 1]));
  return out;
}

std::size_t graphemeCount(std::string_view text) {
  std::vector<std::size_t> boundaries;
  graphemeBoundaries(text, boundaries);
  return boundaries.size() - 1;
}

std::string_view trimmingWhiteSpace(std::string_view text) {
  std::vector<std::size_t> boundaries;
  scalarBoundaries(text, boundaries);
  const auto isSpaceAt = [&](std::size_t index) {
    std::size_t offset = boundaries[index];
    return isWhiteSpace(nextScalar(text, offset));
  };
  std::size_t first = 0;
  std::size_t last = boundaries.size() - 1; // scalars [first, last) are kept
  while (first < last && isSpaceAt(first)) {
    ++first;
  }
  while (last > first && isSpaceAt(last - 1)) {
    --last;
  }
  return text.substr(boundaries[first], boundaries[last] - boundaries[first]);
}

} // namespace deduve
