// The configuration language: one line is a keyword, a separator and its
// value words. Scalar settings need "=" or ":"; directives take blanks.
#include "config.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cinttypes>
#include <cstring>
#include <limits>

namespace dnsr {

uint32_t MacKeyTraits::hash(const MacKey &k)
{
    uint16_t words[3];
    memcpy(words, k.bytes, sizeof words);
    return fletcher32(words, 3);
}

bool MacKeyTraits::equal(const MacKey &a, const MacKey &b) { return memcmp(a.bytes, b.bytes, 6) == 0; }

namespace {

enum class Kind { Time, U32, Size, Port, Bool, Path, Directive };

// The actions of the language, in the order of its table of actions.
enum class Action {
    Timeout,
    Bantime,
    Proceed,
    BanThreshold,
    StatTime,
    MaxTtl,
    StaticTtl,
    RankResetTime,
    RrsResetTime,
    MaxMem,
    MaxCache,
    RpcPort,
    RpcTtl,
    RpcWait,
    Debug,
    RpcOnly,
    DnsTcpPort,
    DnsUdpPort,
    StatFile,
    DnsServer,
    StaticRecord,
    ExcludeStatic,
    SetPort,
    SafeOption,
    SafeServer,
    Profile,
    ProfileSetAccess,
    ProfileSetServer,
    ProfileSetOption,
    SetProfile,
    SetProfileIp,
};

struct Keyword {
    const char *name;
    Action action;
    Kind kind;
};

const Keyword kKeywords[] = {
    {"timeout", Action::Timeout, Kind::Time},
    {"bantime", Action::Bantime, Kind::Time},
    {"proceed", Action::Proceed, Kind::Time},
    {"ban_threshold", Action::BanThreshold, Kind::U32},
    {"stat_time", Action::StatTime, Kind::Time},
    {"max_ttl", Action::MaxTtl, Kind::Time},
    {"static_ttl", Action::StaticTtl, Kind::Time},
    {"rank_reset_time", Action::RankResetTime, Kind::Time},
    {"rrs_reset_time", Action::RrsResetTime, Kind::Time},
    {"max_mem", Action::MaxMem, Kind::Size},
    {"max_cache", Action::MaxCache, Kind::Size},
    {"rpc_port", Action::RpcPort, Kind::Port},
    {"rpc_ttl", Action::RpcTtl, Kind::Time},
    {"rpc_wait", Action::RpcWait, Kind::Time},
    {"debug", Action::Debug, Kind::Bool},
    {"rpc_only", Action::RpcOnly, Kind::Bool},
    {"dns_tcp_port", Action::DnsTcpPort, Kind::Port},
    {"dns_udp_port", Action::DnsUdpPort, Kind::Port},
    {"stat_file", Action::StatFile, Kind::Path},
    {"status_file", Action::StatFile, Kind::Path},
    {"dns_server", Action::DnsServer, Kind::Directive},
    {"static_a", Action::StaticRecord, Kind::Directive},
    {"static_aaaa", Action::StaticRecord, Kind::Directive},
    {"exclude-static", Action::ExcludeStatic, Kind::Directive},
    {"set_port", Action::SetPort, Kind::Directive},
    {"safe_option", Action::SafeOption, Kind::Directive},
    {"safe_server", Action::SafeServer, Kind::Directive},
    {"profile", Action::Profile, Kind::Directive},
    {"profile-set-access", Action::ProfileSetAccess, Kind::Directive},
    {"profile-set-server", Action::ProfileSetServer, Kind::Directive},
    {"profile-set-option", Action::ProfileSetOption, Kind::Directive},
    {"set-profile", Action::SetProfile, Kind::Directive},
    {"set-profile-ip", Action::SetProfileIp, Kind::Directive},
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s)
{
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string> words_of(std::string_view s)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && blank(s[i]))
            i++;
        size_t start = i;
        while (i < s.size() && !blank(s[i]))
            i++;
        if (i > start)
            out.emplace_back(s.substr(start, i - start));
    }
    return out;
}

// Unsigned decimal (or 0x hex when allowed) without sign or trailing text.
bool parse_u64(std::string_view text, uint64_t max, uint64_t &out, bool hex_ok = false)
{
    int base = 10;
    if (hex_ok && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    uint64_t v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        if (v > (max - uint64_t(d)) / uint64_t(base))
            return false;
        v = v * uint64_t(base) + uint64_t(d);
    }
    out = v;
    return true;
}

