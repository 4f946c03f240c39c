// A file's information whatever the file is: a file on disk, a named pipe
// or a print job; attribute rules and the four times as clients see them.
#include "cspath.h"

#include "cmtime.h"
#include "csdispatch.h"
#include "syerror.h"

#include <cstring>

namespace {

constexpr uint32_t kKeptAttributes = 0xD8;  // directory, volume, device, normal
constexpr uint32_t kHidden = 0x02, kSystem = 0x04, kVolume = 0x08;

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

void putFileTime(uint8_t *out, const CMUint64 &pinned, const CMUint64 &ms)
{
    uint32_t low = pinned.low, high = pinned.high;
    if (low == 0 && high == 0)
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

int csMatchFileAttributes(uint32_t requested, uint32_t attributes)
{
    if (requested & kVolume)
        return 0;
    if ((requested & kSystem) && !(attributes & kSystem))
        return 0;
    if (requested & kHidden)
        return (attributes & kHidden) ? 1 : 0;
    return 1;
}

void csResetFileTimes(CSName *name)
{
    if (name)
        std::memset(name->pinnedTimes, 0, sizeof name->pinnedTimes);
}

void csWriteFileTimes(const SYFileInformation *info, const CSName *name, uint8_t *output)
{
    static const CMUint64 kNone[4] = {};
    const CMUint64 *pinned = name ? name->pinnedTimes : kNone;
    // The SMB order: creation, last access, last write (the modification
    // time), change.
    putFileTime(output, pinned[0], info->creationTime);
    putFileTime(output + 8, pinned[1], info->lastAccessTime);
    putFileTime(output + 16, pinned[2], info->lastChangeTime);
    putFileTime(output + 24, pinned[3], info->lastWriteTime);
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
