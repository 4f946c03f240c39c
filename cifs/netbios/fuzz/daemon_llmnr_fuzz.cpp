// libFuzzer: an LLMNR query on UDP 5355.
#include "daemon_env.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    NDAdapter *a = ndfuzz::setUp();
    ndfuzz::feed(ndLLMNRProcessExternalMessage, a, data, size, false);
    return 0;
}
