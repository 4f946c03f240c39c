// Firmware into the chip: "df" boots it from a file, "dpf" from the package
// with the binary driver image and the settings after it, "ff" hands a file
// to the driver's flash requests, "versioninfo" shows what runs.
#include "firmware_download.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <sys/stat.h>

#include "adsl_pvc.h"
#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "ebm_boot.h"
#include "ebm_boot_link.h"
#include "firmware_package.h"
#include "shell_sleep.h"
#include "vdsl_request.h"

namespace {

constexpr unsigned long kSecond = 1000000;
constexpr char kHeaderRevision[] = "080516_161934_1_50_4_66_2_2";

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

int usage(std::initializer_list<const char *> lines)
{
    for (const char *line : lines)
        cli_print(CLI_LEVEL_ORDINARY, "%s", line);
    return CLI_USAGE;
}

// A chunk request: b0 phase, b1-b2 length, data from b3.
int chunk_request(unsigned long request, int phase, unsigned length, const unsigned char *data)
{
    unsigned char block[VDSL_BLOCK_SIZE] = {};
    if (length > FIRMWARE_CHUNK_SIZE)
        return CLI_FAILED;
    block[0] = static_cast<unsigned char>(phase);
    block[1] = static_cast<unsigned char>(length >> 8);
    block[2] = static_cast<unsigned char>(length);
    if (data && length)
        std::memcpy(block + 3, data, length);
    return vdsl_port_request(0, request, block, sizeof block);
}

// Reads up to n bytes, again when a signal cut the read short; -1 on error.
long read_some(std::FILE *f, unsigned char *buffer, size_t n)
{
    for (;;) {
        size_t got = std::fread(buffer, 1, n, f);
        if (got > 0 || std::feof(f))
            return static_cast<long>(got);
        if (errno != EINTR)
            return -1;
        std::clearerr(f);
    }
}

int load_binary_driver(std::FILE *package, int end_result)
{
    uint32_t start, length;
    if (package_bindrv_span(&start, &length) != 0)
        return CLI_FAILED;
    if (length == 0) {
        cli_print(CLI_LEVEL_ERROR, "xDSL binary driver does not exist!!");
        return end_result;
    }
    cli_print(CLI_LEVEL_ORDINARY, "Start loading binary driver...");
    int rc = bindrv_load_chunk(1, 0, nullptr);
    if (rc == 0 && std::fseek(package, static_cast<long>(start), SEEK_SET) != 0)
        rc = CLI_FAILED;
    for (uint32_t done = 0; rc == 0 && done < length;) {
        unsigned char chunk[FIRMWARE_CHUNK_SIZE];
        size_t want = length - done < sizeof chunk ? length - done : sizeof chunk;
        long got = read_some(package, chunk, want);
        if (got <= 0) {
            rc = CLI_FAILED;
            break;
        }
        rc = bindrv_load_chunk(2, static_cast<unsigned>(got), chunk);
        done += static_cast<uint32_t>(got);
    }
    if (rc != 0) {
        cli_print(CLI_LEVEL_ERROR, "xDSL binary driver loading failed!!");
        return rc;
    }
    rc = bindrv_load_chunk(3, 0, nullptr);
    cli_print(CLI_LEVEL_ORDINARY,
              rc == 0 ? "Loading binary driver complete." : "Loading binary driver failed (end).");
    return rc;
}

// An empty V_POWEROFF value keeps the chip held in reset.
void hold_when_powered_off()
{
    char line[256];
    if (cfgmgr_read("V_POWEROFF_P1", line, sizeof line) != CFGMGR_READ_OK)
        return;
    if (std::strcmp(cfgmgr_value_trim(line), "\n") != 0)
        return;
    cli_printf_raw("Port%d Power Off!!\n", 1);
    if (chip_reset(0, 2) != 0)
        cli_print(CLI_LEVEL_ERROR, "Port %i reset low failed.", 0);
}

}  // namespace

