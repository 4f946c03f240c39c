// A file's information whatever the file is: a file on disk, a named pipe
// or a print job; attribute rules and the four times as clients see them.
#include "cspaths.h"

#include "cmtime.h"
#include "csdispatch.h"
#include "syerror.h"

#include <cstring>

namespace {

constexpr uint32_t kKeptAttributes = 0xD8;  // directory, volume, device, normal
constexpr uint32_t kVolume = 0x08;
constexpr uint32_t kListedOnRequest = 0x16;  // hidden, system, directory
// Pinned times: the first 32 bytes of an open name's create state, four
// little-endian FILETIMEs in the SMB order, 0 when not pinned.
constexpr uint32_t kPinnedTimes = 32;

// Everything but the file id.
void zero(SYFileInformation *info)
{
    const uint32_t low = info->fileIdLow, high = info->fileIdHigh;
    std::memset(info, 0, sizeof *info);
    info->fileIdLow = low;
    info->fileIdHigh = high;
}

// A print job's descriptor word holds the job, not a descriptor.
bool hasDescriptor(const CSFile *file) { return file->fd != -1 && !file->isPrintJob; }

// The pinned FILETIME as stored (the open name's create state), else the
// file system's time.
void putFileTime(uint8_t *out, const uint8_t *pinned, const CMUint64 &ms)
{
    bool isPinned = false;
    for (int i = 0; pinned && i < 8; ++i)
        isPinned |= pinned[i] != 0;
    if (isPinned) {
        std::memcpy(out, pinned, 8);
        return;
    }
    uint32_t low, high;
    cmCifsTimeToUTC(ms.low, ms.high, &low, &high);
    for (int i = 0; i < 4; ++i) {
        out[i] = uint8_t(low >> (8 * i));
        out[4 + i] = uint8_t(high >> (8 * i));
    }
}

}  // namespace

extern "C" {

int csCanDeleteFile(const CMWchar *path)
{
    SYFileInformation info;
    if (!path || syGetFileInformationByName(path, &info) != 0)
        return 0;
    return sySetFileInformation(path, -1, &info) == 0 ? 1 : 0;
}

uint32_t csChangeFileAttributes(uint32_t oldAttributes, uint32_t newAttributes)
{
    if (newAttributes == 0)
        return oldAttributes;
    return (oldAttributes & kKeptAttributes) | (newAttributes & ~kKeptAttributes);
}

// Search attributes include: a hidden, system or folder entry is listed
// only when its bit is asked for, plain files always; a volume search
// matches no file. (Read as "only entries with the bit", a search for
// 0x16, what clients send, would list system files alone.)
int csMatchFileAttributes(uint32_t requested, uint32_t attributes)
{
    if (requested & kVolume)
        return 0;
    return (attributes & kListedOnRequest & ~requested) == 0 ? 1 : 0;
}

void csResetFileTimes(CSName *name)
{
    if (name)
        std::memset(name->createState, 0, kPinnedTimes);
}

void csWriteFileTimes(const SYFileInformation *info, const CSName *name, uint8_t *output)
{
    const uint8_t *pinned = name ? name->createState : nullptr;
    auto at = [&](int i) { return pinned ? pinned + 8 * i : nullptr; };
    // The SMB order: creation, last access, last write (the modification
    // time), change.
    putFileTime(output, at(0), info->creationTime);
    putFileTime(output + 8, at(1), info->lastAccessTime);
    putFileTime(output + 16, at(2), info->lastChangeTime);
    putFileTime(output + 24, at(3), info->lastWriteTime);
}

int csGetFileInformationByName(const CSShare *share, const CMWchar *path, SYFileInformation *info)
{
    if (share && (share->isIpc || share->isPrinter)) {
        zero(info);
        return 0;
    }
    return syGetFileInformationByName(path, info);
}

int csGetFileInformation(const CSFile *file, const CMWchar *path, SYFileInformation *info)
{
    if (!file)
        return -1;
    if (hasDescriptor(file))
        return syGetFileInformation(file->fd, path, info) == 0 ? 0 : -1;
    if (file->pipe || file->isPrintJob) {
        zero(info);
        return 0;
    }
    return -1;
}

int csSetFileInformation(const CSFile *file, const CMWchar *path, const SYFileInformation *info)
{
    if (!file)
        return -1;
    if (hasDescriptor(file))
        return sySetFileInformation(path, file->fd, info) == 0 ? 0 : -1;
    return (file->pipe || file->isPrintJob) ? 0 : -1;
}

uint32_t csTruncateFile(CSFile *file, const CMWchar *path, uint32_t lengthLow, uint32_t lengthHigh)
{
    const uint32_t invalid = csErrorReturn(0xC000000Du, 0x005B0002u);
    if (!file || !hasDescriptor(file)) {
        if (!path)
            return invalid;
        const int fd = syOpenFileForReadWrite(path);
        if (fd < 0)
            return invalid;
        const int truncated = syTruncateFile(fd, lengthLow, lengthHigh);
        syCloseFile(fd);
        return truncated == 0 ? 0 : csErrorGetLast();
    }
    if (syTruncateFile(file->fd, lengthLow, lengthHigh) != 0)
        return csErrorGetLast();
    sySeekFileStart(file->fd, 0, 0);
    return 0;
}

}  // extern "C"
