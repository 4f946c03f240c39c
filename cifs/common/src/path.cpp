// SMB path names (backslashes, relative to a share) to local paths.
#include "cmpath.h"
#include "cmmemory.h"
#include "cmstring.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

namespace {

CMWchar *g_pipePrefix;
const CMWchar kPipePrefix[] = {'\\', 'P', 'I', 'P', 'E', '\\', 0};
constexpr uint32_t kPipePrefixLen = 6;

bool isWildcard(CMWchar c)
{
    return c == '*' || c == '?' || c == '<' || c == '>' || c == '"' || c == '\\' || c == '/';
}

}  // namespace

extern "C" {

int cmCifsInit(void)
{
    g_pipePrefix = cmMemoryCloneWStringNonDebug(kPipePrefix);
    if (!g_pipePrefix) {
        errno = CM_ERR_NOMEM;
        return -1;
    }
    return 0;
}

void cmCifsExit(void)
{
    cmMemoryFreeNonDebug(g_pipePrefix);
    g_pipePrefix = nullptr;
}

void cmCifsHtonFilename(CMWchar *wpath)
{
    for (CMWchar *p = cmWStrchr(wpath, '/'); p; p = cmWStrchr(p + 1, '/'))
        *p = '\\';
}

CMWchar *cmCifsExtractFilenameFromFullName(CMWchar *wpath)
{
    CMWchar *slash = cmWStrrchr(wpath, '/');
    return slash ? slash + 1 : wpath;
}

}  // extern "C"

namespace {

CMWchar *ntohFilename(CMWchar *out, const CMWchar *sharePath, const void *name, int nameIsUnicode,
                      int allowWildcards)
{
    uint32_t n = sharePath ? cmWStrlen(sharePath) : 0;
    uint32_t nameLen = nameIsUnicode ? cmWStrlen(static_cast<const CMWchar *>(name))
                                     : (uint32_t)std::strlen(static_cast<const char *>(name));
    if (n + nameLen >= CM_PATH_BUFFER)
        return nullptr;

    std::vector<CMWchar> path(CM_PATH_BUFFER + 1, 0);
    if (nameIsUnicode)
        cmWStrncpy(path.data(), static_cast<const CMWchar *>(name), nameLen + 1);
    else
        cmAnsiToUnicode(path.data(), static_cast<const char *>(name));
    // The name gets what room the share path and one separator leave.
    uint32_t room = n < CM_PATH_BUFFER - 2 ? CM_PATH_BUFFER - 2 - n : 0;
    uint32_t len = nameLen < room ? nameLen : room;
    path[len] = 0;

    // Separators become "/"; the last component starts after the last one.
    uint32_t last = 0;
    for (uint32_t i = 0; i < len; ++i) {
        if (path[i] == '\\')
            path[i] = '/';
        if (path[i] == '/')
            last = i + 1;
    }
    const CMWchar *lastComponent = path.data() + last;
    std::vector<CMWchar> component(lastComponent, static_cast<const CMWchar *>(path.data() + len));

    std::vector<CMWchar> result;
    if (n) {
        result.assign(sharePath, sharePath + n);
        while (result.size() > 1 && result.back() == '/')
            result.pop_back();
        uint32_t skip = 0;
        while (skip < len && path[skip] == '/')
            ++skip;
        if (result.back() != '/')
            result.push_back('/');
        result.insert(result.end(), path.begin() + skip, path.begin() + len);
    } else {
        result.assign(path.begin(), path.begin() + len);
    }
    if (result.size() > 1 && result.back() == '/')
        result.pop_back();

    if (result.size() >= kPipePrefixLen && std::memcmp(result.data(), kPipePrefix, kPipePrefixLen * 2) == 0)
        return nullptr;
    if (!allowWildcards) {
        for (CMWchar c : component)
            if (isWildcard(c))
                return nullptr;
    }
    // An empty result has no storage to copy from.
    if (!result.empty())
        std::memcpy(out, result.data(), result.size() * sizeof(CMWchar));
    out[result.size()] = 0;
    return out;
}

}  // namespace

extern "C" {

CMWchar *cmCifsNtohFilename(CMWchar *out, const CMWchar *sharePath, const void *name, int nameIsUnicode,
                            int allowWildcards)
{
    // Out of memory is a refused name, not an exception through the C interface.
    try {
        return ntohFilename(out, sharePath, name, nameIsUnicode, allowWildcards);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

}  // extern "C"
