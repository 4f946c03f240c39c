// Files and directories: UTF-16 names converted to UTF-8 and handed to the
// access-control library; plain system calls on descriptors.
#include "syfiles.h"

#include "zmo.h"
#include "zmo_acl.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

struct SystemContext {
    std::array<char, SY_NAME_BUFFER_SIZE> name{};    // every converted name
    std::array<char, SY_NAME_BUFFER_SIZE> target{};  // a rename's new name
};

SystemContext *gSystem = nullptr;
CMWchar gEntryName[SY_ENTRY_NAME_UNITS];

constexpr int kLargeFile = O_LARGEFILE | O_CLOEXEC;

// Bytes of a UTF-16 text with its terminating unit; names may sit at any address.
size_t utf16Bytes(const CMWchar *text)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    size_t n = 0;
    while (p[n] != 0 || p[n + 1] != 0)
        n += 2;
    return n + 2;
}

// One conversion by the base library; false with errno on any failure.
bool convert(const char *to, const char *from, const void *in, size_t inBytes, void *out, size_t outBytes,
             size_t *outLen, bool report)
{
    zmo_conv_t *c = zmo_conv_open(to, from);
    if (c == nullptr) {
        int e = errno;
        if (report)
            std::printf("!! Unable to convert %s to %s (iconv_open failed with errno %d)\n", from, to, e);
        errno = e;
        return false;
    }
    bool ok = zmo_conv(c, in, inBytes, out, outBytes, outLen) != 0;
    int e = errno;
    zmo_conv_close(c);
    if (!ok) {
        if (report)
            std::printf("!! Unable to convert %s to %s (iconv failed with errno %d)\n", from, to, e);
        errno = e == E2BIG ? ENAMETOOLONG : e;
        return false;
    }
    return true;
}

