// Name-based file and directory calls: straight to the system, watched by
// the test hooks.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "acl_state.h"

using zmo_acl::state;

namespace {
// An injected error for this call, or 0.
int injected(const char *call, const char *path)
{
    std::lock_guard<std::mutex> guard(state().lock);
    if (int err = zmo_acl::policy_error(state(), call, path))
        return err;
    auto &rules = state().injections;
    for (auto it = rules.begin(); it != rules.end(); ++it) {
        if (!it->call.empty() && it->call != call)
            continue;
        if (!it->path_part.empty() && (!path || std::string(path).find(it->path_part) == std::string::npos))
            continue;
        int err = it->error;
        if (it->count > 0 && --it->count == 0)
            rules.erase(it);
        return err;
    }
    return 0;
}

void report(const char *call, const char *path, int error)
{
    zmo_acl_log_fn hook;
    void *ctx;
    std::string user;
    int permissive;
    {
        std::lock_guard<std::mutex> guard(state().lock);
        hook = state().hook;
        ctx = state().hook_ctx;
        if (!hook)
            return;
        user = state().user;
        permissive = state().permissive;
    }
    hook(ctx, call, path, user.c_str(), permissive, error);
}

// Runs one call: refused when a rule says so, else done, then reported.
// fail tells whether the result means failure.
template <typename R, typename Op, typename Failed>
R run(const char *call, const char *path, R refused, Op op, Failed fail)
{
    if (int err = injected(call, path)) {
        report(call, path, err);
        errno = err;
        return refused;
    }
    errno = 0;
    R r = op();
    int err = fail(r) ? errno : 0;
    report(call, path, err);
    errno = err;
    return r;
}

bool negative(int r) { return r < 0; }
bool nonzero(int r) { return r != 0; }
}  // namespace

extern "C" {

int zmo_acl_open(const char *path, int flags)
{
    return run(
        "open", path, -1, [&] { return open(path, flags | O_LARGEFILE); }, negative);
}

int zmo_acl_open3(const char *path, int flags, mode_t mode)
{
    return run(
        "open", path, -1, [&] { return open(path, flags | O_LARGEFILE, mode); }, negative);
}

int zmo_acl_stat(const char *path, struct stat64 *st)
{
    return run(
        "stat", path, -1, [&] { return stat64(path, st); }, nonzero);
}

int zmo_acl_unlink(const char *path)
{
    return run(
        "unlink", path, -1, [&] { return unlink(path); }, nonzero);
}

int zmo_acl_rename(const char *from, const char *to)
{
    return run(
        "rename", from, -1, [&] { return rename(from, to); }, nonzero);
}

int zmo_acl_mkdir(const char *path, mode_t mode)
{
    return run(
        "mkdir", path, -1, [&] { return mkdir(path, mode); }, nonzero);
}

int zmo_acl_rmdir(const char *path)
{
    return run(
        "rmdir", path, -1, [&] { return rmdir(path); }, nonzero);
}

DIR *zmo_acl_opendir(const char *path)
{
    return run(
        "opendir", path, static_cast<DIR *>(nullptr), [&] { return opendir(path); },
        [](DIR *d) { return d == nullptr; });
}

struct dirent64 *zmo_acl_readdir(DIR *dir)
{
    if (!dir) {
        errno = EBADF;
        return nullptr;
    }
    // A null entry with errno 0 is the end of the directory, not a failure.
    return run(
        "readdir", nullptr, static_cast<struct dirent64 *>(nullptr), [&] { return readdir64(dir); },
        [](struct dirent64 *e) { return e == nullptr && errno != 0; });
}

void zmo_acl_set_log_hook(zmo_acl_log_fn hook, void *ctx)
{
    std::lock_guard<std::mutex> guard(state().lock);
    state().hook = hook;
    state().hook_ctx = ctx;
}

void zmo_acl_inject_error(const char *call, const char *path_part, int error, int count)
{
    try {
        std::lock_guard<std::mutex> guard(state().lock);
        auto &rules = state().injections;
        if (error == 0 || count == 0) {
            rules.clear();
            return;
        }
        rules.push_back({call ? call : "", path_part ? path_part : "", error, count});
    } catch (...) {
        // Out of memory in a test hook: the rule is simply not there.
    }
}

}  // extern "C"
