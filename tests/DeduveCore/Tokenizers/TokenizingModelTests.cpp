#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeduveCore/Support/DeduveCoreError.hpp"
#include "DeduveCore/Tokenizers/BPETokenizer.hpp"
#include "DeduveCore/Tokenizers/BertTokenizer.hpp"
#include "DeduveCore/Tokenizers/TokenLattice.hpp"
#include "DeduveCore/Tokenizers/TokenizerError.hpp"
#include "DeduveCore/Tokenizers/Trie.hpp"
#include "DeduveCore/Tokenizers/UnigramTokenizer.hpp"
#include "tests/DeduveCore/Tokenizers/TokenizerTestSupport.hpp"

namespace deduve {
namespace {

using mqtest::doc;
using Strings = std::vector<std::string>;

template <typename Fn> TokenizerError tokenizerErrorOf(Fn &&fn) {
  try {
    fn();
  } catch (const TokenizerError &error) {
    return error;
  }
  ADD_FAILURE() << "no TokenizerError thrown";
  return TokenizerError::tooLong("not thrown");
}

// ---------------------------------------------------------------- byte-pair model

BPETokenizer bpeModel(std::string_view modelJson, std::string_view configJson = "{}",
                      const AddedTokens &added = {}) {
  return BPETokenizer(doc(configJson),
                      doc(std::string("{\"model\": ") + std::string(modelJson) + "}"), added);
}

TEST(BPETokenizer, MergesByRankAcrossPasses) {
  struct Case {
    const char *name;
    const char *model;
    const char *word;
    const char *merged;
  };
  const Case cases[] = {
      {"two passes", R"({"vocab": {}, "merges": ["a b", "ab c"]})", "abc", "abc"},
      {"array entry equals string entry", R"({"vocab": {}, "merges": [["a", "b"], "ab c"]})", "abc",
       "abc"},
      // The number is skipped, so "b c" gets rank 0 and wins over "a b" (rank 1).
      {"non-string entry takes no place", R"({"vocab": {}, "merges": [7, "b c", "a b"]})", "abc",
       "a bc"},
      {"later duplicate rank", R"({"vocab": {}, "merges": ["a b", "b c", "a b"]})", "abc", "a bc"},
      {"one character unchanged", R"({"vocab": {}, "merges": ["a b"]})", "é", "é"},
      {"no ranked pair", R"({"vocab": {}, "merges": ["x y"]})", "abc", "a b c"},
      {"every occurrence merged left to right", R"({"vocab": {}, "merges": ["a a"]})", "aaaaa",
       "aa aa a"},
      // Symbols are scalars: a combining mark is a symbol of its own until a merge joins it.
      {"combining mark is a symbol of its own", R"({"vocab": {}, "merges": ["e\u0301 x"]})",
       "e\u0301x", "e \u0301 x"},
      {"combining mark merges like any symbol",
       R"({"vocab": {}, "merges": ["e \u0301", "e\u0301 x"]})", "e\u0301x", "e\u0301x"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(bpeModel(c.model).bpe(c.word), c.merged);
  }
}

// The merge rule as written, on strings: lowest-ranked pair, every occurrence left to right.
std::string referenceBpe(const std::string &word,
                         const std::map<std::pair<std::string, std::string>, int> &ranks) {
  std::vector<std::string> symbols;
  for (const char c : word)
    symbols.emplace_back(1, c);
  while (symbols.size() > 1) {
    const std::pair<std::string, std::string> *best = nullptr;
    int bestRank = 0;
    for (std::size_t i = 0; i + 1 < symbols.size(); ++i) {
      const auto found = ranks.find({symbols[i], symbols[i + 1]});
      if (found != ranks.end() && (best == nullptr || found->second < bestRank)) {
        best = &found->first;
        bestRank = found->second;
      }
    }
    if (best == nullptr)
      break;
    std::vector<std::string> next;
    for (std::size_t i = 0; i < symbols.size();) {
      if (i + 1 < symbols.size() && symbols[i] == best->first && symbols[i + 1] == best->second) {
        next.push_back(symbols[i] + symbols[i + 1]);
        i += 2;
      } else {
        next.push_back(symbols[i++]);
      }
    }
    symbols = std::move(next);
  }
  std::string joined;
  for (const auto &symbol : symbols)
    joined += (joined.empty() ? "" : " ") + symbol;
  return joined;
}

TEST(BPETokenizer, SymbolsAreScalarsNotGraphemeClusters) {
  // Each of these words is one grapheme cluster of two scalars; the vocabulary holds the
  // scalars only, as the models were trained. A cluster must not fall back to byte tokens.
  const auto model = bpeModel(R"({"vocab": {"<unk>": 0, "👍": 1, "🏽": 2, "e": 3, "\u030A": 4,
                                           "ว": 5, "ั": 6, "b": 7, "\u200C": 8},
                                  "merges": []})",
                              R"({"unk_token": "<unk>"})");
  struct Case {
    const char *word;
    Strings tokens;
  };
  const Case cases[] = {
      {"👍🏽", {"👍", "🏽"}},
      {"e\u030A", {"e", "\u030A"}},
      {"วั", {"ว", "ั"}},
      {"b\u200C", {"b", "\u200C"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(model.tokenize(c.word), c.tokens);
  }
}

TEST(BPETokenizer, ShortAndLongWordsMergeLikeTheRule) {
  std::mt19937 random(11);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Random merges over a small alphabet, in random order: a merge may be listed before the
    // merges that build its parts.
    std::vector<std::string> known{"a", "b", "c", "d"};
    std::map<std::pair<std::string, std::string>, int> ranks;
    nlohmann::json merges = nlohmann::json::array();
    for (int i = 0; i < 30; ++i) {
      const auto &a = known[random() % known.size()];
      const auto &b = known[random() % known.size()];
      if (ranks.emplace(std::pair{a, b}, static_cast<int>(merges.size())).second) {
        merges.push_back(a + " " + b);
        known.push_back(a + b);
      }
    }
    std::shuffle(merges.begin(), merges.end(), random);
    ranks.clear();
    for (std::size_t i = 0; i < merges.size(); ++i) {
      const std::string entry = merges[i];
      const auto space = entry.find(' ');
      ranks[{entry.substr(0, space), entry.substr(space + 1)}] = static_cast<int>(i);
    }
    nlohmann::json model;
    model["vocab"] = nlohmann::json::object();
    model["merges"] = merges;
    const auto bpe = bpeModel(model.dump());
    for (const std::size_t length : {2, 5, 31, 32, 33, 80, 300}) {
      std::string word;
      for (std::size_t k = 0; k < length; ++k)
        word += static_cast<char>('a' + random() % 4);
      SCOPED_TRACE(word);
      EXPECT_EQ(bpe.bpe(word), referenceBpe(word, ranks));
    }
  }
}

TEST(BPETokenizer, TokensFallBackToBytesWhenMissingOrUnknown) {
  const auto model = bpeModel(R"({"vocab": {"<unk>": 0, "a": 1, "b": 2, "ab": 3, "x": 0},
                                  "merges": ["a b"]})",
                              R"({"unk_token": "<unk>"})");
  EXPECT_EQ(model.tokenize("ab"), (Strings{"ab"}));
  EXPECT_EQ(model.tokenize("é"), (Strings{"<0xC3>", "<0xA9>"}));
  // "x" is in the vocabulary, but under the unknown id.
  EXPECT_EQ(model.tokenize("x"), (Strings{"<0x78>"}));
  EXPECT_EQ(model.tokenize("\n"), (Strings{"<0x0A>"}));
  // Spaces inside a word split symbols and never reach a token.
  EXPECT_EQ(model.tokenize("ab ab"), (Strings{"ab", "ab"}));
  EXPECT_EQ(model.tokenize(" "), Strings{});
}

