// Loading the two configuration files and what the rest asks of the result.
#include "config.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dnsr {

bool config_read_file(Config &cfg, const char *path, bool missing_ok)
{
    FILE *f = fopen(path, "r");
    if (!f) {
        if (!(missing_ok && errno == ENOENT))
            zmo_log(ZMO_LOG_ERROR, "Can't open config file: %s", path);
        return false;
    }
    zmo_log_debug(1, "load config file: %s", path);
    // Read in blocks; a line may straddle two of them.
    std::string text;
    char block[4096];
    size_t n;
    while ((n = fread(block, 1, sizeof block, f)) > 0)
        text.append(block, n);
    fclose(f);
    config_read_text(cfg, text, path);
    return true;
}

void config_finish(Config &cfg)
{
    // A period of 0 would make a timer that re-adds itself in the same round forever.
    Settings &s = cfg.settings;
    for (int64_t *period : {&s.stat_time, &s.rpc_ttl, &s.rank_reset_time, &s.rrs_reset_time})
        if (*period < 1)
            *period = 1;
}

std::unique_ptr<Config> config_load(const char *main_file, const char *safe_file, bool debug_option)
{
    auto cfg = std::make_unique<Config>(debug_option);
    if (!cfg->groups.ok()) {
        zmo_log(ZMO_LOG_FATAL, "can not initialize groups storage, out of memory");
        return nullptr;
    }
    if (!cfg->groups_ip.ok()) {
        zmo_log(ZMO_LOG_FATAL, "can not initialize groups_ip storage, out of memory");
        return nullptr;
    }
    if (!cfg->port_options.ok()) {
        zmo_log(ZMO_LOG_FATAL, "can not initialize dns_options, out of memory");
        return nullptr;
    }
    config_read_text(*cfg, "static_a = localhost. 127.0.0.1\nstatic_aaaa = localhost. ::1\n", "built-in");
    if (main_file)
        config_read_file(*cfg, main_file, false);
    if (safe_file)
        config_read_file(*cfg, safe_file, true);
    config_finish(*cfg);
    return cfg;
}

std::vector<zmo_ip_sockaddr_t> config_servers(const Config &cfg)
{
    std::vector<bool> seen(cfg.pool.size());
    std::vector<zmo_ip_sockaddr_t> out;
    auto take = [&](const std::vector<uint16_t> &list) {
        for (uint16_t i : list)
            if (!seen[i]) {
                seen[i] = true;
                out.push_back(cfg.pool[i]);
            }
    };
    cfg.domains.visit([&](std::string_view, const std::vector<uint16_t> &list) { take(list); });
    for (int n = 0; n <= cfg.profile_max; n++)
        if (cfg.profiles[size_t(n)].flags & kProfileHasServers)
            take(cfg.profiles[size_t(n)].servers);
    return out;
}

const StaticRecord *config_static_lookup(const Config &cfg, std::string_view name)
{
    std::string key;
    if (cfg.statics.empty() || !domain_key(name, key))
        return nullptr;
    bool excluded = false;
    cfg.excluded.matches(key, [&](bool below_only, bool exact) {
        if (!(below_only && exact))
            excluded = true;
    });
    if (excluded)
        return nullptr;
    // The deepest record that covers the name: an exact one only itself.
    const StaticRecord *best = nullptr;
    cfg.statics.matches(key, [&](const StaticRecord &r, bool exact) {
        if (exact || r.kind == kStaticWildcard)
            best = &r;
    });
    return best;
}

}  // namespace dnsr
