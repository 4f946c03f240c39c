// "scstatussegment" and "delt": the per-tone exports in the user's hands,
// on the terminal or, in silent mode, through files under /tmp that
// separate processes share under a lock file each.
#include "segment_status.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli_command.h"
#include "cli_print.h"
#include "shell_sleep.h"
#include "tone_exports.h"
#include "vdsl_request.h"

namespace {

constexpr unsigned long kSecond = 1000000;
constexpr size_t kNameField = 32;
constexpr size_t kOperationField = 16;
constexpr size_t kReadPiece = 1023;
// The paged data file of a name: "/tmp/" this prefix and the name.
constexpr const char *kPagedPrefix = "scstatus_";

constexpr const char *kUsage = "Usage: cmd <portid> <hlinear/hlog/qln/snr/bitsalloc/gainalloc>";
constexpr const char *kSilentUsage =
    "Usage: cmd <portid> <hlinear/hlog/qln/snr/bitsalloc/gainalloc> <update/get <idx>/size>";

struct Segment {
    const char *name;
    int (*run)(int port, std::FILE *copy, int refresh);
};

int run_hlin(int port, std::FILE *copy, int) { return export_hlin(port, copy); }
int run_bits(int port, std::FILE *copy, int) { return export_bits_alloc(port, copy); }
int run_gain(int port, std::FILE *copy, int) { return export_gain_alloc(port, copy); }

const Segment kSegments[] = {
    {"hlinear", run_hlin}, {"hlog", export_hlog},   {"qln", export_qln},
    {"snr", export_snr},   {"bitsalloc", run_bits}, {"gainalloc", run_gain},
};

const Segment *segment_of(const std::string &name)
{
    for (const Segment &s : kSegments)
        if (strcasecmp(s.name, name.c_str()) == 0)
            return &s;
    return nullptr;
}

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::vector<std::string> words_of(const char *text)
{
    std::vector<std::string> words;
    const char *p = text ? text : "";
    for (;;) {
        p += std::strspn(p, " \t\r\n");
        if (!*p)
            return words;
        size_t n = std::strcspn(p, " \t\r\n");
        words.emplace_back(p, n);
        p += n;
    }
}

// A decimal number of the whole word, as "%u" takes it but without a sign.
bool unsigned_word(const std::string &word, unsigned *out)
{
    if (word.empty() || word[0] < '0' || word[0] > '9')
        return false;
    errno = 0;
    char *end = nullptr;
    unsigned long v = std::strtoul(word.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v > UINT_MAX)
        return false;
    *out = static_cast<unsigned>(v);
    return true;
}

// The port as typed (from 1) to its index; 100 after the port rule's messages.
int port_of(unsigned number, int *port)
{
    return vdsl_port_index(number > INT_MAX ? INT_MAX : static_cast<int>(number), port);
}

// The line must be in showtime; 100 with the message otherwise.
int require_showtime(int port)
{
    unsigned char state = 0;
    if (xdsl_get_opstate(port, &state) != 0 || state != VDSL_STATE_SHOWTIME) {
        cli_print(CLI_LEVEL_ERROR, "Port %d not ShowTime", port + 1);
        return CLI_FAILED;
    }
    return 0;
}

std::string tmp_path(const std::string &name) { return std::string(vdsl_memdump_dir) + "/" + name; }

// The lock file of a name: created only when absent (one step, so two
// processes can never both hold it), removed when the request ends.
class Lock {
public:
    explicit Lock(const std::string &name) : path_(tmp_path(name + ".mut"))
    {
        fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0400);
        busy_ = fd_ < 0 && errno == EEXIST;
    }
    ~Lock()
    {
        if (fd_ < 0)
            return;
        close(fd_);
        unlink(path_.c_str());
    }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

    bool held() const { return fd_ >= 0; }
    bool busy() const { return busy_; }

private:
    std::string path_;
    int fd_ = -1;
    bool busy_ = false;
};

void record(const char *text) { cli_print(CLI_LEVEL_RECORD, "%s", text); }

// Silent mode, two fields: the export into "/tmp/NAME".
void export_to_file(const Segment &seg, int port, const std::string &name)
{
    Lock lock(name);
    if (lock.busy()) {
        record("Busy");
        return;
    }
    if (!lock.held()) {
        record("mutfile File I/O Error");
        return;
    }
    const std::string data = tmp_path(name);
    File out(std::fopen(data.c_str(), "we"));
    if (!out) {
        record("fscdata File I/O Error");
        return;
    }
    int rc = seg.run(port, out.get(), 0);
    // The data is whole only once the stream is closed without error.
    if (std::fclose(out.release()) != 0 && rc == 0)
        rc = CLI_FAILED;
    if (rc == 0) {
        cli_print(CLI_LEVEL_RECORD, "%s Success", name.c_str());
    } else {
        record("Output File Fail");
        std::remove(data.c_str());
    }
}

