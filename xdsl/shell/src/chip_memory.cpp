// Chip memory beyond single words: long MIB entries read word by word,
// per-tone segment preparation, and memory dumps to files.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "cli_command.h"
#include "cli_print.h"
#include "device_request.h"
#include "shell_sleep.h"
#include "vdsl_device.h"
#include "vdsl_request.h"

namespace {

constexpr uint32_t kModemStatusWord = 0x1C;
constexpr uint32_t kMemoryWords = 0x10000;
constexpr int kSegmentTones = 128;
constexpr int kSegmentAttempts = 5;
constexpr uint32_t kSegmentDone = 0x100000;

// Entries located through the driver: the second MIB block.
unsigned char info_block[VDSL_BLOCK_SIZE];

}  // namespace

const char *vdsl_memdump_dir = "/tmp";

extern "C" int mib_read_by_name(int port, const char *oid, unsigned char *buffer, int budget)
{
    int g, t, item, index = -1;
    char tail;
    int parts = std::sscanf(oid, "%d.%d.%d.%d%c", &g, &t, &item, &index, &tail);
    if (parts < 3 || budget < 0 || (parts >= 4 && (index < 0 || index >= 128)))
        return CLI_FAILED;
    std::string name = std::to_string(g) + "." + std::to_string(t) + "." + std::to_string(item);
    if (parts >= 4)
        name += "." + std::to_string(index);

    int fd = vdsl_request::open_device_or_report();
    if (fd < 0)
        return -1;
    std::memset(info_block, 0, sizeof info_block);
    std::memcpy(info_block, name.c_str(), name.size() + 1);
    int rc = vdsl_device::request(fd, VDSL_MIB2_INFO, info_block, sizeof info_block);
    vdsl_device::close_device(fd);
    uint32_t info[3];
    std::memcpy(info, info_block, sizeof info);
    const uint32_t addr = info[0], length = info[1];
    const int mem = static_cast<int>(info[2]);
    if (rc != 0 || length == 0)
        return rc;

    uint32_t whole = length < static_cast<uint32_t>(budget) / 3 ? length : static_cast<uint32_t>(budget) / 3;
    for (uint32_t i = 0; i < whole; i++) {
        rc = dsp_mem_read_word_sk(port, addr + i, mem, buffer + 3 * i);
        if (rc != 0)
            return rc;
    }
    int partial = budget % 3;
    if (whole < length && partial) {
        unsigned char word[3];
        rc = dsp_mem_read_word_sk(port, addr + whole, mem, word);
        std::memcpy(vdsl_last_answer, word, 3);
        std::memcpy(buffer + 3 * whole, word, static_cast<size_t>(partial));
        return rc;
    }
    return 0;
}

extern "C" void request_tone_segments(int port, int count)
{
    char value[32];
    for (int s = 0; s < count; s++) {
        for (int attempt = 0; attempt < kSegmentAttempts; attempt++) {
            std::snprintf(value, sizeof value, "%06x%06x%06x", 5, kSegmentTones * s, kSegmentTones * s + 127);
            if (mib_set_logic(port, "2.1.124", value) != 0)
                break;
            std::snprintf(value, sizeof value, "%06x", 0x820081);
            if (mib_set_logic(port, "2.1.88", value) != 0)
                break;
            cli::sleep_us(1000000);
            uint32_t status = 0;
            if (mib_get_hex(port, "2.1.88", &status) == 0 && (status & kSegmentDone))
                break;
        }
    }
}

extern "C" int print_modem_status(int port)
{
    unsigned char w[3];
    if (dsp_mem_read_word(port, kModemStatusWord, VDSL_MEM_X, w) != 0) {
        cli_print(CLI_LEVEL_ERROR, "ModemStatus : modem status memory reading error!!");
        return CLI_FAILED;
    }
    cli_print(CLI_LEVEL_ORDINARY, "ModemStatus : %02x%02x%02x", w[0], w[1], w[2]);
    return 0;
}

extern "C" int dsp_mem_dump_range(int port, uint32_t first, uint32_t count, int mem, const char *path)
{
    cli_print(CLI_LEVEL_ORDINARY, "dump memory...");
    std::FILE *f = std::fopen(path, "a+");
    if (!f) {
        cli_print(CLI_LEVEL_ORDINARY, "Fail to create dump file.");
        return CLI_FAILED;
    }
    std::fprintf(f, "#%s:%04x\n", mem == VDSL_MEM_X ? "X" : "Y", first);
    int rc = 0;
    for (uint32_t a = first; a < first + count; a++) {
        unsigned char w[3] = {0, 0, 0};
        rc = dsp_mem_read_word(port, a, mem, w);
        std::fprintf(f, "%02x%02x%02x\n", w[0], w[1], w[2]);
    }
    cli_print(CLI_LEVEL_ORDINARY, "dump memory end");
    std::fclose(f);
    return rc;
}

extern "C" int dsp_mem_dump_file(int port, int mem)
{
    std::string path =
        std::string(vdsl_memdump_dir) + (mem == VDSL_MEM_X ? "/memdump_x.bin" : "/memdump_y.bin");
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        cli_print(CLI_LEVEL_ERROR, "Fail to create dump file.");
        return CLI_FAILED;
    }
    for (uint32_t a = 0; a < kMemoryWords; a++) {
        unsigned char w[3];
        if (dsp_mem_read_word(port, a, mem, w) != 0)
            std::memcpy(w, "XXX", 3);
        std::fwrite(w, 1, 3, f);
    }
    std::fclose(f);
    return 0;
}
