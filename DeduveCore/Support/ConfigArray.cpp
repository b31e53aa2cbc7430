#include "DeduveCore/Support/Config.hpp"

namespace deduve {

Config::Array::Array() : elements_(std::make_shared<const std::vector<Config>>()) {}

Config::Array::Array(std::vector<Config> elements)
    : elements_(std::make_shared<const std::vector<Config>>(std::move(elements))) {}

std::size_t Config::Array::size() const { return elements_->size(); }

const Config &Config::Array::at(std::size_t position) const { return elements_->at(position); }

const Config &Config::Array::operator[](std::size_t position) const {
  return (*elements_)[position];
}

const std::vector<Config> &Config::Array::elements() const { return *elements_; }

std::vector<Config>::const_iterator Config::Array::begin() const { return elements_->begin(); }

std::vector<Config>::const_iterator Config::Array::end() const { return elements_->end(); }

} // namespace deduve
