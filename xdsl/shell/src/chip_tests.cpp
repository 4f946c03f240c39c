// The developer's chip and driver tests of the util directory: the print
// mask, the statistics delay, port statistics, SPI, GPIO, HPI and chip
// memory words.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli_command.h"
#include "cli_print.h"
#include "device_request.h"
#include "narrow_mask.h"
#include "vdsl_device.h"
#include "vdsl_request.h"

namespace {

// The driver's SPI test request; this driver has no handler for it.
constexpr unsigned long kSpiTest = 0x7652;
constexpr uint32_t kWordSpace = 0x10000;
constexpr uint32_t kAddressSpace = 0x1000000;
constexpr uint32_t kRandomAddresses = 0x4000;

void print_lines(const char *const *lines, size_t count, uint32_t first_level)
{
    for (size_t i = 0; i < count; i++)
        cli_print(i == 0 ? first_level : CLI_LEVEL_ORDINARY, "%s", lines[i]);
}

// One request on a device of its own; -1 (with the open message and no
// newline, as the statistics delay has it) when it cannot be opened.
struct Device {
    int fd = vdsl_device::open_device();
    ~Device()
    {
        if (fd >= 0)
            vdsl_device::close_device(fd);
    }
    int request(unsigned long number, unsigned char *block, size_t size)
    {
        return vdsl_device::request(fd, number, block, size);
    }
};

void print_open_failed()
{
    static const char kText[] = "vdsl device open failed.";
    cli_write_raw(kText, sizeof kText - 1);
}

}  // namespace

extern "C" int cmd_util_level(char *rest, const cli_dir_row *)
{
    unsigned mask = 0;
    if (std::sscanf(rest, "%x", &mask) != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage:cmd <debug_level> ex: cmd 0x00000020");
        return CLI_USAGE;
    }
    cli_print_mask = mask;
    cli_print(CLI_LEVEL_ERROR, "set_debug_level(0x%x)", mask);
    return 0;
}

extern "C" int cmd_util_misc_statdelay(char *rest, const cli_dir_row *)
{
    unsigned seconds = 0;
    if (std::sscanf(rest, "%u", &seconds) != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <seconds>");
        return CLI_USAGE;
    }
    Device dev;
    if (dev.fd < 0) {
        print_open_failed();
        return CLI_FAILED;
    }
    unsigned char block[VDSL_BLOCK_HEAD] = {};
    std::snprintf(reinterpret_cast<char *>(block), sizeof block, "%u", seconds);
    int rc = dev.request(VDSL_SET_THREAD_DELAY, block, sizeof block);
    if (rc != 0)
        cli_print(CLI_LEVEL_ERROR, "Can't set statistic thread delay.");
    return rc;
}

extern "C" int cmd_util_clrstatus(char *rest, const cli_dir_row *)
{
    int number = 0;
    if (std::sscanf(rest, "%i", &number) != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage:cmd <portid>");
        return 0;
    }
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    unsigned char block[VDSL_BLOCK_HEAD] = {static_cast<unsigned char>(port)};
    return vdsl_port_request(port, VDSL_CLEAR_PORT_STATS, block, sizeof block);
}

extern "C" int cmd_util_spi(char *rest, const cli_dir_row *)
{
    int type = 0;
    unsigned value = 0;
    int fields = std::sscanf(rest, "%i %x", &type, &value);
    if (fields != 2 && !(fields == 1 && type == 2)) {
        static const char *const kUsage[] = {"Usage:cmd <type> <value>",
                                             "type : 1:CS, 2:read, 3:write, 4:address",
                                             "value: (1) for CS,      0:low, 1:high",
                                             "value: (2) for read,    no parameter",
                                             "value: (3) for write,   one byte value, ex : a5",
                                             "value: (4) for address, 0: read address 6c31 (xdslFirmwareVer)",
                                             "                        1: write address 6c31 as 00aa22"};
        print_lines(kUsage, sizeof kUsage / sizeof *kUsage, CLI_LEVEL_ERROR);
        return CLI_USAGE;
    }
    if (type < 1 || type > 4)
        cli_print(CLI_LEVEL_ORDINARY, "Allowed type is 1 - 4");
    Device dev;
    if (dev.fd < 0) {
        cli_write_raw("vdsl device open failed.\n", 25);
        return CLI_FAILED;
    }
    unsigned char block[VDSL_BLOCK_HEAD] = {static_cast<unsigned char>(type),
                                            static_cast<unsigned char>(value)};
    cli_printf_raw("set_spi send type=%d value=%d\n", type, static_cast<int>(value));
    // The driver's answer is not the test's result: the test is watched on the bus.
    (void)dev.request(kSpiTest, block, sizeof block);
    return 0;
}

