#pragma once

#include "DeduveCore/Hub/ModelState.hpp"

namespace divuvovize {

// The engine reports the hub's model life-cycle states unchanged.
using deduve::ModelState;

} // namespace divuvovize
