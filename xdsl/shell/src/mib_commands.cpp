// MIB access commands of "interface xdsl": entries by logic OID, by name
// and by standard OID, the loop-back status and the whole-memory dump.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli_command.h"
#include "cli_print.h"
#include "device_request.h"
#include "mib_names.h"
#include "vdsl_device.h"
#include "vdsl_request.h"

namespace {

constexpr int kLongEntryWords = 181;
constexpr uint32_t kLoopbackBit = 0x800;

// Requests by standard OID use the second MIB block.
unsigned char std_block[VDSL_BLOCK_SIZE];

// Fields of a command line; the texts are bounded by the line's own size.
struct Args {
    int port = 0;
    char first[CLI_COMMAND_SIZE] = "";
    char second[CLI_COMMAND_SIZE] = "";
};

int usage(const char *text, uint32_t level = CLI_LEVEL_ERROR)
{
    cli_print(level, "%s", text);
    return CLI_USAGE;
}

void print_write_outcome(int rc)
{
    cli_print(CLI_LEVEL_ERROR, rc == 0 ? "MIB value has set." : "Error setting MIB value.");
}

// Refuses to read a disabled port.
int state_check(int port)
{
    unsigned char state = 0;
    xdsl_get_opstate(port, &state);
    if (state == VDSL_STATE_DISABLE) {
        cli_print(CLI_LEVEL_ERROR, "Error getting MIB value.");
        return CLI_FAILED;
    }
    return 0;
}

void print_value(const char *markup, const char *oid, const char *text)
{
    cli_print(CLI_LEVEL_ORDINARY, "MIB2 value: %s", text);
    cli_print(CLI_LEVEL_RECORD, markup, oid, static_cast<int>(std::strtoul(text, nullptr, 16)));
}

const char *answer_text() { return reinterpret_cast<const char *>(vdsl_last_answer) + VDSL_ANSWER_TEXT; }

bool long_entry(const char *oid)
{
    for (const char *name : {"0.6.2", "0.6.3", "0.6.4", "0.6.7"})
        if (std::strcmp(oid, name) == 0)
            return true;
    return false;
}

int show_oid(int port, const char *oid)
{
    if (vdsl_port_refused(port) || state_check(port))
        return CLI_FAILED;
    std::string text;
    int32_t length = mib_entry_length(port, oid);
    if (length >= kLongEntryWords && long_entry(oid)) {
        int words = length < VDSL_LONG_ENTRY_WORDS ? length : VDSL_LONG_ENTRY_WORDS;
        static unsigned char bytes[3 * VDSL_LONG_ENTRY_WORDS];
        int rc = mib_read_by_name(port, oid, bytes, 3 * words);
        if (rc != 0) {
            cli_print(CLI_LEVEL_ERROR, "Error getting MIB value.");
            return rc;
        }
        char word[8];
        for (int i = 0; i < words; i++) {
            std::snprintf(word, sizeof word, "%02x%02x%02x", bytes[3 * i], bytes[3 * i + 1],
                          bytes[3 * i + 2]);
            text += word;
        }
    } else {
        int rc = mib_get_logic(port, oid, vdsl_last_answer);
        if (rc != 0) {
            cli_print(CLI_LEVEL_ERROR, "Error getting MIB value.");
            return rc;
        }
        text = answer_text();
    }
    print_value("<MIB idx=\"0\" loid=\"%s\" value=\"%d\"></MIB>", oid, text.c_str());
    return 0;
}

// A read of one entry (b0 the port, OID from b1) into the last answer,
// printed with its markup; the state check comes first.
int read_and_print(int port, unsigned long number, const char *oid, const char *markup)
{
    if (vdsl_port_refused(port) || state_check(port))
        return CLI_FAILED;
    std::memset(std_block, 0, sizeof std_block);
    std_block[0] = static_cast<unsigned char>(port);
    std::memcpy(std_block + 1, oid, std::strlen(oid) + 1);  // within one command line
    int rc = vdsl_port_request(port, number, std_block, sizeof std_block);
    std::memcpy(vdsl_last_answer, std_block, sizeof std_block);
    vdsl_last_answer[VDSL_BLOCK_SIZE - 1] = 0;
    if (rc != 0) {
        cli_print(CLI_LEVEL_ERROR, "Error getting MIB value.");
        return rc;
    }
    print_value(markup, oid, answer_text());
    return 0;
}

int set_oid(int port, const char *oid, const char *value)
{
    if (vdsl_port_refused(port))
        return CLI_FAILED;
    int rc = mib_set_logic(port, oid, value);
    print_write_outcome(rc);
    return rc;
}

// The entry OID and port index of a standard OID; false when it has none.
bool split_standard(const char *text, char *entry, int *port)
{
    int port_number = 0;
    if (roid_split(text, entry, CLI_COMMAND_SIZE, &port_number) != 0)
        return false;
    return vdsl_port_index(port_number, port) == 0;
}

}  // namespace

