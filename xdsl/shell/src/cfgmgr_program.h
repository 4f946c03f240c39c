// Test seam: which program plays /bin/cfgmgr.
#pragma once

namespace cli {

// Sets the configuration manager's path (null: /bin/cfgmgr); returns the old one.
const char *set_cfgmgr_program(const char *path);

}  // namespace cli
