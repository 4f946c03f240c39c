// The cloud master's HTTP/1.0 answers.
#include <cstdint>
#include "agent.h"
#include "cloud.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zmo_ip_sockaddr_t sa;
    master_reply_parse(reinterpret_cast<const char *>(data), size, &sa);
    return 0;
}
