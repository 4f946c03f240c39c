// What surrounds a chip boot: the boot and management interfaces and the
// boot MAC address from the configuration manager, the management interface
// handed to the driver, the reset line, and the "mgt-iface" and
// "ebm-access" commands.
#include <cstdio>
#include <cstring>
#include <linux/sockios.h>
#include <string>
#include <unistd.h>

#include "boot_if_device.h"
#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "device_request.h"
#include "ebm_boot.h"
#include "ebm_boot_link.h"
#include "shell_sleep.h"
#include "vdsl_device.h"
#include "vdsl_request.h"

namespace {

constexpr unsigned long kResetPause = 1000;
enum ResetMode { kPulse = 0, kHigh = 1, kLow = 2 };

const char *const kKeys[] = {"EBM_BOOT_IF_P%d", "EBM_MGT_IF_P%d", "EBM_BOOT_MAC_P%d"};

int usage(const char *text)
{
    cli_print(CLI_LEVEL_ORDINARY, "%s", text);
    return CLI_USAGE;
}

}  // namespace

extern "C" int read_ebm_config(int port, int which, char *buffer, size_t capacity)
{
    if (capacity > 0)
        buffer[0] = '\0';
    if (which < EBM_BOOT_IF || which > EBM_BOOT_MAC || capacity == 0)
        return -1;
    char key[32];
    std::snprintf(key, sizeof key, kKeys[which], port + 1);
    char line[256];
    switch (cfgmgr_read(key, line, sizeof line)) {
    case CFGMGR_READ_OK:
        break;
    case CFGMGR_READ_FAILED:
        cli_print(CLI_LEVEL_ORDINARY, "pipe failed");
        return -1;
    default:
        cli_print(CLI_LEVEL_ORDINARY, "stream reading failed");
        return -1;
    }
    char *value = cfgmgr_value_trim(line);
    if (value[0] == '\n' || value[0] == '\0')
        return -1;
    size_t n = std::strlen(value);
    if (n >= capacity) {
        cli_print(CLI_LEVEL_ORDINARY, "Value of %s too long (at most %zu characters).", key, capacity - 1);
        return -1;
    }
    std::memcpy(buffer, value, n + 1);
    return 0;
}

extern "C" int set_mgt_iface(int port, const char *ifname)
{
    // The driver copies the head of the block: the name goes in a zeroed one.
    unsigned char block[VDSL_BLOCK_HEAD] = {};
    size_t n = std::strlen(ifname);
    if (n >= EBM_IFNAME_SIZE) {
        cli_print(CLI_LEVEL_ORDINARY, "Interface name %s too long (at most %d characters).", ifname,
                  EBM_IFNAME_SIZE - 1);
        return -1;
    }
    std::memcpy(block, ifname, n);
    int fd = vdsl_request::open_device_or_report();
    if (fd < 0)
        return -1;
    int rc = vdsl_device::request(fd, VDSL_SET_MGT_IFACE, block, sizeof block);
    vdsl_device::close_device(fd);
    if (rc < 0) {
        cli_print(CLI_LEVEL_ORDINARY, "ioctl failed.");
        return -1;
    }
    char key[32];
    std::snprintf(key, sizeof key, "EBM_MGT_IF_P%d", port + 1);
    return cfgmgr_write(key, ifname);
}

extern "C" int choose_ebm_interfaces(int port, char *boot_if, char *mac)
{
    if (read_ebm_config(port, EBM_BOOT_IF, boot_if, EBM_IFNAME_SIZE) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "No valid booting interface.");
        return CLI_FAILED;
    }
    if (!mac || read_ebm_config(port, EBM_BOOT_MAC, mac, EBM_MAC_TEXT_SIZE) != 0)
        cli_print(CLI_LEVEL_ORDINARY, "No valid MAC, will use the default.");
    char mgt[EBM_IFNAME_SIZE];
    if (read_ebm_config(port, EBM_MGT_IF, mgt, sizeof mgt) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "No valid management interface, will use the booting interface.");
        std::memcpy(mgt, boot_if, std::strlen(boot_if) + 1);
    }
    if (set_mgt_iface(port, mgt) < 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Failed to set management interface.");
        return CLI_FAILED;
    }
    return 0;
}

