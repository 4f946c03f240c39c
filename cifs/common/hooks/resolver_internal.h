// Internal: what the resolver's lookups and the controller cache share.
#pragma once

#include "cmtypes.h"

namespace cm {

// Seconds of the resolver's clock (monotonic, or the test's).
uint32_t resolverNow();

}  // namespace cm
