// Where a name leads on disk: the walk the kernel makes, links followed,
// done by hand so that the part of a name still to be created resolves too.
#include "syfiles.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kMaxLinks = 40;  // the kernel's own limit
constexpr size_t kNone = static_cast<size_t>(-1);

bool isDots(const char *p, size_t n, size_t dots)
{
    return n == dots && (n == 1 ? p[0] == '.' : p[0] == '.' && p[1] == '.');
}

// out holds the physical path walked so far, "" standing for "/".
int resolve(const char *name, char *out, size_t outSize)
{
    std::array<char, PATH_MAX> first, second;
    char *pending = first.data(), *spare = second.data();
    const size_t nameLength = std::strlen(name);
    if (nameLength >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(pending, name, nameLength + 1);
    size_t length = 0;
    if (name[0] != '/') {
        if (!getcwd(out, outSize))
            return -1;
        length = std::strlen(out);
        if (length == 1)
            length = 0;
    }
    out[length] = '\0';
    // out's length before the first component that is not there; from it on
    // the name is only text, until a ".." takes that component away again.
    size_t missingAt = kNone;
    bool complete = true;  // the kernel stops at a missing part, whatever follows
    int links = 0;
    const char *p = pending;
    while (*p) {
        while (*p == '/')
            ++p;
        const char *start = p;
        while (*p && *p != '/')
            ++p;
        const size_t n = size_t(p - start);
        if (n == 0 || isDots(start, n, 1))
            continue;
        if (isDots(start, n, 2)) {
            while (length > 0 && out[length - 1] != '/')
                --length;
            if (length > 0)
                --length;
            out[length] = '\0';
            if (missingAt != kNone && length <= missingAt)
                missingAt = kNone;
            continue;
        }
        if (length + 1 + n >= outSize) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const size_t before = length;
        out[length++] = '/';
        std::memcpy(out + length, start, n);
        length += n;
        out[length] = '\0';
        if (missingAt != kNone)
            continue;
        struct stat64 st;
        if (lstat64(out, &st) != 0) {
            if (errno != ENOENT && errno != ENOTDIR)
                return -1;
            missingAt = before;
            complete = false;
            continue;
        }
        if (!S_ISLNK(st.st_mode))
            continue;
        if (++links > kMaxLinks) {
            errno = ELOOP;
            return -1;
        }
        const ssize_t target = readlink(out, spare, PATH_MAX);
        if (target <= 0)
            return -1;
        // The link's text takes its place in what is left to walk.
        const size_t rest = std::strlen(p);
        if (size_t(target) + 1 + rest >= PATH_MAX) {
            errno = ENAMETOOLONG;
            return -1;
        }
        spare[target] = '/';
        std::memcpy(spare + target + 1, p, rest + 1);
        std::swap(pending, spare);
        p = pending;
        length = pending[0] == '/' ? 0 : before;
        out[length] = '\0';
    }
    if (length == 0) {
        out[0] = '/';
        out[1] = '\0';
    }
    return complete ? 1 : 0;
}

}  // namespace

extern "C" {

int syResolveName(const CMWchar *name, char *dest, uint32_t destBytes)
{
    if (name == nullptr || dest == nullptr || destBytes < 2) {
        errno = EINVAL;
        return -1;
    }
    std::array<char, SY_NAME_BUFFER_SIZE> utf8;
    if (syUnicodeToUTF8N(utf8.data(), name, uint32_t(utf8.size())) != 0) {
        dest[0] = '\0';
        return -1;
    }
    const int r = resolve(utf8.data(), dest, destBytes);
    if (r < 0)
        dest[0] = '\0';
    return r;
}

}  // extern "C"
