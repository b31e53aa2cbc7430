#include "DeduveCore/Tokenizers/Normalizer.hpp"

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "DeduveCore/Tokenizers/StageConfigurationError.hpp"
#include "DeduveCore/Tokenizers/StageFactory.hpp"

namespace deduve {
namespace {

char32_t firstScalar(std::string_view character) {
  std::size_t offset = 0;
  return nextScalar(character, offset);
}

bool isChineseCharacter(char32_t c) {
  return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x20000 && c <= 0x2A6DF) || (c >= 0x2A700 && c <= 0x2CEAF) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x2F800 && c <= 0x2FA1F);
}

} // namespace

const stagefactory::TypeEntry<Normalizer> kNormalizerTypes[] = {
    {"Sequence", stagefactory::make<Normalizer, NormalizerSequence>},
    {"Prepend", stagefactory::make<Normalizer, PrependNormalizer>},
    {"Replace", stagefactory::make<Normalizer, ReplaceNormalizer>},
    {"Lowercase", stagefactory::make<Normalizer, LowercaseNormalizer>},
    {"NFD", stagefactory::make<Normalizer, NFDNormalizer>},
    {"NFC", stagefactory::make<Normalizer, NFCNormalizer>},
    {"NFKD", stagefactory::make<Normalizer, NFKDNormalizer>},
    {"NFKC", stagefactory::make<Normalizer, NFKCNormalizer>},
    {"Bert", stagefactory::make<Normalizer, BertNormalizer>},
    {"BertNormalizer", stagefactory::make<Normalizer, BertNormalizer>},
    {"Precompiled", stagefactory::make<Normalizer, PrecompiledNormalizer>},
    {"StripAccents", stagefactory::make<Normalizer, StripAccentsNormalizer>},
    {"Strip", stagefactory::make<Normalizer, StripNormalizer>},
};

std::unique_ptr<Normalizer> makeNormalizer(const Config *config) {
  return stagefactory::build(config, kNormalizerTypes, "Normalizer");
}

NormalizerSequence::NormalizerSequence(const Config &config)
    : normalizers_(stagefactory::buildMembers<Normalizer>(
          config, "normalizers", "No normalizers in Sequence",
          [](const Config &member) { return makeNormalizer(&member); })) {}

std::string NormalizerSequence::normalize(std::string_view text) const {
  std::string current(text);
  for (const auto &normalizer : normalizers_)
    current = normalizer->normalize(current);
  return current;
}

PrependNormalizer::PrependNormalizer(const Config &config)
    : prepend_(config["prepend"].stringValue().value_or("")) {}

std::string PrependNormalizer::normalize(std::string_view text) const {
  std::string out = prepend_;
  out.append(text);
  return out;
}

ReplaceNormalizer::ReplaceNormalizer(const Config &config)
    : pattern_(StringReplacePattern::fromConfig(config)) {}

std::string ReplaceNormalizer::normalize(std::string_view text) const {
  return pattern_ ? pattern_->replace(text) : std::string(text);
}

std::string LowercaseNormalizer::normalize(std::string_view text) const { return lowercase(text); }

std::string NFDNormalizer::normalize(std::string_view text) const {
  return deduve::normalize(text, NormalizationForm::nfd);
}

std::string NFCNormalizer::normalize(std::string_view text) const {
  return deduve::normalize(text, NormalizationForm::nfc);
}

std::string NFKDNormalizer::normalize(std::string_view text) const {
  return deduve::normalize(text, NormalizationForm::nfkd);
}

std::string NFKCNormalizer::normalize(std::string_view text) const {
  return deduve::normalize(text, NormalizationForm::nfkc);
}

std::string StripAccentsNormalizer::normalize(std::string_view text) const {
  return deduve::normalize(text, NormalizationForm::nfkc);
}

BertNormalizer::BertNormalizer(const Config &config) {
  shouldCleanText_ = config["cleanText"].boolValue().value_or(true);
  shouldHandleChineseChars_ = config["handleChineseChars"].boolValue().value_or(true);
  shouldLowercase_ = config["lowercase"].boolValue().value_or(true);
  shouldStripAccents_ = config["stripAccents"].boolValue().value_or(shouldLowercase_);
}