bool parse_bool(std::string_view t, bool &out)
{
    if (t == "true" || t == "on" || t == "1")
        out = true;
    else if (t == "false" || t == "off" || t == "0")
        out = false;
    else
        return false;
    return true;
}

struct Line {
    Config &cfg;
    const char *origin;
    unsigned number;

    __attribute__((format(printf, 2, 3))) void bad(const char *fmt, ...) const
    {
        char text[512];
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(text, sizeof text, fmt, ap);
        va_end(ap);
        zmo_log(ZMO_LOG_WARNING, "%s:%u: %s, line skipped", origin, number, text);
    }

    void raise_max(int n) { cfg.profile_max = std::max(cfg.profile_max, n); }

    bool add_to_pool(const zmo_ip_sockaddr_t &sa, uint16_t &index)
    {
        if (cfg.pool.size() >= kServerPoolSize)
            return false;
        index = uint16_t(cfg.pool.size());
        cfg.pool.push_back(sa);
        return true;
    }

    bool profile_number(const std::string &word, uint32_t &n)
    {
        uint64_t v;
        if (!parse_u64(word, std::numeric_limits<uint32_t>::max(), v)) {
            bad("bad profile number \"%s\"", word.c_str());
            return false;
        }
        n = uint32_t(v);
        return true;
    }

    // The profile of a MAC in groups, or a new number for it.
    int profile_of(const std::string &who)
    {
        if (who == "mac_default")
            return 0;
        zmo_mac_addr_t mac;
        if (!zmo_mac_addr_parse(&mac, who.c_str())) {
            bad("bad MAC address \"%s\"", who.c_str());
            return -1;
        }
        MacKey key;
        memcpy(key.bytes, mac.bytes, 6);
        if (int *n = cfg.groups.find(key))
            return *n;
        int n = cfg.profile_max + 1;
        if (n > kMaxProfile) {
            zmo_log(ZMO_LOG_ERROR, "Can't add new profile --- out of memory");
            return -1;
        }
        if (!cfg.groups.insert(key, n)) {
            zmo_log(ZMO_LOG_ERROR, "Can't add new profile group --- out of memory");
            return -1;
        }
        raise_max(n);
        return n;
    }

    void scalar(const Keyword &k, const std::string &value)
    {
        Settings &s = cfg.settings;
        uint64_t v = 0;
        bool b = false;
        switch (k.kind) {
        case Kind::Time:
            if (!parse_u64(value, uint64_t(std::numeric_limits<int64_t>::max() / 2), v))
                return bad("bad time value \"%s\" for %s", value.c_str(), k.name);
            break;
        case Kind::U32:
            if (!parse_u64(value, std::numeric_limits<uint32_t>::max(), v))
                return bad("bad number \"%s\" for %s", value.c_str(), k.name);
            break;
        case Kind::Size: {
            std::string_view t = value;
            uint64_t factor = 1;
            if (!t.empty() && (t.back() == 'K' || t.back() == 'k'))
                factor = 1024;
            else if (!t.empty() && (t.back() == 'M' || t.back() == 'm'))
                factor = 1024 * 1024;
            if (factor > 1)
                t.remove_suffix(1);
            if (!parse_u64(t, std::numeric_limits<uint32_t>::max() / factor, v))
                return bad("bad size \"%s\" for %s", value.c_str(), k.name);
            v *= factor;
            break;
        }
        case Kind::Port:
            if (!parse_u64(value, 65535, v))
                return bad("bad port \"%s\" for %s", value.c_str(), k.name);
            break;
        case Kind::Bool:
            if (!parse_bool(value, b))
                return bad("bad boolean \"%s\" for %s", value.c_str(), k.name);
            break;
        case Kind::Path:
            if (value.size() >= kMaxStatFilePath)
                return bad("path too long for %s", k.name);
            break;
        case Kind::Directive:
            return;
        }
        switch (k.action) {
        case Action::Timeout:
            s.timeout = int64_t(v);
            break;
        case Action::Bantime:
            s.bantime = int64_t(v);
            break;
        case Action::Proceed:
            s.proceed = v < 10 ? 10 : int64_t(v);
            break;
        case Action::BanThreshold:
            s.ban_threshold = uint32_t(v);
            break;
        case Action::StatTime:
            s.stat_time = int64_t(v);
            break;
        case Action::MaxTtl:
            s.max_ttl = int64_t(v);
            break;
        case Action::StaticTtl:
            s.static_ttl = int64_t(v);
            break;
        case Action::RankResetTime:
            s.rank_reset_time = int64_t(v);
            break;
        case Action::RrsResetTime:
            s.rrs_reset_time = int64_t(v);
            break;
        case Action::MaxMem:
            s.max_mem = uint32_t(v);
            break;
        case Action::MaxCache:
            s.max_cache = uint32_t(v);
            break;
        case Action::RpcPort:
            s.rpc_port = uint16_t(v);
            break;
        case Action::RpcTtl:
            s.rpc_ttl = int64_t(v);
            break;
        case Action::RpcWait:
            s.rpc_wait = int64_t(v);
            break;
        case Action::Debug:
            s.debug = b;
            break;
        case Action::RpcOnly:
            s.rpc_only = b;
            if (b) {
                s.dns_tcp_port = s.dns_udp_port = 0;
            } else {
                if (s.dns_tcp_port == 0)
                    s.dns_tcp_port = 53;
                if (s.dns_udp_port == 0)
                    s.dns_udp_port = 53;
            }
            break;
        case Action::DnsTcpPort:
            s.dns_tcp_port = uint16_t(v);
            break;
        case Action::DnsUdpPort:
            s.dns_udp_port = uint16_t(v);
            break;
        case Action::StatFile:
            s.stat_file = value;
            break;
        default:
            break;  // directives: their own handlers
        }
    }

