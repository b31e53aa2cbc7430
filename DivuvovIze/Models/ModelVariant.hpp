#pragma once

#include <array>
#include <ostream>
#include <string_view>

namespace divuvovize {

// Model sizes of the speech models, smallest first.
enum class ModelVariant {
  tiny,
  tinyEn,
  base,
  baseEn,
  small,
  smallEn,
  medium,
  mediumEn,
  large,
  largev2,
  largev3,
};

inline constexpr std::array<ModelVariant, 11> allModelVariants{
    ModelVariant::tiny,  ModelVariant::tinyEn,  ModelVariant::base,   ModelVariant::baseEn,
    ModelVariant::small, ModelVariant::smallEn, ModelVariant::medium, ModelVariant::mediumEn,
    ModelVariant::large, ModelVariant::largev2, ModelVariant::largev3};

// "tiny", "tiny.en", "base", "base.en", "small", "small.en", "medium", "medium.en", "large",
// "large-v2", "large-v3".
std::string_view description(ModelVariant variant);
// False exactly for the four English-only variants.
bool isMultilingual(ModelVariant variant);
std::ostream &operator<<(std::ostream &out, ModelVariant variant);

} // namespace divuvovize
