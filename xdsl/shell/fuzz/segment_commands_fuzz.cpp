// "scstatussegment" and "delt" command lines as a remote tool may send them:
// any argument text, in silent mode or not, on a line in showtime or not,
// with the chip's entries read from the fake device. Files stay in a
// folder of the run's own, and nothing may be written outside it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>

#include "cfgmgr_program.h"
#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "output_sink.h"
#include "segment_status.h"
#include "shell_sleep.h"
#include "vdsl.h"
#include "vdsl_request.h"

extern "C" int cmd_scstatussegment(char *rest, const cli_dir_row *subdirectory);
extern "C" int cmd_delt(char *rest, const cli_dir_row *subdirectory);

namespace {

void drop(const char *, std::size_t) {}
void no_wait(unsigned long) {}

const char *folder()
{
    static std::string dir = [] {
        char name[] = "/tmp/segment_fuzz_XXXXXX";
        const char *made = mkdtemp(name);
        return std::string(made ? made : "/nonexistent");
    }();
    return dir.c_str();
}

// Only data files of the six names may stay; no lock outlives its request.
void check_folder()
{
    DIR *d = opendir(folder());
    if (!d)
        return;
    const std::string prefix = "scstatus_";
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..")
            continue;
        if (n.compare(0, prefix.size(), prefix) == 0)
            n.erase(0, prefix.size());
        if (is_segment_name(n.c_str()) != 0)
            __builtin_trap();
    }
    closedir(d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 512)
        return 0;
    static bool once = [] {
        cli::set_output_sink(drop);
        cli::set_sleep_hook(no_wait);
        // No configuration manager: the exports write no file of their own.
        cli::set_cfgmgr_program("/nonexistent/cfgmgr");
        vdsl_memdump_dir = folder();
        return true;
    }();
    (void)once;

    fakedev::reset();
    fakedev::Device &d = fakedev::device();
    d.state = (data[0] & 4) ? VDSL_STATE_SHOWTIME : VDSL_STATE_TRAINING;
    for (const char *oid : {"0.6.2", "0.6.3", "0.6.4", "0.6.5", "0.6.6", "0.6.7"})
        d.lengths[oid] = 4;  // short entries keep each run quick
    d.values["0.1.6"] = (data[0] & 8) ? "000003" : "000002";
    cli_silent_mode = data[0] & 1;
    cli_print_mask = cli_silent_mode ? CLI_MASK_SILENT : CLI_MASK_CLEAN;
    cli_silent_buffer_clear();

    char line[CLI_COMMAND_SIZE] = {};
    std::memcpy(line, data + 1, std::min<size_t>(size - 1, sizeof line - 1));
    int rc = (data[0] & 2) ? cmd_delt(line, nullptr) : cmd_scstatussegment(line, nullptr);
    if (rc != CLI_DONE && rc != CLI_FAILED && rc != CLI_USAGE)
        __builtin_trap();
    check_folder();
    return 0;
}
