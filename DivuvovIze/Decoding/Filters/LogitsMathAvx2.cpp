// Compiled with -mavx2 -mfma -ffp-contract=off (see the decoding library's CMakeLists.txt).
// Include nothing that instantiates inline library code here: such code would be built for this
// instruction set and could be picked by the linker for callers on CPUs without it.

#include "DivuvovIze/Decoding/Filters/LogitsMathBodies.hpp"
#include "DivuvovIze/Decoding/Filters/LogitsMathSimd.hpp"

namespace divuvovize::logitsmath::simd {

float maxValueAvx2(const float *x, std::size_t count) { return bodies::maxValueBody<8>(x, count); }

MaxEntry maxEntryAvx2(const float *x, std::size_t count) {
  return bodies::maxEntryBody<8>(x, count);
}

float sumExpAvx2(const float *x, std::size_t count, float scale, float shift) {
  return bodies::sumExpBody<8>(x, count, scale, shift);
}

} // namespace divuvovize::logitsmath::simd
