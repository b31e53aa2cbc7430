#include "DeduveCore/Tokenizers/TokenLattice.hpp"

#include <algorithm>
#include <sstream>

#include "DeduveCore/Text/Unicode.hpp"

namespace deduve {

std::string TokenLatticeNode::description() const {
  std::ostringstream out;
  out << "TokenLatticeNode(tokenId: " << tokenId << ", startOffset: " << startOffset
      << ", length: " << length << ", score: " << score << ", prev: " << (prev ? "true" : "false")
      << ", backtraceScore: " << backtraceScore << ")";
  return out.str();
}

TokenLattice::TokenLattice(std::string_view text, std::int64_t bosTokenId, std::int64_t eosTokenId)
    : TokenLattice(
          text,
          [&] {
            std::vector<std::size_t> boundaries;
            graphemeBoundaries(text, boundaries);
            return boundaries;
          }(),
          bosTokenId, eosTokenId) {}

TokenLattice::TokenLattice(std::string_view text, std::vector<std::size_t> characterBoundaries,
                           std::int64_t bosTokenId, std::int64_t eosTokenId)
    : text_(text), boundaries_(std::move(characterBoundaries)), bosTokenId_(bosTokenId),
      eosTokenId_(eosTokenId) {
  if (boundaries_.empty())
    boundaries_.push_back(0);
  const std::size_t n = count();
  nodesStartingAt_.resize(n + 1);
  nodesEndingAt_.resize(n + 1);
  allNodes_.push_back(TokenLatticeNode{bosTokenId_, 0, 0, 0, std::nullopt, 0});
  allNodes_.push_back(TokenLatticeNode{eosTokenId_, n, 0, 0, std::nullopt, 0});
  nodesEndingAt_[0].push_back(0);
  nodesStartingAt_[n].push_back(1);
}

void TokenLattice::insert(std::size_t startOffset, std::size_t length, float score,
                          std::int64_t tokenId) {
  const std::size_t index = allNodes_.size();
  allNodes_.push_back(TokenLatticeNode{tokenId, startOffset, length, score, std::nullopt, 0});
  nodesStartingAt_.at(startOffset).push_back(index);
  nodesEndingAt_.at(startOffset + length).push_back(index);
}

std::vector<TokenLatticeNode> TokenLattice::viterbi() {
  const std::size_t n = count();
  if (nodesStartingAt_[0].empty())
    return {};
  for (std::size_t i = 0; i <= n; ++i) {
    for (const std::size_t d : nodesStartingAt_[i]) {
      TokenLatticeNode &node = allNodes_[d];
      node.prev.reset();
      const auto &predecessors = nodesEndingAt_[i];
      if (predecessors.empty())
        continue;
      std::size_t best = predecessors.front();
      float bestScore = node.score + allNodes_[best].backtraceScore;
      for (std::size_t k = 1; k < predecessors.size(); ++k) {
        const float candidate = node.score + allNodes_[predecessors[k]].backtraceScore;
        if (candidate > bestScore) {
          best = predecessors[k];
          bestScore = candidate;
        }
      }
      node.prev = best;
      node.backtraceScore = bestScore;
    }
    if (i < n && nodesStartingAt_[i + 1].empty())
      return {};
  }

  std::vector<TokenLatticeNode> path;
  std::optional<std::size_t> current = allNodes_[nodesStartingAt_[n].front()].prev;
  while (current && allNodes_[*current].prev) {
    path.push_back(allNodes_[*current]);
    current = allNodes_[*current].prev;
  }
  std::reverse(path.begin(), path.end());
  return path;
}

std::string TokenLattice::piece(const TokenLatticeNode &node) const {
  const std::size_t begin = boundaries_.at(node.startOffset);
  const std::size_t end = boundaries_.at(node.startOffset + node.length);
  return text_.substr(begin, end - begin);
}

std::vector<std::string> TokenLattice::bestPathPieces() {
  std::vector<std::string> pieces;
  for (const auto &node : viterbi())
    pieces.push_back(piece(node));
  return pieces;
}

} // namespace deduve
