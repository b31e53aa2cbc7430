#include "DeduveCore/Tokenizers/BPETokenizer.hpp"

#include <cstdio>
#include <functional>
#include <limits>
#include <queue>

#include "DeduveCore/Support/Config.hpp"
#include "DeduveCore/Support/DeduveCoreError.hpp"
#include "DeduveCore/Text/Regex.hpp"
#include "DeduveCore/Text/Utf8.hpp"
#include "DeduveCore/Tokenizers/ConfigReading.hpp"
#include "DeduveCore/Tokenizers/StringSplitting.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"
#include "platform/system/RunInBackground.hpp"
#include "platform/system/ThreadPool.hpp"

namespace deduve {

namespace {

std::uint64_t pairKey(std::int32_t a, std::int32_t b) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
         static_cast<std::uint32_t>(b);
}

// Vocabularies at least this large are read beside the merges (see the constructor).
constexpr std::size_t kConcurrentVocabulary = 50000;

const Regex &byteFallbackPattern() {
  static const Regex pattern(
      R"('s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+)");
  return pattern;
}

} // namespace

std::optional<TokenId> BPETokenizer::rank(const BytePair &pair) const {
  const std::int32_t a = symbolId(pair.a);
  const std::int32_t b = symbolId(pair.b);
  if (a < 0 || b < 0)
    return std::nullopt;
  const Merge *merge = merges_.find(pairKey(a, b));
  if (merge == nullptr)
    return std::nullopt;
  return merge->rank;
}

BPETokenizer::BPETokenizer(const Config &tokenizerConfig, const Config &tokenizerData,
                           const AddedTokens &addedTokens) {
  const Config model = tokenizerData["model"];
  const Config mergesValue = model["merges"];
  const auto *merges = config::array(mergesValue);
  // The message stands alone, as a user reads it; the tokenizer error's cases would prefix it.
  if (merges == nullptr)
    throw DeduveCoreError::invalidConfiguration("BPETokenizer requires merges");

  const Config vocab = model["vocab"];
  if (!config::isDictionary(vocab))
    throw TokenizerError::missingVocab();

  // The vocabulary's maps do not depend on the merges: a large one is read on the pool
  // meanwhile, which takes about a quarter off loading a vocabulary of 200,000 tokens.
  const Config::Dictionary &members = *vocab.dictionaryValue();
  if (members.size() >= kConcurrentVocabulary) {
    platform::runBeside(
        platform::ThreadPool::shared(), [&] { readVocabulary(members, addedTokens); },
        [&] { readMerges(*merges); });
  } else {
    readMerges(*merges);
    readVocabulary(members, addedTokens);
  }

  directSymbols_.assign(kDirectScalars, -1);
  symbolTokens_.resize(symbols_.size());
  for (std::int32_t id = 0; id < static_cast<std::int32_t>(symbols_.size()); ++id) {
    const std::string_view text = symbols_.text(id);
    std::size_t offset = 0;
    const char32_t scalar = text.empty() ? 0 : nextScalar(text, offset);
    if (!text.empty() && offset == text.size() && scalar < kDirectScalars)
      directSymbols_[scalar] = id;
    SymbolToken &token = symbolTokens_[static_cast<std::size_t>(id)];
    token.hasSpace = text.find(' ') != std::string::npos;
    if (const auto found = tokensToIds_.find(text); found != tokensToIds_.end())
      token.id = found->second;
  }

  const auto idOf = [&](const std::optional<std::string> &token) -> std::optional<TokenId> {
    if (!token)
      return std::nullopt;
    const auto found = tokensToIds_.find(*token);
    return found == tokensToIds_.end() ? std::nullopt : std::optional(found->second);
  };
  special_.unknownToken = unknownTokenText(tokenizerConfig);
  special_.unknownTokenId = idOf(special_.unknownToken);
  special_.eosToken = addedTokenContent(tokenizerConfig["eosToken"]);
  special_.eosTokenId = idOf(special_.eosToken);
  special_.bosToken = addedTokenContent(tokenizerConfig["bosToken"]);
  special_.bosTokenId = idOf(special_.bosToken);
  special_.fuseUnknownTokens = config::isTrue(tokenizerConfig["fuseUnk"]);
}

