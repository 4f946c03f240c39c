// Buffer manager: the server's 64 KiB message buffers are allocated once and
// recycled through a repository instead of going to the heap per request.
#include "cmbuffer.h"
#include "cmlist.h"

namespace {

constexpr uint32_t kItemSize = 65860;
// The buffer starts 8 bytes into the item; the word in front of it names the
// repository it came from.
constexpr uint32_t kLead = 8;
constexpr uint32_t kPreallocated = 5;
static_assert(kItemSize - kLead == CM_BUFMAN_MAX_SIZE, "usable size");
static_assert(sizeof(CMRepository *) <= kLead, "owner word fits in front of the buffer");

CMRepository g_buffers;

}  // namespace

extern "C" {

int cmBufManStart(void)
{
    cmRepositoryInit(&g_buffers, 0, nullptr, nullptr);
    cmRepositoryItemPoolAlloc(&g_buffers, kPreallocated, kItemSize);
    return 1;
}

uint8_t *cmBufManTake(uint32_t size)
{
    if (size > CM_BUFMAN_MAX_SIZE)
        return nullptr;
    auto *data = static_cast<uint8_t *>(cmRepositoryGetNewItem(&g_buffers));
    if (!data)
        return nullptr;
    uint8_t *buffer = data + kLead;
    reinterpret_cast<CMRepository **>(buffer)[-1] = &g_buffers;
    return buffer;
}

void cmBufManGive(uint8_t *buffer)
{
    if (!buffer)
        return;
    CMRepository *owner = reinterpret_cast<CMRepository **>(buffer)[-1];
    cmRepositoryReleaseItem(owner, buffer - kLead);
}

void cmBufManShutdown(void) { cmRepositoryShutdown(&g_buffers); }

}  // extern "C"
