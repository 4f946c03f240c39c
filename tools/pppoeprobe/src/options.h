// The probe's command line.
#pragma once

#include <cstdio>
#include <string>

namespace pppoe {

struct Settings {
    unsigned long wait_s = 5;
    unsigned long requests = 2;
    std::string ifname;  // empty: not given
    std::string script;  // empty: no feedback
    unsigned long period_ms() const { return wait_s * 1000 / requests; }
};

constexpr unsigned long kMinWait = 1;
constexpr unsigned long kMaxWait = 10;

// Reads the options and checks the numbers. -1 to go on; otherwise the
// exit status, the reason printed on err (the usage text on out).
int parse_options(int argc, char *const argv[], const char *ident, Settings *settings, FILE *out, FILE *err);

}  // namespace pppoe