void BPETokenizer::readMerges(const Config::Array &merges) {
  // Each merge makes about one new symbol: the table is sized once instead of growing.
  symbols_.reserve(merges.size() + 512);
  // One entry per merge in document order; a later entry with the same pair replaces the
  // earlier rank when the table is built.
  std::vector<std::pair<std::uint64_t, Merge>> mergeEntries;
  mergeEntries.reserve(merges.size());
  std::string first;
  std::string second;
  std::string joined;
  TokenId position = 0;
  for (const Config &entry : merges) {
    std::string_view parts[2];
    std::size_t count = 0;
    if (const auto *text = entry.binaryStringValue()) {
      // "a b": the text before the first space and the text up to the next one.
      first = text->string();
      const std::string_view whole(first);
      const std::size_t space = whole.find(' ');
      parts[count++] = whole.substr(0, space);
      if (space != std::string_view::npos) {
        const std::string_view rest = whole.substr(space + 1);
        parts[count++] = rest.substr(0, rest.find(' '));
      }
    } else if (const auto *elements = config::array(entry)) {
      for (const Config &element : *elements) {
        if (count == 2)
          break;
        if (const auto *part = element.binaryStringValue()) {
          std::string &kept = count == 0 ? first : second;
          kept = part->string();
          parts[count++] = kept;
        }
      }
    } else {
      continue;
    }
    if (count == 2) {
      const std::int32_t a = internSymbol(parts[0]);
      const std::int32_t b = internSymbol(parts[1]);
      joined.assign(parts[0]).append(parts[1]);
      mergeEntries.emplace_back(pairKey(a, b), Merge{position, internSymbol(joined)});
    }
    ++position;
  }
  merges_.build(mergeEntries);
}

void BPETokenizer::readVocabulary(const Config::Dictionary &vocab, const AddedTokens &addedTokens) {
  tokensToIds_.reserve(vocab.size() + addedTokens.size());
  for (const auto &[key, value] : vocab) {
    if (const auto id = config::integer(value))
      tokensToIds_.insert_or_assign(key.string(), *id);
  }
  // An added token replaces the vocabulary entry of the same text, even one whose value was
  // not an integer.
  for (const auto &[content, id] : addedTokens)
    tokensToIds_.insert_or_assign(content, id);
  idsToTokens_.reserve(tokensToIds_.size());
  for (const auto &[token, id] : tokensToIds_)
    idsToTokens_.insert_or_assign(id, token);
}

std::int32_t BPETokenizer::symbolId(std::string_view text) const { return symbols_.find(text); }

std::int32_t BPETokenizer::internSymbol(std::string_view text) { return symbols_.intern(text); }

void BPETokenizer::mergeWord(std::string_view word, std::vector<Symbol> &symbols) const {
  // One symbol per Unicode scalar, as the vocabularies were trained ("👍🏽" is "👍" then
  // "🏽", never one cluster).
  thread_local std::vector<std::size_t> boundaries;
  scalarBoundaries(word, boundaries);
  symbols.clear();
  for (std::size_t i = 1; i < boundaries.size(); ++i) {
    const std::size_t begin = boundaries[i - 1];
    const std::size_t end = boundaries[i];
    std::size_t offset = begin;
    const char32_t scalar = nextScalar(word, offset);
    const std::int32_t id = offset == end && scalar < kDirectScalars
                                ? directSymbols_[scalar]
                                : symbolId(word.substr(begin, end - begin));
    symbols.push_back(Symbol{id, begin, end});
  }
  if (symbols.size() > kQueuedMergeLength) {
    mergeQueued(symbols);
    return;
  }

  while (symbols.size() > 1) {
    TokenId bestRank = std::numeric_limits<TokenId>::max();
    const Merge *best = nullptr;
    std::int32_t first = -1;
    std::int32_t second = -1;
    for (std::size_t i = 0; i + 1 < symbols.size(); ++i) {
      if (symbols[i].id < 0 || symbols[i + 1].id < 0)
        continue;
      const Merge *merge = merges_.find(pairKey(symbols[i].id, symbols[i + 1].id));
      if (merge != nullptr && merge->rank < bestRank) {
        bestRank = merge->rank;
        best = merge;
        first = symbols[i].id;
        second = symbols[i + 1].id;
      }
    }
    if (best == nullptr)
      break;
    // Merges every occurrence left to right; an occurrence never overlaps the previous one.
    std::size_t out = 0;
    for (std::size_t i = 0; i < symbols.size(); ++out) {
      if (symbols[i].id == first && i + 1 < symbols.size() && symbols[i + 1].id == second) {
        symbols[out] = Symbol{best->result, symbols[i].begin, symbols[i + 1].end};
        i += 2;
      } else {
        symbols[out] = symbols[i];
        i += 1;
      }
    }
    symbols.resize(out);
  }
}