namespace boot {

int choose_for_port(int number, int *port, Choice &choice)
{
    static_assert(sizeof choice.boot_if == EBM_IFNAME_SIZE && sizeof choice.mac == EBM_MAC_TEXT_SIZE,
                  "the buffers of one boot");
    if (vdsl_port_index(number, port))
        return CLI_FAILED;
    return choose_ebm_interfaces(*port, choice.boot_if, choice.mac) != 0 ? CLI_FAILED : 0;
}

}  // namespace boot

extern "C" int socket_ioctl_reset(int port, int mode)
{
    char ifname[EBM_IFNAME_SIZE];
    if (read_ebm_config(port, EBM_BOOT_IF, ifname, sizeof ifname) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "%s: Can not get EBM_BOOT_IF\n", "socket_ioctl_reset");
        return CLI_FAILED;
    }
    int fd = boot::open_socket(ifname, 0, nullptr);
    if (fd < 0)
        return CLI_FAILED;
    // The answers are not looked at: the line follows the requests.
    if (mode == kHigh) {
        boot_if::private_request(fd, ifname, SIOCDEVPRIVATE + 1);
    } else if (mode == kLow) {
        boot_if::private_request(fd, ifname, SIOCDEVPRIVATE);
    } else {
        boot_if::private_request(fd, ifname, SIOCDEVPRIVATE + 1);
        cli::sleep_us(kResetPause);
        boot_if::private_request(fd, ifname, SIOCDEVPRIVATE);
        cli::sleep_us(kResetPause);
        boot_if::private_request(fd, ifname, SIOCDEVPRIVATE + 1);
        cli::sleep_us(kResetPause);
    }
    close(fd);
    return 0;
}

extern "C" int chip_reset(int port, int mode)
{
    if (vdsl_port_refused(port))
        return CLI_FAILED;
    return socket_ioctl_reset(port, mode);
}

extern "C" int cmd_util_mgt_iface(char *rest, const cli_dir_row *)
{
    int port = 0;
    char name[CLI_COMMAND_SIZE];
    if (std::sscanf(rest, "%i %511s", &port, name) != 2) {
        usage("Usage:cmd <portid> <ifname>");
        return 0;
    }
    // The key is named by the port as typed; no arithmetic can overflow it.
    if (port < 1 || port > MAX_PORTS) {
        int index;
        return vdsl_port_index(port, &index);
    }
    if (set_mgt_iface(port - 1, name) < 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Failed to set management interface.");
        return CLI_FAILED;
    }
    return 0;
}

extern "C" int cmd_util_ebm_access(char *rest, const cli_dir_row *)
{
    int number = 0, times = 0;
    if (std::sscanf(rest, "%i %d", &number, &times) != 2) {
        usage("Usage:cmd <portid> <times>");
        return 0;
    }
    int port;
    boot::Choice choice;
    if (boot::choose_for_port(number, &port, choice) != 0)
        return CLI_FAILED;
    cli_print(CLI_LEVEL_ORDINARY, "Start Test...");
    int rc = 0;
    for (int r = 1; r <= times; r++) {
        unsigned char word[3];
        if (r % 2) {
            word[0] = 0x12, word[1] = 0x34, word[2] = 0x56;
        } else {
            word[0] = 0x11, word[1] = 0x22, word[2] = 0x33;
        }
        cli_printf_raw("W_count:%d,value=%02x%02x%02x\n", r, word[0], word[1], word[2]);
        rc = ebm_access_word(port, word, 1);
        if (rc != 0)
            continue;
        rc = ebm_access_word(port, word, 0);
        if (rc != 0)
            continue;
        if (word[0] & 0x13) {
            cli_printf_raw("R_count:%d,value=%02x%02x%02x\n", r, word[0], word[1], word[2]);
            continue;
        }
        cli_printf_raw("Error value!!\n");
        break;
    }
    cli_print(CLI_LEVEL_ORDINARY, "End Test...");
    return rc;
}
