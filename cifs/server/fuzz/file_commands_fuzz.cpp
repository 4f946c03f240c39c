// The SMB1 file commands on a real share, one parameter block each as the
// dispatcher hands it over (inside the message): any block is answered
// inside the response's room, and nothing outside the share changes.
#include "file_sandbox.h"
#include "cscommands.h"

#include <vector>

namespace {

const CSCommandHandler kHandlers[] = {
    csComQueryInformation,
    csComQueryInformation2,
    csComQueryInformationDisk,
    csComSetInformation,
    csComSetInformation2,
    csComRename,
    csComDelete,
    csComDeleteDirectory,
    csComCheckDirectory,
    csComFindClose2,
    csComSearch,
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_files::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using fuzz_files::gBox;
    if (size < 2)
        return 0;
    const CSCommandHandler handler = kHandlers[data[0] % (sizeof kHandlers / sizeof kHandlers[0])];
    const bool unicode = data[1] & 1;
    std::vector<uint8_t> message(32, 0);
    message[0] = 0xFF;
    message[1] = 'S';
    message[2] = 'M';
    message[3] = 'B';
    message[11] = unicode ? 0x80 : 0;
    message[24] = uint8_t(gBox.tree->tid);
    message[25] = uint8_t(gBox.tree->tid >> 8);
    message[28] = uint8_t(gBox.user->uid);
    message[29] = uint8_t(gBox.user->uid >> 8);
    message.insert(message.end(), data + 2, data + size);
    // The dispatcher's promise: the block with its words and bytes is inside.
    if (message.size() < 33)
        return 0;
    size_t countAt = 33 + 2 * size_t(message[32]);
    if (countAt + 2 > message.size() ||
        countAt + 2 + (message[countAt] | message[countAt + 1] << 8) > message.size())
        return 0;
    // The fid words name the open file now and then.
    fuzz_files::refill();
    CMWchar path[1100];
    cmAnsiToUnicode(path, (gBox.share + "/file.txt").c_str());
    CSFile *file = nullptr;
    csOpenFile(path, gBox.tree->tid, uint16_t(0x8842), nullptr, &file);

    std::vector<uint8_t> response(65700, 0);
    std::memcpy(response.data(), message.data(), 32);
    uint8_t *position = response.data() + 32;
    handler(message.data() + 32, response.data(), &position);
    if (position < response.data() + 32 || position > response.data() + 65697)
        std::abort();
    fuzz_files::closeAll();
    fuzz_files::guard();
    return 0;
}
