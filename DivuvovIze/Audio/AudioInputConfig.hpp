#pragma once

#include "DivuvovIze/Models/JsonCoding.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace divuvovize {

// How audio with several channels becomes one channel.
struct AudioInputConfig {
  // Either one channel by index, or the sum of a list of channels (all of them when the list
  // is absent or empty), rescaled to the loudest chosen channel's peak.
  class ChannelMode {
  public:
    enum class Kind { specificChannel, sumChannels };

    static ChannelMode specificChannel(int channel) {
      return ChannelMode(Kind::specificChannel, channel, std::nullopt);
    }
    static ChannelMode sumChannels(std::optional<std::vector<int>> channels = std::nullopt) {
      return ChannelMode(Kind::sumChannels, 0, std::move(channels));
    }

    Kind kind() const { return kind_; }
    // The channel of specificChannel (0 for sumChannels).
    int channel() const { return channel_; }
    // The list of sumChannels (absent for specificChannel).
    const std::optional<std::vector<int>> &channels() const { return channels_; }

    // Case and payload equal; two absent lists are equal.
    bool operator==(const ChannelMode &) const = default;

    // {"specificChannel": {"_0": 1}} or {"sumChannels": {"_0": [0, 1]}}; an absent list leaves
    // "_0" out: {"sumChannels": {}}.
    Json toJson() const;
    // Throws JsonDecodingError: typeMismatch "Invalid number of keys found, expected one." for
    // an object with other than one key, or for a wrong payload.
    static ChannelMode fromJson(const Json &document, const std::string &path = "");

  private:
    ChannelMode(Kind kind, int channel, std::optional<std::vector<int>> channels)
        : kind_(kind), channel_(channel), channels_(std::move(channels)) {}

    Kind kind_;
    int channel_;
    std::optional<std::vector<int>> channels_;
  };

  ChannelMode channelMode = ChannelMode::sumChannels(); // all channels summed

  bool operator==(const AudioInputConfig &) const = default;

  // {"channelMode": <mode>}.
  Json toJson() const;
  static AudioInputConfig fromJson(const Json &document, const std::string &path = "");
};

// Hash of the case number, then the payload.
std::size_t hashValue(const AudioInputConfig::ChannelMode &mode);

} // namespace divuvovize

template <> struct std::hash<divuvovize::AudioInputConfig::ChannelMode> {
  std::size_t operator()(const divuvovize::AudioInputConfig::ChannelMode &mode) const {
    return divuvovize::hashValue(mode);
  }
};

template <> struct std::hash<divuvovize::AudioInputConfig> {
  std::size_t operator()(const divuvovize::AudioInputConfig &config) const {
    return divuvovize::hashValue(config.channelMode);
  }
};
