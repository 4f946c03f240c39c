// Write and read sequences on a fake pipe: fragments joined and cut, binds,
// requests to the workstation and server services, reads of any size. The
// first byte picks the pipe and whether it starts bound; then records of
// [kind][length u16][bytes]: 0 write, 1 forced-last write, 2 read of length
// bytes, 3 transact with room length.
#include "fuzz_pipe.h"

namespace {

const char *const kPipes[] = {"srvsvc", "wkssvc", "lsarpc", "samr", "winreg", "spoolss"};

// Both services on contexts 0 and 1, max_recv_frag 4280.
const uint8_t kBind[] = {5, 0, 11, 3, 0x10, 0, 0, 0, 116, 0, 0, 0, 1, 0, 0, 0, 0xb8, 0x10, 0xb8, 0x10, 0, 0,
                         0, 0, 2, 0, 0, 0,
                         // srvsvc 3.0, NDR
                         0, 0, 1, 0, 0xc8, 0x4f, 0x32, 0x4b, 0x70, 0x16, 0xd3, 0x01, 0x12, 0x78, 0x5a, 0x47,
                         0xbf, 0x6e, 0xe1, 0x88, 3, 0, 0, 0, 0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11,
                         0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60, 2, 0, 0, 0,
                         // wkssvc 1.0, NDR
                         1, 0, 1, 0, 0x98, 0xd0, 0xff, 0x6b, 0x12, 0xa1, 0x10, 0x36, 0x98, 0x33, 0x46, 0xc3,
                         0xf8, 0x7e, 0x34, 0x5a, 1, 0, 0, 0, 0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11,
                         0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60, 2, 0, 0, 0};

uint8_t gOut[70000];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzpipe::start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    fuzzpipe::seed(data[0] & 0x40);
    CSFile *pipe = fuzzpipe::open(kPipes[(data[0] & 7) % 6]);
    if (!pipe)
        return 0;
    if (data[0] & 0x80) {
        csDcerpcWrite(pipe, kBind, sizeof kBind, 0);
        while (csDcerpcRead(pipe, gOut, sizeof gOut, nullptr)) {
        }
    }
    pipe->pipeOutputLimit = data[0] & 0x20 ? 1500 : 0;
    size_t at = 1;
    while (at + 3 <= size && csGetFileByJustFid(pipe->fid) == pipe) {
        const uint8_t kind = data[at] & 3;
        const uint32_t length = uint32_t(data[at + 1] | data[at + 2] << 8);
        at += 3;
        const uint32_t take = uint32_t(std::min<size_t>(length, size - at));
        uint32_t n = 0;
        switch (kind) {
        case 0:
        case 1:
            csDcerpcWrite(pipe, data + at, take, kind);
            at += take;
            break;
        case 2:
            csDcerpcRead(pipe, gOut, std::min<uint32_t>(length, sizeof gOut), nullptr);
            break;
        default:
            csDcerpcTransact(pipe, data + at, take, gOut, std::min<uint32_t>(length, sizeof gOut), &n);
            at += take;
            break;
        }
    }
    fuzzpipe::finish(pipe);
    return 0;
}
