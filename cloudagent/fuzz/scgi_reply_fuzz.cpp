// Replies of the core as the SCGI client reads them.
#include <cstdint>
#include <cstdlib>

#include "scgi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (int terminate = 0; terminate < 2; ++terminate) {
        scgi_result r = scgi_reply_parse(reinterpret_cast<const char *>(data), size, terminate);
        if (r.status >= 0 && r.body && r.body_length == 0)
            std::abort();
        std::free(r.body);
    }
    return 0;
}