    void dns_server(const std::vector<std::string> &w)
    {
        if (w.empty() || w.size() > 2)
            return bad("dns_server takes ADDR[:PORT] and a domain");
        zmo_ip_sockaddr_t sa;
        if (!parse_server_address(w[0], 53, sa))
            return bad("bad server address \"%s\"", w[0].c_str());
        // Without a domain the server is a default one.
        std::string key;
        if (!domain_key(w.size() > 1 ? w[1] : "", key)) {
            zmo_log(ZMO_LOG_ERROR, "wrong domain size");
            return;
        }
        uint16_t index;
        if (!add_to_pool(sa, index)) {
            zmo_log(ZMO_LOG_ERROR, "DNS pool exhausted");
            return;
        }
        if (auto *list = cfg.domains.find_exact(key))
            list->insert(list->begin(), index);
        else
            cfg.domains.insert(key, {index});
    }

    void static_record(const std::string &keyword, const std::vector<std::string> &w)
    {
        if (w.size() != 2)
            return bad("%s takes a domain and an address", keyword.c_str());
        bool v6 = keyword == "static_aaaa";
        StaticRecord rec;
        if (inet_pton(v6 ? AF_INET6 : AF_INET, w[1].c_str(), v6 ? (void *)&rec.v6 : (void *)&rec.v4) != 1)
            return bad("bad %s address \"%s\"", v6 ? "IPv6" : "IPv4", w[1].c_str());
        std::string_view name = w[0];
        rec.kind = kStaticExact;
        if (name.substr(0, 2) == "*.") {
            rec.kind = kStaticWildcard;
            name.remove_prefix(2);
        }
        std::string key;
        if (!domain_key(name, key)) {
            zmo_log(ZMO_LOG_ERROR, "wrong domain size");
            return;
        }
        StaticRecord *old = cfg.statics.find_exact(key);
        StaticRecord &r = old ? *old : rec;
        r.kind = rec.kind;
        if (v6) {
            r.v6 = rec.v6;
            r.has_v6 = true;
        } else {
            r.v4 = rec.v4;
            r.has_v4 = true;
        }
        if (!old)
            cfg.statics.insert(key, rec);
    }

    void exclude_static(const std::vector<std::string> &w)
    {
        if (w.size() != 1)
            return bad("exclude-static takes one domain");
        std::string_view name = w[0];
        bool below_only = name.substr(0, 2) == "*.";
        if (below_only)
            name.remove_prefix(2);
        std::string key;
        if (!domain_key(name, key)) {
            zmo_log(ZMO_LOG_ERROR, "wrong domain size");
            return;
        }
        cfg.excluded.insert(key, below_only);
    }