unsigned pages_of(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return 0;
    return static_cast<unsigned>((static_cast<unsigned long long>(st.st_size) + SEGMENT_PAGE_SIZE - 1) /
                                 SEGMENT_PAGE_SIZE);
}

void print_page(const std::string &path, unsigned index)
{
    unsigned pages = pages_of(path);
    if (index == 0 || index > pages) {
        record("Index is out of range");
        return;
    }
    if (access(path.c_str(), F_OK) != 0) {
        record("Please update data first");
        return;
    }
    File in(std::fopen(path.c_str(), "re"));
    if (!in || std::fseek(in.get(), static_cast<long>(index - 1) * SEGMENT_PAGE_SIZE, SEEK_SET) != 0) {
        record("Can not open data file");
        return;
    }
    char piece[kReadPiece + 1];
    size_t total = 0;
    while (total < SEGMENT_PAGE_SIZE) {
        size_t want = std::min(kReadPiece, SEGMENT_PAGE_SIZE - total);
        size_t got = std::fread(piece, 1, want, in.get());
        if (got == 0) {
            if (std::ferror(in.get())) {
                // Half a page is worse than none to whoever reads the buffer.
                cli_silent_buffer_clear();
                record("File I/O Error");
            }
            return;
        }
        piece[got] = '\0';
        cli_print(CLI_LEVEL_RECORD, "%s", piece);
        total += got;
    }
}

// Silent mode with an operation on the paged data file.
void paged_operation(const Segment &seg, int port, const std::string &name, const std::string &op,
                     unsigned index)
{
    Lock lock(name);
    if (lock.busy()) {
        record("Busy");
        return;
    }
    if (!lock.held()) {
        record("File I/O Error");
        return;
    }
    const std::string paged = tmp_path(kPagedPrefix + name);
    if (strcasecmp(op.c_str(), "update") == 0) {
        File out(std::fopen(paged.c_str(), "we"));
        if (!out) {
            record("File I/O Error");
            return;
        }
        int rc = seg.run(port, out.get(), 0);
        if (std::fclose(out.release()) != 0 && rc == 0)
            rc = CLI_FAILED;
        if (rc != 0) {
            record("Update failed");
            std::remove(paged.c_str());
        }
    } else if (strcasecmp(op.c_str(), "size") == 0) {
        cli_print(CLI_LEVEL_RECORD, "%u", pages_of(paged));
    } else {
        print_page(paged, index);
    }
}

bool is_operation(const std::string &op)
{
    return strcasecmp(op.c_str(), "update") == 0 || strcasecmp(op.c_str(), "get") == 0 ||
           strcasecmp(op.c_str(), "size") == 0;
}

// States of the loop diagnostic in the low four bits of 0.1.6.
constexpr int32_t kDeltHandshake = 3;
constexpr int32_t kDeltDone = 2;
constexpr int32_t kDeltFailed = 7;
constexpr int kDeltAttempts = 3;
constexpr int kHandshakeReads = 27;
constexpr int kProgressReads = 62;
constexpr unsigned long kProgressWait = 5 * kSecond;

enum class Attempt { Done, Failed, HandshakeTimeout, Timeout };

// Reads the state up to reads times, waiting between two reads, until it is
// one of the wanted ones; a failed read keeps the last state read.
int32_t poll_state(int port, int reads, unsigned long wait, int32_t a, int32_t b, int32_t *state)
{
    for (int r = 0; r < reads; r++) {
        if (r > 0)
            cli::sleep_us(wait);
        int32_t v = 0;
        if (mib_get_int24(port, "0.1.6", &v) == 0)
            *state = v & 0xF;
        if (*state == a || *state == b)
            return *state;
    }
    return -1;
}

int delt_step(int rc, const char *failure)
{
    if (rc != 0)
        cli_print(CLI_LEVEL_ORDINARY, "%s", failure);
    return rc != 0 ? CLI_FAILED : 0;
}

int retrain(int port)
{
    if (delt_step(port_control(port, VDSL_PORT_DISCONNECT), "disconnect failed"))
        return CLI_FAILED;
    cli::sleep_us(kSecond);
    if (delt_step(port_control(port, VDSL_PORT_CONNECT), "connect failed"))
        return CLI_FAILED;
    return 0;
}

