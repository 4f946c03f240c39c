// Configuration files as ConfigurationRead reads them.
#include <cstdint>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "agent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = "/tmp/cloudagent-config-fuzz-" + std::to_string(getpid()) + ".json";
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    ConfigurationRead(path.c_str());
    return 0;
}