    void set_port(const std::vector<std::string> &w)
    {
        if (w.size() != 2)
            return bad("set_port takes an address and a port");
        zmo_ip_sockaddr_t sa;
        uint64_t port;
        if (!parse_server_address(w[0], 0, sa))
            return bad("bad server address \"%s\"", w[0].c_str());
        if (!parse_u64(w[1], 65535, port))
            return bad("bad port \"%s\"", w[1].c_str());
        if (port == 0)
            return;  // port 0 leaves the server's own port
        if (!cfg.port_options.insert(sa.u.storage, uint16_t(port)))
            zmo_log(ZMO_LOG_ERROR, "can not add a port option, out of memory");
    }

    void add_profile_server(int n, const std::string &text)
    {
        zmo_ip_sockaddr_t sa;
        if (!parse_server_address(text, 53, sa))
            return bad("bad server address \"%s\"", text.c_str());
        uint16_t index;
        if (!add_to_pool(sa, index)) {
            zmo_log(ZMO_LOG_ERROR, "Can't add %s: DNS pool exhausted", text.c_str());
            return;
        }
        Profile &p = cfg.profiles[size_t(n)];
        p.servers.insert(p.servers.begin(), index);
        p.flags |= kProfileSafeAccess | kProfileHasServers;
    }

    bool set_option(int n, const std::string &text)
    {
        uint64_t v;
        if (!parse_u64(text, std::numeric_limits<uint32_t>::max(), v, true)) {
            bad("bad option value \"%s\"", text.c_str());
            return false;
        }
        cfg.profiles[size_t(n)].option = uint32_t(v);
        cfg.profiles[size_t(n)].flags |= kProfileSafeAccess | kProfileHasOption;
        return true;
    }

    bool access_word(const std::string &w, bool &safe)
    {
        if (w == "safe-access")
            safe = true;
        else if (w == "direct-access")
            safe = false;
        else {
            bad("\"%s\" is neither safe-access nor direct-access", w.c_str());
            return false;
        }
        return true;
    }

    void directive(const Keyword &k, const std::vector<std::string> &w)
    {
        uint32_t n = 0;
        bool safe = false;
        switch (k.action) {
        case Action::DnsServer:
            return dns_server(w);
        case Action::StaticRecord:
            return static_record(k.name, w);
        case Action::ExcludeStatic:
            return exclude_static(w);
        case Action::SetPort:
            return set_port(w);
        case Action::SafeOption:
        case Action::SafeServer: {
            if (w.size() != 2)
                return bad("%s takes a MAC address (or mac_default) and a value", k.name);
            int p = profile_of(w[0]);
            if (p < 0)
                return;
            if (k.action == Action::SafeOption)
                set_option(p, w[1]);
            else
                add_profile_server(p, w[1]);
            return;
        }
        case Action::Profile:
            if (w.size() != 2)
                return bad("profile takes a number and an access");
            if (!profile_number(w[0], n) || !access_word(w[1], safe))
                return;
            if (n > uint32_t(kMaxProfile)) {
                zmo_log(ZMO_LOG_ERROR, "profile num exceeds maximum (%d)", kMaxProfile);
                return;
            }
            if (int(n) <= cfg.profile_max)
                zmo_log(ZMO_LOG_WARNING, "profile %d is already defined", int(n));
            cfg.profiles[n].flags = safe ? uint32_t(kProfileSafeAccess) : 0u;
            raise_max(int(n));
            return;
        case Action::ProfileSetAccess:
        case Action::ProfileSetServer:
        case Action::ProfileSetOption:
            if (w.size() != 2)
                return bad("%s takes a profile number and a value", k.name);
            if (!profile_number(w[0], n))
                return;
            if (n > uint32_t(kMaxProfile)) {
                zmo_log(ZMO_LOG_ERROR, "max. profiles num exhausted: %u", n);
                return;
            }
            if (k.action == Action::ProfileSetAccess) {
                if (!access_word(w[1], safe))
                    return;
                if (safe)
                    cfg.profiles[n].flags |= kProfileSafeAccess;
                else
                    cfg.profiles[n].flags &= ~uint32_t(kProfileSafeAccess);
            } else if (k.action == Action::ProfileSetServer) {
                size_t before = cfg.pool.size();
                add_profile_server(int(n), w[1]);
                if (cfg.pool.size() == before)
                    return;
            } else if (!set_option(int(n), w[1]))
                return;
            raise_max(int(n));
            return;
        case Action::SetProfile:
        case Action::SetProfileIp: {
            if (w.size() != 2)
                return bad("%s takes %s and a profile number", k.name,
                           k.action == Action::SetProfile ? "a MAC address" : "an address");
            if (!profile_number(w[1], n))
                return;
            if (n > uint32_t(kMaxProfile)) {
                zmo_log(ZMO_LOG_ERROR, "Profile number is too large: %u", n);
                return;
            }
            if (k.action == Action::SetProfile && w[0] == "mac_default") {
                cfg.mac_default = int(n);
            } else if (k.action == Action::SetProfile) {
                zmo_mac_addr_t mac;
                if (!zmo_mac_addr_parse(&mac, w[0].c_str()))
                    return bad("bad MAC address \"%s\"", w[0].c_str());
                MacKey key;
                memcpy(key.bytes, mac.bytes, 6);
                if (!cfg.groups.insert(key, int(n))) {
                    zmo_log(ZMO_LOG_ERROR, "Can't add new profile group --- out of memory");
                    return;
                }
            } else {
                zmo_ip_sockaddr_t sa;
                if (!parse_server_address(w[0], 0, sa))
                    return bad("bad address \"%s\"", w[0].c_str());
                zmo_log_debug(1, "set profile for ip %s %d", w[0].c_str(), int(n));
                if (!cfg.groups_ip.insert(sa.u.storage, int(n))) {
                    zmo_log(ZMO_LOG_ERROR, "Can't add new profile group (ip) --- out of memory");
                    return;
                }
            }
            raise_max(int(n));
            return;
        }
        default:
            return;  // settings: handled as values
        }
    }