extern "C" int firmware_download_chunk(int port, int phase, unsigned length)
{
    if (phase == 1) {
        int rc = socket_ioctl_reset(port, 0);
        if (rc != 0)
            return rc;
    }
    unsigned char block[VDSL_BLOCK_SIZE] = {};
    block[0] = static_cast<unsigned char>(port);
    block[1] = static_cast<unsigned char>(phase);
    block[2] = static_cast<unsigned char>(length >> 8);
    block[3] = static_cast<unsigned char>(length);
    return vdsl_port_request(port, VDSL_DOWNLOAD_FIRMWARE, block, sizeof block);
}

extern "C" int bindrv_load_chunk(int phase, unsigned length, const unsigned char *data)
{
    return chunk_request(VDSL_LOAD_BINDRV, phase, length, data);
}

extern "C" int flash_write_chunk(int phase, unsigned length, const unsigned char *data)
{
    return chunk_request(VDSL_FLASH_FIRMWARE, phase, length, data);
}

extern "C" int package_download(int port, unsigned id, const char *boot_if, const char *mac)
{
    File package(std::fopen(firmware_package_path, "rb"));
    if (!package) {
        cli_print(CLI_LEVEL_ERROR, "firmware package file \"%s\" was not found.", firmware_package_path);
        return CLI_FAILED;
    }
    uint32_t count;
    if (package_image_count(&count) != 0)
        return CLI_FAILED;
    if (id == 0 || id > count) {
        cli_print(CLI_LEVEL_ERROR, "No such firmware ID: %d", static_cast<int>(id));
        return CLI_FAILED;
    }
    cli_print(CLI_LEVEL_ORDINARY, "Downloading firmware for port %i..", port + 1);
    uint32_t start, length;
    if (package_image_span(id, &start, &length) != 0)
        return CLI_FAILED;
    cli_print(CLI_LEVEL_ORDINARY, "Firmware size is %d bytes", static_cast<int>(length));
    int rc = firmware_download_chunk(port, 1, id);
    if (rc != 0)
        return rc;
    cli_print(CLI_LEVEL_ORDINARY, "Start downloading firmware...");
    rc = ebm_boot(port, boot_if, mac, package.get(), static_cast<long>(start), static_cast<long>(length));
    if (rc != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "EBM booting failed");
        return rc;
    }
    int end = firmware_download_chunk(port, 3, 0);
    cli_print(CLI_LEVEL_ORDINARY,
              end == 0 ? "\nDownloading firmware complete." : "\nDownloading firmware failed (end).");
    hold_when_powered_off();
    cli::sleep_us(kSecond);
    return load_binary_driver(package.get(), end);
}

extern "C" int cmd_util_df(char *rest, const cli_dir_row *)
{
    int number = 0;
    char path[CLI_COMMAND_SIZE];
    if (std::sscanf(rest, "%i %511s", &number, path) != 2)
        return usage({"Usage: cmd <portid> <firmware_path>"});
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    File image(std::fopen(path, "rb"));
    if (!image) {
        cli_print(CLI_LEVEL_ORDINARY, "Firmware file \"%s\" was not found!!", path);
        return CLI_FAILED;
    }
    boot::Choice choice;
    if (choose_ebm_interfaces(port, choice.boot_if, choice.mac) != 0)
        return CLI_FAILED;
    struct stat st;
    if (fstat(fileno(image.get()), &st) != 0)
        return CLI_FAILED;
    int rc = chip_reset(port, 0);
    cli::sleep_us(kSecond);
    if (rc != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Reseting chip was error");
        return rc;
    }
    rc = ebm_boot(port, choice.boot_if, choice.boot_mac(), image.get(), 0, static_cast<long>(st.st_size));
    if (rc != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "EBM booting failed");
        return rc;
    }
    return 0;
}

