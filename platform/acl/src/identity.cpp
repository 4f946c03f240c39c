// The identity that file calls are made for, and the library's life cycle.
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "acl_state.h"

namespace zmo_acl {
State &state()
{
    static State s;
    return s;
}
}  // namespace zmo_acl

using zmo_acl::state;

extern "C" {

int zmo_acl_init(void)
{
    std::lock_guard<std::mutex> guard(state().lock);
    state().user.clear();
    state().permissive = 0;
    try {
        zmo_acl::load_policy(state());
    } catch (...) {
        state().policy.clear();
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

int zmo_acl_cleanup(void)
{
    std::lock_guard<std::mutex> guard(state().lock);
    state().user.clear();
    state().permissive = 0;
    return 0;
}

int zmo_acl_set_user(const char *name)
{
    if (!name || !*name || std::strlen(name) > zmo_acl::kMaxUser) {
        errno = EINVAL;
        return -1;
    }
    try {
        std::lock_guard<std::mutex> guard(state().lock);
        if (zmo_acl::policy_refuses_user(state(), name)) {
            errno = EACCES;
            return -1;
        }
        state().user = name;
    } catch (...) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

int zmo_acl_set_permissive(int permissive)
{
    std::lock_guard<std::mutex> guard(state().lock);
    state().permissive = permissive ? 1 : 0;
    return 0;
}

const char *zmo_acl_get_user(void)
{
    // The text lives in a per-thread copy so a concurrent set can't free it.
    thread_local std::string copy;
    std::lock_guard<std::mutex> guard(state().lock);
    copy = state().user;
    return copy.c_str();
}

int zmo_acl_get_permissive(void)
{
    std::lock_guard<std::mutex> guard(state().lock);
    return state().permissive;
}

}  // extern "C"
