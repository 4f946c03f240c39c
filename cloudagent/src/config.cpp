// The JSON configuration file: HTTP port, debug level and the subscription
// whose digest the Start event carries.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "agent.h"

namespace {
struct PoolFree {
    void operator()(zmo_pool_t *p) const { zmo_pool_free(p); }
};

bool member_true(const zmo_json_value_t *object, const char *name)
{
    int on = 0;
    const zmo_json_value_t *v = zmo_json_object_get(object, name);
    return v && zmo_json_value_is_boolean(v) && zmo_json_value_get_boolean(v, &on) && on;
}
}  // namespace

extern "C" int ConfigurationRead(const char *path)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            if (errno == 0)
                errno = ENOENT;
            return -1;
        }
        std::ostringstream text;
        text << in.rdbuf();
        std::string s = text.str();
        // A configuration is a few lines; a zero byte would cut the text short.
        if (s.size() > 65536 || s.find('\0') != std::string::npos) {
            errno = EINVAL;
            return -1;
        }
        std::unique_ptr<zmo_pool_t, PoolFree> pool(zmo_pool_new());
        if (!pool) {
            errno = ENOMEM;
            return -1;
        }
        zmo_json_value_t *root = nullptr;
        if (zmo_json_object_parse(pool.get(), s.c_str(), &root) != 0) {
            errno = EINVAL;
            return -1;
        }

        unsigned short port = 80;
        const zmo_json_value_t *v = zmo_json_object_get(root, "http_port");
        if (!v || !zmo_json_value_is_ushort(v) || !zmo_json_value_get_ushort(v, &port))
            port = 80;
        unsigned char level = 0;
        v = zmo_json_object_get(root, "debug_level");
        if (!v || !zmo_json_value_is_uchar(v) || !zmo_json_value_get_uchar(v, &level) || level >= 4)
            level = 0;

        bool stats = false, system = false, event = false;
        const zmo_json_value_t *sub = zmo_json_object_get(root, "subscription");
        if (sub && zmo_json_value_is_object(sub)) {
            stats = member_true(sub, "stats");
            system = member_true(sub, "system");
            const zmo_json_value_t *events = zmo_json_object_get(sub, "event");
            if (events && zmo_json_value_is_array(events))
                for (size_t i = 0; i < zmo_json_array_size(events); ++i) {
                    const char *e = zmo_json_value_get_string(zmo_json_array_get(events, i));
                    if (e && std::strcmp(e, "ConfigurationSaved") == 0)
                        event = true;
                }
        }
        char digest[33] = "";
        if (stats || system || event) {
            zmo_md5_t md5;
            zmo_md5_init(&md5);
            if (stats)
                zmo_md5_update(&md5, "stats", 5);
            if (system)
                zmo_md5_update(&md5, "system", 6);
            if (event)
                zmo_md5_update(&md5, "ConfigurationSaved", 18);
            zmo_md5_text_digest(&md5, digest);
        }

        std::lock_guard<std::mutex> lock(g_agent.lock);
        g_agent.http_port = port;
        zmo_log_set_debug(level);
        agent_flag_set(AGENT_STATS_SUBSCRIBED, stats);
        agent_flag_set(AGENT_SYSTEM_SUBSCRIBED, system);
        agent_flag_set(AGENT_EVENT_SUBSCRIBED, event);
        if (std::strcmp(g_agent.digest, digest) != 0)
            std::memcpy(g_agent.digest, digest, sizeof digest);
        return 0;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
}
