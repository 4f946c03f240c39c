// Agents found by the multicast "/info" request, newest first, under one
// mutex shared by the worker, the discovery answers and "/zmo/dis".
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "agent.h"
#include "cloud.h"

namespace {

struct Peer {
    std::string cid, name, type, ip;
    uint16_t port;
};

std::mutex g_mutex;
std::deque<Peer> g_peers;

struct PoolFree {
    void operator()(zmo_pool_t *p) const { zmo_pool_free(p); }
};

}  // namespace

extern "C" {

int peers_clear(void)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_peers.clear();
    return 0;
}

int peer_add_info(const char *payload, size_t length, const char *address)
{
    try {
        std::string text(payload, length);
        std::unique_ptr<zmo_pool_t, PoolFree> pool(zmo_pool_new());
        zmo_json_value_t *root = nullptr;
        if (!pool || text.find('\0') != std::string::npos ||
            zmo_json_object_parse(pool.get(), text.c_str(), &root))
            return errno = EBADMSG, -1;
        const char *cid = zmo_json_value_get_string(zmo_json_object_get(root, "cid"));
        const char *type = zmo_json_value_get_string(zmo_json_object_get(root, "type"));
        const char *name = zmo_json_value_get_string(zmo_json_object_get(root, "name"));
        const zmo_json_value_t *port = zmo_json_object_get(root, "http_port");
        unsigned short p;
        if (!cid || !type || !name || !port || !zmo_json_value_is_ushort(port) ||
            !zmo_json_value_get_ushort(port, &p))
            return errno = EBADMSG, -1;
        Peer peer{cid, name, type, address, p};
        std::lock_guard<std::mutex> lock(g_mutex);
        // A flood of answers can't grow the list without end.
        if (g_peers.size() >= PEER_LIST_MAX)
            return errno = ENOSPC, -1;
        g_peers.push_front(std::move(peer));
        return 0;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
}

char *peers_json(void)
{
    std::unique_ptr<zmo_pool_t, PoolFree> pool(zmo_pool_new());
    zmo_json_value_t *root = pool ? zmo_json_object_new(pool.get()) : nullptr;
    if (!root)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const Peer &p : g_peers) {
        zmo_json_value_t *o = zmo_json_object_set_object(root, p.cid.c_str());
        if (!o || !zmo_json_object_set_string(o, "name", p.name.c_str()) ||
            !zmo_json_object_set_string(o, "type", p.type.c_str()) ||
            !zmo_json_object_set_ushort(o, "port", p.port) ||
            !zmo_json_object_set_string(o, "ip", p.ip.c_str()))
            return nullptr;
    }
    return zmo_json_object_print(root, 1, nullptr);
}

int discovery_handler(struct Mirel *, struct CoAPMessage *response)
{
    uint32_t length = 0;
    const char *payload = static_cast<const char *>(CoAPMessage_GetPayload(response, &length, 0));
    if (!payload || !length)
        return 0;
    struct sockaddr_storage from;
    char ip[ZMO_IP_ADDRSTRLEN];
    if (CoAPMessage_GetSockAddr(response, &from) != 0 ||
        !zmo_ip_sockaddr_ntop(reinterpret_cast<const zmo_ip_sockaddr_t *>(&from), ip, sizeof ip))
        return 0;
    if (peer_add_info(payload, length, ip) != 0)
        zmo_log_debug(1, "discovery: answer from %s dropped: %s", ip, zmo_sys_strerror(errno));
    return 0;
}

}  // extern "C"
