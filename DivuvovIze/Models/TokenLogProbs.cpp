#include "DivuvovIze/Models/TokenLogProbs.hpp"

#include <algorithm>
#include <map>
#include <stdexcept>

namespace divuvovize {

TokenLogProbs::TokenLogProbs(std::initializer_list<value_type> entries) {
  for (const auto &[token, logProb] : entries) {
    insertOrAssign(token, logProb);
  }
}

TokenLogProbs::const_iterator TokenLogProbs::find(int token) const {
  const auto found = std::lower_bound(
      begin(), end(), token, [](const value_type &entry, int id) { return entry.first < id; });
  return found != end() && found->first == token ? found : end();
}

float TokenLogProbs::at(int token) const {
  const auto found = find(token);
  if (found == end()) {
    throw std::out_of_range("No log-probability for token " + std::to_string(token));
  }
  return found->second;
}

void TokenLogProbs::insertOrAssign(int token, float logProb) {
  if (many_.empty() && (!hasSingle_ || single_.first == token)) {
    single_ = {token, logProb};
    hasSingle_ = true;
    return;
  }
  if (many_.empty()) {
    many_.push_back(single_);
  }
  const auto place =
      std::lower_bound(many_.begin(), many_.end(), token,
                       [](const value_type &entry, int id) { return entry.first < id; });
  if (place != many_.end() && place->first == token) {
    place->second = logProb;
  } else {
    many_.insert(place, {token, logProb});
  }
}

bool TokenLogProbs::operator==(const TokenLogProbs &other) const {
  return std::equal(begin(), end(), other.begin(), other.end());
}

TokenLogProbs TokenLogProbs::fromJson(const Json &document, const std::string &path) {
  std::map<int, float> entries;
  json::read(document, path, entries);
  TokenLogProbs result;
  for (const auto &[token, logProb] : entries) {
    result.insertOrAssign(token, logProb);
  }
  return result;
}

} // namespace divuvovize
