// Shared steps of the line displays.
#include "line_display.h"

#include <cstdio>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "vdsl_request.h"

namespace line_display {

namespace {

constexpr uint32_t kNotAvailable1 = 0x7FFFFE;
constexpr uint32_t kNotAvailable2 = 0x7FFFFF;

bool parse_port(const char *rest, const char *usage, unsigned *number)
{
    if (std::sscanf(rest, "%u", number) != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "%s", usage);
        return false;
    }
    return true;
}

int check_port(unsigned number, int *index)
{
    // A number beyond int is no port either; the rule reports it as such.
    int typed = number > 0x7FFFFFFFu ? -1 : static_cast<int>(number);
    return vdsl_port_index(typed, index);
}

}  // namespace

int open_port(const char *rest, const char *usage, unsigned *number, int *index)
{
    if (!parse_port(rest, usage, number))
        return CLI_USAGE;
    if (check_port(*number, index))
        return CLI_FAILED;
    return 0;
}

bool read_state(int port, unsigned char *state)
{
    *state = 0;
    return xdsl_get_opstate(port, state) == 0;
}

bool powered_off(int port)
{
    unsigned char state;
    return !read_state(port, &state) || state == VDSL_STATE_DISABLE;
}

bool port_flag(const char *format, int number)
{
    char key[32];
    std::snprintf(key, sizeof key, format, number);
    char line[256];
    return cfgmgr_read(key, line, sizeof line) == CFGMGR_READ_OK && line[0] == '#';
}

bool port_enabled(int number) { return port_flag("V_DISABLE_P%d", number); }

std::string value_text(int port, const char *oid)
{
    int32_t v = 0;
    if (mib_get_int24(port, oid, &v) != 0)
        return "FAILED";
    uint32_t word = static_cast<uint32_t>(v) & 0xFFFFFF;
    if (word == kNotAvailable1 || word == kNotAvailable2)
        return "NA";
    return std::to_string(v);
}

int32_t value_or_zero(int port, const char *oid)
{
    int32_t v = 0;
    return mib_get_int24(port, oid, &v) == 0 ? v : 0;
}

int32_t value_or_zero_idx(int port, const char *oid, int index)
{
    int32_t v = 0;
    return mib_get_int24_idx(port, oid, &v, index) == 0 ? v : 0;
}

std::string minutes_text(uint32_t seconds)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d mins %d secs", static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60));
    return text;
}

std::string hours_text(uint32_t seconds)
{
    char text[80];
    std::snprintf(text, sizeof text, "%d hours %d mins %d secs", static_cast<int>(seconds / 3600),
                  static_cast<int>((seconds % 3600) / 60), static_cast<int>(seconds % 60));
    return text;
}

bool read_direction(int port, int index, int32_t *direction)
{
    // A silent chip must not hang the shell: a few tries, then the channel goes.
    for (int t = 0; t < kDirectionTries; t++)
        if (mib_get_int24_idx(port, "0.22.1", direction, index) == 0)
            return true;
    cli_print(CLI_LEVEL_ERROR, "Error getting MIB value.");
    return false;
}

}  // namespace line_display
