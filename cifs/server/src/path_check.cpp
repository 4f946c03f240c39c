// Client paths confined to their share, through symbolic links too, and
// components matched against the disk without regard to case.
#include "cspaths.h"
#include "file_errors.h"
#include "share_path.h"

#include "cmpath.h"
#include "cmstring.h"
#include "csdispatch.h"
#include "syfiles.h"

#include <array>
#include <climits>
#include <cstring>
#include <vector>

namespace {

using Text = std::vector<CMWchar>;

Text copy(const CMWchar *from, uint32_t n)
{
    Text t(from, from + n);
    t.push_back(0);
    return t;
}

bool isDots(const CMWchar *p, uint32_t n, uint32_t dots)
{
    if (n != dots)
        return false;
    for (uint32_t i = 0; i < n; ++i)
        if (p[i] != '.')
            return false;
    return true;
}

// Every component after the share root, the last one too: a ".." never
// takes the path above the root, wherever it comes.
bool staysInShare(const CMWchar *path, uint32_t length, uint32_t root)
{
    int depth = 0;
    uint32_t i = root;
    while (i < length) {
        while (i < length && path[i] == '/')
            ++i;
        const uint32_t start = i;
        while (i < length && path[i] != '/')
            ++i;
        const uint32_t n = i - start;
        if (n == 0 || isDots(path + start, n, 1))
            continue;
        if (isDots(path + start, n, 2)) {
            if (--depth < 0)
                return false;
        } else {
            ++depth;
        }
    }
    return true;
}

bool exists(const Text &path)
{
    SYFileInformation info;
    return syGetFileInformationByName(path.data(), &info) == 0;
}

// The directory part of path: everything before its slash at end, "/"
// for a slash at the start.
Text directoryOf(const CMWchar *path, uint32_t end) { return end == 0 ? copy(path, 1) : copy(path, end); }

// Where the share's folder ends in a joined path: the share path's length
// without the slashes at its end, which the join drops ("/mnt/disk//" and
// "x" give "/mnt/disk/x"); counted with them, a ".." would go unseen.
uint32_t rootEnd(const CSShare *share, uint32_t given)
{
    if (!share || given != cmWStrlen(share->path))
        return given;
    while (given > 1 && share->path[given - 1] == '/')
        --given;
    return given;
}

bool isShareRoot(const CSShare *share, const CMWchar *path)
{
    return share && cmWStrcmp(share->path, path) == 0;
}

// IPC$ has no folder: its path is empty, so a name on it is a path from the
// file system's root. Only a pipe's name passes: one component, not a dot
// name ("\srvsvc" comes as "/srvsvc").
bool isPipeName(const CMWchar *path)
{
    if (!path)
        return false;
    while (*path == '/')
        ++path;
    const uint32_t n = cmWStrlen(path);
    return n > 0 && !cmWStrchr(path, '/') && !isDots(path, n, 1) && !isDots(path, n, 2);
}

bool hasWildcard(const CMWchar *name)
{
    for (; *name; ++name)
        if (*name == '*' || *name == '?' || *name == '<' || *name == '>' || *name == '"')
            return true;
    return false;
}

// path is the folder itself or something below it; "/" holds everything.
bool isWithin(const char *path, const char *folder)
{
    const size_t n = std::strlen(folder);
    if (n == 1 && folder[0] == '/')
        return true;
    return std::strncmp(path, folder, n) == 0 && (path[n] == '\0' || path[n] == '/');
}

// Absolute, without "." or ".." or empty names: a physical path that starts
// with it proves it physical too, and spares resolving the share's folder.
bool isPlain(const char *folder)
{
    if (folder[0] != '/')
        return false;
    if (folder[1] == '\0')
        return true;
    for (const char *p = folder; *p;) {
        const char *start = ++p;
        while (*p && *p != '/')
            ++p;
        const size_t n = size_t(p - start);
        if (n == 0 || (n == 1 && start[0] == '.') || (n == 2 && start[0] == '.' && start[1] == '.'))
            return false;
    }
    return true;
}

using Wide = std::array<CMWchar, CM_PATH_BUFFER + 1>;
using Physical = std::array<char, PATH_MAX>;

// The share's folder, resolved only when a name does not plainly lead below
// it as written (its path holds a link, or "." and the like). Nothing is
// kept between requests: a disk can be swapped under the same path.
class ShareFolder {
public:
    explicit ShareFolder(const Wide &folder) : wide_(folder) {}
    bool ok() { return syUnicodeToUTF8N(text_.data(), wide_.data(), uint32_t(text_.size())) == 0; }
    bool holds(const char *physical)
    {
        if (!resolved_ && isPlain(text_.data()) && isWithin(physical, text_.data()))
            return true;
        if (!resolved_) {
            resolved_ = true;
            found_ = syResolveName(wide_.data(), text_.data(), uint32_t(text_.size())) >= 0;
        }
        return found_ && isWithin(physical, text_.data());
    }

private:
    const Wide &wide_;
    Physical text_;
    bool resolved_ = false, found_ = false;
};

// Where the name leads on disk, links followed, stays in the share's folder:
// a link on a plugged-in disk to "/" or "/etc" must not hand the router's
// files to every client of the share. Links that stay inside keep working.
bool leadsIntoShare(const CSShare *share, const CMWchar *path, uint32_t root, uint32_t caseSensitive)
{
    if (root == 0 || (share && !cs::hasFolder(share)))
        return true;
    const uint32_t length = cmWStrlen(path);
    Wide folderName{};
    if (length >= folderName.size() || root > length)
        return false;
    std::copy(path, path + root, folderName.begin());
    ShareFolder folder(folderName);
    if (!folder.ok())
        return false;
    Physical target;
    const int whole = syResolveName(path, target.data(), uint32_t(target.size()));
    if (whole < 0 || !folder.holds(target.data()))
        return false;
    if (whole == 1 || caseSensitive)
        return true;
    // Not there as written: the entry an open would take in another case
    // must stay inside as well.
    const CMWchar *slash = cmWStrrchr(path, '/');
    if (!slash || uint32_t(slash - path) < root || !slash[1] || hasWildcard(slash + 1))
        return true;
    const uint32_t at = uint32_t(slash - path);
    Wide other{};
    std::copy(path, path + length, other.begin());
    other[at] = 0;
    if (!csLookupNameCaseless(other.data(), other.data() + at + 1))
        return true;
    other[at] = '/';
    if (cmWStrcmp(other.data(), path) == 0)
        return true;
    return syResolveName(other.data(), target.data(), uint32_t(target.size())) >= 0 && folder.holds(target.data());
}

}  // namespace

