#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace deduve {

// A node of a prefix tree over sequences of `Element`s.
template <typename Element> struct TrieNode {
  bool isLeaf = false; // a stored sequence ends here
  std::map<Element, std::unique_ptr<TrieNode>, std::less<>> children;

  TrieNode() = default;
  TrieNode(const TrieNode &) = delete;
  TrieNode &operator=(const TrieNode &) = delete;
  // A stored sequence is a chain of nodes as deep as it is long, and a vocabulary may hold a
  // piece of any length: the subtree is taken apart through a work list, so that releasing it
  // never recurses deeper than one node.
  ~TrieNode() {
    std::vector<std::unique_ptr<TrieNode>> pending;
    const auto detachChildren = [&pending](TrieNode &node) {
      for (auto &entry : node.children)
        if (entry.second)
          pending.push_back(std::move(entry.second));
    };
    detachChildren(*this);
    while (!pending.empty()) {
      std::unique_ptr<TrieNode> node = std::move(pending.back());
      pending.pop_back();
      detachChildren(*node);
    }
  }
};

// Iterates the stored sequences that are prefixes of a text, shortest first. The text is
// read one element at a time through [next, end); the root is never yielded, so an empty
// sequence never matches.
//
// Borrows the trie and the text: both must outlive the iterator.
template <typename Element, typename InputIt> class LeavesWithCommonPrefixIterator {
public:
  LeavesWithCommonPrefixIterator(const TrieNode<Element> &root, InputIt begin, InputIt end)
      : node_(&root), next_(begin), end_(end) {}

  // The next stored prefix, or nullptr when there is none. The returned sequence stays valid
  // until the next call.
  const std::vector<Element> *next() {
    while (node_ != nullptr && next_ != end_) {
      const auto &element = *next_;
      ++next_;
      seq_.push_back(Element(element));
      const auto child = node_->children.find(seq_.back());
      node_ = child == node_->children.end() ? nullptr : child->second.get();
      if (node_ != nullptr && node_->isLeaf)
        return &seq_;
    }
    node_ = nullptr;
    return nullptr;
  }

private:
  const TrieNode<Element> *node_;
  InputIt next_;
  InputIt end_;
  std::vector<Element> seq_;
};

// A prefix tree of element sequences. Built once, then only read: safe to share between
// threads after the last insert.
template <typename Element> class Trie {
public:
  const TrieNode<Element> &root() const { return root_; }

  template <typename Range> void insert(const Range &sequence) {
    TrieNode<Element> *node = &root_;
    for (const auto &element : sequence) {
      auto &child = node->children[Element(element)];
      if (!child)
        child = std::make_unique<TrieNode<Element>>();
      node = child.get();
    }
    node->isLeaf = true;
  }

  // The stored sequences that are prefixes of [begin, end), shortest first.
  template <typename InputIt>
  LeavesWithCommonPrefixIterator<Element, InputIt> commonPrefixSearch(InputIt begin,
                                                                      InputIt end) const {
    return LeavesWithCommonPrefixIterator<Element, InputIt>(root_, begin, end);
  }

  // The same, each prefix joined into one string (for string-like elements).
  template <typename InputIt>
  std::vector<std::string> commonPrefixPieces(InputIt begin, InputIt end) const {
    std::vector<std::string> pieces;
    auto it = commonPrefixSearch(begin, end);
    while (const auto *seq = it.next()) {
      std::string piece;
      for (const auto &element : *seq)
        piece += element;
      pieces.push_back(std::move(piece));
    }
    return pieces;
  }

private:
  TrieNode<Element> root_;
};

} // namespace deduve
