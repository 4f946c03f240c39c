// lldpsend's command line.
#pragma once

#include "lldpdu.h"

#include <string>

namespace lldp {

struct SendSettings {
    std::string user = "nobody";
    bool debug = false;
    Announcement announce;
};

// True to go on; false after the reason was logged (exit status 1).
bool parse_send_options(int argc, char *const argv[], SendSettings *settings);

}  // namespace lldp