extern "C" int cmd_xdsl_set_oid(char *rest, const cli_dir_row *)
{
    Args a;
    if (std::sscanf(rest, "%i %511s %511s", &a.port, a.first, a.second) != 3)
        return usage("Usage:cmd <portid> <loid> <value>");
    int port;
    if (vdsl_port_index(a.port, &port))
        return CLI_FAILED;
    return set_oid(port, a.first, a.second);
}

extern "C" int cmd_xdsl_set_mibname(char *rest, const cli_dir_row *)
{
    Args a;
    if (std::sscanf(rest, "%i %511s %511s", &a.port, a.first, a.second) != 3)
        return usage("Usage:cmd <portid> <name> <value>");
    const char *oid = mib_name_lookup(a.first);
    if (!oid) {
        cli_print(CLI_LEVEL_ORDINARY, "MIB name %s not found", a.first);
        return CLI_FAILED;
    }
    int port;
    if (vdsl_port_index(a.port, &port))
        return CLI_FAILED;
    // Straight to the write: a rewritten line could cut a long value.
    return set_oid(port, oid, a.second);
}

extern "C" int cmd_xdsl_set_oidbit(char *rest, const cli_dir_row *)
{
    Args a;
    unsigned mask = 0, value = 0;
    if (std::sscanf(rest, "%i %511s %x %x", &a.port, a.first, &mask, &value) != 4)
        return usage("Usage:cmd <portid> <loid> <bitmask> <value>");
    cli_print(CLI_LEVEL_ERROR, "portid=%i,loid=%s,bitmask=%i,value=%i", a.port, a.first,
              static_cast<int>(mask), static_cast<int>(value));
    int port;
    if (vdsl_port_index(a.port, &port))
        return CLI_FAILED;
    // A failed read leaves no old value to keep: nothing is written.
    int rc = mib_get_logic(port, a.first, vdsl_last_answer);
    if (rc == 0) {
        uint32_t old = static_cast<uint32_t>(std::strtoul(answer_text(), nullptr, 16));
        char text[16];
        std::snprintf(text, sizeof text, "%06x", (old & ~mask) | (value & mask));
        rc = mib_set_logic(port, a.first, text);
    }
    cli_print(CLI_LEVEL_ERROR, rc == 0 ? "MIB bit value has set." : "Error setting MIB bit value.");
    return rc;
}

extern "C" int cmd_xdsl_set_roid(char *rest, const cli_dir_row *)
{
    Args a;
    if (std::sscanf(rest, "%511s %511s", a.first, a.second) != 2)
        return usage("Usage:cmd <oid> <value>");
    char entry[CLI_COMMAND_SIZE];
    int port = 0;
    if (!split_standard(a.first, entry, &port))
        return CLI_FAILED;
    if (vdsl_port_refused(port))
        return CLI_FAILED;
    std::memset(std_block, 0, sizeof std_block);
    size_t oid_len = std::strlen(entry), value_len = std::strlen(a.second);
    std_block[0] = static_cast<unsigned char>(port);
    std::memcpy(std_block + 1, entry, oid_len + 1);
    std::memcpy(std_block + 2 + oid_len, a.second, value_len + 1);  // both within one command line
    int rc = vdsl_port_request(port, VDSL_SET_DATA, std_block, sizeof std_block);
    print_write_outcome(rc);
    return rc;
}

extern "C" int cmd_xdsl_show_oid(char *rest, const cli_dir_row *)
{
    Args a;
    if (std::sscanf(rest, "%i %511s", &a.port, a.first) != 2)
        return usage("Usage:cmd <portid> <loid>");
    int port;
    if (vdsl_port_index(a.port, &port))
        return CLI_FAILED;
    return show_oid(port, a.first);
}

extern "C" int cmd_xdsl_show_mibname(char *rest, const cli_dir_row *)
{
    Args a;
    if (std::sscanf(rest, "%i %511s", &a.port, a.first) != 2)
        return usage("Usage:cmd <portid> <mib name>");
    const char *oid = mib_name_lookup(a.first);
    if (!oid) {
        cli_print(CLI_LEVEL_ORDINARY, "MIB name %s not found", a.first);
        return CLI_FAILED;
    }
    int port;
    if (vdsl_port_index(a.port, &port))
        return CLI_FAILED;
    return show_oid(port, oid);
}