extern "C" int cmd_util_gpio(char *rest, const cli_dir_row *)
{
    int type = 0, value = 0, pin = 0;
    if (std::sscanf(rest, "%i %i %i", &type, &value, &pin) != 3) {
        static const char *const kUsage[] = {
            "Usage:cmd <type> <value> <pin>", "  type: 1:direction, 2:level, 3:all input mode",
            "  value: for direction, 0:output, 1:input ; for level, 0:off, 1:set ; for input mode, 0:off, 1:on",
            "  pin: gpio pin, 0 - 31"};
        print_lines(kUsage, sizeof kUsage / sizeof *kUsage, CLI_LEVEL_ERROR);
        return CLI_USAGE;
    }
    if (type < 1 || type > 3)
        cli_print(CLI_LEVEL_ORDINARY, "Allowed type is 1 - 3");
    if (value > 1)
        cli_print(CLI_LEVEL_ORDINARY, "Allowed value is 0 - 1");
    if (pin > 31)
        cli_print(CLI_LEVEL_ORDINARY, "Allowed pinnum is 0 - 31");
    Device dev;
    if (dev.fd < 0) {
        cli_write_raw("vdsl device open failed.\n", 25);
        return CLI_FAILED;
    }
    unsigned char block[VDSL_BLOCK_HEAD] = {static_cast<unsigned char>(pin), static_cast<unsigned char>(type),
                                            static_cast<unsigned char>(value)};
    cli_printf_raw("set_gpio send pin=%d type=%d value=%d\n", pin, type, value);
    (void)dev.request(VDSL_GPIO_TEST, block, sizeof block);
    return 0;
}

extern "C" int cmd_util_hpi(char *rest, const cli_dir_row *)
{
    int test = 0, number = 0;
    if (std::sscanf(rest, "%i %i", &test, &number) != 2) {
        static const char *const kUsage[] = {
            "Usage: cmd <testid> <portid>", "  1: HPI R/W Test on Specified Port",
            "  2: HPI Write Test on Specified Port", "  3: HPI Read Test on Specified Port",
            "  4: HPI Read always 50 bytes on Specified Port"};
        print_lines(kUsage, sizeof kUsage / sizeof *kUsage, CLI_LEVEL_ORDINARY);
        return CLI_USAGE;
    }
    cli_print(CLI_LEVEL_ORDINARY, "HPI test id=%i,portid=%i", test, number);
    Device dev;
    if (dev.fd < 0) {
        cli_print(CLI_LEVEL_TERMINAL, "vdsl device open failed.");
        return CLI_FAILED;
    }
    unsigned long request = test == 1   ? VDSL_HPI_TEST
                            : test == 2 ? VDSL_HPI_TEST_WRITE
                            : test == 3 ? VDSL_HPI_TEST_READ
                            : test == 4 ? VDSL_HPI_TEST_READ_FIXSIZE
                                        : 0;
    if (request == 0)
        return 0;
    unsigned char block[VDSL_BLOCK_HEAD] = {static_cast<unsigned char>(number - 1)};
    return dev.request(request, block, sizeof block);
}

