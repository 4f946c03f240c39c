// Core events forwarded to the data server as sealed POSTs of one JSON
// object {"t": name, "a": attributes}.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent.h"
#include "cloud.h"
#include "text_format.h"

namespace {

// The value of a child element; null (EINVAL) when there is no such child.
const char *child(const zmo_xml_node_t *root, const char *name)
{
    const zmo_xml_node_t *n = zmo_xml_node_first_child(root, name);
    if (!n) {
        errno = EINVAL;
        return nullptr;
    }
    return zmo_xml_node_value(n);
}

char *dup(const std::string &s)
{
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (p)
        std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

}  // namespace

extern "C" int event_payload(const char *type, const zmo_xml_node_t *root, char **payload)
{
    *payload = nullptr;
    try {
        std::string out;
        if (std::strcmp(type, "Event::Type::ConfigurationSaved") == 0) {
            char checksum[AGENT_CHECKSUM_MAX + 1];
            if (core_json_string("/rci/show/last-change/checksum", checksum, AGENT_CHECKSUM_MAX) != 0)
                return -1;
            out = "[{\"t\":\"ConfigurationSaved\",\"a\":{\"c\":";
            json_quote(out, checksum);
            out += "}}]";
        } else if (std::strcmp(type, "Event::Type::Wan") == 0) {
            const char *id = child(root, "id");
            if (!id)
                return -1;
            if (!*id)
                return 0;
            const char *name = child(root, "name");
            const char *priority = child(root, "priority");
            if (!name || !priority)
                return -1;
            // Unquoted in the payload: anything but a number would be JSON of its own.
            if (!json_is_integer(priority)) {
                errno = EINVAL;
                return -1;
            }
            out = "[{\"t\":\"Wan\",\"a\":{\"id\":";
            json_quote(out, id);
            out += ",\"name\":";
            json_quote(out, name);
            out += ",\"priority\":";
            out += priority;
            out += "}}]";
        } else if (std::strcmp(type, "Event::Type::KnownHost") == 0) {
            const char *mac = child(root, "mac");
            const char *action = child(root, "action");
            const char *old_name = child(root, "old-name");
            const char *new_name = child(root, "new-name");
            if (!mac || !action || !old_name || !new_name)
                return -1;
            out = "[{\"t\":\"KnownHost\",\"a\":{\"mac\":";
            json_quote(out, mac);
            out += ",\"act\":";
            json_quote(out, action);
            out += ",\"old-name\":";
            json_quote(out, old_name);
            out += ",\"new-name\":";
            json_quote(out, new_name);
            out += "}}]";
        } else {
            return 0;
        }
        *payload = dup(out);
        if (!*payload) {
            errno = ENOMEM;
            return -1;
        }
        return 1;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
}

extern "C" int event_forward(zmo_core_event_t *event)
{
    char data[32];
    if (!agent_data_text(data, sizeof data))
        return 0;
    const char *type = zmo_core_event_type(event);
    const zmo_xml_node_t *root = zmo_core_event_root(event);
    if (!type || !root)
        return 0;
    char *payload = nullptr;
    int rc = event_payload(type, root, &payload);
    if (rc <= 0)
        return rc;
    try {
        std::string uri = std::string("coaps://") + data + "/r?cid=" + g_agent.cid;
        rc = agent_send(uri.c_str(), COAP_TYPE_CON, COAP_CODE_POST, payload, std::strlen(payload), nullptr);
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        rc = -1;
    }
    std::free(payload);
    return rc;
}
