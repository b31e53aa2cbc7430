#include "DeduveCore/Tokenizers/AddedTokenMatcher.hpp"

#include <algorithm>

#include "DeduveCore/Text/Unicode.hpp"
#include "DeduveCore/Text/Utf8.hpp"

namespace deduve {

namespace {

// The scalar that ends just before `offset` (which is a scalar boundary, > 0).
char32_t previousScalar(std::string_view text, std::size_t offset) {
  std::size_t start = offset - 1;
  while (start > 0 && offset - start < 4 &&
         (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
    --start;
  std::size_t at = start;
  const char32_t scalar = nextScalar(text, at);
  return at == offset ? scalar : U'\uFFFD';
}

char32_t scalarAt(std::string_view text, std::size_t offset) { return nextScalar(text, offset); }

// The end of the run of white space that starts at `offset`.
std::size_t endOfWhiteSpace(std::string_view text, std::size_t offset) {
  while (offset < text.size()) {
    std::size_t next = offset;
    if (!isWhiteSpace(nextScalar(text, next)))
      break;
    offset = next;
  }
  return offset;
}

} // namespace

AddedTokenMatcher::AddedTokenMatcher(std::vector<Token> tokens) {
  std::erase_if(tokens, [](const Token &token) { return token.content.empty(); });
  std::vector<std::size_t> lengths;
  lengths.reserve(tokens.size());
  for (const Token &token : tokens)
    lengths.push_back(graphemeCount(token.content));
  std::vector<std::size_t> order(tokens.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  // Longest first; equal lengths keep document order.
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return lengths[a] != lengths[b] ? lengths[a] > lengths[b] : a < b;
  });
  tokens_.reserve(tokens.size());
  for (const std::size_t index : order)
    tokens_.push_back(std::move(tokens[index]));

  nodes_.emplace_back();
  for (std::size_t rank = 0; rank < tokens_.size(); ++rank) {
    const Token &token = tokens_[rank];
    anyLstrip_ = anyLstrip_ || token.lstrip;
    startsToken_[static_cast<unsigned char>(token.content.front())] = true;
    std::uint32_t node = 0;
    for (const char c : token.content) {
      const auto byte = static_cast<unsigned char>(c);
      auto &children = nodes_[node].children;
      auto found =
          std::lower_bound(children.begin(), children.end(), byte,
                           [](const auto &child, unsigned char b) { return child.first < b; });
      if (found == children.end() || found->first != byte) {
        const auto next = static_cast<std::uint32_t>(nodes_.size());
        found = children.insert(found, {byte, next});
        nodes_.emplace_back();
        node = next;
      } else {
        node = found->second;
      }
    }
    // A content listed twice keeps its first (best) rank, as the alternation would.
    if (nodes_[node].token < 0)
      nodes_[node].token = static_cast<std::int32_t>(rank);
  }
}

bool AddedTokenMatcher::singleWordAllows(std::string_view text, std::size_t begin,
                                         std::size_t end) const {
  if (begin > 0 && isWordCharacter(scalarAt(text, begin)) &&
      isWordCharacter(previousScalar(text, begin)))
    return false;
  if (end < text.size() && isWordCharacter(previousScalar(text, end)) &&
      isWordCharacter(scalarAt(text, end)))
    return false;
  return true;
}

bool AddedTokenMatcher::longestRankedAt(std::string_view text, std::size_t at, bool onlyLstrip,
                                        std::int32_t &token, std::size_t &end) const {
  bool found = false;
  std::uint32_t node = 0;
  for (std::size_t q = at; q < text.size(); ++q) {
    const auto byte = static_cast<unsigned char>(text[q]);
    const auto &children = nodes_[node].children;
    const auto child =
        std::lower_bound(children.begin(), children.end(), byte,
                         [](const auto &entry, unsigned char b) { return entry.first < b; });
    if (child == children.end() || child->first != byte)
      break;
    node = child->second;
    const std::int32_t rank = nodes_[node].token;
    if (rank < 0 || (found && rank >= token))
      continue;
    const Token &candidate = tokens_[static_cast<std::size_t>(rank)];
    if (onlyLstrip && !candidate.lstrip)
      continue;
    if (candidate.singleWord && !singleWordAllows(text, at, q + 1))
      continue;
    token = rank;
    end = q + 1;
    found = true;
  }
  return found;
}

void AddedTokenMatcher::findAll(std::string_view text, std::vector<Match> &out) const {
  out.clear();
  if (tokens_.empty())
    return;
  std::size_t position = 0;
  // Before this offset, no white space run holds the start of an lstrip match.
  std::size_t lstripExhaustedUntil = 0;
  while (position < text.size()) {
    bool matched = false;
    for (std::size_t p = position; p < text.size() && !matched; ++p) {
      const auto byte = static_cast<unsigned char>(text[p]);
      std::int32_t token = -1;
      std::size_t tokenBegin = p;
      std::size_t tokenEnd = p;
      bool found = startsToken_[byte] && longestRankedAt(text, p, false, token, tokenEnd);
      // "\s*(token)": a match of an lstrip token may begin at the white space before it.
      if (anyLstrip_ && p >= lstripExhaustedUntil &&
          (byte < 0x80 ? byte <= ' ' || byte == 0x7F : byte >= 0xC0)) {
        std::size_t run = p;
        const std::size_t runEnd = endOfWhiteSpace(text, p);
        bool lstripFound = false;
        while (run < runEnd) {
          nextScalar(text, run);
          std::int32_t candidate = -1;
          std::size_t candidateEnd = 0;
          if (startsToken_[static_cast<unsigned char>(run < text.size() ? text[run] : 0)] &&
              longestRankedAt(text, run, true, candidate, candidateEnd)) {
            lstripFound = true;
            // The best alternative wins; for the same one, the most white space (greedy).
            if (!found || candidate <= token) {
              token = candidate;
              tokenBegin = run;
              tokenEnd = candidateEnd;
              found = true;
            }
          }
        }
        if (!lstripFound)
          lstripExhaustedUntil = runEnd;
      }
      if (!found)
        continue;
      Match match{p, tokenEnd, tokenBegin, tokenEnd};
      if (tokens_[static_cast<std::size_t>(token)].rstrip)
        match.end = endOfWhiteSpace(text, tokenEnd);
      out.push_back(match);
      position = match.end;
      matched = true;
    }
    if (!matched)
      break;
  }
}

void AddedTokenMatcher::split(std::string_view text, std::vector<std::string> &out) const {
  thread_local std::vector<Match> matches;
  findAll(text, matches);
  std::size_t previous = 0;
  for (const Match &match : matches) {
    if (match.begin > previous)
      out.emplace_back(text.substr(previous, match.begin - previous));
    out.emplace_back(text.substr(match.tokenBegin, match.tokenEnd - match.tokenBegin));
    previous = match.end;
  }
  if (previous < text.size())
    out.emplace_back(text.substr(previous));
}

} // namespace deduve
