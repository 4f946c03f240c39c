// Fix file lines and typed set names from an untrusted file or tool: every
// line parses within its bounds, every resolved path stays in the directory,
// and the handlers take whatever parameter text a line gives.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fake_device.h"
#include "iop_fixes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    fakedev::reset();
    const char *text = reinterpret_cast<const char *>(data);
    size_t at = 0;
    while (at < size) {
        size_t end = at;
        while (end < size && text[end] != '\n')
            end++;
        int id = 0;
        char param[IOP_PARAM_MAX + 1];
        if (iop_parse_line(text + at, end - at, &id, param) == 0) {
            if (std::strlen(param) > IOP_PARAM_MAX)
                __builtin_trap();
            int (*handler)(int, const char *) = nullptr;
            if (!iop_action(id, nullptr, &handler) || !handler)
                __builtin_trap();
            handler(0, param);
        }
        at = end + 1;
    }

    std::string name(text, strnlen(text, size));
    char path[512];
    for (int update : {0, 1}) {
        if (iop_resolve_path(name.c_str(), update, path, sizeof path) != 0)
            continue;
        std::string p = path, dir = iop_config_dir;
        if (p.compare(0, dir.size(), dir) != 0 || p.find('/', dir.size()) != std::string::npos)
            __builtin_trap();
    }
    return 0;
}
