// Collects what the code under test logs through the base library (zmo_log),
// by its test hook, for as long as the object lives.
#pragma once

#include <mutex>
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

    // Lines may come from other threads (a library's own): entries() is for
    // when they are quiet, lines() and contains() for any time.
    const std::vector<LogLine> &entries() const { return entries_; }
    // The texts alone, in order.
    std::vector<std::string> lines() const;
    // Whether any line holds the text.
    bool contains(const std::string &text) const;
    void clear();

private:
    static void hook(void *ctx, int level, const char *ident, const char *line);
    mutable std::mutex mutex_;
    std::vector<LogLine> entries_;
};

}  // namespace fw_test