// The UTF-8 form of name in dest; null when it cannot be had. A failed
// conversion leaves nothing behind that a later call could act on.
const char *toUtf8(const CMWchar *name, std::array<char, SY_NAME_BUFFER_SIZE> &dest)
{
    dest[0] = '\0';
    if (name == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    size_t len = 0;
    if (!convert("UTF-8", "UTF-16LE", name, utf16Bytes(name), dest.data(), dest.size(), &len, true) ||
        len == 0 || dest[len - 1] != '\0') {
        dest[0] = '\0';
        return nullptr;
    }
    return dest.data();
}

// UTF-8 text with its terminator into UTF-16 at dest; 0 or -1.
int fromUtf8(CMWchar *dest, const char *src, uint32_t destBytes, bool report)
{
    size_t len = 0;
    if (dest == nullptr || src == nullptr || destBytes < sizeof(CMWchar)) {
        errno = EINVAL;
        return -1;
    }
    if (!convert("UTF-16LE", "UTF-8", src, std::strlen(src) + 1, dest, destBytes, &len, report)) {
        dest[0] = 0;
        return -1;
    }
    return 0;
}

const char *convertName(const CMWchar *name)
{
    if (gSystem == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return toUtf8(name, gSystem->name);
}

int openByName(const CMWchar *name, int flags)
{
    const char *path = convertName(name);
    return path != nullptr ? zmo_acl_open(path, flags | kLargeFile) : -1;
}

// Name-based calls answer 0 or nonzero; the layer answers 0 or -1.
int result(int r) { return r == 0 ? 0 : -1; }

CMUint64 toUint64(uint64_t v) { return CMUint64{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)}; }

uint64_t msec(const struct timespec &t)
{
    return static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u;
}

void fillInformation(const struct stat64 &st, SYFileInformation *info)
{
    uint64_t change = msec(st.st_ctim), modify = msec(st.st_mtim), access = msec(st.st_atim);
    uint64_t creation = change;
    if (modify < creation)
        creation = modify;
    if (access < creation)
        creation = access;
    std::memset(info, 0, sizeof *info);
    info->creationTime = toUint64(creation);
    info->lastWriteTime = toUint64(modify);
    info->lastAccessTime = toUint64(access);
    info->lastChangeTime = toUint64(modify);
    info->attributes = syUnixMode2DosAttr(st.st_mode);
    if (info->attributes & SY_ATTR_DIRECTORY) {
        info->isDirectory = 1;
    } else {
        info->endOfFile = toUint64(static_cast<uint64_t>(st.st_size));
        info->allocationSize = toUint64(static_cast<uint64_t>(st.st_blocks) * 512u);
    }
    info->fileIdLow = static_cast<uint32_t>(st.st_ino);
    info->fileIdHigh = static_cast<uint32_t>(static_cast<uint64_t>(st.st_ino) >> 32);
}

int64_t offset64(uint32_t low, uint32_t high)
{
    return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

// base + signed low + high * 2^32; false when the sum leaves 64 bits, which
// a client's offset must not turn into a wrapped position.
bool relative(uint32_t low, uint32_t high, int64_t base, int64_t *out)
{
    int64_t far = static_cast<int64_t>(static_cast<uint64_t>(high) << 32);
    int64_t sum = 0;
    if (__builtin_add_overflow(base, static_cast<int32_t>(low), &sum) ||
        __builtin_add_overflow(sum, far, out))
        return false;
    return true;
}

// A busy non-blocking descriptor is waited on rather than spun on.
void waitReady(int fd, short events)
{
    struct pollfd p {
        fd, events, 0
    };
    poll(&p, 1, 100);
}

}  // namespace

extern "C" {

int syInit(void)
{
    if (gSystem == nullptr) {
        gSystem = new (std::nothrow) SystemContext;
        if (gSystem == nullptr)
            return 0;
    }
    zmo_acl_init();
    // A write to a closed connection fails with EPIPE instead of ending the process.
    if (std::signal(SIGPIPE, SIG_IGN) == SIG_ERR)
        return 0;
    return 1;
}

int syStop(void)
{
    delete gSystem;
    gSystem = nullptr;
    return zmo_acl_cleanup();
}

const char *filenameToUtf8(const CMWchar *name) { return convertName(name); }

int filenameFromUtf8(CMWchar *dest, uint32_t destBytes)
{
    if (gSystem == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return fromUtf8(dest, gSystem->name.data(), destBytes, true);
}

int syUTF8ToUnicodeN(CMWchar *dest, const char *src, uint32_t destBytes)
{
    return fromUtf8(dest, src, destBytes, false);
}

int syUnicodeToUTF8N(char *dest, const CMWchar *src, uint32_t destBytes)
{
    size_t len = 0;
    if (dest == nullptr || src == nullptr || destBytes == 0) {
        errno = EINVAL;
        return -1;
    }
    if (!convert("UTF-8", "UTF-16LE", src, utf16Bytes(src), dest, destBytes, &len, false)) {
        dest[0] = '\0';
        return -1;
    }
    return 0;
}

int syOpenFileForRead(const CMWchar *name) { return openByName(name, O_RDONLY); }

int syOpenFileForWrite(const CMWchar *name) { return openByName(name, O_WRONLY); }

int syOpenFileForReadWrite(const CMWchar *name) { return openByName(name, O_RDWR); }

int syCreateFile(const CMWchar *name, int, int, int)
{
    // Alternate data streams are not supported.
    if (name != nullptr) {
        const auto *p = reinterpret_cast<const unsigned char *>(name);
        for (size_t i = 0, n = utf16Bytes(name) - 2; i < n; i += 2) {
            if (p[i] == ':' && p[i + 1] == 0) {
                errno = ENAMETOOLONG;
                return -1;
            }
        }
    }
    const char *path = convertName(name);
    return path != nullptr ? zmo_acl_open3(path, O_RDWR | O_CREAT | kLargeFile, 0700) : -1;
}

int syDeleteFile(const CMWchar *name)
{
    const char *path = convertName(name);
    return path != nullptr ? result(zmo_acl_unlink(path)) : -1;
}

int syRenameFile(const CMWchar *oldName, const CMWchar *newName)
{
    if (gSystem == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const char *to = toUtf8(newName, gSystem->target);
    const char *from = to != nullptr ? convertName(oldName) : nullptr;
    return from != nullptr ? result(zmo_acl_rename(from, to)) : -1;
}

int syCreateDirectory(const CMWchar *name)
{
    const char *path = convertName(name);
    return path != nullptr ? result(zmo_acl_mkdir(path, 0766)) : -1;
}

int syDeleteDirectory(const CMWchar *name)
{
    const char *path = convertName(name);
    return path != nullptr ? result(zmo_acl_rmdir(path)) : -1;
}

int syGetFileInformationByName(const CMWchar *name, SYFileInformation *info)
{
    const char *path = convertName(name);
    struct stat64 st {};
    if (path == nullptr || zmo_acl_stat(path, &st) != 0)
        return -1;
    fillInformation(st, info);
    return 0;
}

SYDirectory syOpenDirectory(const CMWchar *name)
{
    const char *path = convertName(name);
    if (path == nullptr)
        return nullptr;
    return zmo_acl_opendir(path[0] == '\0' ? "/" : path);
}

int syFirstDirectoryFile(const CMWchar *name, SYDirectory *dir, const CMWchar **entryName)
{
    *entryName = nullptr;
    *dir = syOpenDirectory(name);
    if (*dir == nullptr)
        return -1;
    return syNextDirectoryFile(*dir, entryName);
}

int syNextDirectoryFile(SYDirectory dir, const CMWchar **entryName)
{
    *entryName = nullptr;
    if (gSystem == nullptr) {
        errno = EINVAL;
        return -1;
    }
    for (;;) {
        errno = 0;
        struct dirent64 *entry = zmo_acl_readdir(dir);
        if (entry == nullptr)
            return errno == 0 ? 0 : -1;
        std::snprintf(gSystem->name.data(), gSystem->name.size(), "%s", entry->d_name);
        // A name that is not UTF-8 cannot be named by a client: pass over it.
        if (filenameFromUtf8(gEntryName, sizeof gEntryName) == 0) {
            *entryName = gEntryName;
            return 0;
        }
    }
}

int syCloseDirectory(SYDirectory dir) { return closedir(dir); }

int sySetFileInformation(const CMWchar *name, int fd, const SYFileInformation *info)
{
    int own = -1;
    if (fd == -1) {
        const char *path = convertName(name);
        if (path == nullptr)
            return -1;
        own = zmo_acl_open3(path, O_RDONLY | kLargeFile, 0777);
        if (own < 0)
            return -1;
        fd = own;
    }
    struct Closer {
        int fd;
        ~Closer()
        {
            if (fd >= 0)
                close(fd);
        }
    } closer{own};

    struct stat64 st {};
    if (fstat64(fd, &st) != 0)
        return -1;
    // Attributes the mode already carries leave it as it is: the mapping is
    // lossy (0755 reads back as 0766), and writing back what was read, as the
    // delete check does, must not take a folder's search rights or widen a
    // file's. The chmod still runs, so a file that may not change fails.
    constexpr uint32_t kModeBits = SY_ATTR_READONLY | SY_ATTR_ARCHIVE;
    mode_t mode = st.st_mode & 07777;
    if ((syUnixMode2DosAttr(st.st_mode) & kModeBits) != (info->attributes & kModeBits)) {
        mode = 0444;
        if (!(info->attributes & SY_ATTR_READONLY))
            mode |= 0222;
        if (info->attributes & SY_ATTR_ARCHIVE)
            mode |= 0100;
    }
    if (fchmod(fd, mode) != 0)
        return -1;

    uint64_t accessMs = (static_cast<uint64_t>(info->lastAccessTime.high) << 32) | info->lastAccessTime.low;
    uint64_t modifyMs = (static_cast<uint64_t>(info->lastChangeTime.high) << 32) | info->lastChangeTime.low;
    time_t access = static_cast<time_t>(accessMs / 1000);
    time_t modify = static_cast<time_t>(modifyMs / 1000);
    if ((access != 0 && access != st.st_atime) || (modify != 0 && modify != st.st_mtime)) {
        // Set by descriptor: the file opened above, not whatever the name means now.
        struct timespec times[2] = {{access != 0 ? access : st.st_atime, 0},
                                    {modify != 0 ? modify : st.st_mtime, 0}};
        if (futimens(fd, times) != 0)
            return -1;
    }
    return 0;
}

int syCloseFile(int fd) { return close(fd) == 0 ? 0 : -1; }

int syReadFile(int fd, void *buf, uint32_t len)
{
    for (;;) {
        ssize_t n = read(fd, buf, len);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EAGAIN)
            waitReady(fd, POLLIN);
        else if (errno != EINTR)
            return -1;
    }
}

int syWriteFile(int fd, const void *buf, uint32_t len)
{
    const auto *p = static_cast<const char *>(buf);
    uint32_t done = 0;
    while (done < len) {
        ssize_t n = write(fd, p + done, len - done);
        if (n >= 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (errno == EAGAIN)
            waitReady(fd, POLLOUT);
        else if (errno != EINTR)
            return -1;
    }
    return static_cast<int>(len);
}

int64_t sySeekFileStart(int fd, uint32_t low, uint32_t high)
{
    return lseek64(fd, offset64(low, high), SEEK_SET);
}

int64_t sySeekFileCurrent(int fd, uint32_t low, uint32_t high)
{
    int64_t delta = 0;
    if (!relative(low, high, 0, &delta)) {
        errno = EINVAL;
        return -1;
    }
    return lseek64(fd, delta, SEEK_CUR);
}

int64_t sySeekFileEnd(int fd, uint32_t low, uint32_t high)
{
    struct stat64 st {};
    if (fstat64(fd, &st) != 0)
        return -1;
    int64_t pos = 0;
    if (!relative(low, high, st.st_size, &pos)) {
        // Far below the start is still before it; far above is no position.
        if (static_cast<int32_t>(high) >= 0) {
            errno = EOVERFLOW;
            return -1;
        }
        pos = 0;
    }
    if (pos < 0)
        pos = 0;
    return lseek64(fd, pos, SEEK_SET);
}

int syTruncateFile(int fd, uint32_t low, uint32_t high)
{
    struct stat64 st {};
    if (fstat64(fd, &st) != 0)
        return -1;
    int64_t size = offset64(low, high);
    if (size == st.st_size)
        return 0;
    if (size < st.st_size)
        return ftruncate64(fd, size) == 0 ? 0 : -1;
    int err = posix_fallocate64(fd, 0, size);
    if (err == 0 || err == ENOSYS)
        return 0;
    errno = err;
    return -1;
}

int syGetFileInformation(int fd, const CMWchar *, SYFileInformation *info)
{
    struct stat64 st {};
    if (fstat64(fd, &st) != 0)
        return -1;
    fillInformation(st, info);
    return 0;
}

int syGetVolumeInformation(const CMWchar *name, SYVolumeInformation *vol)
{
    const char *path = convertName(name);
    struct statfs64 fs {};
    if (path == nullptr || statfs64(path, &fs) != 0)
        return -1;
    std::memset(vol, 0, sizeof *vol);
    vol->fileSystemId = 1;
    vol->bytesPerSector = static_cast<uint32_t>(fs.f_bsize);
    vol->sectorsPerUnit = 1;
    vol->totalUnits.low = static_cast<uint32_t>(fs.f_blocks);
    vol->freeUnits.low = static_cast<uint32_t>(fs.f_bfree);
    return 0;
}

uint32_t syUnixMode2DosAttr(uint32_t mode)
{
    bool directory = (mode & 0x4000) != 0;
    bool writable = (mode & 0222) != 0;
    bool archive = (mode & 0100) != 0;
    uint32_t attr = 0;
    if (directory)
        attr |= SY_ATTR_DIRECTORY;
    if (!writable)
        attr |= SY_ATTR_READONLY;
    if (archive)
        attr |= SY_ATTR_ARCHIVE;
    return attr == 0 ? SY_ATTR_NORMAL : attr;
}

void syConvertTimeSpecToTimeInMsec(CMUint64 *out, const struct timespec *in) { *out = toUint64(msec(*in)); }

}  // extern "C"
