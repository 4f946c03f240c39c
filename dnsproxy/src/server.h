// The proxy's process context: configuration, statistics, sockets, timers
// and the poll loop that runs them.
#pragma once

#include "accounted_alloc.h"
#include "config.h"
#include "kernel_random.h"
#include "mt19937.h"
#include "query_road.h"
#include "slots.h"
#include "stats_file.h"
#include "timers.h"
#include "upstream_pool.h"
#include "upstream_rank.h"

#include <memory>
#include <string>

namespace dnsr {

constexpr const char *kProgram = "dnsrelayd";
constexpr const char *kVersion = "1.3.0b22";

struct Options {
    const char *main_file = nullptr;
    const char *safe_file = nullptr;
    const char *pid_file = nullptr;
    bool debug = false;
    int verbosity = 0;                  // DNSRELAYD_DEBUG_VERBOSE: more detail in debug lines
    uint16_t pinned_upstream_port = 0;  // DNSRELAYD_TEST_UPSTREAM_PORT, tests only
};

struct Server {
    Options options;
    std::unique_ptr<Config> cfg;
    std::unique_ptr<UpstreamStats> stats;
    Accountant acc;
    ProcessCounters counters;
    Mt19937 rng;          // text query ids and ranks
    KernelRandom random;  // upstream query ids and sockets
    UpstreamPool pool4{random}, pool6{random};
    SlotTable slots;
    Timers timers{acc};
    Road road{acc};  // before the timers and slots in destruction
    zmo_time_t next_cache_expiry{};
    unsigned reloads_seen = 0;
    bool fatal = false;  // a listener could not be made

    explicit Server(const Options &o) : options(o) {}
    // The upstream slots poll the pools' descriptors, which the pools close.
    ~Server()
    {
        slots.set_fd(kSlotUpstream4, -1);
        slots.set_fd(kSlotUpstream6, -1);
    }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;
    UpstreamPool &pool_of(int family) { return family == AF_INET6 ? pool6 : pool4; }
};

// Options and environment; false with the usage text printed when "-c" is
// missing.
bool parse_options(int argc, char **argv, Options &out);
void print_usage(FILE *to);

// Seeds the generator from 16 words of /dev/urandom.
bool seed_random(Mt19937 &rng);

// Loads both files into a fresh configuration and statistics table, then
// resets the context (counters, statistics file). False when the tables
// can't be made.
bool server_load(Server &s);
// Start: SIGURG handler, pid file, sockets, periodic timers. False (with the
// reason logged) when the server cannot run.
bool server_start(Server &s);
// The poll loop, until a termination signal or a fatal failure.
void server_loop(Server &s);
// Count of SIGURG signals received.
unsigned server_reload_requests();

}  // namespace dnsr
