#pragma once

namespace platform {

// IEEE 754 half precision, the element type of float16 multi-arrays. Conversions to and
// from float are exact where the value is representable and round to nearest otherwise.
using Float16 = _Float16;

} // namespace platform
