// The server service's stubs: each input is one request's stub to the
// operation its first byte names, by an administrator or a plain user, over
// a bound pipe; the answer is read back whole.
#include "fuzz_pipe.h"

#include <vector>

namespace {

const uint16_t kOps[] = {8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 21, 33, 36};

const uint8_t kBind[] = {5,    0,    11,   3,    0x10, 0,    0,    0,    72,   0,    0,    0,
                         1,    0,    0,    0,    0xff, 0xff, 0xff, 0xff, 0,    0,    0,    0,
                         1,    0,    0,    0,    0,    0,    1,    0,    0xc8, 0x4f, 0x32, 0x4b,
                         0x70, 0x16, 0xd3, 0x01, 0x12, 0x78, 0x5a, 0x47, 0xbf, 0x6e, 0xe1, 0x88,
                         3,    0,    0,    0,    0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11,
                         0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60, 2,    0,    0,    0};

uint8_t gOut[70000];

}  // namespace

// No name lookups leave the process.
extern "C" uint32_t *cmResolverGetHostIps(const CMWchar *, int *count)
{
    *count = 0;
    return nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzpipe::start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 60000)
        return 0;
    fuzzpipe::seed(data[0] & 0x80);
    CSFile *pipe = fuzzpipe::open("srvsvc");
    if (!pipe)
        return 0;
    csDcerpcWrite(pipe, kBind, sizeof kBind, 0);
    while (csDcerpcRead(pipe, gOut, sizeof gOut, nullptr)) {
    }
    const uint16_t opnum = kOps[(data[0] & 0x7F) % (sizeof kOps / sizeof kOps[0])];
    const uint32_t stub = uint32_t(size - 1);
    std::vector<uint8_t> request(24 + stub);
    const uint32_t length = 24 + stub;
    const uint8_t header[24] = {5,
                                0,
                                0,
                                3,
                                0x10,
                                0,
                                0,
                                0,
                                uint8_t(length),
                                uint8_t(length >> 8),
                                0,
                                0,
                                2,
                                0,
                                0,
                                0,
                                uint8_t(stub),
                                uint8_t(stub >> 8),
                                0,
                                0,
                                0,
                                0,
                                uint8_t(opnum),
                                0};
    std::memcpy(request.data(), header, 24);
    std::memcpy(request.data() + 24, data + 1, stub);
    csDcerpcWrite(pipe, request.data(), length, 1);
    while (csGetFileByJustFid(pipe->fid) == pipe && csDcerpcRead(pipe, gOut, sizeof gOut, nullptr)) {
    }
    fuzzpipe::finish(pipe);
    return 0;
}
