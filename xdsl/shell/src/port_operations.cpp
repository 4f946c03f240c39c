// "portop" and "bdset": the port's enable and power flags, the pacing
// signal, loop-back, connect tests, the chip's reset line and the driver's
// automatic reset.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "ebm_boot.h"
#include "narrow_mask.h"
#include "shell_sleep.h"
#include "shell_state.h"
#include "vdsl_device.h"
#include "vdsl_profiles.h"
#include "vdsl_request.h"

namespace {

constexpr size_t kPortListMax = 64;
constexpr unsigned long kSecond = 1000000;

// "1,3-5": the port numbers in the order written; false for a 0, a part
// that is no number or more than kPortListMax numbers.
bool parse_port_list(const std::string &text, std::vector<int> &ports)
{
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(',', at);
        if (end == std::string::npos)
            end = text.size();
        std::string part = text.substr(at, end - at);
        at = end + 1;
        size_t dash = part.find('-');
        std::string a = part.substr(0, dash), b = dash == std::string::npos ? a : part.substr(dash + 1);
        char *e1, *e2;
        long first = std::strtol(a.c_str(), &e1, 10), last = std::strtol(b.c_str(), &e2, 10);
        if (e1 == a.c_str() || e2 == b.c_str() || first <= 0 || last <= 0)
            return false;
        for (long p = first; p <= last; p++) {
            if (ports.size() >= kPortListMax) {
                cli_print(CLI_LEVEL_TERMINAL, "At most %zu ports in one list.", kPortListMax);
                return false;
            }
            ports.push_back(static_cast<int>(p));
        }
    }
    return true;
}

std::string read_mode(int port)
{
    char key[32], line[64];
    std::snprintf(key, sizeof key, "PORT%d_MODE", port);
    if (cfgmgr_read(key, line, sizeof line) != CFGMGR_READ_OK)
        return std::string();
    std::string v = line;
    while (!v.empty() && std::strchr(" \t\r\n", v.back()))
        v.pop_back();
    return v;
}

int pacing(unsigned long request, const char *failed, const char *done)
{
    int fd = vdsl_device::open_device();
    if (fd < 0) {
        cli_print(CLI_LEVEL_TERMINAL, "vdsl device open failed.\n");
        return CLI_FAILED;
    }
    unsigned char block[VDSL_BLOCK_HEAD] = {};
    int rc = vdsl_device::request(fd, request, block, sizeof block);
    vdsl_device::close_device(fd);
    cli_print(CLI_LEVEL_ERROR, "%s", rc != 0 ? failed : done);
    return rc;
}

void write_flag(const char *format, int port, const char *value)
{
    char key[32];
    std::snprintf(key, sizeof key, format, port);
    cfgmgr_write(key, value);
}

int portop_one(int test, int p)
{
    const int index = p - 1;
    switch (test) {
    case 1:
        write_flag("V_DISABLE_P%d", p, "#");
        cli_print(CLI_LEVEL_TERMINAL, "Enabling Port%d...", p);
        return port_control(index, VDSL_PORT_CONNECT);
    case 2:
        write_flag("V_DISABLE_P%d", p, "");
        cli_print(CLI_LEVEL_TERMINAL, "Disabling Port%d...", p);
        return port_control(index, VDSL_PORT_DISCONNECT);
    case 3:
        return pacing(VDSL_BUS_MARK_1, "Can't enable pacing signal.", "Pacing signal enabled.");
    case 4:
        return pacing(VDSL_BUS_MARK_2, "Can't disable pacing signal.", "Pacing signal disabled.");
    case 5: {
        write_flag("V_POWEROFF_P%d", p, "#");
        std::string mode = read_mode(p);
        if (mode == "CO") {
            int rc = cli::run_from_root("util dpf " + std::to_string(p) + " 1");
            if (profile_store_state() != PROFILE_STORE_LOADED)
                profiles_load(PROFILE_ALL);
            rc = cli::run_from_root("profiles port set line-alarm-template " + std::to_string(p) + " " +
                                    port_line_template() + " " + port_alarm_template());
            return rc;
        }
        if (mode == "CPE") {
            cli::run_from_root("util dpf " + std::to_string(p) + " 2");
            return cli::run_from_root("util portop 1 " + std::to_string(p));
        }
        cli_print(CLI_LEVEL_ORDINARY, "Port%d Mode Missing!!\n", index);
        cli_print(CLI_LEVEL_ORDINARY, "Port%d Mode Missing!!\n", index);
        return 0;
    }
    case 6:
        write_flag("V_POWEROFF_P%d", p, "");
        return cli::run_from_root("util bdset 5 " + std::to_string(p));
    case 10:
        cli_print(CLI_LEVEL_TERMINAL, "Enabling Loop Back...");
        return port_control(index, VDSL_PORT_LOOPBACK_ON);
    case 11:
        cli_print(CLI_LEVEL_TERMINAL, "Disabling Loop Back...");
        return port_control(index, VDSL_PORT_LOOPBACK_OFF);
    default:
        return 0;
    }
}

// A line dispatched in the current directory, as the CRC test does it.
int dispatch_here(const char *line)
{
    char buffer[CLI_COMMAND_SIZE];
    std::snprintf(buffer, sizeof buffer, "%s", line);
    return dispatch_command(buffer, current_directory);
}

using cli::NarrowMask;

}  // namespace

