// Any text in either direction: the check answers 0 or -111 and reads only
// the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli_print.h"
#include "psd_mask.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    cli_print_mask = 0;
    if (size == 0)
        return 0;
    const char *direction = data[0] & 1 ? "us" : "ds";
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    int rc = psd_sequence_check(direction, text.c_str());
    if (rc != 0 && rc != -111)
        __builtin_trap();
    return 0;
}
