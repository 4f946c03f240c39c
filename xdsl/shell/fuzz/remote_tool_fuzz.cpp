// The remote tool's request and file frames from an untrusted tool: the
// frame helpers on the raw bytes, then one whole connection served from
// them with the fake device behind it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "fake_device.h"
#include "remote_tool.h"
#include "vdsl.h"

namespace {

void frame_helpers(const uint8_t *data, size_t size)
{
    if (size >= 2)
        (void)rt_payload_length(data);
    if (size >= 1)
        (void)rt_memory_type(data[0]);
    unsigned char out[RT_MAX_PAYLOAD];
    size_t n = rt_mib_read_reply(0, data, size, 0, out);
    if (n > sizeof out || n < 4)
        __builtin_trap();
    if (size >= RT_FILE_FRAME)
        (void)rt_file_frame_count(data);
    char word[64];
    (void)rt_first_word(reinterpret_cast<const char *>(data), size, word, sizeof word);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 8192)
        return 0;
    frame_helpers(data, size);

    // Command lines and file paths would reach the host: those requests
    // become unknown opcodes, every other byte is served as sent.
    std::vector<unsigned char> stream(data, data + size);
    for (size_t at = 0; at + 2 <= stream.size();) {
        size_t length = rt_payload_length(&stream[at]);
        at += 2;
        if (length == 0)
            continue;
        if (at < stream.size() && (stream[at] == RT_OP_COMMAND || stream[at] == RT_OP_SEND_FILE ||
                                   stream[at] == RT_OP_RECEIVE_FILE))
            stream[at] = 0x0A;
        at += length;
    }

    fakedev::reset();
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
        return 0;
    int big = 1 << 20;
    setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    if (!stream.empty() &&
        write(sv[0], stream.data(), stream.size()) != static_cast<ssize_t>(stream.size())) {
        close(sv[0]);
        close(sv[1]);
        return 0;
    }
    shutdown(sv[0], SHUT_WR);
    (void)rt_serve_connection(sv[1]);
    close(sv[0]);
    close(sv[1]);
    return 0;
}
