// The remote tool's frames: lengths, selectors, status bytes and the MIB
// read reply. No I/O here, so every frame rule is tested and fuzzed alone.
#include "remote_tool.h"

#include <cctype>
#include <cstring>

#include "vdsl_request.h"

extern "C" size_t rt_payload_length(const unsigned char head[2])
{
    size_t length = static_cast<size_t>(head[0]) << 8 | head[1];
    return length > RT_MAX_PAYLOAD ? RT_MAX_PAYLOAD : length;
}

extern "C" int rt_memory_type(unsigned char selector)
{
    switch (selector) {
    case 0x40:
        return VDSL_MEM_X;
    case 0x80:
        return VDSL_MEM_Y;
    case 0x00:
        return VDSL_MEM_P;
    default:
        return -1;
    }
}

extern "C" unsigned char rt_status_byte(int result, unsigned char success_byte)
{
    // The driver's binary-driver and MIB header codes, as the tool knows them.
    switch (result) {
    case 0:
        return success_byte;
    case 115:
        return 0xFF;
    case 116:
        return 0xFE;
    case 112:
        return 0xFC;
    case 113:
        return 0xFB;
    case 114:
        return 0xFA;
    default:
        return 0xFD;
    }
}

extern "C" size_t rt_mib_read_reply(int result, const unsigned char *answer, size_t answer_size,
                                    unsigned char echo, unsigned char *out)
{
    if (result != 0 || answer_size < VDSL_ANSWER_TEXT) {
        out[0] = 0x00;
        out[1] = 0x02;
        out[2] = rt_status_byte(result == 0 ? VDSL_ERR_FAILED : result, 0x00);
        out[3] = echo;
        return 4;
    }
    size_t words = static_cast<size_t>(answer[0]) << 8 | answer[1];
    // The word count comes from the chip's side: the text sent stays inside
    // the answer block and inside one reply.
    size_t room = answer_size - VDSL_ANSWER_TEXT;
    if (room > RT_MAX_PAYLOAD - 4)
        room = RT_MAX_PAYLOAD - 4;
    if (words > room / 6)
        words = room / 6;
    size_t text = 6 * words;
    size_t length = text + 2;
    out[0] = static_cast<unsigned char>(length >> 8);
    out[1] = static_cast<unsigned char>(length);
    out[2] = 0x00;
    std::memcpy(out + 3, answer + VDSL_ANSWER_TEXT, text);
    out[3 + text] = 0;
    return text + 4;
}

extern "C" int rt_file_frame_count(const unsigned char frame[RT_FILE_FRAME])
{
    return frame[0] > RT_FILE_DATA ? -1 : frame[0];
}

extern "C" int rt_first_word(const char *text, size_t len, char *out, size_t out_size)
{
    size_t end = 0;
    while (end < len && text[end] != 0)
        end++;
    size_t first = 0;
    while (first < end && std::isspace(static_cast<unsigned char>(text[first])))
        first++;
    size_t last = first;
    while (last < end && !std::isspace(static_cast<unsigned char>(text[last])))
        last++;
    size_t n = last - first;
    if (n == 0 || n >= out_size)
        return -1;
    std::memcpy(out, text + first, n);
    out[n] = 0;
    return 0;
}
