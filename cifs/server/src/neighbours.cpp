// Least versions of what the database calls of its neighbours (change
// notification); each neighbour replaces its own when it is linked in.
#include "csservices.h"

extern "C" {

__attribute__((weak)) void csNotifyImmediatelly(const CMWchar *, uint32_t, uint32_t) {}

}  // extern "C"
