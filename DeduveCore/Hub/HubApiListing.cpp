// Reading of the repository listing: an event-driven pass over the answer that keeps only the
// file names.

#include "DeduveCore/Hub/HubApi.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DeduveCore/Support/JsonUtilities.hpp"
#include "platform/net/UrlError.hpp"

namespace deduve {

namespace {

using Json = nlohmann::json;

// Parser events between two looks at the cancellation token: cheap next to the events, and a
// few microseconds apart.
constexpr std::uint64_t kEventsPerCancellationCheck = 4096;

std::string typeName(Json::value_t type) {
  switch (type) {
  case Json::value_t::null:
    return "null";
  case Json::value_t::object:
    return "object";
  case Json::value_t::array:
    return "array";
  case Json::value_t::string:
    return "string";
  case Json::value_t::boolean:
    return "boolean";
  case Json::value_t::binary:
    return "binary";
  default:
    return "number";
  }
}

// Collects {"siblings": [{"rfilename": ...}, ...]} from parser events. Only the root object,
// its last "siblings" array and the entries' last "rfilename" strings are kept; everything
// else is skipped as it streams by. A shape error is remembered and thrown once the text has
// parsed, so text that is not JSON reports its syntax error first, as decoding a parsed
// document does.
class ListingReader final : public nlohmann::json_sax<Json> {
public:
  explicit ListingReader(const platform::CancellationToken &cancellation)
      : cancellation_(cancellation) {}

  bool null() override { return scalar(Json::value_t::null); }
  bool boolean(bool) override { return scalar(Json::value_t::boolean); }
  bool number_integer(number_integer_t) override { return scalar(Json::value_t::number_integer); }
  bool number_unsigned(number_unsigned_t) override {
    return scalar(Json::value_t::number_unsigned);
  }
  bool number_float(number_float_t, const string_t &) override {
    return scalar(Json::value_t::number_float);
  }
  bool binary(binary_t &) override { return scalar(Json::value_t::binary); }
  bool string(string_t &value) override {
    if (!step()) {
      return false;
    }
    if (parentRole() == Role::entry && key_ == "rfilename") {
      entryName_ = std::move(value);
      entryError_ = nullptr;
      return true;
    }
    place(Json::value_t::string);
    return true;
  }
  bool start_object(std::size_t) override { return enter(Json::value_t::object); }
  bool start_array(std::size_t) override { return enter(Json::value_t::array); }
  bool key(string_t &value) override {
    const Role role = parentRole();
    if (role == Role::root || role == Role::entry) {
      key_ = std::move(value);
    }
    return step();
  }
  bool end_object() override { return leave(); }
  bool end_array() override { return leave(); }
  bool parse_error(std::size_t, const std::string &,
                   const nlohmann::detail::exception &error) override {
    throwParseError(error);
  }

  bool cancelled() const { return cancelled_; }

  // The file names, or the error decode() would have thrown for the same document.
  HubApi::SiblingsResponse result() {
    if (rootType_ != Json::value_t::object) {
      throw Json::type_error::create(304, "cannot use at() with " + typeName(rootType_), nullptr);
    }
    if (!siblingsSeen_) {
      throw Json::out_of_range::create(403, "key 'siblings' not found", nullptr);
    }
    if (siblingsError_) {
      std::rethrow_exception(siblingsError_);
    }
    HubApi::SiblingsResponse response;
    response.siblings.reserve(names_.size());
    for (auto &name : names_) {
      response.siblings.push_back({std::move(name)});
    }
    return response;
  }

private:
  // What a container is to the listing.
  enum class Role { root, siblings, entry, skipped };

  Role parentRole() const { return frames_.empty() ? Role::skipped : frames_.back(); }

  bool step() {
    if (++events_ % kEventsPerCancellationCheck == 0 && cancellation_.isCancelled()) {
      cancelled_ = true;
      return false;
    }
    return true;
  }

  bool scalar(Json::value_t type) {
    if (!step()) {
      return false;
    }
    place(type);
    return true;
  }

  // Files a value of `type` where it stands and returns the role it has as a container.
  Role place(Json::value_t type) {
    if (frames_.empty()) {
      rootType_ = type;
      return type == Json::value_t::object ? Role::root : Role::skipped;
    }
    switch (frames_.back()) {
    case Role::root:
      if (key_ != "siblings") {
        return Role::skipped;
      }
      // A repeated key replaces the earlier value.
      siblingsSeen_ = true;
      names_.clear();
      siblingsError_ = nullptr;
      if (type == Json::value_t::array) {
        return Role::siblings;
      }
      siblingsError_ = std::make_exception_ptr(
          Json::type_error::create(302, "type must be array, but is " + typeName(type), nullptr));
      return Role::skipped;
    case Role::siblings:
      if (type == Json::value_t::object) {
        entryName_.reset();
        entryError_ = nullptr;
        return Role::entry;
      }
      failEntry(std::make_exception_ptr(
          Json::type_error::create(304, "cannot use at() with " + typeName(type), nullptr)));
      return Role::skipped;
    case Role::entry:
      if (key_ == "rfilename") {
        entryName_.reset();
        entryError_ = std::make_exception_ptr(Json::type_error::create(
            302, "type must be string, but is " + typeName(type), nullptr));
      }
      return Role::skipped;
    case Role::skipped:
      break;
    }
    return Role::skipped;
  }

  bool enter(Json::value_t type) {
    if (!step() || frames_.size() >= HubApi::SiblingsResponse::kMaximumNesting) {
      return false;
    }
    frames_.push_back(place(type));
    return true;
  }

  bool leave() {
    if (frames_.back() == Role::entry) {
      if (entryName_) {
        names_.push_back(std::move(*entryName_));
      } else if (entryError_) {
        failEntry(entryError_);
      } else {
        failEntry(std::make_exception_ptr(
            Json::out_of_range::create(403, "key 'rfilename' not found", nullptr)));
      }
    }
    frames_.pop_back();
    return step();
  }

  // The first bad entry decides, as in a decoder that stops there.
  void failEntry(std::exception_ptr error) {
    if (!siblingsError_) {
      siblingsError_ = std::move(error);
    }
  }

  const platform::CancellationToken &cancellation_;
  std::uint64_t events_ = 0;
  bool cancelled_ = false;
  std::vector<Role> frames_;
  std::string key_; // the last key of the root object or of the entry being read
  Json::value_t rootType_ = Json::value_t::discarded;
  bool siblingsSeen_ = false;
  std::exception_ptr siblingsError_;
  std::vector<std::string> names_;
  std::optional<std::string> entryName_;
  std::exception_ptr entryError_;
};

} // namespace

HubApi::SiblingsResponse
HubApi::SiblingsResponse::parse(std::string_view text,
                                const platform::CancellationToken &cancellation) {
  if (cancellation.isCancelled()) {
    throw platform::UrlError(platform::UrlError::Code::cancelled);
  }
  ListingReader reader(cancellation);
  if (!Json::sax_parse(text.begin(), text.end(), &reader)) {
    if (reader.cancelled()) {
      throw platform::UrlError(platform::UrlError::Code::cancelled);
    }
    throw nestingLimitError(text, kMaximumNesting);
  }
  return reader.result();
}

} // namespace deduve
