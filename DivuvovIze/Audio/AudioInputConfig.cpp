#include "DivuvovIze/Audio/AudioInputConfig.hpp"

namespace divuvovize {

namespace {

constexpr const char *kSpecificChannel = "specificChannel";
constexpr const char *kSumChannels = "sumChannels";

std::size_t combine(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

} // namespace

Json AudioInputConfig::ChannelMode::toJson() const {
  Json payload = Json::object();
  if (kind_ == Kind::specificChannel) {
    payload["_0"] = channel_;
    return Json{{kSpecificChannel, payload}};
  }
  if (channels_) {
    payload["_0"] = json::writeInts(*channels_);
  }
  return Json{{kSumChannels, payload}};
}

AudioInputConfig::ChannelMode AudioInputConfig::ChannelMode::fromJson(const Json &document,
                                                                      const std::string &path) {
  if (!document.is_object() || document.size() != 1) {
    throw JsonDecodingError(JsonDecodingError::Kind::typeMismatch, path,
                            "Invalid number of keys found, expected one.");
  }
  const auto entry = document.begin();
  const std::string key = entry.key();
  const Json &payload = entry.value();
  const std::string payloadPath = json::joinPath(path, key);
  if (!payload.is_object()) {
    throw JsonDecodingError(JsonDecodingError::Kind::typeMismatch, payloadPath,
                            "Expected an object but found " + json::typeName(payload) + ".");
  }
  const std::string valuePath = json::joinPath(payloadPath, "_0");
  if (key == kSpecificChannel) {
    if (!payload.contains("_0")) {
      throw JsonDecodingError(JsonDecodingError::Kind::keyNotFound, valuePath,
                              "No value associated with key \"_0\".");
    }
    int channel = 0;
    json::read(payload["_0"], valuePath, channel);
    return specificChannel(channel);
  }
  if (key == kSumChannels) {
    if (!payload.contains("_0") || payload["_0"].is_null()) {
      return sumChannels();
    }
    std::vector<int> channels;
    json::read(payload["_0"], valuePath, channels);
    return sumChannels(std::move(channels));
  }
  throw JsonDecodingError(JsonDecodingError::Kind::typeMismatch, path,
                          "Unknown channel mode \"" + key + "\".");
}

Json AudioInputConfig::toJson() const { return Json{{"channelMode", channelMode.toJson()}}; }

AudioInputConfig AudioInputConfig::fromJson(const Json &document, const std::string &path) {
  if (!document.is_object()) {
    throw JsonDecodingError(JsonDecodingError::Kind::typeMismatch, path,
                            "Expected an object but found " + json::typeName(document) + ".");
  }
  const std::string modePath = json::joinPath(path, "channelMode");
  if (!document.contains("channelMode")) {
    throw JsonDecodingError(JsonDecodingError::Kind::keyNotFound, modePath,
                            "No value associated with key \"channelMode\".");
  }
  return AudioInputConfig{ChannelMode::fromJson(document["channelMode"], modePath)};
}

std::size_t hashValue(const AudioInputConfig::ChannelMode &mode) {
  const bool specific = mode.kind() == AudioInputConfig::ChannelMode::Kind::specificChannel;
  std::size_t seed = std::hash<int>{}(specific ? 0 : 1);
  if (specific) {
    return combine(seed, std::hash<int>{}(mode.channel()));
  }
  seed = combine(seed, mode.channels() ? 1 : 0);
  if (mode.channels()) {
    for (int channel : *mode.channels()) {
      seed = combine(seed, std::hash<int>{}(channel));
    }
  }
  return seed;
}

} // namespace divuvovize
