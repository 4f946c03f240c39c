// A fake USB printer class driver, preloaded into a program (LD_PRELOAD): the
// device paths of a control file open as its output file or FIFO, and the
// driver's three requests on them are answered from that file, read again at
// every request so that a test can change a printer while it runs.
//
// Control file ($USBLP_CONTROL, else /var/run/usblp/control), one printer a
// line, '#' starts a comment:
//   DEVICE OUTPUT VID:PID STATUS DEVICE-ID...
// STATUS is the port status (0x18 ready, 0x38 paper out...) or "absent"
// (the device does not open); the device ID is the rest of the line.
#undef _FILE_OFFSET_BITS
#include "usblp_ioctl.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

struct Entry {
    std::string device, output, id;
    unsigned vid = 0, pid = 0, status = 0;
    bool absent = false;
};

constexpr size_t kFds = 4096;
std::mutex gMutex;
std::array<std::string, kFds> gOpen;  // the device path of each fake descriptor

const char *controlPath()
{
    const char *p = std::getenv("USBLP_CONTROL");
    return p && *p ? p : "/var/run/usblp/control";
}

bool lookup(const std::string &device, Entry &out)
{
    FILE *f = std::fopen(controlPath(), "re");
    if (!f)
        return false;
    char line[1024];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f)) {
        line[std::strcspn(line, "\r\n")] = 0;
        if (line[0] == '#' || !line[0])
            continue;
        char dev[256], output[256], ids[32], status[32];
        int used = 0;
        if (std::sscanf(line, "%255s %255s %31s %31s %n", dev, output, ids, status, &used) < 4 ||
            device != dev)
            continue;
        Entry e;
        e.device = dev;
        e.output = output;
        e.id = line + used;
        e.absent = std::strcmp(status, "absent") == 0;
        e.status = e.absent ? 0 : unsigned(std::strtoul(status, nullptr, 0));
        if (std::sscanf(ids, "%x:%x", &e.vid, &e.pid) != 2)
            continue;
        out = e;
        found = true;
    }
    std::fclose(f);
    return found;
}

template <class F> F next(const char *name) { return reinterpret_cast<F>(dlsym(RTLD_NEXT, name)); }

int openDevice(const char *path, int flags, mode_t mode, int (*real)(const char *, int, ...))
{
    Entry e;
    if (!path || !lookup(path, e))
        return real(path, flags, mode);
    if (e.absent) {
        errno = ENODEV;
        return -1;
    }
    // A FIFO without a reader fails instead of blocking the opener; writes
    // then block as a stalled printer's do, or fail with EAGAIN for an
    // opener that asked not to block.
    int fd = real(e.output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    if (!(flags & O_NONBLOCK))
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (size_t(fd) < kFds) {
        std::lock_guard<std::mutex> lock(gMutex);
        gOpen[size_t(fd)] = e.device;
    }
    return fd;
}

mode_t modeOf(int flags, va_list ap)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(ap, int)) : 0;
}

std::string deviceOf(int fd)
{
    if (fd < 0 || size_t(fd) >= kFds)
        return {};
    std::lock_guard<std::mutex> lock(gMutex);
    return gOpen[size_t(fd)];
}

}  // namespace

extern "C" {

int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = modeOf(flags, ap);
    va_end(ap);
    static auto real = next<int (*)(const char *, int, ...)>("open");
    return openDevice(path, flags, mode, real);
}

int open64(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = modeOf(flags, ap);
    va_end(ap);
    static auto real = next<int (*)(const char *, int, ...)>("open64");
    return openDevice(path, flags, mode, real);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *argument = va_arg(ap, void *);
    va_end(ap);
    std::string device = deviceOf(fd);
    Entry e;
    if (device.empty()) {
        static auto real = next<int (*)(int, unsigned long, ...)>("ioctl");
        return real(fd, request, argument);
    }
    if (!lookup(device, e) || e.absent) {
        errno = ENODEV;
        return -1;
    }
    if (request == USBLP_IOC_GET_DEVICE_ID) {
        auto *buffer = static_cast<unsigned char *>(argument);
        size_t n = std::min(e.id.size(), size_t(USBLP_DEVICE_ID_BYTES - 2));
        buffer[0] = (unsigned char)((n + 2) >> 8);
        buffer[1] = (unsigned char)(n + 2);
        std::memcpy(buffer + 2, e.id.data(), n);
        return 0;
    }
    if (request == USBLP_IOC_GET_VID_PID) {
        int *ids = static_cast<int *>(argument);
        ids[0] = int(e.vid);
        ids[1] = int(e.pid);
        return 0;
    }
    if (request == USBLP_GET_STATUS) {
        *static_cast<int *>(argument) = int(e.status);
        return 0;
    }
    errno = ENOTTY;
    return -1;
}

int close(int fd)
{
    if (fd >= 0 && size_t(fd) < kFds) {
        std::lock_guard<std::mutex> lock(gMutex);
        gOpen[size_t(fd)].clear();
    }
    static auto real = next<int (*)(int)>("close");
    return real(fd);
}

}  // extern "C"
