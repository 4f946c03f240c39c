// "util firmver": the driver's and the chip firmware's version identifiers,
// for people and, in silent mode, as a record.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "device_request.h"
#include "narrow_mask.h"
#include "vdsl_device.h"
#include "vdsl_request.h"

namespace {

constexpr size_t kVersionBuffer = 4096;
constexpr size_t kInventoryDigits = 32;

int base62(char c, int before)
{
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return before;
}

void print_inventory_version(int port)
{
    static unsigned char answer[VDSL_BLOCK_SIZE];
    if (mib_get_logic(port, "0.7.4", answer) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "InventoryFWVersion=Error (Getting Mib)");
        return;
    }
    const char *hex = reinterpret_cast<const char *>(answer) + VDSL_ANSWER_TEXT;
    size_t length = std::strlen(hex);
    if (length < kInventoryDigits)
        cli_print(CLI_LEVEL_ORDINARY, "InventoryFWVersion=Error (Length %d)", static_cast<int>(length));
    std::string text;
    for (size_t i = 0; i + 1 < length && i + 1 < kInventoryDigits; i += 2) {
        unsigned byte = 0;
        char pair[3] = {hex[i], hex[i + 1], 0};
        if (std::sscanf(pair, "%2x", &byte) != 1 || byte == 0)
            break;
        text.push_back(static_cast<char>(byte));
    }
    cli_print(CLI_LEVEL_ORDINARY, "InventoryFWVersion=%s", text.c_str());
    int d[7] = {};
    for (int i = 0; i < 7; i++)
        d[i] = base62(i < static_cast<int>(text.size()) ? text[static_cast<size_t>(i)] : 0, i ? d[i - 1] : 0);
    cli_print(CLI_LEVEL_ORDINARY, "InventoryFWVersionNum=%d_%d_%d_%d", d[0], d[1] * 62 + d[2],
              d[3] * 62 + d[4], d[5] * 62 + d[6]);
}

}  // namespace

extern "C" int cmd_firmver(char *rest, const cli_dir_row *)
{
    int number = 0;
    if (std::sscanf(rest, "%i", &number) != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage:cmd <portid>");
        return CLI_USAGE;
    }
    int port;
    if (vdsl_port_index(number, &port) != 0)
        return CLI_FAILED;
    unsigned char state = 0;
    xdsl_get_opstate(port, &state);
    if (state == VDSL_STATE_DISABLE)
        return CLI_FAILED;

    cli::NarrowMask narrow;
    static char version[kVersionBuffer];
    std::memset(version, 0, sizeof version);
    int fd = vdsl_request::open_device_or_report();
    if (fd >= 0) {
        vdsl_device::request(fd, VDSL_DRIVER_VERSION, version, sizeof version);
        vdsl_device::close_device(fd);
    }
    version[sizeof version - 1] = 0;
    std::string driver = version, stamp;
    size_t cut = driver.find(';');
    if (cut != std::string::npos) {
        stamp = driver.substr(cut + 1);
        driver.erase(cut);
    }
    cli_print(CLI_LEVEL_ORDINARY, "xDSLDriverVersion=%s - %s", driver.c_str(), stamp.c_str());
    cli_print(CLI_LEVEL_RECORD, "xDSLDriverVersion %s|", driver.c_str());

    print_inventory_version(port);

    uint32_t v1 = 0, v2 = 0, v3 = 0;
    char mode[3] = "";
    int rc = mib_get_chip_version(port, &v1, &v2, &v3, mode);
    cli_print(CLI_LEVEL_ORDINARY, "xDSLFirmwareVersion=%06x", v1);
    cli_print(CLI_LEVEL_ORDINARY, "xDSLFirmwareDate=%06x", v2);
    cli_print(CLI_LEVEL_ORDINARY, "xDSLFirmwareTime=%06x", v3);
    cli_print(CLI_LEVEL_ORDINARY, "xDSLFirmwareMode=%s", mode);
    cli_print(CLI_LEVEL_ORDINARY, "%s", driver.c_str());
    return rc;
}
