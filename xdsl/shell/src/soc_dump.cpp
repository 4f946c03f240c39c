// "util dumpsoc": the shell's own commands run one after another with
// standard output in /tmp/dumpsoc.txt, the chip's error buffer watched while
// the line trains, and its memory dumped whenever it reports an overflow or
// reaches showtime.
#include "soc_dump.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/time.h>
#include <unistd.h>

#include "cli_command.h"
#include "cli_print.h"
#include "line_status.h"
#include "mib_names.h"
#include "shell_sleep.h"
#include "shell_state.h"
#include "vdsl_request.h"

namespace {

constexpr unsigned long kSecond = 1000000;
constexpr int kErrorBufferPasses = 60;
constexpr int kDumpLoopPasses = 90;
constexpr long kDumpLoopSeconds = 91;
constexpr int kShowtimeWaitPasses = 90;
constexpr int kRecheckSeconds = 30;
constexpr uint32_t kMemoryWindow = 0x4c00;
constexpr uint32_t kMemoryWindowWords = 2048;
constexpr uint32_t kOverflowBit = 0x2;

// Memory files are numbered on for as long as the process lives.
int memory_dumps = 0;

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A heading as puts writes it: the text and a newline.
void heading(const char *text) { cli_printf_raw("%s\n", text); }

int run_line(const char *format, int port)
{
    char line[CLI_COMMAND_SIZE];
    std::snprintf(line, sizeof line, format, port + 1);
    return cli::run_from_root(line);
}

unsigned char state_of(int port)
{
    unsigned char state = 0;
    xdsl_get_opstate(port, &state);
    return state;
}

// "NAME : value text" of one entry, or the read's error.
void print_entry_text(int port, const char *label, const char *oid)
{
    static unsigned char answer[VDSL_BLOCK_SIZE];
    if (mib_get_logic(port, oid, answer) != 0) {
        cli_print(CLI_LEVEL_ERROR, "Error getting MIB value.");
        return;
    }
    cli_print(CLI_LEVEL_ORDINARY, "%s%s", label, reinterpret_cast<const char *>(answer) + VDSL_ANSWER_TEXT);
}

// The line's training diagnostics: the error buffer and three words.
int print_diagnostics(int port)
{
    print_entry_text(port, "ModemErrBuf : ", "2.1.132");
    heading("xdslLineDiagTrn: ");
    run_line("interface xdsl show oid %d 2.1.57.1", port);
    heading("xdslLineDiagTrnD: ");
    run_line("interface xdsl show oid %d 2.1.58.1", port);
    heading("xdslLineDiagTrnDD: ");
    return run_line("interface xdsl show oid %d 2.1.59.1", port);
}

void end_pass()
{
    cli_printf_raw("\n");
    cli::sleep_us(kSecond);
}

void error_buffer_pass(int port)
{
    print_modem_status(port);
    if (state_of(port) != VDSL_STATE_DISABLE)
        print_diagnostics(port);
    end_pass();
}

// The memory window into the dump and into the next numbered memory file.
void dump_memory(int port)
{
    char path[256];
    std::snprintf(path, sizeof path, "%s/dumpsoc.mem.%d.txt", vdsl_memdump_dir, ++memory_dumps);
    File mem(std::fopen(path, "we"));
    // Without the file the words still go into the dump.
    if (!mem)
        heading("dumpsoc_mem fopen failed");
    heading("\n#3-5 dump soc, need ~15 sec");
    for (uint32_t a = kMemoryWindow; a < kMemoryWindow + kMemoryWindowWords; a++) {
        unsigned char w[3];
        if (dsp_mem_read_word(port, a, VDSL_MEM_X, w) != 0) {
            cli_print(CLI_LEVEL_ERROR, "Memory reading error!!");
            break;
        }
        cli_printf_raw("%06x,%02x%02x%02x\n", a, w[0], w[1], w[2]);
        if (mem)
            std::fprintf(mem.get(), "%02x%02x%02x\n", w[0], w[1], w[2]);
    }
    mem.reset();
    heading("\n#3-6 clean CfgDisableRecovery as 000000");
    mib_set_logic(port, "2.1.140", "000000");
    set_disable_recovery(port, 1);
}

long seconds_since(const timeval &start)
{
    timeval now;
    gettimeofday(&now, nullptr);
    return now.tv_sec - start.tv_sec;
}

void dump_loop(int port)
{
    timeval start;
    gettimeofday(&start, nullptr);
    for (int pass = 0; pass < kDumpLoopPasses; pass++) {
        long elapsed = seconds_since(start);
        if (elapsed < 0 || elapsed >= kDumpLoopSeconds)
            break;
        print_modem_status(port);
        if (state_of(port) != VDSL_STATE_DISABLE) {
            uint32_t overflow = 0;
            mib_get_hex(port, "2.1.133", &overflow);
            unsigned char state = state_of(port);
            cli_printf_raw("ModemErrOvrflow : %d PhyStatus : %d\n", static_cast<int>(overflow), state);
            if ((overflow & kOverflowBit) || state == VDSL_STATE_SHOWTIME)
                dump_memory(port);
        }
        end_pass();
    }
}

void print_information(int port)
{
    if (state_of(port) == VDSL_STATE_DISABLE)
        return;
    heading("\nxdslGhsOtVendorId(MIB2 value):");
    run_line("interface xdsl show oid %d 1.2.10.1", port);
    cli_printf_raw("\n");
    heading("\nxdslGhsRtVendorId(MIB2 value):");
    run_line("interface xdsl show oid %d 1.2.11.1", port);
    cli_printf_raw("\n");
    print_entry_text(port, "xdsl2LInvVersionNumber0 : ", "0.7.4");
    static const struct {
        const char *label, *oid;
        int index;
    } kValues[] = {
        {"xdsl2LineStatusAttainableRateUs :", "0.1.21", 1},
        {"xdsl2LineStatusAttainableRateDs :", "0.1.20", 1},
        {"xdsl2ChStatusActDataRate0 :", "0.3.2", 1},
        {"xdsl2ChStatusActDataRate3 :", "0.3.2.4", 3},
        {"xdsl2ChStatusActDelay0 :", "0.3.4", 1},
        {"xdsl2ChStatusActDelay3 :", "0.3.4.4", 3},
        {"xdsl2ChStatusActInp0 :", "0.3.5", 1},
        {"xdsl2ChStatusActInp3 :", "0.3.5.4", 3},
        {"xdsl2LineStatusElectricalLength :", "0.1.31", 1},
        {"xdsl2LineStatusActProfile :", "0.1.26", 1},
    };
    for (const auto &v : kValues)
        print_mib_value_idx(port, "%s %s", v.oid, v.label, "", v.index);
}

// Passes until showtime; the result of the last pass.
int wait_for_showtime(int port)
{
    int rc = 0;
    for (int pass = 0; pass < kShowtimeWaitPasses; pass++) {
        print_modem_status(port);
        unsigned char state = state_of(port);
        if (state == VDSL_STATE_SHOWTIME)
            return 0;
        rc = state == VDSL_STATE_DISABLE ? CLI_FAILED : print_diagnostics(port);
        end_pass();
    }
    return rc;
}

// Standard output into the dump file for as long as it lives; the
// terminal's is back on every way out.
class Redirect {
public:
    explicit Redirect(const std::string &path)
    {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        if (saved_ < 0) {
            error_ = "dup failed";
            return;
        }
        file_.reset(std::fopen(path.c_str(), "we"));
        if (!file_) {
            error_ = "fopen failed";
            return;
        }
        if (dup2(fileno(file_.get()), STDOUT_FILENO) < 0) {
            error_ = "dup2 failed";
            return;
        }
        redirected_ = true;
    }
    ~Redirect()
    {
        std::fflush(stdout);
        if (redirected_)
            dup2(saved_, STDOUT_FILENO);
        if (saved_ >= 0)
            close(saved_);
    }
    Redirect(const Redirect &) = delete;
    Redirect &operator=(const Redirect &) = delete;

