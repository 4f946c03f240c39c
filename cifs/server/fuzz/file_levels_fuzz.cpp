// Information levels from the wire on a real share: set levels with their
// data, query levels within a byte limit, directory entries within a room,
// and the TRANSACTION2 subcommands on their blocks. Nothing is written past
// a limit and nothing outside the share changes.
#include "file_sandbox.h"
#include "csfind.h"
#include "csinfo.h"
#include "cstrans2.h"

#include <vector>

namespace {

uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }

constexpr uint8_t kCanary = 0xA5;

void checkCanary(const std::vector<uint8_t> &buffer, size_t from)
{
    for (size_t i = from; i < buffer.size(); ++i)
        if (buffer[i] != kCanary)
            std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_files::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using fuzz_files::gBox;
    if (size < 6)
        return 0;
    uint8_t mode = data[0];
    uint16_t level = le16(data + 1);
    uint16_t limit = le16(data + 3) % 512;
    bool unicode = data[5] & 1;
    const uint8_t *body = data + 6;
    size_t bodySize = size - 6;
    fuzz_files::refill();
    CMWchar path[1100];
    cmAnsiToUnicode(path, (gBox.share + ((mode & 0x10) ? "/dir" : "/file.txt")).c_str());
    CSFile *file = nullptr;
    csOpenFile(path, gBox.tree->tid, uint16_t(0x8842), nullptr, &file);

    std::vector<uint8_t> out(limit + 64, kCanary);
    switch (mode % 5) {
    case 0: {
        std::vector<uint8_t> copy(body, body + bodySize);
        CSSetRequest r{gBox.user->uid, gBox.tree->tid, path, level, copy.data(), uint32_t(copy.size())};
        csSetFileInformationByName((mode & 0x20) ? file : nullptr, &r);
        break;
    }
    case 1: {
        const uint8_t header[4] = {uint8_t((mode & 0x20) ? 0xFF : 0xFE), 'S', 'M', 'B'};
        CSQueryContext q{};
        q.header = header;
        q.parameters = out.data();
        q.room = limit;
        csQueryFileInformationByName(file, path, cmWStrlen(gBox.record.path), level, unicode, limit, &q);
        csQueryFsInformation(&gBox.record, level, unicode, &q);
        checkCanary(out, limit);
        break;
    }
    case 2: {
        SYFileInformation info{};
        std::memcpy(&info, body, bodySize < sizeof info ? bodySize : sizeof info);
        uint8_t *position = out.data(), *last = nullptr;
        uint32_t room = limit;
        csFillFindEntry(path, &info, &position, level, 1, unicode, out.data(), &room, mode & 0x40, &last);
        checkCanary(out, limit);
        break;
    }
    default: {
        // A TRANSACTION2 subcommand: parameters then data from the body.
        static uint32_t (*const kSubcommands[])(CSTrans2Request *) = {csTrans2QueryFileInformation,
                                                                      csTrans2QueryPathInformation,
                                                                      csTrans2QueryFsInformation,
                                                                      csTrans2SetFileInformation,
                                                                      csTrans2SetPathInformation,
                                                                      csTrans2FindFirst,
                                                                      csTrans2FindNext};
        size_t split = bodySize ? body[0] % (bodySize) : 0;
        std::vector<uint8_t> parameters(body, body + split), payload(body + split, body + bodySize);
        if (file && parameters.size() >= 2 && (mode & 0x40)) {
            parameters[0] = uint8_t(file->fid);
            parameters[1] = uint8_t(file->fid >> 8);
        }
        uint8_t header[32] = {0xFF, 'S', 'M', 'B'};
        header[11] = unicode ? 0x80 : 0;
        header[24] = uint8_t(gBox.tree->tid);
        header[25] = uint8_t(gBox.tree->tid >> 8);
        header[28] = uint8_t(gBox.user->uid);
        header[29] = uint8_t(gBox.user->uid >> 8);
        CSTrans2Request r{};
        r.header = header;
        r.parameters = parameters.data();
        r.parameterCount = uint32_t(parameters.size());
        r.data = payload.data();
        r.dataCount = uint32_t(payload.size());
        r.maxDataCount = limit;
        r.outParameters = out.data();
        r.room = limit;
        kSubcommands[level % 7](&r);
        checkCanary(out, limit);
        break;
    }
    }
    fuzz_files::closeAll();
    fuzz_files::guard();
    return 0;
}