TEST(BPETokenizer, VocabularyAddedTokensAndSpecialTokenTexts) {
  const AddedTokens added{{"b", 9}};
  const auto model = bpeModel(R"({"vocab": {"<unk>": 0, "a": 1, "b": 2, "<s>": 3, "odd": "x"},
                                  "merges": []})",
                              R"({"unk_token": {"content": "<unk>"}, "bos_token": "<s>",
                                  "eos_token": {"content": "</s>"}, "fuse_unk": "true"})",
                              added);
  EXPECT_EQ(model.convertTokenToId("b"), 9);
  EXPECT_EQ(model.convertIdToToken(9), "b");
  EXPECT_EQ(model.convertIdToToken(2), std::nullopt);
  EXPECT_EQ(model.convertTokenToId("odd"), 0) << "non-integer entries are left out";
  EXPECT_EQ(model.convertTokenToId("zzz"), 0);
  EXPECT_EQ(model.unknownToken(), "<unk>");
  EXPECT_EQ(model.bosTokenId(), 3);
  EXPECT_EQ(model.eosToken(), "</s>");
  EXPECT_EQ(model.eosTokenId(), std::nullopt);
  EXPECT_TRUE(model.fuseUnknownTokens());

  const auto plain =
      bpeModel(R"({"vocab": {"<unk>": 0}, "merges": []})", R"({"unk_token": "<unk>"})");
  EXPECT_EQ(plain.unknownTokenId(), 0) << "a plain-string unk_token reads the same";
  EXPECT_FALSE(plain.fuseUnknownTokens());
  const auto noUnknown = bpeModel(R"({"vocab": {"a": 1}, "merges": []})");
  EXPECT_EQ(noUnknown.convertTokenToId("zzz"), std::nullopt);
}

