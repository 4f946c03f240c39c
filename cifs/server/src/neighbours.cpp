// Least versions of what the database calls of its neighbours (change
// notification, path checks, pipes); each neighbour replaces its own when it
// is linked in.
#include "csservices.h"

extern "C" {

__attribute__((weak)) void csNotifyImmediatelly(const CMWchar *, uint32_t, uint32_t) {}

// No RPC interfaces yet: no pipe name is known.
__attribute__((weak)) int csDcerpcOpenPipe(const CMWchar *, CSFile *) { return 0; }

__attribute__((weak)) int csDcerpcGetPipeInformation(CSFile *, SYFileInformation *info)
{
    info->allocationSize = CMUint64{0x10050, 0};
    info->endOfFile = CMUint64{0, 0};
    info->attributes = 0;
    info->reserved = 1;
    info->isDirectory = 1;
    return 0;
}

}  // extern "C"
