// Statistics for the data server: the system's load and memory, each global
// interface's traffic and, on a router, each active host's traffic.
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent.h"
#include "cloud.h"
#include "scgi.h"
#include "text_format.h"

namespace {

struct PoolFree {
    void operator()(zmo_pool_t *p) const { zmo_pool_free(p); }
};

// A GET of the core parsed as a JSON object in pool; null on any failure.
zmo_json_value_t *core_json(const std::string &uri, zmo_pool_t *pool)
{
    struct scgi_result r = scgi_request("GET", uri.c_str(), nullptr, nullptr, 0, 1);
    std::unique_ptr<char, decltype(&std::free)> body(r.body, &std::free);
    zmo_json_value_t *root = nullptr;
    if (r.status < 0 || !r.body || zmo_json_object_parse(pool, r.body, &root) != 0) {
        errno = EBADMSG;
        return nullptr;
    }
    return root;
}

bool member_ullong(const zmo_json_value_t *o, const char *name, unsigned long long *out)
{
    const zmo_json_value_t *v = zmo_json_object_get(o, name);
    return v && zmo_json_value_is_ullong(v) && zmo_json_value_get_ullong(v, out);
}

bool member_bool(const zmo_json_value_t *o, const char *name, int *out)
{
    const zmo_json_value_t *v = zmo_json_object_get(o, name);
    return v && zmo_json_value_is_boolean(v) && zmo_json_value_get_boolean(v, out);
}

int send_non(const std::string &uri)
{
    return agent_send(uri.c_str(), COAP_TYPE_NON, COAP_CODE_POST, nullptr, 0, nullptr);
}

}  // namespace

extern "C" {

int memory_percent(const char *text, uint8_t *percent)
{
    const char *slash = text ? std::strchr(text, '/') : nullptr;
    unsigned long used, total;
    if (!slash || !zmo_int_parse_ulong(std::string(text, static_cast<size_t>(slash - text)).c_str(), &used) ||
        !zmo_int_parse_ulong(slash + 1, &total) || used > UINT32_MAX || total > UINT32_MAX) {
        errno = EINVAL;
        return -1;
    }
    if (total == 0) {
        errno = EDOM;
        return -1;
    }
    *percent = static_cast<uint8_t>(static_cast<uint64_t>(used) * 100 / total);
    return 0;
}

int report_system(const char *data)
{
    try {
        std::unique_ptr<zmo_pool_t, PoolFree> pool(zmo_pool_new());
        zmo_json_value_t *root = pool ? core_json("/rci/show/system", pool.get()) : nullptr;
        if (!root)
            return -1;
        unsigned char cpu;
        const zmo_json_value_t *load = zmo_json_object_get(root, "cpuload");
        const char *memory = zmo_json_value_get_string(zmo_json_object_get(root, "memory"));
        if (!load || !zmo_json_value_is_uchar(load) || !zmo_json_value_get_uchar(load, &cpu) || !memory) {
            errno = EBADMSG;
            return -1;
        }
        uint8_t mem;
        if (memory_percent(memory, &mem) != 0) {
            // A total of 0 has no share to report; this cycle goes without.
            if (errno == EDOM)
                return 0;
            return -1;
        }
        return send_non(std::string("coaps://") + data + "/s?cid=" + g_agent.cid +
                        "&cpu=" + std::to_string(cpu) + "&mem=" + std::to_string(mem));
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
}

int report_interfaces(const char *data)
{
    try {
        struct Traffic {
            std::string name;
            bool gw;
            unsigned long long rx, tx;
        };
        std::vector<Traffic> list;
        {
            std::unique_ptr<zmo_pool_t, PoolFree> pool(zmo_pool_new());
            zmo_json_value_t *root = pool ? core_json("/rci/show/interface", pool.get()) : nullptr;
            if (!root)
                return 0;
            for (size_t i = 0; i < zmo_json_object_size(root); ++i) {
                const char *name = zmo_json_object_member_name(root, i);
                const zmo_json_value_t *iface = zmo_json_object_member_value(root, i);
                int global = 0, gw = 0;
                if (!name || !zmo_json_value_is_object(iface) || !member_bool(iface, "global", &global) ||
                    !global || !member_bool(iface, "defaultgw", &gw))
                    continue;
                std::unique_ptr<zmo_pool_t, PoolFree> stat_pool(zmo_pool_new());
                zmo_json_value_t *stat =
                    stat_pool
                        ? core_json("/rci/show/interface/stat?name=" + uri_encode(name), stat_pool.get())
                        : nullptr;
                unsigned long long rx, tx;
                if (!stat || !member_ullong(stat, "rxbytes", &rx) || !member_ullong(stat, "txbytes", &tx))
                    continue;
                list.push_back(Traffic{name, gw != 0, rx, tx});
            }
        }
        // Newest first, as the records are kept.
        for (auto it = list.rbegin(); it != list.rend(); ++it)
            if (send_non(std::string("coaps://") + data + "/td?cid=" + g_agent.cid +
                         "&iface=" + uri_encode(it->name) + "&rx=" + std::to_string(it->rx) +
                         "&tx=" + std::to_string(it->tx) + (it->gw ? "&gw=true" : "")) != 0)
                return -1;
        return 0;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
}

int report_hosts(const char *data)
{
    try {
        struct Traffic {
            std::string mac;
            unsigned long long rx, tx;
        };
        std::vector<Traffic> list;
        {
            std::unique_ptr<zmo_pool_t, PoolFree> pool(zmo_pool_new());
            zmo_json_value_t *root = pool ? core_json("/rci/show/ip/hotspot", pool.get()) : nullptr;
            const zmo_json_value_t *hosts =
                root ? zmo_json_value_get_array(zmo_json_object_get(root, "host")) : nullptr;
            if (!hosts)
                return 0;
            for (size_t i = 0; i < zmo_json_array_size(hosts); ++i) {
                const zmo_json_value_t *h = zmo_json_array_get(hosts, i);
                int active = 0;
                const char *mac = zmo_json_value_get_string(zmo_json_object_get(h, "mac"));
                unsigned long long rx, tx;
                if (!zmo_json_value_is_object(h) || !member_bool(h, "active", &active) || !active || !mac ||
                    !member_ullong(h, "txbytes", &tx) || !member_ullong(h, "rxbytes", &rx))
                    continue;
                list.push_back(Traffic{mac, rx, tx});
            }
        }
        for (auto it = list.rbegin(); it != list.rend(); ++it)
            if (send_non(std::string("coaps://") + data + "/tcd?cid=" + g_agent.cid +
                         "&mac=" + uri_encode(it->mac) + "&rx=" + std::to_string(it->rx) +
                         "&tx=" + std::to_string(it->tx)) != 0)
                return -1;
        return 0;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
}

}  // extern "C"