TEST(BPETokenizer, RefusesDocumentsWithoutMergesOrVocabulary) {
  try {
    bpeModel(R"({"vocab": {}})");
    ADD_FAILURE() << "a model without merges was built";
  } catch (const DeduveCoreError &error) {
    EXPECT_EQ(std::string(error.what()), "BPETokenizer requires merges");
  }
  EXPECT_EQ(tokenizerErrorOf([] { bpeModel(R"({"merges": []})"); }).kind(),
            TokenizerError::Kind::missingVocab);
  EXPECT_EQ(tokenizerErrorOf([] { bpeModel(R"({"vocab": [], "merges": []})"); }).kind(),
            TokenizerError::Kind::missingVocab);
}

// ---------------------------------------------------------------- WordPiece

BertTokenizer bertModel(std::string_view vocabJson, std::string_view configJson = "{}",
                        const AddedTokens &added = {}) {
  return BertTokenizer(doc(configJson),
                       doc(std::string(R"({"model": {"vocab": )") + std::string(vocabJson) + "}}"),
                       added);
}

TEST(BertTokenizer, CutsWordsIntoLongestPieces) {
  const auto full = bertModel(R"({"[UNK]": 0, "un": 1, "##aff": 2, "##able": 3})");
  EXPECT_EQ(full.tokenize("unaffable"), (Strings{"un", "##aff", "##able"}));
  const auto partial = bertModel(R"({"[UNK]": 0, "un": 1, "##able": 3})");
  EXPECT_EQ(partial.tokenize("unaffable"), (Strings{"[UNK]"}));
  EXPECT_EQ(partial.tokenize("unable unaffable"), (Strings{"un", "##able", "[UNK]"}));
}

TEST(BertTokenizer, BasicSplitRules) {
  const BasicTokenizer lower(true);
  EXPECT_EQ(lower.tokenize("Héllo, WORLD!"), (Strings{"hello", ",", "world", "!"}));
  EXPECT_EQ(lower.tokenize("[CLS] x"), (Strings{"[CLS]", "x"}));
  EXPECT_EQ(lower.tokenize("[cls]"), (Strings{"[", "cls", "]"}));
  EXPECT_EQ(lower.tokenize("a\nb"), (Strings{"a\nb"}));
  EXPECT_EQ(lower.tokenize("a\t\u00A0 b"), (Strings{"a", "b"}));
  EXPECT_EQ(lower.tokenize("1+2=3|x~"), (Strings{"1", "+", "2", "=", "3", "|", "x", "~"}));
  const BasicTokenizer cased(false);
  EXPECT_EQ(cased.tokenize("Héllo WORLD"), (Strings{"Héllo", "WORLD"}));
}

TEST(BertTokenizer, AccentStrippingKeepsHangulDecomposed) {
  // The vocabulary holds the jamo that decomposition gives; recomposing them after the marks
  // are stripped would turn every word into [UNK].
  const auto model = bertModel(R"({"[UNK]": 0, "ᄉ": 1, "##ᅥ": 2, "##ᄋ": 3, "##ᅮ": 4,
                                   "##ᆯ": 5, "##ᅳ": 6, "##ᆫ": 7, "cafe": 8})");
  EXPECT_EQ(model.tokenize("서울은"),
            (Strings{"ᄉ", "##ᅥ", "##ᄋ", "##ᅮ", "##ᆯ", "##ᄋ", "##ᅳ", "##ᆫ"}));
  EXPECT_EQ(model.tokenize("Café"), (Strings{"cafe"}));
}

TEST(BertTokenizer, WordLengthLimitAndChineseCharacters) {
  const auto model = bertModel(R"({"[UNK]": 0, "a": 1, "##a": 2, "日": 3, "本": 4, "語": 5,
                                   "日本語": 6})");
  EXPECT_EQ(model.tokenize(std::string(100, 'a')).size(), 100u);
  EXPECT_EQ(model.tokenize(std::string(101, 'a')), (Strings{"[UNK]"}));
  EXPECT_EQ(model.tokenize("日本語"), (Strings{"日", "本", "語"}));
  const auto whole =
      bertModel(R"({"[UNK]": 0, "日本語": 6})", R"({"handle_chinese_chars": false})");
  EXPECT_EQ(whole.tokenize("日本語"), (Strings{"日本語"}));
}

