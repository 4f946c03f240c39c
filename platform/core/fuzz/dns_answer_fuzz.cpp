// Answers that the resolver reads from a DNS server.
#include "core_impl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<Network::IpAddress> out;
    const uint16_t id = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
    Core::DnsParseAnswer(data, size, id, &out);
    return 0;
}