    void run(std::string_view text)
    {
        text = trim(text);
        if (text.empty() || text[0] == '#')
            return;
        size_t end = 0;
        while (end < text.size() &&
               (isalnum((unsigned char)text[end]) || text[end] == '_' || text[end] == '-'))
            end++;
        std::string name(text.substr(0, end));
        const Keyword *k = nullptr;
        for (const Keyword &kw : kKeywords)
            if (name == kw.name)
                k = &kw;
        if (!k)
            return bad("unknown keyword \"%s\"", name.c_str());
        std::string_view rest = text.substr(end);
        size_t gap = 0;
        while (gap < rest.size() && blank(rest[gap]))
            gap++;
        bool has_sep = gap < rest.size() && (rest[gap] == '=' || rest[gap] == ':');
        if (has_sep)
            rest = rest.substr(gap + 1);
        else if (gap == 0 && !rest.empty())
            return bad("unknown keyword \"%.*s\"", int(text.size() < 64 ? text.size() : 64), text.data());
        auto w = words_of(rest);
        if (k->kind != Kind::Directive) {
            if (!has_sep)
                return bad("%s needs \"=\" or \":\" before its value", k->name);
            if (w.size() != 1)
                return bad("%s takes one value", k->name);
            return scalar(*k, w[0]);
        }
        directive(*k, w);
    }
};

}  // namespace

bool parse_server_address(std::string_view text, uint16_t default_port, zmo_ip_sockaddr_t &out)
{
    std::string addr(text);
    uint64_t port = default_port;
    auto try_family = [&](int family, const std::string &a) {
        zmo_ip_sockaddr_t sa{};
        sa.u.sa.sa_family = sa_family_t(family);
        if (!zmo_ip_sockaddr_pton(a.c_str(), &sa))
            return false;
        zmo_ip_sockaddr_set_port(&sa, uint16_t(port));
        out = sa;
        return true;
    };
    auto port_ok = [&](std::string_view p) { return parse_u64(p, 65535, port) && port != 0; };
    if (!addr.empty() && addr[0] == '[') {
        size_t close = addr.find(']');
        if (close == std::string::npos)
            return false;
        std::string_view tail = std::string_view(addr).substr(close + 1);
        if (!tail.empty() && (tail[0] != ':' || !port_ok(tail.substr(1))))
            return false;
        return try_family(AF_INET6, addr.substr(1, close - 1));
    }
    size_t colons = std::count(addr.begin(), addr.end(), ':');
    if (colons == 0)
        return try_family(AF_INET, addr);
    if (colons > 1 && try_family(AF_INET6, addr))
        return true;
    size_t last = addr.rfind(':');
    if (!port_ok(std::string_view(addr).substr(last + 1)))
        return false;
    return try_family(colons == 1 ? AF_INET : AF_INET6, addr.substr(0, last));
}

void config_read_text(Config &cfg, std::string_view text, const char *origin)
{
    unsigned number = 0;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        Line{cfg, origin, ++number}.run(line);
    }
}

}  // namespace dnsr