TEST(BertTokenizer, IdsAndAddedTokens) {
  const auto model = bertModel(R"({"[UNK]": 0, "a": 1, "<s>": 2})",
                               R"({"bos_token": "<s>", "fuse_unk": true})", AddedTokens{{"a", 7}});
  EXPECT_EQ(model.convertTokenToId("zzz"), 0);
  EXPECT_EQ(model.convertTokenToId("a"), 7);
  EXPECT_EQ(model.convertIdToToken(7), "a");
  EXPECT_EQ(model.bosTokenId(), 2);
  EXPECT_TRUE(model.fuseUnknownTokens());
  const auto noUnknown = bertModel(R"({"a": 1})");
  EXPECT_EQ(noUnknown.convertTokenToId("zzz"), std::nullopt);
  EXPECT_EQ(noUnknown.tokenize("b"), (Strings{"[UNK]"}));
  const auto withAdded = BertTokenizer(doc("{}"), doc(R"({"model": {"vocab": {"a": 1}},
                         "added_tokens": [{"id": 5, "content": "a"}, {"content": "b"}]})"),
                                       {});
  EXPECT_EQ(withAdded.convertTokenToId("a"), 5);
  EXPECT_EQ(tokenizerErrorOf([] { bertModel("[]"); }).kind(), TokenizerError::Kind::missingVocab);
}

// ---------------------------------------------------------------- Unigram, trie, lattice

TEST(Trie, YieldsStoredPrefixesShortestFirst) {
  Trie<std::string> trie;
  for (const Strings &piece :
       {Strings{"a"}, Strings{"a", "b"}, Strings{"a", "b", "c", "d"}, Strings{"b"}, Strings{}})
    trie.insert(piece);
  const Strings text{"a", "b", "c"};
  EXPECT_EQ(trie.commonPrefixPieces(text.begin(), text.end()), (Strings{"a", "ab"}));
  const Strings other{"c"};
  EXPECT_EQ(trie.commonPrefixPieces(other.begin(), other.end()), Strings{});
}

TEST(TokenLattice, TieGoesToThePieceThatStartsEarliest) {
  TokenLattice lattice("ab", 1, 2);
  lattice.insert(0, 1, -1, 10);
  lattice.insert(0, 2, -2, 12);
  lattice.insert(1, 1, -1, 11);
  const auto path = lattice.viterbi();
  ASSERT_EQ(path.size(), 1u);
  EXPECT_EQ(path[0].tokenId, 12);
  EXPECT_EQ(lattice.bestPathPieces(), (Strings{"ab"}));
  EXPECT_EQ(path[0].description().rfind("TokenLatticeNode(tokenId: 12", 0), 0u);

  TokenLattice gap("ab", 1, 2);
  gap.insert(0, 1, -1, 10);
  EXPECT_TRUE(gap.viterbi().empty()) << "no piece starts at position 1";
}

std::string unigramData(const std::vector<std::pair<std::string, float>> &pieces, int unkId = 0) {
  nlohmann::json vocab = nlohmann::json::array();
  for (const auto &[piece, score] : pieces)
    vocab.push_back({piece, score});
  nlohmann::json data;
  data["model"] = {{"type", "Unigram"}, {"unk_id", unkId}, {"vocab", vocab}};
  return data.dump();
}

UnigramTokenizer unigram(const std::vector<std::pair<std::string, float>> &pieces) {
  return UnigramTokenizer(doc("{}"), doc(unigramData(pieces)), {});
}

