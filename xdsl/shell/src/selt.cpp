// "util selt": calibration dumps for an open and a closed line end, a
// measurement handed to the outside parser, and its results.
#include "selt.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "shell_sleep.h"
#include "vdsl_request.h"

namespace {

constexpr unsigned long kSecond = 1000000;
constexpr int kDonePolls = 10;
constexpr const char *kStatusEntry = "65535.65535.65535";

struct PathKey {
    const char *key, *fallback;
};

constexpr PathKey kPaths[SELT_FILES] = {
    {"SELT_PARSER", "/tmp/Selt"},
    {"CALIBRATE_OPEN", "/tmp/calibrate.open.txt"},
    {"CALIBRATE_CLOSED", "/tmp/calibrate.closed.txt"},
    {"SELT_DATA", "/tmp/seltDate.txt"},
    {"XFR_DATA", "/tmp/xfr.data"},
    {"SELTMIB_RAW", "/tmp/seltMIB.raw"},
    {"SELT_LOG", "/tmp/selt.log"},
};

char paths[SELT_FILES][SELT_PATH_SIZE];

// Word i of the status entry's value text; 0 when the read fails.
uint32_t status_word(int port, int i)
{
    static unsigned char answer[VDSL_BLOCK_SIZE];
    std::memset(answer, 0, sizeof answer);
    mib_get_logic(port, kStatusEntry, answer);
    const char *text = reinterpret_cast<const char *>(answer) + VDSL_ANSWER_TEXT;
    if (std::strlen(text) < static_cast<size_t>(6 * (i + 1)))
        return 0;
    char word[7] = {};
    std::memcpy(word, text + 6 * i, 6);
    return static_cast<uint32_t>(std::strtoul(word, nullptr, 16));
}

void host_write(int port, const char *oid, const char *value)
{
    int rc = mib_set_logic(port, oid, value);
    cli_printf_raw("%s\n", rc == 0 ? "MIB value has set." : "Error setting MIB value.");
}

void host_command(int port, const char *message, const char *command)
{
    cli_print(CLI_LEVEL_ORDINARY, "%s", message);
    host_write(port, "2.1.7", command);
    cli::sleep_us(kSecond);
    host_write(port, "2.1.8", "1");
}

bool exists(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

bool remove_old(const char *path)
{
    if (exists(path) && std::remove(path) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "error: can't remove exist file.");
        return false;
    }
    return true;
}

int dump(int port, uint32_t start, uint32_t count, int mem, const char *path)
{
    cli_print(CLI_LEVEL_ORDINARY, "start address = 0x%06x, length = %d", start, static_cast<int>(count));
    return dsp_mem_dump_range(port, start, count, mem, path);
}

// The parser runs with its arguments as given: no shell reads the paths.
void run_parser(bool log)
{
    std::vector<const char *> argv = {paths[SELT_PARSER],           "-o", paths[SELT_CALIBRATE_OPEN], "-c",
                                      paths[SELT_CALIBRATE_CLOSED], "-i", paths[SELT_DATA],           "-x",
                                      paths[SELT_XFR_DATA],         "-r", paths[SELT_MIB_RAW]};
    if (log) {
        argv.push_back("-l");
        argv.push_back(paths[SELT_LOG]);
    }
    argv.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], const_cast<char *const *>(argv.data()));
        std::fprintf(stderr, "%s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    if (pid > 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

int prepare(int port, const char *mode_message, const char *mode)
{
    host_command(port, "disconnect...", "4");
    host_command(port, mode_message, mode);
    if (selt_wait_done(port) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "error: selt status was not DONE");
        return CLI_FAILED;
    }
    return selt_files_init() == 0 ? 0 : CLI_FAILED;
}

}  // namespace

extern "C" int selt_files_init(void)
{
    int rc = 0;
    for (int i = 0; i < SELT_FILES; i++) {
        std::snprintf(paths[i], sizeof paths[i], "%s", kPaths[i].fallback);
        char line[512];
        if (cfgmgr_read(kPaths[i].key, line, sizeof line) != CFGMGR_READ_OK)
            continue;
        const char *value = cfgmgr_value_trim(line);
        // An empty value keeps the default rather than naming no file.
        if (value[0] == 0 || value[0] == '\n')
            continue;
        if (std::strlen(value) >= SELT_PATH_SIZE) {
            cli_print(CLI_LEVEL_ORDINARY, "error: %s is longer than %d characters.", kPaths[i].key,
                      SELT_PATH_SIZE - 1);
            rc = -1;
            continue;
        }
        std::snprintf(paths[i], sizeof paths[i], "%s", value);
    }
    return rc;
}

extern "C" const char *selt_file(int which) { return which >= 0 && which < SELT_FILES ? paths[which] : ""; }

extern "C" int selt_wait_done(int port)
{
    cli_print(CLI_LEVEL_ORDINARY, "check selt status...");
    for (int i = 0; i < kDonePolls; i++) {
        if ((status_word(port, 0) >> 23) == 1) {
            cli_print(CLI_LEVEL_ORDINARY, "selt status become DONE");
            return 0;
        }
        if (i + 1 < kDonePolls)
            cli::sleep_us(kSecond);
    }
    return CLI_FAILED;
}

