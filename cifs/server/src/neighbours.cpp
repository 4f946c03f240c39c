// Least versions of what the database calls of its neighbours (pipes,
// change notification, path checks); each neighbour replaces its
// own when it is linked in.
#include "csservices.h"

extern "C" {

__attribute__((weak)) int csDcerpcClosePipe(CSFile *) { return 0; }

__attribute__((weak)) void csNotifyImmediatelly(const CMWchar *, uint32_t, uint32_t) {}

__attribute__((weak)) int csCheckFile(const CMWchar *path, uint32_t)
{
    SYFileInformation info;
    return path && syGetFileInformationByName(path, &info) == 0 ? 1 : 0;
}

}  // extern "C"
