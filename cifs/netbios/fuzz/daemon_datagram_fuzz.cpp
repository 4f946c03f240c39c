// libFuzzer: a datagram on UDP 138 and the same bytes on the loopback
// datagram channel (listen requests, forwarding).
#include "daemon_env.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static NDAdapter pseudo{};
    NDAdapter *a = ndfuzz::setUp();
    ndfuzz::feed(ndDatagramProcessExternalMessage, a, data, size, false);
    ndfuzz::feed(ndDatagramProcessInternalMessage, &pseudo, data, size, true);
    return 0;
}
