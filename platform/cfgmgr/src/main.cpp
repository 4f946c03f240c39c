// cfgmgr stand-in: keeps keys in CFGMGR_DB (default /var/run/cfgmgr/store)
// and appends each argument vector to CFGMGR_LOG (default
// /var/run/cfgmgr/argv.log), so tests can see exactly what arrived.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "key_store.h"

namespace {

const char *setting(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? value : fallback;
}

void append_log(const std::string &path, const std::string &line)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    std::string text = line + "\n";
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
    close(fd);
}

}  // namespace

int main(int argc, char **argv)
{
    const std::string db = setting("CFGMGR_DB", "/var/run/cfgmgr/store");
    const std::string log = setting("CFGMGR_LOG", "/var/run/cfgmgr/argv.log");
    if (db.rfind("/var/run/cfgmgr/", 0) == 0)
        mkdir("/var/run/cfgmgr", 0755);

    std::vector<std::string> args(argv + 1, argv + argc);
    append_log(log, cfgmgr::quote_arguments(args));

    // One writer at a time: concurrent shells must not lose each other's keys.
    std::string lock_path = db + ".lock";
    int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0)
        flock(lock, LOCK_EX);

    cfgmgr::KeyStore store(db);
    std::string out, err;
    int status;
    if (!store.load(err)) {
        status = 3;
    } else {
        status = cfgmgr::run(args, store, out, err);
        if (status == 0 && !args.empty() && args[0] != "-r" && !store.save(err))
            status = 3;
    }
    if (lock >= 0)
        close(lock);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputs(err.c_str(), stderr);
    return status;
}
