// Collects what the code under test logs through the base library (zmo_log),
// by its test hook, for as long as the object lives.
#pragma once

#include <string>
#include <vector>

namespace fw_test {

struct LogLine {
    int level;  // ZMO_LOG_*
    std::string ident;
    std::string line;
};

class LogCapture {
public:
    // Sets the debug verbosity (zmo_log_set_debug) and installs the hook;
    // the destructor removes the hook and sets the verbosity back to 0.
    explicit LogCapture(int debug = 0);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    const std::vector<LogLine> &entries() const { return entries_; }
    // The texts alone, in order.
    std::vector<std::string> lines() const;
    void clear() { entries_.clear(); }

private:
    static void hook(void *ctx, int level, const char *ident, const char *line);
    std::vector<LogLine> entries_;
};

}  // namespace fw_test
