#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace deduve {

// One candidate piece of a lattice. Offsets and lengths count the text's characters as the
// lattice's boundaries cut them (Unicode scalars for the Unigram model).
struct TokenLatticeNode {
  std::int64_t tokenId = 0;
  std::size_t startOffset = 0;
  std::size_t length = 0;
  float score = 0;
  // The chosen predecessor, as an index into the lattice's allNodes(); set by viterbi().
  std::optional<std::size_t> prev;
  float backtraceScore = 0; // best total score of a path ending with this node

  // "TokenLatticeNode(tokenId: 3, startOffset: 0, length: 2, score: -1.5, prev: true,
  // backtraceScore: -1.5)", for logs.
  std::string description() const;
};

// The segmentation lattice of one text: every candidate piece by its start and end
// character position, with a begin node ending at 0 and an end node starting at the count.
// Owns its nodes; predecessor links are indices, so releasing a long path never recurses.
class TokenLattice {
public:
  // `characterBoundaries` are the byte offsets of the text's character boundaries, starting
  // with 0 and ending with text.size() (see graphemeBoundaries); the lattice keeps a copy.
  TokenLattice(std::string_view text, std::vector<std::size_t> characterBoundaries,
               std::int64_t bosTokenId, std::int64_t eosTokenId);
  // Computes the character boundaries itself.
  TokenLattice(std::string_view text, std::int64_t bosTokenId, std::int64_t eosTokenId);

  std::size_t count() const { return boundaries_.size() - 1; }
  const std::vector<TokenLatticeNode> &allNodes() const { return allNodes_; }

  void insert(std::size_t startOffset, std::size_t length, float score, std::int64_t tokenId);

  // The highest-scoring path from the begin node to the end node, in text order, without
  // those two nodes. Among predecessors of equal score the one inserted first wins (the one
  // that starts earliest, when pieces are inserted by start position). Empty when some
  // position cannot be reached.
  std::vector<TokenLatticeNode> viterbi();

  // The pieces of the best path as substrings of the text.
  std::vector<std::string> bestPathPieces();

  std::string piece(const TokenLatticeNode &node) const;

private:
  std::string text_;
  std::vector<std::size_t> boundaries_;
  std::int64_t bosTokenId_;
  std::int64_t eosTokenId_;
  std::vector<TokenLatticeNode> allNodes_;
  std::vector<std::vector<std::size_t>> nodesStartingAt_;
  std::vector<std::vector<std::size_t>> nodesEndingAt_;
};

} // namespace deduve
