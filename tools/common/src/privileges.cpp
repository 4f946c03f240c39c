#include "privileges.h"

#include "zmo.h"

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace tools {

namespace {
// getpwnam and getgrnam leave errno alone for a name that does not exist.
const char *lookup_error(int err) { return zmo_sys_strerror(err ? err : ENOENT); }
}  // namespace

bool drop_privileges(const char *user)
{
    if (geteuid() != 0)
        return true;
    errno = 0;
    struct passwd *pw = getpwnam(user);
    if (!pw) {
        zmo_log(ZMO_LOG_ERROR, "Unable to get UID for user \"%s\": %s", user, lookup_error(errno));
        return false;
    }
    uid_t uid = pw->pw_uid;
    errno = 0;
    struct group *gr = getgrnam(user);
    if (!gr) {
        zmo_log(ZMO_LOG_ERROR, "Unable to get GID for group \"%s\": %s", user, lookup_error(errno));
        return false;
    }
    gid_t gid = gr->gr_gid;
    // Root's supplementary groups would otherwise stay with the process.
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0) {
        zmo_log(ZMO_LOG_ERROR, "Unable to set new group \"%s\": %s", user, zmo_sys_strerror(errno));
        return false;
    }
    if (setuid(uid) != 0) {
        zmo_log(ZMO_LOG_ERROR, "Unable to set new user \"%s\": %s", user, zmo_sys_strerror(errno));
        return false;
    }
    return true;
}

}  // namespace tools