extern "C" int cmd_util_dpf(char *rest, const cli_dir_row *)
{
    int number = 0, id = 0, profile = 255;
    int fields = std::sscanf(rest, "%i %i %i", &number, &id, &profile);
    if (fields != 2 && fields != 3) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <portid> <firmwareid> [<profileid>]");
        cli_print(CLI_LEVEL_ORDINARY, "       [portid: 1 - %d]", 1);
        return usage({"       [firmwareid: OT=1, RT=2, 0 to skip]", "       [profileid: 1 - 8, 0 to skip]"});
    }
    if (fields == 2)
        profile = 255;
    int port;
    boot::Choice choice;
    if (boot::choose_for_port(number, &port, choice) != 0)
        return CLI_FAILED;
    int download = 0;
    if (id != 0)
        download =
            package_download(port, static_cast<unsigned>(id) & 0xFFFF, choice.boot_if, choice.boot_mac());
    if (profile == 0)
        return download;
    apply_package_profile(port, profile);
    cli_print(CLI_LEVEL_ORDINARY, "Setup ADSL settings");
    int settings = adsl_reapply_settings(port);
    // A failed download stays the answer: the settings went to a chip
    // without its firmware.
    return download != 0 ? download : settings;
}

extern "C" int cmd_util_ff(char *rest, const cli_dir_row *)
{
    char path[CLI_COMMAND_SIZE];
    int offset = 0;
    if (std::sscanf(rest, "%511s %i", path, &offset) < 1)
        return usage({"Usage: cmd <firmware_path> <offset>"});
    cli_print(CLI_LEVEL_ORDINARY, "Flashing firmware %s...", path);
    File file(std::fopen(path, "rb"));
    if (!file) {
        cli_print(CLI_LEVEL_ORDINARY, "firmware file \"%s\" was not found!!", path);
        return CLI_FAILED;
    }
    cli_print(CLI_LEVEL_ORDINARY, "Erasing Flash Memory...");
    int rc = flash_write_chunk(1, 0, nullptr);
    if (rc != 0)
        return rc;
    cli_print(CLI_LEVEL_ORDINARY, "\nStart Flashing Firmware...");
    if (offset != 0 && std::fseek(file.get(), offset, SEEK_SET) != 0)
        return CLI_FAILED;
    for (;;) {
        unsigned char chunk[FIRMWARE_CHUNK_SIZE];
        long got = read_some(file.get(), chunk, sizeof chunk);
        if (got <= 0)
            break;
        flash_write_chunk(2, static_cast<unsigned>(got), chunk);
    }
    rc = flash_write_chunk(3, 0, nullptr);
    cli::sleep_us(2 * kSecond);
    if (rc == 0)
        cli_print(CLI_LEVEL_ORDINARY, "\nFlashing Firmware Complete.");
    return rc;
}

extern "C" int cmd_util_versioninfo(char *rest, const cli_dir_row *)
{
    int number = 0;
    if (std::sscanf(rest, "%i", &number) != 1)
        return usage({"Usage:cmd <portid>"});
    int port;
    if (vdsl_port_index(number, &port))
        return CLI_FAILED;
    unsigned char state = 0;
    xdsl_get_opstate(port, &state);
    if (state == VDSL_STATE_DISABLE)
        return CLI_FAILED;
    unsigned char v[PKG_VERSION_SIZE];
    package_version(v);
    uint32_t w1 = 0, w2 = 0, w3 = 0;
    char mode[3] = "";
    mib_get_chip_version(port, &w1, &w2, &w3, mode);
    for (uint32_t level : {CLI_LEVEL_ORDINARY, CLI_LEVEL_RECORD})
        cli_print(level,
                  "Header rev: %s, DSPVer: %06x_%06x_%06x, FirmwarePackageVer: "
                  "%.2x%.2x%.2x_%.2x%.2x%.2x_%.2x%.2x%.2x",
                  kHeaderRevision, w1, w2, w3, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
    return 0;
}
