// Settings and tables of the main and safety configuration files.
#pragma once

#include "domain_trie.h"
#include "hash_table.h"

#include <zmo.h>

#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dnsr {

constexpr int kMaxProfile = 255;
constexpr size_t kServerPoolSize = 256;
constexpr size_t kMaxStatFilePath = 4096;

enum ProfileFlags : uint32_t {
    kProfileSafeAccess = 1,
    kProfileHasServers = 2,
    kProfileHasOption = 4,
};

struct Settings {
    int64_t timeout = 3000;
    int64_t bantime = 300000;
    int64_t proceed = 500;
    uint32_t ban_threshold = 3;
    int64_t stat_time = 5000;
    int64_t max_ttl = 3600000;
    int64_t static_ttl = 600;  // seconds
    int64_t rank_reset_time = 3600000;
    int64_t rrs_reset_time = 600000;
    uint32_t max_mem = 0;
    uint32_t max_cache = 8192;
    uint16_t rpc_port = 0;
    int64_t rpc_ttl = 30000;
    int64_t rpc_wait = 300;
    bool debug = false;
    bool rpc_only = false;
    uint16_t dns_tcp_port = 53;
    uint16_t dns_udp_port = 53;
    std::string stat_file;  // empty: no statistics file
};

enum StaticKind { kStaticWildcard = 1, kStaticExact = 2 };

struct StaticRecord {
    int kind = kStaticExact;
    bool has_v4 = false, has_v6 = false;
    in_addr v4{};
    in6_addr v6{};
};

struct Profile {
    uint32_t flags = 0;
    uint32_t option = 0;
    std::vector<uint16_t> servers;  // indexes into the server pool, newest first
};

struct MacKey {
    uint8_t bytes[6];
};
struct MacKeyTraits {
    static uint32_t hash(const MacKey &k);
    static bool equal(const MacKey &a, const MacKey &b);
};

struct Config {
    Settings settings;
    std::vector<zmo_ip_sockaddr_t> pool;        // upstream servers, at most kServerPoolSize
    DomainTrie<std::vector<uint16_t>> domains;  // domain -> servers, newest first; "." the default list
    DomainTrie<StaticRecord> statics;
    DomainTrie<bool> excluded;  // true: only the names below the domain
    std::array<Profile, kMaxProfile + 1> profiles;
    int profile_max = 0;   // highest profile number defined
    int mac_default = -1;  // profile of hosts in no group; -1 none
    HashTable<MacKey, int, MacKeyTraits> groups{16};
    HashTable<sockaddr_storage, int, AddressKeyTraits> groups_ip{16};
    HashTable<sockaddr_storage, uint16_t, AddressKeyTraits> port_options{16};

    explicit Config(bool debug_option) { settings.debug = debug_option; }
    bool tables_ok() const { return groups.ok() && groups_ip.ok() && port_options.ok(); }
};

// Defaults, the built-in "localhost." records, the main file, then the
// safety file when it exists. Periods come out at least 1 ms. Null only
// when the tables cannot be made (the message is logged).
std::unique_ptr<Config> config_load(const char *main_file, const char *safe_file, bool debug_option);
// Reads one file into cfg; a missing file logs "Can't open config file: %s"
// unless missing_ok.
bool config_read_file(Config &cfg, const char *path, bool missing_ok);
// The lines of text, as if read from a file named origin.
void config_read_text(Config &cfg, std::string_view text, const char *origin);
// After all lines: every period at least 1 ms.
void config_finish(Config &cfg);

// Every server the configuration names, each once: the domain trie's lists
// and the lists of profiles with servers up to the highest number.
std::vector<zmo_ip_sockaddr_t> config_servers(const Config &cfg);

// The static record that answers name, if any: an exact record only the
// name itself, a wildcard one the name and every name below it; names that
// exclude-static covers get none.
const StaticRecord *config_static_lookup(const Config &cfg, std::string_view name);

// "ADDR", "ADDR:PORT", "[V6]:PORT"; a bare IPv6 address keeps its colons.
bool parse_server_address(std::string_view text, uint16_t default_port, zmo_ip_sockaddr_t &out);

}  // namespace dnsr
