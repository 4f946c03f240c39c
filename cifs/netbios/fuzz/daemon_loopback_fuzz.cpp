// libFuzzer: a request on the loopback name channel (registration, release,
// query), answered through the pseudo-adapter.
#include "daemon_env.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static NDAdapter pseudo{};
    ndfuzz::setUp();
    // A set-WINS request pauses the loop a second by design; its text bound
    // is covered by the unit tests.
    if (size >= 4 && (data[2] & 0xF8) == 0x60)
        return 0;
    ndfuzz::feed(ndNameProcessInternalMessage, &pseudo, data, size, true);
    ndInternalNameTimeout(1);
    return 0;
}