// The pass rule (merge every occurrence of the lowest-ranked pair, left to right, then look
// again) with the pairs kept in a queue by rank. All queued occurrences of one rank are one
// pass: a merge never creates another occurrence of its own pair (the merged text is longer
// than either part), and pairs the pass creates are queued only after it, as the next pass
// would find them.
void BPETokenizer::mergeQueued(std::vector<Symbol> &symbols) const {
  struct Node {
    Symbol symbol;
    std::size_t prev;
    std::size_t next;
    bool alive;
  };
  struct Candidate {
    TokenId rank;
    std::size_t left;
    std::int32_t leftId;
    std::int32_t rightId;
    std::int32_t result;
    bool operator>(const Candidate &other) const {
      return rank != other.rank ? rank > other.rank : left > other.left;
    }
  };
  constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

  std::vector<Node> nodes(symbols.size());
  for (std::size_t i = 0; i < symbols.size(); ++i)
    nodes[i] =
        Node{symbols[i], i == 0 ? kNone : i - 1, i + 1 == symbols.size() ? kNone : i + 1, true};

  std::priority_queue<Candidate, std::vector<Candidate>, std::greater<>> queue;
  const auto offer = [&](std::size_t left) {
    if (left == kNone || nodes[left].next == kNone)
      return;
    const std::int32_t a = nodes[left].symbol.id;
    const std::int32_t b = nodes[nodes[left].next].symbol.id;
    if (a < 0 || b < 0)
      return;
    if (const Merge *merge = merges_.find(pairKey(a, b)))
      queue.push(Candidate{merge->rank, left, a, b, merge->result});
  };
  for (std::size_t i = 0; i + 1 < nodes.size(); ++i)
    offer(i);

  std::vector<std::size_t> merged;
  while (!queue.empty()) {
    const TokenId rank = queue.top().rank;
    merged.clear();
    // Candidates of one rank come out left to right; one whose symbols changed or were
    // consumed earlier in the pass is stale.
    while (!queue.empty() && queue.top().rank == rank) {
      const Candidate candidate = queue.top();
      queue.pop();
      Node &left = nodes[candidate.left];
      if (!left.alive || left.symbol.id != candidate.leftId || left.next == kNone)
        continue;
      Node &right = nodes[left.next];
      if (right.symbol.id != candidate.rightId)
        continue;
      left.symbol.id = candidate.result;
      left.symbol.end = right.symbol.end;
      right.alive = false;
      left.next = right.next;
      if (right.next != kNone)
        nodes[right.next].prev = candidate.left;
      merged.push_back(candidate.left);
    }
    for (const std::size_t index : merged) {
      if (!nodes[index].alive)
        continue;
      offer(nodes[index].prev);
      offer(index);
    }
  }

  symbols.clear();
  for (std::size_t i = 0; i != kNone; i = nodes[i].next)
    symbols.push_back(nodes[i].symbol);
}

std::string BPETokenizer::bpe(std::string_view token) const {
  thread_local std::vector<Symbol> symbols;
  mergeWord(token, symbols);
  if (symbols.size() <= 1)
    return std::string(token);
  std::string joined;
  joined.reserve(token.size() + symbols.size());
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    if (i > 0)
      joined.push_back(' ');
    joined.append(token.substr(symbols[i].begin, symbols[i].end - symbols[i].begin));
  }
  return joined;
}

void BPETokenizer::appendToken(std::string_view part, std::optional<TokenId> id,
                               std::vector<std::string> &tokens) const {
  if (id && id != special_.unknownTokenId) {
    tokens.emplace_back(part);
    return;
  }
  thread_local std::vector<TextRange> ranges;
  tokenizerSearch([&] { byteFallbackPattern().findAll(part, ranges); });
  for (const TextRange &range : ranges) {
    for (const char byte : range.of(part)) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "<0x%02X>", static_cast<unsigned char>(byte));
      tokens.emplace_back(buffer);
    }
  }
}

std::vector<std::string> BPETokenizer::tokenize(std::string_view text) const {
  std::vector<std::string> tokens;
  tokenizeInto(text, tokens);
  return tokens;
}

void BPETokenizer::tokenizeInto(std::string_view text, std::vector<std::string> &tokens) const {
  thread_local std::vector<Symbol> symbols;
  mergeWord(text, symbols);
  for (const Symbol &symbol : symbols) {
    const std::string_view merged = text.substr(symbol.begin, symbol.end - symbol.begin);
    if (symbol.id >= 0 && !symbolTokens_[static_cast<std::size_t>(symbol.id)].hasSpace) {
      appendToken(merged, symbolTokens_[static_cast<std::size_t>(symbol.id)].id, tokens);
      continue;
    }
    // A word with spaces inside (no pre-tokenizer ahead) is cut at them; no token holds one.
    std::size_t start = 0;
    while (start <= merged.size()) {
      const std::size_t space = merged.find(' ', start);
      const std::size_t end = space == std::string_view::npos ? merged.size() : space;
      if (end > start) {
        const std::string_view part = merged.substr(start, end - start);
        const auto found = tokensToIds_.find(part);
        appendToken(part, found == tokensToIds_.end() ? std::nullopt : std::optional(found->second),
                    tokens);
      }
      if (space == std::string_view::npos)
        break;
      start = space + 1;
    }
  }
}

std::optional<TokenId> BPETokenizer::convertTokenToId(std::string_view token) const {
  const auto found = tokensToIds_.find(token);
  if (found != tokensToIds_.end())
    return found->second;
  return special_.unknownTokenId;
}

std::optional<std::string> BPETokenizer::convertIdToToken(TokenId id) const {
  const auto found = idsToTokens_.find(id);
  if (found == idsToTokens_.end())
    return std::nullopt;
  return std::string(found->second);
}

} // namespace deduve
