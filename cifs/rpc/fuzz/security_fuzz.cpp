// The stubs of the security and registry interfaces: the first byte picks
// the caller (administrator or not) and the interface, the second the
// operation; the rest is one request's stub over a bound pipe, answered and
// read back whole. The user list is the same few users for every input.
#include "fuzz_pipe.h"

#include <vector>

namespace {

struct Target {
    const char *pipe;
    uint32_t index;  // in the interface table
    std::vector<uint16_t> opnums;
};

const Target kTargets[] = {
    {"lsarpc", 3, {0, 6, 7, 44, 57, 58, 68}},
    {"lsarpc", 4, {0}},
    {"samr", 5, {1,  2,  3,  5,  6,  7,  8,  15, 16, 17, 18, 19, 20, 27, 28, 31,
                 32, 33, 34, 35, 36, 37, 39, 40, 44, 45, 48, 50, 58, 62, 64}},
    {"winreg", 6, {2, 5, 9, 15, 17, 26}},
};

uint8_t gOut[70000];

void put16(std::vector<uint8_t> &b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t> &b, uint32_t v)
{
    put16(b, uint16_t(v));
    put16(b, uint16_t(v >> 16));
}

// A common header: version 5.0, type, first and last, little-endian.
void header(std::vector<uint8_t> &b, uint8_t type, uint32_t length)
{
    const uint8_t start[8] = {5, 0, type, 3, 0x10, 0, 0, 0};
    b.insert(b.end(), start, start + 8);
    put16(b, uint16_t(length));
    put16(b, 0);
    put32(b, 2);
}

std::vector<uint8_t> bindPdu(const CSDcerpcInterface *f)
{
    static const uint8_t kNdr[16] = {0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11,
                                     0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60};
    std::vector<uint8_t> b;
    header(b, 11, 72);
    put16(b, 4280);
    put16(b, 4280);
    put32(b, 0);
    put32(b, 1);  // one item
    put16(b, 0);
    put16(b, 1);
    b.insert(b.end(), f->uuid, f->uuid + 16);
    put16(b, f->versionMajor);
    put16(b, f->versionMinor);
    b.insert(b.end(), kNdr, kNdr + 16);
    put32(b, 2);
    return b;
}

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
    if (size < 2 || size > 60000)
        return 0;
    testenv::writeFile(UD_CONFIG_DIR "pwd_list.txt",
                       "alice::1001:0\nbob::-1002:0\ncarol:8846F7EAEE8FB117AD06BDD830B7586C:3:1\n");
    fuzzpipe::seed(data[0] & 0x80);
    const Target &t = kTargets[(data[0] & 0x7F) % (sizeof kTargets / sizeof kTargets[0])];
    const uint16_t opnum = t.opnums[data[1] % t.opnums.size()];
    CSFile *pipe = fuzzpipe::open(t.pipe);
    if (!pipe)
        return 0;
    const std::vector<uint8_t> bind = bindPdu(csDcerpcGetInterface(t.index));
    csDcerpcWrite(pipe, bind.data(), uint32_t(bind.size()), 0);
    while (csDcerpcRead(pipe, gOut, sizeof gOut, nullptr)) {
    }
    const uint32_t stub = uint32_t(size - 2);
    std::vector<uint8_t> request;
    header(request, 0, 24 + stub);
    put32(request, stub);
    put16(request, 0);
    put16(request, opnum);
    request.insert(request.end(), data + 2, data + size);
    csDcerpcWrite(pipe, request.data(), uint32_t(request.size()), 1);
    while (csGetFileByJustFid(pipe->fid) == pipe && csDcerpcRead(pipe, gOut, sizeof gOut, nullptr)) {
    }
    fuzzpipe::finish(pipe);
    return 0;
}