extern "C" int cmd_selt_calibrate(char *rest, const cli_dir_row *)
{
    unsigned number = 0;
    int mode = 0;
    if (std::sscanf(rest, "%u %d", &number, &mode) != 2) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <portid> <calibration mode: 1 = open, 2 = closed>");
        return CLI_USAGE;
    }
    int port = static_cast<int>(number) - 1;
    if (int rc = prepare(port, "set calibration mode...", "d"))
        return rc;
    if (mode != 1 && mode != 2)
        return 0;
    const char *path = paths[mode == 1 ? SELT_CALIBRATE_OPEN : SELT_CALIBRATE_CLOSED];
    if (!remove_old(path))
        return CLI_FAILED;
    uint32_t start = status_word(port, 0);
    uint32_t count = status_word(port, 0);
    return dump(port, start, count, VDSL_MEM_X, path);
}

extern "C" int cmd_selt_test(char *rest, const cli_dir_row *)
{
    unsigned number = 0;
    int log = 0;
    if (std::sscanf(rest, "%u %d", &number, &log) != 2 || log > 2) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <portid> <log: 0 = off, 1 = on>");
        return CLI_USAGE;
    }
    int port = static_cast<int>(number) - 1;
    if (int rc = prepare(port, "set selt mode...", "e"))
        return rc;
    const char *data = paths[SELT_DATA];
    if (!remove_old(data))
        return CLI_FAILED;
    uint32_t start = status_word(port, 0), count = status_word(port, 0);
    dump(port, start, count, VDSL_MEM_X, data);
    start = status_word(port, 1);
    count = status_word(port, 1);
    dump(port, start, count, VDSL_MEM_X, data);
    start = status_word(port, 0);
    count = status_word(port, 0);
    dump(port, start, count, VDSL_MEM_Y, data);

    cli_print(CLI_LEVEL_ORDINARY, "start generate raw file...");
    if (!exists(paths[SELT_CALIBRATE_OPEN])) {
        cli_print(CLI_LEVEL_ORDINARY, "error: no calibrate.open.txt file");
        return CLI_FAILED;
    }
    if (!exists(paths[SELT_CALIBRATE_CLOSED])) {
        cli_print(CLI_LEVEL_ORDINARY, "error: no calibrate.closed.txt file");
        return CLI_FAILED;
    }
    run_parser(log != 0);
    cli_print(CLI_LEVEL_ORDINARY, "\ngenerate raw file end.");
    cli_print(CLI_LEVEL_ORDINARY, "set selt status = 0...");
    int rc = mib_set_logic(port, kStatusEntry, "0");
    cli_printf_raw("%s\n", rc == 0 ? "MIB value has set." : "Error setting MIB value.");
    return rc;
}

extern "C" int cmd_selt_show(char *rest, const cli_dir_row *)
{
    unsigned number = 0;
    char name[CLI_COMMAND_SIZE];
    if (std::sscanf(rest, "%u %511s", &number, name) != 2) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <portid> <name>");
        return CLI_USAGE;
    }
    int port = static_cast<int>(number) - 1;
    if (selt_files_init() != 0)
        return CLI_FAILED;
    FILE *raw = std::fopen(paths[SELT_MIB_RAW], "re");
    if (!raw) {
        cli_print(CLI_LEVEL_ORDINARY, "Fail to open raw file.");
        return CLI_FAILED;
    }
    static const char *const kFromFile[] = {"seltTestParaLoopLength",
                                            "seltTestParaLoopTermin",
                                            "seltTestParaUpShnCap",
                                            "seltTestParaDwnShnCap",
                                            "seltTestParaInbandNoise",
                                            "seltTestParaUpRateAtMgn",
                                            "seltTestParaDwnRateAtMgn",
                                            "seltTestParaAttnAt180KHZ",
                                            "seltTestParaAttnAt300KHZ",
                                            "seltTestParaUnCalibLineScale",
                                            "seltTestParaUnCalibEchoRespRealSegment1",
                                            "seltTestParaUnCalibEchoRespImgSegment1"};
    int rc = -1;
    for (const char *key : kFromFile)
        if (std::strcmp(name, key) == 0)
            rc = print_key_value(raw, key);
    if (rc == -1) {
        rc = 0;
        if (std::strcmp(name, "seltTestParaQlnGroupSize") == 0) {
            cli_print(CLI_LEVEL_ORDINARY, "Value = 1\n");
        } else if (std::strcmp(name, "seltTestParaUerStatus") == 0) {
            uint32_t s = status_word(port, 0);
            cli_print(CLI_LEVEL_ORDINARY, "Value = %d\n", (s & 0x20) ? 3 : (s & 0x18) ? 2 : 1);
        } else if (std::strcmp(name, "seltTestParaQlnStatus") == 0) {
            uint32_t s = status_word(port, 0);
            cli_print(CLI_LEVEL_ORDINARY, "Value = %d\n", (s & 0x1000) ? 3 : (s & 0x800) ? 2 : 1);
        } else {
            cli_print(CLI_LEVEL_ORDINARY, "No this MIB name.");
            rc = CLI_FAILED;
        }
    }
    std::fclose(raw);
    return rc;
}
