// libFuzzer: a name service message from the network (UDP 137), after the
// loopback registration of two names so that responses find own entries.
#include "daemon_env.h"

#include "nschannel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static NDAdapter pseudo{};
    NDAdapter *a = ndfuzz::setUp();
    static bool registered = [] {
        for (const char *text : {"WIDGET", "TEAM"}) {
            CMNetBiosNameInfo n{};
            cmNetBiosNameCreate(&n, text, 0x20);
            uint8_t b[ND_BUFFER_SIZE];
            int len = frameInternalNameRegistrationRequest(b, &n);
            if (len > 0)
                ndfuzz::feed(ndNameProcessInternalMessage, &pseudo, b, static_cast<size_t>(len), true);
        }
        return true;
    }();
    (void)registered;
    ndfuzz::feed(ndNameProcessExternalMessage, a, data, size, false);
    ndInternalNameTimeout(1);
    ndExternalNameTimeout(1);
    return 0;
}
