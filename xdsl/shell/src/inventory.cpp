// "show invent": the line inventory of both ends.
#include <cstdio>
#include <cstring>
#include <string>

#include "chip_answers.h"
#include "cli_command.h"
#include "cli_print.h"
#include "line_display.h"
#include "vdsl_request.h"

using namespace line_display;
using chip_answers::InventoryVersion;

namespace {

struct EndInventory {
    int32_t unit = 0, self_test = -1;
    unsigned char g994_vendor[chip_answers::kVendorBytes] = {};
    unsigned char system_vendor[chip_answers::kVendorBytes] = {};
    unsigned char version[chip_answers::kVersionBytes] = {};
    unsigned char serial[chip_answers::kSerialBytes] = {};
    std::string tx_capabilities;
};

// Every entry of one end; false when the last one (the capabilities) could not be read.
bool read_end(int port, int end, EndInventory &inv)
{
    auto indexed = [end](const char *oid) { return std::string(oid) + "." + std::to_string(end); };
    mib_get_int24_idx(port, "0.7.1", &inv.unit, end);
    mib_read_by_name(port, indexed("0.7.2").c_str(), inv.g994_vendor, sizeof inv.g994_vendor);
    mib_read_by_name(port, indexed("0.7.3").c_str(), inv.system_vendor, sizeof inv.system_vendor);
    mib_read_by_name(port, indexed("0.7.4").c_str(), inv.version, sizeof inv.version);
    mib_read_by_name(port, indexed("0.7.5").c_str(), inv.serial, sizeof inv.serial);
    if (mib_get_int24_idx(port, "0.7.6", &inv.self_test, end) != 0)
        inv.self_test = -1;
    if (mib_get_logic(port, indexed("0.7.7").c_str(), vdsl_last_answer) != 0)
        return false;
    inv.tx_capabilities = reinterpret_cast<const char *>(vdsl_last_answer) + VDSL_ANSWER_TEXT;
    return true;
}

std::string vendor_code(const unsigned char (&vendor)[chip_answers::kVendorBytes])
{
    return chip_answers::bounded_text(vendor + 2, sizeof vendor - 2);
}

void print_end(const EndInventory &inv)
{
    const char *unit = inv.unit == 1 ? "Central Office" : inv.unit == 2 ? "Remote Site" : nullptr;
    const char *self_test = inv.self_test == 0 ? "passed" : inv.self_test == 1 ? "failed" : nullptr;
    const InventoryVersion v = chip_answers::decode_inventory_version(inv.system_vendor, inv.version);
    const std::string g994 = vendor_code(inv.g994_vendor), system = vendor_code(inv.system_vendor);
    const std::string serial = chip_answers::bounded_text(inv.serial, sizeof inv.serial);
    const unsigned char *gc = inv.g994_vendor, *sc = inv.system_vendor;

    if (unit)
        cli_print(CLI_LEVEL_ORDINARY, "Unit\t                  |%-40s", unit);
    cli_print(CLI_LEVEL_ORDINARY, "G994vendorid              |Country code:%02x%02x,Vendor=%-40s", gc[0],
              gc[1], g994.c_str());
    cli_print(CLI_LEVEL_ORDINARY, "Systemvendorid            |Country code:%02x%02x,Vendor=%-40s", sc[0],
              sc[1], system.c_str());
    if (v.form == InventoryVersion::Raw)
        cli_print(CLI_LEVEL_ORDINARY, "version no.               |%-20s", v.text.c_str());
    else
        cli_print(CLI_LEVEL_ORDINARY, "version no.               |%s", v.text.c_str());
    cli_print(CLI_LEVEL_ORDINARY, "version no.(octet string) |%-20s", v.octets.c_str());
    if (v.form == InventoryVersion::Base62)
        cli_print(CLI_LEVEL_ORDINARY, "raw version no.           |%-20s", v.raw.c_str());
    cli_print(CLI_LEVEL_ORDINARY, "serial no.                |%-40s", serial.c_str());
    if (self_test)
        cli_print(CLI_LEVEL_ORDINARY, "self-test result          |%-40s", self_test);
    cli_print(CLI_LEVEL_ORDINARY, "tx capabilities           |%-40s\n", inv.tx_capabilities.c_str());

    if (unit)
        cli_print(CLI_LEVEL_RECORD, "Unit=%s|", unit);
    cli_print(CLI_LEVEL_RECORD, "G994vendorid=Country code:%02x%02x,Vendor=%s|", gc[0], gc[1], g994.c_str());
    cli_print(CLI_LEVEL_RECORD, "Systemvendorid=Country code:%02x%02x,Vendor=%s|", sc[0], sc[1],
              system.c_str());
    cli_print(CLI_LEVEL_RECORD, "version no.=%s|", v.text.c_str());
    cli_print(CLI_LEVEL_RECORD, "version no.(octet string)=%s|", v.octets.c_str());
    if (v.form == InventoryVersion::Base62)
        cli_print(CLI_LEVEL_RECORD, "raw version no.=%s|", v.raw.c_str());
    cli_print(CLI_LEVEL_RECORD, "serial no.=%s|", serial.c_str());
    if (self_test)
        cli_print(CLI_LEVEL_RECORD, "self-test result=%s|", self_test);
    cli_print(CLI_LEVEL_RECORD, "tx capabilities=%s|", inv.tx_capabilities.c_str());
}

}  // namespace

extern "C" int cmd_show_invent(char *rest, const cli_dir_row *)
{
    unsigned number;
    int port;
    if (int rc = open_port(rest, "Usage: cmd <portid>", &number, &port))
        return rc;
    if (powered_off(port)) {
        cli_print(CLI_LEVEL_ERROR, "Error getting inventory value.");
        return CLI_DONE;
    }
    for (int end : {1, 2}) {
        cli_print(CLI_LEVEL_ORDINARY, "Line Inventory of Line %u:", number);
        EndInventory inv;
        if (read_end(port, end, inv))
            print_end(inv);
    }
    return CLI_DONE;
}
