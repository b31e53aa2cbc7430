#include "DeduveCore/Tokenizers/PostProcessor.hpp"

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "DeduveCore/Tokenizers/StageConfigurationError.hpp"
#include "DeduveCore/Tokenizers/StageFactory.hpp"

namespace deduve {
namespace {

std::string requiredTokenText(const Config &config, const char *key) {
  std::optional<std::pair<std::uint64_t, std::string>> token = config[key].tokenValue();
  if (!token)
    throw StageConfigurationError(std::string("Missing `") + key + "` processor configuration");
  return std::move(token->second);
}

void append(std::vector<std::string> &out, const std::vector<std::string> &tokens) {
  out.insert(out.end(), tokens.begin(), tokens.end());
}

bool startsWithWhiteSpace(std::string_view character) {
  std::size_t offset = 0;
  return isWhiteSpace(nextScalar(character, offset));
}

} // namespace

const stagefactory::TypeEntry<PostProcessor> kPostProcessorTypes[] = {
    {"TemplateProcessing", stagefactory::make<PostProcessor, TemplateProcessing>},
    {"ByteLevel", stagefactory::make<PostProcessor, ByteLevelPostProcessor>},
    {"RobertaProcessing", stagefactory::make<PostProcessor, RobertaProcessing>},
    {"BertProcessing", stagefactory::make<PostProcessor, BertProcessing>},
    {"Sequence", stagefactory::make<PostProcessor, SequenceProcessing>},
};

std::unique_ptr<PostProcessor> makePostProcessor(const Config *config) {
  return stagefactory::build(config, kPostProcessorTypes, "PostProcessor");
}

std::unique_ptr<PostProcessor> makePostProcessor(const Config &config) {
  return makePostProcessor(&config);
}

TemplateProcessing::TemplateProcessing(const Config &config) {
  const auto readTemplate = [&](const char *key) {
    const Config value = config[key];
    const Config::Array *items = value.arrayValue();
    if (items == nullptr)
      throw StageConfigurationError(std::string("Missing `") + key + "` processor configuration");
    std::vector<Item> out;
    for (const Config &item : *items) {
      if (auto special = item["SpecialToken"]["id"].stringValue()) {
        out.push_back({true, std::move(*special), 0});
        continue;
      }
      const std::optional<std::string> sequence = item["Sequence"]["id"].stringValue();
      if (sequence == "A" || sequence == "B")
        out.push_back({false, {}, sequence->front()});
      // Any other item adds nothing to the output, so it is not kept.
    }
    return out;
  };
  single_ = readTemplate("single");
  pair_ = readTemplate("pair");
}

std::vector<std::string> TemplateProcessing::postProcess(const std::vector<std::string> &tokens,
                                                         const std::vector<std::string> *tokensPair,
                                                         bool addSpecialTokens) const {
  const std::vector<Item> &items = tokensPair != nullptr ? pair_ : single_;
  std::vector<std::string> out;
  for (const Item &item : items) {
    if (item.isSpecialToken) {
      if (addSpecialTokens)
        out.push_back(item.specialToken);
    } else if (item.sequence == 'A') {
      append(out, tokens);
    } else if (tokensPair != nullptr) { // "B" in a single template has nothing to add
      append(out, *tokensPair);
    }
  }
  return out;
}

std::vector<std::string> ByteLevelPostProcessor::postProcess(const std::vector<std::string> &tokens,
                                                             const std::vector<std::string> *,
                                                             bool) const {
  return tokens;
}

RobertaProcessing::RobertaProcessing(const Config &config)
    : sep_(requiredTokenText(config, "sep")), cls_(requiredTokenText(config, "cls")),
      trimOffset_(config["trimOffsets"].boolValue().value_or(true)),
      addPrefixSpace_(config["addPrefixSpace"].boolValue().value_or(true)) {}

std::string RobertaProcessing::trim(const std::string &token) const {
  if (addPrefixSpace_) {
    // White space at each end is cut down to one character.
    const std::vector<std::string_view> characters = graphemes(token);
    const std::size_t count = characters.size();
    std::size_t leading = 0;
    while (leading < count && startsWithWhiteSpace(characters[leading]))
      ++leading;
    if (leading == count) // only white space: one character stays, more leave nothing
      return count <= 1 ? token : std::string();
    std::size_t trailing = 0;
    while (trailing < count && startsWithWhiteSpace(characters[count - 1 - trailing]))
      ++trailing;
    const std::size_t first = leading > 0 ? leading - 1 : 0;
    const std::size_t last = trailing > 0 ? count - trailing + 1 : count;
    std::string out;
    for (std::size_t i = first; i < last; ++i)
      out.append(characters[i]);
    return out;
  }
  // Spaces (Zs) and tabs are removed entirely; line breaks stay.
  const auto isTrimmed = [](char32_t c) { return c == U'\t' || isSpaceSeparator(c); };
  std::size_t begin = 0;
  while (begin < token.size()) {
    std::size_t next = begin;
    if (!isTrimmed(nextScalar(token, next)))
      break;
    begin = next;
  }
  std::size_t end = begin;
  std::size_t offset = begin;
  while (offset < token.size()) {
    if (!isTrimmed(nextScalar(token, offset)))
      end = offset;
  }
  return token.substr(begin, end - begin);
}

std::vector<std::string> RobertaProcessing::postProcess(const std::vector<std::string> &tokens,
                                                        const std::vector<std::string> *tokensPair,
                                                        bool) const {
  const auto addSequence = [&](std::vector<std::string> &out,
                               const std::vector<std::string> &sequence) {
    if (!trimOffset_) {
      append(out, sequence);
      return;
    }
    for (const std::string &token : sequence)
      out.push_back(trim(token));
  };
  std::vector<std::string> out;
  out.push_back(cls_);
  addSequence(out, tokens);
  out.push_back(sep_);
  if (tokensPair != nullptr && !tokensPair->empty()) {
    out.push_back(sep_);
    addSequence(out, *tokensPair);
    out.push_back(sep_);
  }
  return out;
}

BertProcessing::BertProcessing(const Config &config)
    : sep_(requiredTokenText(config, "sep")), cls_(requiredTokenText(config, "cls")) {}

std::vector<std::string> BertProcessing::postProcess(const std::vector<std::string> &tokens,
                                                     const std::vector<std::string> *tokensPair,
                                                     bool addSpecialTokens) const {
  std::vector<std::string> out;
  if (!addSpecialTokens) {
    append(out, tokens);
    if (tokensPair != nullptr)
      append(out, *tokensPair);
    return out;
  }
  out.push_back(cls_);
  append(out, tokens);
  out.push_back(sep_);
  if (tokensPair != nullptr && !tokensPair->empty()) {
    append(out, *tokensPair);
    out.push_back(sep_);
  }
  return out;
}

SequenceProcessing::SequenceProcessing(const Config &config)
    : processors_(stagefactory::buildMembers<PostProcessor>(
          config, "processors", "Missing `processors` configuration",
          [](const Config &member) { return makePostProcessor(&member); })) {}

std::vector<std::string> SequenceProcessing::postProcess(const std::vector<std::string> &tokens,
                                                         const std::vector<std::string> *tokensPair,
                                                         bool addSpecialTokens) const {
  if (processors_.empty())
    return tokens;
  std::vector<std::string> current =
      processors_.front()->postProcess(tokens, tokensPair, addSpecialTokens);
  for (std::size_t i = 1; i < processors_.size(); ++i)
    current = processors_[i]->postProcess(current, nullptr, addSpecialTokens);
  return current;
}

} // namespace deduve