TEST(UnigramTokenizer, ScoresAndTies) {
  EXPECT_EQ(unigram({{"<unk>", 0}, {"a", -1}, {"b", -1}, {"ab", -1.5}}).tokenize("ab"),
            (Strings{"ab"}));
  EXPECT_EQ(unigram({{"<unk>", 0}, {"a", -1}, {"b", -1}, {"ab", -2}}).tokenize("ab"),
            (Strings{"ab"}));
  EXPECT_EQ(unigram({{"<unk>", 0}, {"a", -1}, {"b", -1}, {"ab", -2.5}}).tokenize("ab"),
            (Strings{"a", "b"}));
  const auto model = unigram({{"<unk>", 0}, {"a", -1}});
  EXPECT_EQ(model.tokenize(""), Strings{});
  EXPECT_EQ(model.tokenize("xé"), (Strings{"x", "é"}));
  EXPECT_EQ(model.convertTokenToId("x"), 0);
  EXPECT_FLOAT_EQ(model.unknownPiece().score, -11);
  EXPECT_EQ(model.unknownToken(), "<unk>");
}

TEST(UnigramTokenizer, PositionsAreScalars) {
  // "👍🏽" and "e" + U+0301 are one grapheme cluster each; the vocabulary was trained on
  // scalars, so the known scalar is found and only the other one is unknown.
  const auto model = unigram({{"<unk>", 0}, {"👍", -1}, {"e", -1}});
  EXPECT_EQ(model.tokenize("👍🏽"), (Strings{"👍", "🏽"}));
  EXPECT_EQ(model.tokenize("e\u0301"), (Strings{"e", "\u0301"}));
  EXPECT_EQ(model.tokenize("🏽🏽"), (Strings{"🏽", "🏽"}));
}

TEST(UnigramTokenizer, PrefixTreeComparesCharactersAndRefusesOtherSpellings) {
  // U+2126 OHM SIGN is canonically equivalent to U+03A9, which the vocabulary holds: the tree
  // finds the piece, the vocabulary does not hold that spelling.
  const auto model = unigram({{"<unk>", 0}, {"\u03A9", -1}, {"a", -1}});
  EXPECT_EQ(model.tokenize("a\u03A9"), (Strings{"a", "\u03A9"}));
  const TokenizerError error = tokenizerErrorOf([&] { model.tokenize("a\u2126"); });
  EXPECT_EQ(error.kind(), TokenizerError::Kind::mismatchedConfig);
  EXPECT_STREQ(error.what(), "Tokenizer configuration mismatch: Token not in vocab: \u2126");
}

TEST(UnigramTokenizer, ReadsScoresAndSpecialPieces) {
  const UnigramTokenizer model(
      doc(R"({"eos_token": "</s>"})"),
      doc(R"({"model": {"unk_id": 1, "vocab": [["</s>", 3], ["<unk>", 1000.5], [" ", 2000]]}})"),
      {});
  EXPECT_FLOAT_EQ(model.vocab()[0].score, 3.0f);
  EXPECT_FLOAT_EQ(model.minScore(), 3.0f);
  EXPECT_EQ(model.eosTokenId(), 0);
  EXPECT_EQ(model.bosToken(), " ");
  EXPECT_EQ(model.bosTokenId(), 2);
  EXPECT_EQ(model.convertIdToToken(1), "<unk>");
  EXPECT_TRUE(model.fuseUnknownTokens());
  const auto high = unigram({{"<unk>", 1000}, {"a", 2000}});
  EXPECT_FLOAT_EQ(high.minScore(), 999);
  EXPECT_FLOAT_EQ(high.unknownPiece().score, 989);
}

TEST(UnigramTokenizer, OutOfRangeIdHasNoToken) {
  const auto model = unigram({{"<unk>", 0}, {"a", -1}});
  EXPECT_EQ(model.convertIdToToken(2), std::nullopt);
  EXPECT_EQ(model.convertIdToToken(-1), std::nullopt);
}

