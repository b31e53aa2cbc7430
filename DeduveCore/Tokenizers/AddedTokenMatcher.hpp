#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace deduve {

// Finds a tokenizer's added tokens in a text: the literal search that cuts them out before any
// other stage sees the text. One prefix tree over the tokens' bytes is walked only where a
// token can begin, so the cost per byte of text is a table lookup however many tokens there
// are.
//
// The matches are those of the alternation "\s*(token)\s*" (white space only on the sides
// whose strip flag is set) over all tokens, longest token (in grapheme clusters) first, equal
// lengths in document order: the leftmost match wins, and among matches at one place the
// earlier alternative; strip white space is taken greedily. A single-word token matches only
// where it does not continue a word: when it begins (ends) with a word character, the
// character before (after) it is not one.
//
// Immutable after construction; safe to use from several threads at once.
class AddedTokenMatcher {
public:
  struct Token {
    std::string content; // not empty
    bool lstrip = false;
    bool rstrip = false;
    bool singleWord = false;
  };

  // `tokens` in document order; empty contents are skipped (they would match everywhere).
  explicit AddedTokenMatcher(std::vector<Token> tokens);

  bool empty() const { return tokens_.empty(); }
  std::size_t size() const { return tokens_.size(); }

  // One match: `begin`..`end` is all that the match consumes (strip white space included),
  // `tokenBegin`..`tokenEnd` the token itself; byte offsets.
  struct Match {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t tokenBegin = 0;
    std::size_t tokenEnd = 0;
  };

  // The successive non-overlapping matches in `text`, left to right. Replaces `out`.
  void findAll(std::string_view text, std::vector<Match> &out) const;

  // The text cut at the matches: the non-empty text between matches is a piece, each match
  // contributes its token without the strip white space. Appends to `out`; an empty text
  // gives no pieces.
  void split(std::string_view text, std::vector<std::string> &out) const;

private:
  struct Node {
    std::vector<std::pair<unsigned char, std::uint32_t>> children; // sorted by byte
    std::int32_t token = -1; // the best-ranked token ending here, -1 for none
  };

  // The best-ranked token that starts at `at` (among those allowed), and its end.
  bool longestRankedAt(std::string_view text, std::size_t at, bool onlyLstrip, std::int32_t &token,
                       std::size_t &end) const;
  bool singleWordAllows(std::string_view text, std::size_t begin, std::size_t end) const;

  std::vector<Token> tokens_; // by rank: alternation order
  std::vector<Node> nodes_;   // nodes_[0] is the root
  bool startsToken_[256] = {};
  bool anyLstrip_ = false;
};

} // namespace deduve
