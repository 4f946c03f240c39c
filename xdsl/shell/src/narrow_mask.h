// The print mask while a long test runs: the terminal level, or silent
// mode's record level, or nothing; the saved mask is back on every path.
#pragma once

#include "cli_print.h"

namespace cli {

struct NarrowMask {
    uint32_t saved = cli_print_mask;
    NarrowMask()
    {
        cli_print_mask = (saved & CLI_MASK_INTERACTIVE) ? CLI_MASK_INTERACTIVE
                         : (saved & CLI_MASK_SILENT)    ? CLI_MASK_SILENT
                                                        : 0;
    }
    ~NarrowMask() { cli_print_mask = saved; }
    NarrowMask(const NarrowMask &) = delete;
    NarrowMask &operator=(const NarrowMask &) = delete;
};

}  // namespace cli