TEST(UnigramTokenizer, RefusesMalformedVocabularies) {
  struct Case {
    const char *name;
    const char *data;
    TokenizerError::Kind kind;
  };
  const Case cases[] = {
      {"no vocab", R"({"model": {"unk_id": 0}})", TokenizerError::Kind::missingVocab},
      {"vocab not an array", R"({"model": {"unk_id": 0, "vocab": {"a": 1}}})",
       TokenizerError::Kind::missingVocab},
      {"entry not an array", R"({"model": {"unk_id": 0, "vocab": ["a"]}})",
       TokenizerError::Kind::malformedVocab},
      {"score not a number", R"({"model": {"unk_id": 0, "vocab": [["a", "x"]]}})",
       TokenizerError::Kind::malformedVocab},
      {"piece not a string", R"({"model": {"unk_id": 0, "vocab": [[1, 0.5]]}})",
       TokenizerError::Kind::malformedVocab},
      {"no unk_id", R"({"model": {"vocab": [["a", 0.5]]}})", TokenizerError::Kind::malformedVocab},
      {"unk_id past the end", R"({"model": {"unk_id": 1, "vocab": [["a", 0.5]]}})",
       TokenizerError::Kind::malformedVocab},
      {"negative unk_id", R"({"model": {"unk_id": -1, "vocab": [["a", 0.5]]}})",
       TokenizerError::Kind::malformedVocab},
      {"empty vocabulary", R"({"model": {"unk_id": 0, "vocab": []}})",
       TokenizerError::Kind::malformedVocab},
      {"piece listed twice", R"({"model": {"unk_id": 0, "vocab": [["a", 0.5], ["a", 0.1]]}})",
       TokenizerError::Kind::malformedVocab},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(tokenizerErrorOf([&] { UnigramTokenizer(doc("{}"), doc(c.data), {}); }).kind(),
              c.kind);
  }
}

TEST(UnigramTokenizer, VeryLongPieceIsBuiltAndReleased) {
  // The trie holds a piece as a chain of one node per character; releasing it must not
  // recurse once per character.
  {
    const auto model = unigram({{"<unk>", 0}, {"a", -1}, {std::string(50000, 'a'), -2}});
    EXPECT_EQ(model.tokenize("aab"), (Strings{"a", "a", "b"}));
  }
  Trie<char> trie;
  trie.insert(std::string(300000, 'a'));
}

// The best total score over every segmentation the lattice allows: vocabulary pieces, plus a
// one-character unknown piece wherever no one-character vocabulary piece starts.
float bestScoreByBruteForce(const Strings &chars, const std::map<std::string, float> &scores,
                            float unknownScore, std::size_t at, Strings &best, Strings &current,
                            float sum, float &bestSum) {
  if (at == chars.size()) {
    if (best.empty() || sum > bestSum) {
      bestSum = sum;
      best = current;
    }
    return bestSum;
  }
  bool single = false;
  std::string piece;
  for (std::size_t end = at + 1; end <= chars.size(); ++end) {
    piece += chars[end - 1];
    const auto found = scores.find(piece);
    if (found == scores.end())
      continue;
    single = single || end == at + 1;
    current.push_back(piece);
    bestScoreByBruteForce(chars, scores, unknownScore, end, best, current, sum + found->second,
                          bestSum);
    current.pop_back();
  }
  if (!single) {
    current.push_back(chars[at]);
    bestScoreByBruteForce(chars, scores, unknownScore, at + 1, best, current, sum + unknownScore,
                          bestSum);
    current.pop_back();
  }
  return bestSum;
}

TEST(UnigramTokenizer, AgreesWithBruteForceSearch) {
  std::mt19937 random(7);
  const Strings alphabet{"a", "b", "c", "é"};
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Scores are multiples of 1/4, so every sum is exact and ties are real ties.
    std::map<std::string, float> scores;
    std::vector<std::pair<std::string, float>> pieces{{"<unk>", 0}};
    const int count = 3 + static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i) {
      std::string piece;
      const int length = 1 + static_cast<int>(random() % 3);
      for (int k = 0; k < length; ++k)
        piece += alphabet[random() % alphabet.size()];
      const float score = -static_cast<float>(1 + random() % 24) / 4.0f;
      if (scores.emplace(piece, score).second)
        pieces.emplace_back(piece, score);
    }
    const auto model = unigram(pieces);
    for (int t = 0; t < 8; ++t) {
      Strings chars;
      std::string text;
      const int length = static_cast<int>(random() % 7);
      for (int k = 0; k < length; ++k) {
        chars.push_back(alphabet[random() % alphabet.size()]);
        text += chars.back();
      }
      SCOPED_TRACE("text " + text);
      Strings best;
      Strings current;
      float bestSum = 0;
      bestScoreByBruteForce(chars, scores, model.unknownPiece().score, 0, best, current, 0,
                            bestSum);
      const Strings got = model.tokenize(text);
      float gotSum = 0;
      std::string joined;
      for (const auto &piece : got) {
        const auto found = scores.find(piece);
        gotSum += found == scores.end() ? model.unknownPiece().score : found->second;
        joined += piece;
      }
      EXPECT_EQ(joined, text);
      EXPECT_EQ(gotSum, bestSum);
    }
  }
}

} // namespace
} // namespace deduve