namespace cs {

uint32_t refuseWithoutFolder(const CSShare *share)
{
    return share && !hasFolder(share) ? csErrorReturn(0xC0000022u, errDos(5)) : 0;
}

}  // namespace cs

CMWchar *cs::shareLocalPath(CMWchar *path, const CSShare *share, const void *name, uint32_t unicode,
                            uint32_t wildcards)
{
    if (!hasFolder(share))
        return nullptr;
    return cmCifsNtohFilename(path, share->path, name, unicode, wildcards);
}

extern "C" {

int csLookupNameCaseless(const CMWchar *directory, CMWchar *name)
{
    if (!name || !name[0])
        return 0;
    static const CMWchar kCurrent[] = {'.', 0};
    const CMWchar *dir = directory && directory[0] ? directory : kCurrent;
    const uint32_t dirLength = cmWStrlen(dir);
    const uint32_t nameLength = cmWStrlen(name);
    // The name as given first: most clients send the case that is on disk.
    Text full(dir, dir + dirLength);
    if (full.back() != '/')
        full.push_back('/');
    full.insert(full.end(), name, name + nameLength);
    full.push_back(0);
    if (exists(full))
        return 1;
    SYDirectory handle = nullptr;
    const CMWchar *entry = nullptr;
    int found = 0;
    if (syFirstDirectoryFile(dir, &handle, &entry) == 0) {
        for (; entry; syNextDirectoryFile(handle, &entry)) {
            if (cmWStrlen(entry) == nameLength && cmWStricmp(entry, name) == 0) {
                cmWStrcpy(name, entry);
                found = 1;
                break;
            }
        }
    }
    if (handle)
        syCloseDirectory(handle);
    return found;
}

int csCheckPath(const CSShare *share, CMWchar *path, uint32_t shareRootLength, uint32_t caseSensitive)
{
    if (share && share->isIpc)
        return isPipeName(path) ? 1 : 0;
    if (!path)
        return 0;
    shareRootLength = rootEnd(share, shareRootLength);
    const uint32_t length = cmWStrlen(path);
    if (length < shareRootLength)
        return 0;
    if (!staysInShare(path, length, shareRootLength))
        return 0;
    const CMWchar *slash = cmWStrrchr(path, '/');
    if (!slash || uint32_t(slash - path) < shareRootLength)
        return 1;
    const uint32_t last = uint32_t(slash - path);

    if (caseSensitive) {
        Text directory = directoryOf(path, last);
        SYDirectory handle = syOpenDirectory(directory.data());
        if (!handle)
            return 0;
        syCloseDirectory(handle);
        return leadsIntoShare(share, path, shareRootLength, 1) ? 1 : 0;
    }
    // Each directory component in turn, against the case on disk.
    uint32_t i = shareRootLength;
    while (i < last) {
        while (i < last && path[i] == '/')
            ++i;
        const uint32_t start = i;
        while (i < last && path[i] != '/')
            ++i;
        if (i == start)
            continue;
        Text directory = directoryOf(path, start > 0 ? start - 1 : 0);
        Text name = copy(path + start, i - start);
        if (!csLookupNameCaseless(directory.data(), name.data()))
            return 0;
        std::copy(name.begin(), name.end() - 1, path + start);
    }
    return leadsIntoShare(share, path, shareRootLength, 0) ? 1 : 0;
}

int csCheckFile(const CSShare *share, CMWchar *path, uint32_t caseSensitive)
{
    if (share && (share->isIpc || share->isPrinter))
        return 1;
    if (!path || !path[0])
        return 0;
    if (!caseSensitive && !isShareRoot(share, path)) {
        CMWchar *slash = cmWStrrchr(path, '/');
        if (!slash)
            return csLookupNameCaseless(nullptr, path);
        const uint32_t at = uint32_t(slash - path);
        Text directory = directoryOf(path, at);
        return csLookupNameCaseless(directory.data(), slash + 1);
    }
    SYFileInformation info;
    return syGetFileInformationByName(path, &info) == 0 ? 1 : 0;
}

int csCheckPathAndFile(const CSShare *share, CMWchar *path, uint32_t shareRootLength, uint32_t caseSensitive)
{
    if (share && share->isIpc)
        return isPipeName(path) ? 1 : 0;
    if (!path)
        return 0;
    if (caseSensitive) {
        // Confined all the same: the exact path must not climb out either.
        shareRootLength = rootEnd(share, shareRootLength);
        if (!staysInShare(path, cmWStrlen(path), shareRootLength))
            return 0;
        SYFileInformation info;
        if (syGetFileInformationByName(path, &info) != 0)
            return 0;
        return leadsIntoShare(share, path, shareRootLength, 1) ? 1 : 0;
    }
    return csCheckPath(share, path, shareRootLength, 0) && csCheckFile(share, path, 0);
}

int csCheckShareMapping(const CSShare *share)
{
    if (!share)
        return 0;
    if (share->isIpc || share->isPrinter)
        return 1;
    static const CMWchar kRoot[] = {'/', 0};
    SYFileInformation info;
    return syGetFileInformationByName(share->path[0] ? share->path : kRoot, &info) == 0 ? 1 : 0;
}

}  // extern "C"
