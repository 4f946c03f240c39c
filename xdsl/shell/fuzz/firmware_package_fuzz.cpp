// Any file at the package path: every operation of the reader stays within
// the file and answers 0 or 100; the profile walks write through a fake
// device.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "cfgmgr_program.h"
#include "cli_print.h"
#include "fake_device.h"
#include "firmware_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char path[] = "/tmp/firmware_package_fuzz.XXXXXX";
    static int fd = [] {
        cli_print_mask = 0;
        // The stored PSD masks are not what is fuzzed here.
        cli::set_cfgmgr_program("/nonexistent/cfgmgr");
        int f = mkstemp(path);
        firmware_package_path = path;
        std::atexit([] { unlink(path); });
        return f;
    }();
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    fakedev::reset();

    char value[SYSPROF_VALUE_SIZE], name[SYSPROF_NAME_SIZE];
    sysprof_find("SYS_", "a", "0.9.1", value, sizeof value);
    sysprof_apply(0, "BND_", "b");
    apply_package_profile(0, 255);
    apply_package_profile(0, 1);
    sysprof_list(1, 0, "SYS_", name);
    sysprof_exists("PSD_", "x");
    uint32_t start, length, count;
    package_image_count(&count);
    package_image_span(1, &start, &length);
    package_image_span(16, &start, &length);
    package_bindrv_span(&start, &length);
    return 0;
}
