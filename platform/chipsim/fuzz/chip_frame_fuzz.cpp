// Any frame on the link, and any bench command, leaves the chip model sound.
#include "chipsim/chip.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static chipsim::Chip chip;
    if (size && data[0] == 0xFF) {
        chip.control(std::string(reinterpret_cast<const char *>(data + 1), size - 1));
        return 0;
    }
    for (auto &out : chip.on_frame(data, size))
        if (out.frame.size() < 60)
            __builtin_trap();
    return 0;
}