extern "C" int auto_reset_control(unsigned char *operation)
{
    unsigned char block[VDSL_BLOCK_HEAD] = {};
    block[0] = *operation;
    int rc = vdsl_port_request(0, VDSL_AUTO_RESET, block, sizeof block);
    *operation = block[0];
    return rc;
}

extern "C" int cmd_util_portop(char *rest, const cli_dir_row *)
{
    int test = 0;
    char list[CLI_COMMAND_SIZE] = "";
    if (std::sscanf(rest, "%i %511s", &test, list) != 2) {
        static const char *const kUsage[] = {"Usage: cmd <testid> <portid>, port id start from 1",
                                             "  1: Enable Port",
                                             "  2: Disable Port",
                                             "  3: Enable Pacing Signal",
                                             "  4: Disable Pacing Signal",
                                             "  5: Power on Port",
                                             "  6: Power off Port",
                                             "  10: Enable loop back",
                                             "  11: Disable loop back"};
        for (const char *l : kUsage)
            cli_print(CLI_LEVEL_ORDINARY, "%s", l);
        return CLI_USAGE;
    }
    std::vector<int> ports;
    if (!parse_port_list(list, ports)) {
        cli_print(CLI_LEVEL_TERMINAL, "Port number process error!!");
        return CLI_FAILED;
    }
    int rc = 0;
    for (int p : ports) {
        int index;
        if (vdsl_port_index(p, &index) != 0)
            return CLI_FAILED;
        rc = portop_one(test, p);
        if ((test == 3 || test == 4) && rc != 0)
            return rc;
    }
    if (test == 2)
        cli::sleep_us(kSecond);
    return rc;
}

extern "C" int cmd_util_bdset(char *rest, const cli_dir_row *)
{
    int test = 0, number = 1, count = 0;
    int fields = std::sscanf(rest, "%i %i %i", &test, &number, &count);
    if (fields < 1) {
        static const char *const kUsage[] = {"Usage: cmd <testid> [<portid> [<count>]], port id start from 1",
                                             "  1: Random Connect/Disconnect Test",
                                             "  2: Temporary CRC Test",
                                             "  3: ResetPort Always High",
                                             "  4: ResetPort Always Low",
                                             "  5: ResetPort",
                                             "  6: Enable auto reset",
                                             "  7: Disable auto reset",
                                             "  8: Query auto reset value"};
        for (const char *l : kUsage)
            cli_print(CLI_LEVEL_ORDINARY, "%s", l);
        return 0;
    }
    // Without a port the board's only port is meant.
    if (fields < 2)
        number = 1;
    int port;
    if (vdsl_port_index(number, &port) != 0)
        return CLI_FAILED;
    cli_print(CLI_LEVEL_ORDINARY, "test id=%i,portid=%i,count=%i", test, port, count);
    int rc = 0;
    switch (test) {
    case 1: {
        NarrowMask narrow;
        for (int i = 0; i < count; i++) {
            int p = std::rand() % (port + 1);
            if (std::rand() & 1) {
                cli_print(CLI_LEVEL_ORDINARY, "connect port on Port%i", p + 1);
                rc = port_control(p, VDSL_PORT_CONNECT);
            } else {
                cli_print(CLI_LEVEL_ORDINARY, "disconnect port on Port%i", p + 1);
                rc = port_control(p, VDSL_PORT_DISCONNECT);
            }
            cli::sleep_us(10 * kSecond);
        }
        return rc;
    }
    case 2: {
        NarrowMask narrow;
        for (int i = 0; i < count; i++) {
            rc = dispatch_here("vdsl init 2 1");
            cli::sleep_us(50 * kSecond);
            dispatch_here("vdsl show linerate 1");
            rc = dispatch_here("vdsl show firmver 1");
            for (int s = 0; s < 900; s++)
                cli::sleep_us(kSecond);
            dispatch_here("vdsl show linerate 1");
            rc = dispatch_here("vdsl show firmver 1");
        }
        return rc;
    }
    case 3:
        rc = chip_reset(port, 1);
        cli_print(CLI_LEVEL_ERROR, rc == 0 ? "Port %i always high." : "Port %i reset high failed.", number);
        return rc;
    case 4:
        rc = chip_reset(port, 2);
        cli_print(CLI_LEVEL_ERROR, rc == 0 ? "Port %i always low." : "Port %i reset low failed.", number);
        return rc;
    case 5:
        rc = chip_reset(port, 0);
        cli_print(CLI_LEVEL_ERROR, rc == 0 ? "Port %i has reset." : "Port %i reset failed.", number);
        return rc;
    case 6:
    case 7: {
        unsigned char op = test == 6 ? 1 : 0;
        rc = auto_reset_control(&op);
        if (test == 6)
            cli_print(CLI_LEVEL_ERROR, rc == 0 ? "Enabled auto reset." : "Enable auto reset failed.");
        else
            cli_print(CLI_LEVEL_ERROR, rc == 0 ? "Disabled auto reset." : "Disable auto reset failed.");
        return rc;
    }
    case 8: {
        unsigned char op = 2;
        rc = auto_reset_control(&op);
        if (rc == 0)
            cli_print(CLI_LEVEL_ERROR, "Queried auto reset is %x\n", op);
        else
            cli_print(CLI_LEVEL_ERROR, "Query auto reset failed.");
        return rc;
    }
    default:
        return 0;
    }
}