    const char *error() const { return error_; }

private:
    File file_;
    int saved_ = -1;
    bool redirected_ = false;
    const char *error_ = nullptr;
};

int dump_run(int port)
{
    heading("#1 dump tables for config");
    heading("#1-1 disconnect vdsl :");
    run_line("util portop 2 %d", port);
    heading("\n#1-2 dump tables for config :");
    run_line("interface xdsl dump table all %d", port);
    show_iop_additional_mibs(port);
    print_failure_reason(port);

    heading("\n#2 check ModemErrBuf");
    heading("#2-1 clear ModemErrBuf :");
    run_line("interface xdsl set oid %d 2.1.7.1 00001a", port);
    run_line("interface xdsl set oid %d 2.1.8.1 000001", port);
    heading("\n#2-2 connect vdsl :");
    run_line("util portop 1 %d", port);
    heading("\n#2-3 check ModemErrBuff 60 times, once per second\n");
    for (int i = 0; i < kErrorBufferPasses; i++)
        error_buffer_pass(port);

    heading("\n#3 dump soc :");
    set_disable_recovery(port, 1);
    heading("\n#3-4 dump loop, 90 second\n");
    dump_loop(port);

    set_disable_recovery(port, 0);
    heading("\n#4 print information\n");
    print_information(port);
    heading("\nfirmware version :");
    run_line("util firmver %d", port);

    heading("\n#5 print showtime information\n");
    heading("#5-1 wait for showtime");
    int rc = wait_for_showtime(port);
    dump_scstatus(port);
    heading("wait for 30 sec to check again");
    for (int i = 0; i < kRecheckSeconds; i++)
        cli::sleep_us(kSecond);
    dump_scstatus(port);
    return rc;
}

}  // namespace

