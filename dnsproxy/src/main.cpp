// dnsrelayd: the caching forwarding DNS proxy.
#include "server.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

const char *g_pid_file = nullptr;  // set once the pid file is ours

void remove_pid_file()
{
    if (!g_pid_file)
        return;
    zmo_log_debug(1, "Removing PID file: %s", g_pid_file);
    unlink(g_pid_file);
}

// Start-up failures go to the log and to standard error.
int startup_failure(const char *message)
{
    zmo_log(ZMO_LOG_FATAL, "%s", message);
    fprintf(stderr, "%s: %s\n", dnsr::kProgram, message);
    return 1;
}

int run(int argc, char **argv)
{
    dnsr::Options options;
    if (!dnsr::parse_options(argc, argv, options))
        return 1;
    if (!zmo_sys_init())
        return startup_failure("failed to initialize the base system");
    const char *ident = zmo_log_get_ident(argv);
    if (!zmo_log_init(ident, nullptr, options.debug, 1))
        return startup_failure("failed to initialize a log");
    if (!zmo_sys_set_default_signals())
        return startup_failure("failed to setup signal handlers");
    zmo_time_init();
    zmo_log_set_debug(options.debug ? 1 + options.verbosity : 0);
    zmo_log(ZMO_LOG_INFO, "%s %s started", ident, dnsr::kVersion);

    auto server = std::make_unique<dnsr::Server>(options);
    if (!dnsr::seed_random(server->rng))
        return startup_failure("failed to setup random number generator");
    if (!dnsr::server_load(*server))
        exit(-1);
    atexit(remove_pid_file);
    if (!dnsr::server_start(*server))
        exit(-1);
    if (options.pid_file)
        g_pid_file = options.pid_file;
    dnsr::server_loop(*server);
    bool failed = server->fatal;
    server.reset();
    zmo_log(ZMO_LOG_INFO, "%s stopped", ident);
    // A listener that could not be made is a failure, not a clean stop.
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        fprintf(stderr, "%s: %s\n", dnsr::kProgram, e.what());
    } catch (...) {
        fprintf(stderr, "%s: unexpected failure\n", dnsr::kProgram);
    }
    return 1;
}