std::string BertNormalizer::normalize(std::string_view input) const {
  std::string text(input);
  if (shouldCleanText_ || shouldHandleChineseChars_) {
    std::string out;
    out.reserve(text.size());
    for (const std::string_view character : graphemes(text)) {
      const char32_t first = firstScalar(character);
      if (shouldCleanText_) {
        if (first == U'\t' || first == U'\n' || first == U'\r') {
          out.push_back(' ');
          continue;
        }
        // Controls, format characters and the like carry no text for a BERT vocabulary and
        // would otherwise reach the model as unknown tokens; U+FFFD marks input that was
        // already broken.
        if (first == 0 || first == 0xFFFD || isOtherCategory(first))
          continue;
      }
      if (shouldHandleChineseChars_ && isChineseCharacter(first)) {
        out.push_back(' ');
        out.append(character);
        out.push_back(' ');
        continue;
      }
      out.append(character);
    }
    text = std::move(out);
  }
  if (shouldStripAccents_) {
    const std::string decomposed = deduve::normalize(text, NormalizationForm::nfd);
    std::string out;
    out.reserve(decomposed.size());
    std::size_t offset = 0;
    while (offset < decomposed.size()) {
      const char32_t scalar = nextScalar(decomposed, offset);
      if (scalar < 0x300 || scalar > 0x36F)
        appendUtf8(out, scalar);
    }
    text = std::move(out);
  }
  if (shouldLowercase_)
    text = lowercase(text);
  return text;
}

std::string PrecompiledNormalizer::normalize(std::string_view text) const {
  std::string cleaned;
  cleaned.reserve(text.size());
  bool hasFullwidthTilde = false;
  std::size_t offset = 0;
  while (offset < text.size()) {
    const char32_t c = nextScalar(text, offset);
    if ((c >= 0x1 && c <= 0x8) || c == 0xB || (c >= 0xE && c <= 0x1F) || c == 0x7F || c == 0x8F ||
        c == 0x9F)
      continue;
    if (c == 0x9 || c == 0xA || c == 0xC || c == 0xD || c == 0x1680 ||
        (c >= 0x200B && c <= 0x200F) || c == 0x2028 || c == 0x2029 || c == 0x2581 || c == 0xFEFF ||
        c == 0xFFFD) {
      cleaned.push_back(' ');
      continue;
    }
    if (c == 0xFF5E)
      hasFullwidthTilde = true;
    appendUtf8(cleaned, c);
  }
  if (!hasFullwidthTilde)
    return deduve::normalize(cleaned, NormalizationForm::nfkc);
  // NFKC would turn the fullwidth tilde into "~"; the vocabularies keep it, so it is cut out
  // and put back between the normalized pieces.
  constexpr std::string_view kTilde = "\xEF\xBD\x9E";
  std::string out;
  bool wrotePiece = false;
  std::size_t start = 0;
  while (start <= cleaned.size()) {
    std::size_t end = cleaned.find(kTilde, start);
    if (end == std::string::npos)
      end = cleaned.size();
    if (end > start) {
      if (wrotePiece)
        out.append(kTilde);
      wrotePiece = true;
      out.append(deduve::normalize(std::string_view(cleaned).substr(start, end - start),
                                   NormalizationForm::nfkc));
    }
    start = end + kTilde.size();
  }
  return out;
}

StripNormalizer::StripNormalizer(const Config &config) {
  leftStrip_ = config["stripLeft"].boolValue().value_or(true);
  rightStrip_ = config["stripRight"].boolValue().value_or(true);
}

std::string StripNormalizer::normalize(std::string_view text) const {
  const std::vector<std::string_view> characters = graphemes(text);
  std::size_t first = 0;
  std::size_t last = characters.size();
  if (leftStrip_)
    while (first < last && isWhiteSpace(firstScalar(characters[first])))
      ++first;
  if (rightStrip_)
    while (last > first && isWhiteSpace(firstScalar(characters[last - 1])))
      --last;
  if (first == last)
    return {};
  const std::size_t begin = static_cast<std::size_t>(characters[first].data() - text.data());
  const std::size_t end = static_cast<std::size_t>(characters[last - 1].data() - text.data()) +
                          characters[last - 1].size();
  return std::string(text.substr(begin, end - begin));
}

} // namespace deduve
