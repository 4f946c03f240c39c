// Batched getrandom.
#include "kernel_random.h"

#include <zmo.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace dnsr {

void KernelRandom::refill()
{
    auto *p = reinterpret_cast<unsigned char *>(words_.data());
    size_t want = sizeof words_, got = 0;
    while (got < want) {
        // Called through syscall(): older C libraries lack the wrapper, and
        // kernels before 3.17 the call; there, and early at boot where the
        // call would block, /dev/urandom serves.
        constexpr unsigned kNonBlock = 1;  // GRND_NONBLOCK
        long n = urandom_fd_ < 0 ? syscall(SYS_getrandom, p + got, want - got, kNonBlock) : -1;
        if (n < 0 && urandom_fd_ < 0 && (errno == ENOSYS || errno == EAGAIN))
            urandom_fd_ = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        if (n < 0 && urandom_fd_ >= 0)
            n = read(urandom_fd_, p + got, want - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // Predictable ids would be worse than no service.
            zmo_log(ZMO_LOG_FATAL, "no random numbers from the kernel: %s", zmo_sys_strerror(errno));
            abort();
        }
        got += size_t(n);
    }
    used_ = 0;
}

KernelRandom::~KernelRandom()
{
    if (urandom_fd_ >= 0)
        close(urandom_fd_);
}

uint32_t KernelRandom::next32()
{
    if (used_ >= words_.size())
        refill();
    return words_[used_++];
}

uint32_t KernelRandom::below(uint32_t n)
{
    // Rejects the top values that would favour the low results.
    uint32_t limit = uint32_t(-n) % n;
    for (;;) {
        uint32_t v = next32();
        if (v >= limit)
            return v % n;
    }
}

}  // namespace dnsr
