#include "DivuvovIze/Decoding/Filters/LogitsMath.hpp"

#include "DivuvovIze/Decoding/Filters/LogitsMathBodies.hpp"
#include "DivuvovIze/Decoding/Filters/LogitsMathSimd.hpp"

namespace divuvovize::logitsmath {
namespace {

// The reductions run once or twice per decoded token over the whole vocabulary; at the
// baseline's four lanes the sampler's normaliser alone took a quarter of a decoder step. The
// best level the CPU offers is taken; all give the same bits.
enum class Level { baseline, avx2, avx512 };

Level level() {
#if defined(__x86_64__) && defined(__GNUC__)
  static const Level chosen = [] {
    const bool fma = __builtin_cpu_supports("fma");
    if (fma && __builtin_cpu_supports("avx512f")) {
      return Level::avx512;
    }
    return fma && __builtin_cpu_supports("avx2") ? Level::avx2 : Level::baseline;
  }();
  return chosen;
#else
  return Level::baseline;
#endif
}

// Two baseline registers per step.
constexpr std::size_t kBaselineWidth = 8;

} // namespace

namespace simd {

float maxValueBaseline(const float *x, std::size_t count) {
  return bodies::maxValueBody<kBaselineWidth>(x, count);
}

MaxEntry maxEntryBaseline(const float *x, std::size_t count) {
  return bodies::maxEntryBody<kBaselineWidth>(x, count);
}

float sumExpBaseline(const float *x, std::size_t count, float scale, float shift) {
  return bodies::sumExpBody<kBaselineWidth>(x, count, scale, shift);
}

} // namespace simd

#if defined(__x86_64__) && defined(__GNUC__)
#define MQ_LOGITS_DISPATCH(name, ...)                                                              \
  switch (level()) {                                                                               \
  case Level::avx512:                                                                              \
    return simd::name##Avx512(__VA_ARGS__);                                                        \
  case Level::avx2:                                                                                \
    return simd::name##Avx2(__VA_ARGS__);                                                          \
  case Level::baseline:                                                                            \
    break;                                                                                         \
  }                                                                                                \
  return simd::name##Baseline(__VA_ARGS__)
#else
#define MQ_LOGITS_DISPATCH(name, ...) return simd::name##Baseline(__VA_ARGS__)
#endif

float maxValue(const float *x, std::size_t count) { MQ_LOGITS_DISPATCH(maxValue, x, count); }

MaxEntry maxEntry(const float *x, std::size_t count) { MQ_LOGITS_DISPATCH(maxEntry, x, count); }

float sumExp(const float *x, std::size_t count, float scale, float shift) {
  MQ_LOGITS_DISPATCH(sumExp, x, count, scale, shift);
}

} // namespace divuvovize::logitsmath
