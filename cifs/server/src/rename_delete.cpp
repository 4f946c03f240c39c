// Renames with wildcards, and the deletes of the SMB1 DELETE command.
#include "rename.h"
#include "cscreate.h"
#include "cspaths.h"
#include "csservices.h"
#include "file_errors.h"
#include "cmmemory.h"
#include "cmstring.h"
#include "csdispatch.h"

#include <memory>

using cs::errDos;

namespace {

constexpr uint32_t kRemoved = 2, kRenamedOld = 4, kRenamedNew = 5, kFilterNames = 3;
constexpr uint32_t kLongestDestination = 512;

// Cancels the process-wide walk on every way out.
struct DefaultWalk {
    ~DefaultWalk() { csCancelDefaultEnumeration(); }
};

struct EnumerationDeleter {
    void operator()(CSEnumeration *e) const
    {
        csCancelEnumeration(e);
        cmMemoryFreeNonDebug(e);
    }
};

uint32_t caseSensitiveOf(const CSUser *user) { return user ? user->compatibility[0] : 0; }

}  // namespace

namespace cs {

bool isDotEntry(const CMWchar *path)
{
    const CMWchar *slash = cmWStrrchr(path, '/');
    const CMWchar *last = slash ? slash + 1 : path;
    return last[0] == '.' && (last[1] == 0 || (last[1] == '.' && last[2] == 0));
}

uint32_t renameFile(const CSUser *user, const CSShare *share, uint32_t, uint32_t attributes, CMWchar *oldPath,
                    CMWchar *newPath, bool replace)
{
    if (!oldPath || !newPath)
        return csErrorReturn(0xC000003Au, errDos(3));
    if (cmWStrcmp(oldPath, newPath) == 0)
        return 0;
    if (uint32_t refusal = cs::refuseWithoutFolder(share))
        return refusal;
    uint32_t rootLength = share ? cmWStrlen(share->path) : 0;
    uint32_t caseSensitive = caseSensitiveOf(user);
    if (!csCheckPath(share, oldPath, rootLength, caseSensitive) ||
        !csCheckPath(share, newPath, rootLength, caseSensitive))
        return csErrorReturn(0xC000003Au, errDos(3));
    if (csEnumerateSourceAndDestinationName(oldPath, newPath, attributes) != 0)
        return csErrorReturn(0xC0000033u, errDos(123));
    DefaultWalk walk;
    uint32_t renamed = 0;
    const CMWchar *source = nullptr, *destination = nullptr;
    while (csNextSourceAndDestinationName(&source, &destination)) {
        // "." and ".." of a wildcard walk are the folder itself.
        if (isDotEntry(source))
            continue;
        if (!user || !user->session)
            return csErrorReturn(0xC000003Au, errDos(3));
        if (user->session->dialect == CS_DIALECT_SMB1) {
            // Every handle on the name must let others delete, not only the
            // first.
            const CSName *open = csGetNameByName(source);
            for (const CSFile *f = open ? open->first : nullptr; f; f = f->next)
                if (!(f->access & CS_MODE_SHARE_DELETE))
                    return csErrorReturn(0xC0000005u, errDos(12));
        }
        SYFileInformation info;
        if (syGetFileInformationByName(source, &info) != 0)
            return csErrorGetLast();
        if (!csMatchFileAttributes(attributes, info.attributes))
            continue;
        SYFileInformation existing;
        bool sameName = cmWStricmp(source, destination) == 0;
        if (!sameName && syGetFileInformationByName(destination, &existing) == 0) {
            if (!replace)
                return csErrorReturn(0xC0000035u, errDos(183));
            // An open destination is not pulled from under its handles.
            if (csGetNameByName(destination))
                return csErrorReturn(0xC0000022u, errDos(5));
        }
        if (cmWStrlen(destination) >= kLongestDestination)
            return csErrorReturn(0xC0000106u, errDos(123));
        if (csFileMarkedForDeletion(source))
            return csErrorReturn(0xC000000Fu, errDos(2));
        if (syRenameFile(source, destination) != 0)
            return csErrorGetLast();
        csNotifyImmediatelly(source, kRenamedOld, kFilterNames);
        csNotifyImmediatelly(destination, kRenamedNew, kFilterNames);
        ++renamed;
    }
    return renamed ? 0 : csErrorReturn(0xC000000Fu, errDos(2));
}

}  // namespace cs

extern "C" {

uint32_t csRenameFile(const CSUser *user, const CSShare *share, uint32_t unicode, uint32_t attributes,
                      CMWchar *oldPath, CMWchar *newPath)
{
    return cs::renameFile(user, share, unicode, attributes, oldPath, newPath, false);
}

uint32_t csDeleteMatchingFiles(const CSShare *, CMWchar *path, uint32_t attributes)
{
    std::unique_ptr<CSEnumeration, EnumerationDeleter> walk(
        static_cast<CSEnumeration *>(cmMemoryAllocNonDebug(sizeof(CSEnumeration))));
    if (!walk)
        return csErrorReturn(0xC0000017u, errDos(8));
    *walk = CSEnumeration{};
    if (!path || csEnumerateSourceName(walk.get(), path, attributes) != 0)
        return csErrorReturn(0xC0000033u, errDos(123));
    uint32_t deleted = 0;
    while (const CMWchar *match = csNextSourceName(walk.get())) {
        if (cs::isDotEntry(match))
            continue;
        if (csGetNameByName(match))
            return csErrorReturn(0xC0000022u, errDos(5));
        SYFileInformation info;
        if (syGetFileInformationByName(match, &info) != 0)
            return csErrorGetLast();
        if (info.attributes & (SY_ATTR_READONLY | SY_ATTR_DIRECTORY))
            return csErrorReturn(0xC0000022u, errDos(5));
        if (!csMatchFileAttributes(attributes, info.attributes))
            continue;
        if (!csFileMarkedForDeletion(match)) {
            if (syDeleteFile(match) != 0)
                return csErrorGetLast();
            csNotifyImmediatelly(match, kRemoved, kFilterNames);
        }
        ++deleted;
    }
    return deleted ? 0 : csErrorReturn(0xC000000Fu, errDos(2));
}

}  // extern "C"