extern "C" int cmd_xdsl_show_roid(char *rest, const cli_dir_row *)
{
    Args a;
    if (std::sscanf(rest, "%511s", a.first) != 1)
        return usage("Usage:cmd <oid>");
    char entry[CLI_COMMAND_SIZE];
    int port = 0;
    if (!split_standard(a.first, entry, &port))
        return CLI_FAILED;
    return read_and_print(port, VDSL_GET_DATA, entry, "<MIB idx=\"0\" oid=\"%s\" value=\"%d\"></MIB>");
}

extern "C" int cmd_xdsl_show_oid32(char *rest, const cli_dir_row *)
{
    Args a;
    if (std::sscanf(rest, "%i %511s", &a.port, a.first) != 2)
        return usage("Usage:cmd <portid> <loid>");
    int port;
    if (vdsl_port_index(a.port, &port))
        return CLI_FAILED;
    return read_and_print(port, VDSL_GET_MIB32_B, a.first, "<MIB idx=\"0\" loid=\"%s\" value=\"%d\"></MIB>");
}

extern "C" int cmd_show_loopback(char *rest, const cli_dir_row *)
{
    int port = 0, index;
    if (std::sscanf(rest, "%i", &port) != 1)
        return usage("Usage: cmd <portid>", CLI_LEVEL_ORDINARY);
    if (vdsl_port_index(port, &index))
        return CLI_FAILED;
    int32_t status = 0;
    int rc = mib_get_int24(index, "2.1.5", &status);
    if (rc != 0) {
        cli_print(CLI_LEVEL_ERROR, "Error getting MIB value.");
        return rc;
    }
    cli_print(CLI_LEVEL_ORDINARY,
              (status & kLoopbackBit) ? "Loop-Back mode: Enable" : "Loop-Back mode: Disable");
    return 0;
}

extern "C" int cmd_xdsl_dump_mem(char *rest, const cli_dir_row *)
{
    int port = 0;
    if (std::sscanf(rest, "%i", &port) != 1)
        return usage("Usage: cmd <portid>", CLI_LEVEL_ORDINARY);
    int index;
    if (vdsl_port_index(port, &index))
        return CLI_FAILED;
    cli_print(CLI_LEVEL_ORDINARY, "Dumping whole X memory for port %d...", port);
    dsp_mem_dump_file(index, VDSL_MEM_X);
    cli_print(CLI_LEVEL_ORDINARY, "Dumping whole Y memory for port %d...", port);
    dsp_mem_dump_file(index, VDSL_MEM_Y);
    return 0;
}

extern "C" int cmd_util_misc_pktcount_show(char *rest, const cli_dir_row *)
{
    static const char kUsage[] = "Usage:cmd <portid> <ottx/otrx/rttx/rtrx>";
    Args a;
    if (std::sscanf(rest, "%i %511s", &a.port, a.first) != 2)
        return usage(kUsage);
    static const struct {
        const char *word, *oid;
    } kCounters[] = {{"otrx", "3.1.11"}, {"ottx", "3.1.12"}, {"rtrx", "3.1.11.2"}, {"rttx", "3.1.12.2"}};
    const char *oid = nullptr;
    for (const auto &c : kCounters)
        if (std::strcmp(a.first, c.word) == 0)
            oid = c.oid;
    if (!oid)
        return usage(kUsage);
    int port;
    if (vdsl_port_index(a.port, &port))
        return CLI_FAILED;
    return read_and_print(port, VDSL_GET_MIB32, oid, "<MIB idx=\"0\" loid=\"%s\" value=\"%d\"></MIB>");
}

extern "C" int cmd_util_misc_pktcount_clear(char *rest, const cli_dir_row *)
{
    int number = 0;
    if (std::sscanf(rest, "%i", &number) != 1)
        return usage("Usage: cmd <portid>, port id start from 1", CLI_LEVEL_ORDINARY);
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    cli_print(CLI_LEVEL_ORDINARY, "Clear pkt count...");
    // The chip's role picks the pair; without it nothing is known to clear.
    static unsigned char role[VDSL_BLOCK_SIZE];
    if (mib_get_logic(port, "2.1.5", role) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Clear pktcount failed");
        return CLI_FAILED;
    }
    bool far_end = std::strtoul(reinterpret_cast<const char *>(role) + VDSL_ANSWER_TEXT, nullptr, 16) & 1;
    const char *const pair[2] = {far_end ? "3.1.11.2" : "3.1.11", far_end ? "3.1.12.2" : "3.1.12"};
    for (const char *oid : pair) {
        if (mib_set_logic(port, oid, "0") != 0) {
            cli_print(CLI_LEVEL_ORDINARY, "Clear pktcount failed");
            return CLI_FAILED;
        }
        if (mib32_clear(port, oid) != 0) {
            cli_print(CLI_LEVEL_ORDINARY, "Clear mib32 failed");
            return CLI_FAILED;
        }
    }
    cli_print(CLI_LEVEL_ORDINARY, "Clear Success!!");
    return 0;
}
