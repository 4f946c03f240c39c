// Arbitrary text as a configuration file: every line is taken or refused
// with a message, never a crash, and what is taken stays within bounds.
#include "config.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = [] {
        zmo_log_init("config_fuzz", nullptr, 0, 0);
        return true;
    }();
    (void)quiet;
    dnsr::Config cfg(false);
    dnsr::config_read_text(cfg, std::string_view(reinterpret_cast<const char *>(data), size), "fuzz");
    dnsr::config_finish(cfg);
    if (cfg.pool.size() > dnsr::kServerPoolSize || cfg.profile_max > dnsr::kMaxProfile ||
        cfg.mac_default > dnsr::kMaxProfile || cfg.settings.proceed < 10 || cfg.settings.stat_time < 1)
        abort();
    for (const auto &sa : dnsr::config_servers(cfg))
        if (sa.u.sa.sa_family != AF_INET && sa.u.sa.sa_family != AF_INET6)
            abort();
    // Every name a line could bring must look up without trouble.
    dnsr::config_static_lookup(
        cfg, std::string_view(reinterpret_cast<const char *>(data), size < 300 ? size : 300));
    return 0;
}