extern "C" void show_iop_additional_mibs(int port)
{
    cli_print(CLI_LEVEL_ORDINARY, "Additional Mibs :");
    auto row = [port](int item) {
        static unsigned char answer[VDSL_BLOCK_SIZE];
        char oid[16];
        std::snprintf(oid, sizeof oid, "2.1.%d", item);
        // A failed read shows whatever text its answer holds.
        mib_get_logic(port, oid, answer);
        const char *name = mib_name_of(oid);
        std::string label = std::string("SV_MIB_") + (name ? name : oid);
        cli_print(CLI_LEVEL_ORDINARY, "%-42s|%s", label.c_str(),
                  reinterpret_cast<const char *>(answer) + VDSL_ANSWER_TEXT);
    };
    for (int item = 400; item <= 438; item++)
        row(item);
    for (int item = 440; item <= 443; item++)
        row(item);
    row(439);
    for (int item = 444; item <= 447; item++)
        row(item);
}

extern "C" void dump_scstatus(int port)
{
    heading("\n#5-2 print scstatus");
    static const struct {
        const char *title, *line;
    } kSteps[] = {
        {"Hlog :", "show scstatussegment %d hlog"},
        {"QLN :", "show scstatussegment %d qln"},
        {"SNR :", "show scstatussegment %d snr"},
        {"Bitsalloc :", "show scstatussegment %d bitsalloc"},
        {"Gainalloc :", "show scstatussegment %d gainalloc"},
        {"Status :", "show status %d"},
    };
    for (const auto &s : kSteps) {
        heading(s.title);
        run_line(s.line, port);
    }
    heading("\n#5-3 G.inp config and status :");
    run_line("interface xdsl dump table ginpconf %d", port);
    run_line("interface xdsl dump table ginpst %d", port);
    show_iop_additional_mibs(port);
    print_failure_reason(port);
}

extern "C" void set_disable_recovery(int port, int on)
{
    if (on) {
        heading("\n#3-1 disconnect vdsl :");
        run_line("util portop 2 %d", port);
        heading("\n#3-2 set CfgDisableRecovery = 0000fd...");
        mib_set_logic(port, "2.1.140", "0000fd");
        heading("\n#3-3 connect vdsl :");
    } else {
        run_line("util portop 2 %d", port);
        heading("\nset CfgDisableRecovery = 000000");
        mib_set_logic(port, "2.1.140", "000000");
    }
    run_line("util portop 1 %d", port);
}

extern "C" int cmd_dumpsoc(char *rest, const cli_dir_row *)
{
    int number = 0;
    if (std::sscanf(rest ? rest : "", "%i", &number) != 1) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage:cmd <portid>");
        return 0;
    }
    int port;
    if (vdsl_port_index(number, &port) != 0)
        return CLI_FAILED;
    cli_print(CLI_LEVEL_ORDINARY, "dumpsoc...");
    cli_print(CLI_LEVEL_ORDINARY, "please wait for a while...");
    int rc;
    {
        Redirect out(std::string(vdsl_memdump_dir) + "/dumpsoc.txt");
        if (out.error()) {
            cli_print(CLI_LEVEL_ERROR, "%s", out.error());
            return 1;
        }
        rc = dump_run(port);
    }
    cli_print(CLI_LEVEL_ORDINARY, "\nDump soc successfully.");
    return rc;
}