extern "C" int cmd_util_mem(char *rest, const cli_dir_row *)
{
    int test = 0, number = 0;
    unsigned mem = 0, address = 0, count = 0, data = 0;
    int fields = std::sscanf(rest, "%i %i %x %x %x %x", &test, &number, &mem, &address, &count, &data);
    bool parsed = test == 3 ? fields == 3 : fields == 5 || fields == 6;
    if (!parsed) {
        static const char *const kUsage[] = {
            "Usage: cmd <testid> <portid> <memtype> [<address-hex> <count-hex> [<data-hex>]]",
            "  1: Read Memory Test. ex: ut mem 1 1 0 ff 0a",
            "  2: Write Memory Test. ex: ut mem 2 1 0 ff 0a 1f",
            "  3: Memory Random Reading Test. <testid> <maxport> <count-hex>.",
            "     ex: ut mem 3 1 100000",
            "  4: Read Award Memory Test(<memtype> will be ignored here).",
            "     ex: ut mem 4 1 0 ff 0a",
            "  5: Write Award Memory Test(<memtype> will be ignored here).",
            "     ex: ut mem 5 1 0 ff 0a 1f",
            "  6 Read Remote Memory Test. ex: ut mem 1 1 0 ff 0a",
            "  [memtype: x=0, y=1, p=2]"};
        print_lines(kUsage, sizeof kUsage / sizeof *kUsage, CLI_LEVEL_ORDINARY);
        return CLI_USAGE;
    }
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    if (test == 2 && address >= kWordSpace) {
        cli_print(CLI_LEVEL_ERROR, "Memory address exceed boundary.");
        return CLI_FAILED;
    }
    // Tests 4 and 5 would read and write the shell's own memory at any
    // address a remote tool sends: not served.
    if (test == 4 || test == 5) {
        cli_print(CLI_LEVEL_ERROR, "Award memory tests are not supported.");
        return CLI_FAILED;
    }
    cli::NarrowMask narrow;
    if (test == 3) {
        count = mem;
        mem = 0;
        cli_print(CLI_LEVEL_ORDINARY, "test id=%i,portid=%i,memtype=%i,address=0x%06x,count=0x%06x", test,
                  port, static_cast<int>(count), 0u, 0u);
    } else if (test == 2) {
        cli_print(CLI_LEVEL_ORDINARY,
                  "test id=%i,portid=%i,memtype=%i,address=0x%06x,count=0x%06x,data=0x%06x", test, port,
                  static_cast<int>(mem), address, count, data);
    } else {
        cli_print(CLI_LEVEL_ORDINARY, "test id=%i,portid=%i,memtype=%i,address=0x%06x,count=0x%06x", test,
                  port, static_cast<int>(mem), address, count);
    }
    unsigned char word[3];
    switch (test) {
    case 1:
        for (uint32_t i = 0; i < count && address + i < kAddressSpace; i++) {
            if (dsp_mem_read_word(port, address + i, static_cast<int>(mem & 0xFF), word) != 0) {
                cli_print(CLI_LEVEL_ERROR, "Memory reading error!!");
                return CLI_FAILED;
            }
            cli_print(CLI_LEVEL_ORDINARY, "Address:%06x Data:%02x%02x%02x ==", address + i, word[0], word[1],
                      word[2]);
        }
        break;
    case 2: {
        const unsigned char bytes[3] = {static_cast<unsigned char>(data >> 16),
                                        static_cast<unsigned char>(data >> 8),
                                        static_cast<unsigned char>(data)};
        for (uint32_t i = 0; i < count && address + i < kWordSpace; i++) {
            if (dsp_mem_write_word(port, address + i, static_cast<int>(mem & 0xFF), bytes) != 0) {
                cli_print(CLI_LEVEL_ERROR, "Memory writing error!!");
                return CLI_FAILED;
            }
            cli_print(CLI_LEVEL_ORDINARY, "%06i == Address:%06x has written ==", static_cast<int>(i),
                      address + i);
        }
        break;
    }
    case 3:
        for (uint32_t i = 0; i < count; i++) {
            int p = std::rand() % (port + 1);
            uint32_t at = static_cast<uint32_t>(std::rand()) % kRandomAddresses;
            int type = std::rand() & 1;
            if (dsp_mem_read_word(p, at, type, word) != 0) {
                cli_print(CLI_LEVEL_ERROR, "Memory reading error on Port%i!!", p + 1);
                return CLI_FAILED;
            }
            cli_print(CLI_LEVEL_ORDINARY,
                      "%06i == Port%i %s Address:%06x Data:%02x%02x%02x ==", static_cast<int>(i), p + 1,
                      type ? "Y" : "X", at, word[0], word[1], word[2]);
        }
        break;
    case 6:
        for (uint32_t i = 0; i < count && address + i < kAddressSpace; i++) {
            if (dsp_mem_read_remote(port, address + i, mem, word) != 0) {
                cli_print(CLI_LEVEL_ERROR, "Memory reading error!!");
                return CLI_FAILED;
            }
            cli_print(CLI_LEVEL_ORDINARY, "%06i == Address:%06x Data:%02x%02x%02x ==", static_cast<int>(i),
                      address + i, word[0], word[1], word[2]);
        }
        break;
    default:
        break;
    }
    return 0;
}
