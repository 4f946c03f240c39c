// Random bytes for challenges, nonces and UUIDs: always the kernel's generator.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "crypt_internal.h"

namespace {

// getrandom(2) where the kernel has it; older kernels (3.4 on the board) answer ENOSYS.
bool fromSyscall(uint8_t *p, size_t n)
{
#ifdef SYS_getrandom
    while (n) {
        long got = syscall(SYS_getrandom, p, n, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += got;
        n -= size_t(got);
    }
    return true;
#else
    (void)p;
    (void)n;
    return false;
#endif
}

bool fromDevice(uint8_t *p, size_t n)
{
    int fd;
    do
        fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    while (n) {
        ssize_t got = read(fd, p, n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            close(fd);
            return false;
        }
        p += got;
        n -= size_t(got);
    }
    close(fd);
    return true;
}

}  // namespace

extern "C" void cmCreateRandomByteSequence(uint8_t *buffer, uint32_t length)
{
    if (!length)
        return;
    if (fromSyscall(buffer, length) || fromDevice(buffer, length))
        return;
    // Predictable challenges and nonces would break every session's security:
    // stop rather than hand them out.
    std::fputs("cmCreateRandomByteSequence: no kernel random source\n", stderr);
    std::abort();
}
