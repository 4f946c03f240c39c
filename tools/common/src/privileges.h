// Giving up root after the sockets are open.
#pragma once

#include <string>

namespace tools {

// As root: the named user's uid and the gid of the group of the same name,
// with no supplementary groups left over from root. Not root: nothing to do.
// False with the log line (level 2) already written when a step fails.
bool drop_privileges(const char *user);

}  // namespace tools
