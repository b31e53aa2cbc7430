#pragma once

#include "platform/text/Utf8.hpp"

namespace deduve {

// The tokenizer library's text is UTF-8 throughout; its codec is the platform's, so every layer
// decodes ill-formed bytes the same way.
using platform::appendRepairedUtf8;
using platform::appendUtf8;
using platform::isValidUtf8;
using platform::nextScalar;
using platform::repairUtf8;
using platform::scalarBoundaries;
using platform::toUtf16;
using platform::toUtf8;

} // namespace deduve