// One attempt: the line retrained in loop diagnostic mode and watched.
int delt_attempt(int port, Attempt *outcome)
{
    char count[16];
    std::snprintf(count, sizeof count, "%06x", 40000u);
    if (delt_step(port_control(port, VDSL_PORT_DISCONNECT), "disconnect failed"))
        return CLI_FAILED;
    cli::sleep_us(kSecond);
    if (delt_step(mib_set_logic(port, "2.1.116", count), "set delt count down failed") ||
        delt_step(mib_set_logic(port, "0.1.5", "1"), "set delt flag failed") ||
        delt_step(mib_set_logic(port, "0.1.6", "1"), "clean reason failed") ||
        delt_step(port_control(port, VDSL_PORT_CONNECT), "connect failed"))
        return CLI_FAILED;
    cli_print(CLI_LEVEL_ORDINARY, "DELT for port %i, waiting for progress...", port + 1);

    int32_t state = -1;  // none read yet
    if (poll_state(port, kHandshakeReads, kSecond, kDeltHandshake, kDeltHandshake, &state) < 0) {
        cli_print(CLI_LEVEL_ORDINARY, "DELT handshake timeout");
        *outcome = Attempt::HandshakeTimeout;
        return 0;
    }
    cli_print(CLI_LEVEL_ORDINARY, "DELT for port %i, started, may take a few minutes...", port + 1);
    switch (poll_state(port, kProgressReads, kProgressWait, kDeltDone, kDeltFailed, &state)) {
    case kDeltDone:
        cli_print(CLI_LEVEL_ORDINARY, "DELT done");
        export_hlog(port, nullptr, 1);
        export_qln(port, nullptr, 1);
        export_snr(port, nullptr, 1);
        *outcome = Attempt::Done;
        break;
    case kDeltFailed:
        cli_print(CLI_LEVEL_ORDINARY, "DELT failed");
        *outcome = Attempt::Failed;
        break;
    default:
        cli_print(CLI_LEVEL_ORDINARY, "DELT timeout");
        *outcome = Attempt::Timeout;
        break;
    }
    return 0;
}

}  // namespace

extern "C" int is_segment_name(const char *text) { return text && segment_of(text) ? 0 : 1; }

extern "C" int cmd_scstatussegment(char *rest, const cli_dir_row *)
{
    // "%u %s %s %u": port, name, operation, index, each field as far as it goes.
    std::vector<std::string> words = words_of(rest);
    unsigned number = 0, index = 0;
    int fields = 0;
    if (!words.empty() && unsigned_word(words[0], &number)) {
        fields = 1;
        if (words.size() >= 2)
            fields = 2;
        if (words.size() >= 3)
            fields = 3;
        if (words.size() >= 4 && unsigned_word(words[3], &index))
            fields = 4;
    }
    const std::string name = fields >= 2 ? words[1] : "", op = fields >= 3 ? words[2] : "";
    const Segment *seg = name.size() < kNameField ? segment_of(name) : nullptr;
    const bool op_ok = op.size() < kOperationField && is_operation(op);

    if (!cli_silent_mode) {
        if (fields != 2 || !seg) {
            cli_print(CLI_LEVEL_ORDINARY, "%s", kUsage);
            return CLI_USAGE;
        }
    } else if (fields == 2 ? !seg : !seg || !op_ok) {
        record(fields == 2 ? kUsage : kSilentUsage);
        return CLI_USAGE;
    }

    int port;
    if (port_of(number, &port) != 0 || require_showtime(port) != 0)
        return CLI_FAILED;
    if (!cli_silent_mode)
        seg->run(port, nullptr, 0);
    else if (fields == 2)
        export_to_file(*seg, port, name);
    else
        paged_operation(*seg, port, name, op, index);
    return CLI_DONE;
}

extern "C" int cmd_delt(char *rest, const cli_dir_row *)
{
    std::vector<std::string> words = words_of(rest);
    unsigned number = 0;
    if (words.empty() || !unsigned_word(words[0], &number)) {
        cli_print(CLI_LEVEL_ORDINARY, "Usage: cmd <portid>");
        return CLI_USAGE;
    }
    int port;
    if (port_of(number, &port) != 0 || require_showtime(port) != 0)
        return CLI_FAILED;

    Attempt outcome = Attempt::Failed;
    for (int a = 0; a < kDeltAttempts; a++) {
        if (delt_attempt(port, &outcome) != 0)
            return CLI_FAILED;
        if (outcome == Attempt::Done)
            break;
    }
    if (outcome == Attempt::HandshakeTimeout &&
        delt_step(mib_set_logic(port, "0.1.5", "0"), "set delt flag failed"))
        return CLI_FAILED;
    return retrain(port);
}
