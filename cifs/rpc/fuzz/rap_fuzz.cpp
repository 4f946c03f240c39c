// The LAN Manager remote API: each input is a transaction's parameters
// (API number, descriptors, arguments) after two bytes of MaxDataCount.
#include "fuzz_pipe.h"

#include "cstrans.h"

#include <vector>

namespace {

std::vector<uint8_t> gResponse(CS_TRANS_RESPONSE_SIZE + 64);

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzpipe::start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 65000)
        return 0;
    fuzzpipe::seed(false);
    fuzzpipe::gUser->printerOwner = data[0] & 1;
    uint8_t header[32] = {};
    header[28] = uint8_t(fuzzpipe::gUser->uid);
    header[29] = uint8_t(fuzzpipe::gUser->uid >> 8);
    // The parameters in a buffer of their own size, as the message bounds them.
    std::vector<uint8_t> parameters(data + 2, data + size);
    CSTransaction t{};
    t.header = header;
    t.response = gResponse.data();
    t.parameters = parameters.data();
    t.parameterCount = uint32_t(parameters.size());
    t.maxDataCount = uint32_t(data[0] | data[1] << 8);
    t.byteCount = gResponse.data() + 32 + CS_TRANS_RESPONSE_WORDS;
    if (csRapApiEntry(&t) == 0 && (t.dataOut + t.dataCountOut > gResponse.data() + CS_TRANS_RESPONSE_SIZE ||
                                   t.dataCountOut > t.maxDataCount))
        std::abort();
    return 0;
}
