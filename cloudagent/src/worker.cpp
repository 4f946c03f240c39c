// The cloud session: master look-up, data server, Start, keep-alives,
// reports and discovery, one step per tick.
#include <cerrno>
#include <cstring>
#include <string>

#include "agent.h"
#include "cloud.h"
#include "mirel.h"
#include "text_format.h"

namespace {

class Worker {
public:
    void run();

private:
    void sleep()
    {
        zmo_sys_sleep_msec(agent_tick_ms(), ZMO_SYS_SLEEP_UNINTERRUPTIBLE);
        seconds_ += 15;
    }
    void end_session()
    {
        agent_flag_set(AGENT_MASTER_KNOWN, 0);
        agent_flag_set(AGENT_DATA_KNOWN, 0);
    }
    bool look_up_master();
    bool session();
    bool send_start(const std::string &data);
    bool send_alive(const std::string &master);
    bool cycle(const std::string &master, const std::string &data);

    unsigned long long seconds_ = 0;
    bool first_lookup_ = true;
};

bool Worker::look_up_master()
{
    zmo_ip_sockaddr_t master;
    bool reconnect = !first_lookup_;
    first_lookup_ = false;
    if (master_lookup(AGENT_MASTER_HOST, AGENT_MASTER_SERVICE, reconnect, &master) != 0) {
        zmo_log_debug(1, "master lookup: %s", zmo_sys_strerror(errno));
        return false;
    }
    agent_master_set(&master);
    agent_flag_set(AGENT_MASTER_KNOWN, 1);
    char text[32];
    zmo_log_debug(1, "gum: %s", address_format(&master, text, sizeof text));
    return true;
}

bool Worker::send_start(const std::string &data)
{
    char checksum[AGENT_CHECKSUM_MAX + 1];
    if (core_json_string("/rci/show/last-change/checksum", checksum, AGENT_CHECKSUM_MAX) != 0) {
        zmo_log(ZMO_LOG_ERROR, "checksum: %s", zmo_sys_strerror(errno));
        return false;
    }
    char digest[33];
    agent_digest(digest);
    std::string json = "[{\"t\":\"Start\",\"a\":{\"c\":";
    json_quote(json, checksum);
    json += ",";
    if (*digest) {
        json += "\"s\":";
        json_quote(json, digest);
        json += ",";
    }
    json += "\"v\":";
    json_quote(json, g_agent.core_version);
    json += "}}]";
    std::string uri = "coaps://" + data + "/r?cid=" + g_agent.cid;
    return agent_send(uri.c_str(), COAP_TYPE_CON, COAP_CODE_POST, json.data(), json.size(), start_handler) ==
           0;
}

bool Worker::send_alive(const std::string &master)
{
    std::string uri = "coap://" + master + "/a?cid=" + g_agent.cid;
    return agent_send(uri.c_str(), COAP_TYPE_CON, COAP_CODE_POST, nullptr, 0, alive_handler) == 0;
}

bool Worker::cycle(const std::string &master, const std::string &data)
{
    const unsigned long long c = seconds_;
    if (c % 30 == 0) {
        agent_flag_set(AGENT_ALIVE, 0);
        if (!send_alive(master))
            return false;
    }
    bool started = agent_flag(AGENT_STARTED);
    if (started && agent_flag(AGENT_SYSTEM_SUBSCRIBED) && c % 15 == 0 && report_system(data.c_str()) != 0)
        return false;
    if (c % 60 == 0) {
        if (started && agent_flag(AGENT_STATS_SUBSCRIBED)) {
            if (report_interfaces(data.c_str()) != 0)
                return false;
            if (g_agent.type == AGENT_TYPE_ROUTER && report_hosts(data.c_str()) != 0)
                return false;
        }
        peers_clear();
        if (agent_send("coap://" MIREL_MULTICAST_GROUP "/info", COAP_TYPE_CON, COAP_CODE_GET, nullptr, 0,
                       discovery_handler) != 0)
            return false;
    }
    return true;
}

// One session from the data-server look-up on: false when the worker must
// end, true when the session ended and the master is asked again.
bool Worker::session()
{
    char text[32];
    agent_master_text(text, sizeof text);
    const std::string master = text;
    std::string uri = "coap://" + master + "/get?cid=" + g_agent.cid + "&peer_cid=data";
    agent_flag_set(AGENT_DATA_KNOWN, 0);
    if (agent_send(uri.c_str(), COAP_TYPE_CON, COAP_CODE_GET, nullptr, 0, data_get_handler) != 0)
        return false;
    sleep();
    if (!agent_data_text(text, sizeof text)) {
        end_session();
        return true;
    }
    const std::string data = text;
    zmo_log_debug(1, "data: %s", data.c_str());
    sleep();
    // Until the cloud confirmed a Start, every session announces the router.
    if (!agent_flag(AGENT_STARTED)) {
        if (!send_start(data))
            return false;
        sleep();
    }
    if (!send_alive(master))
        return false;
    sleep();
    while (agent_flag(AGENT_ALIVE)) {
        if (!cycle(master, data))
            return false;
        sleep();
    }
    zmo_log_debug(1, "keep-alive unanswered: reconnecting");
    end_session();
    return true;
}

void Worker::run()
{
    for (;;) {
        sleep();
        if (!look_up_master())
            continue;
        sleep();
        bool go_on;
        try {
            go_on = session();
        } catch (const std::bad_alloc &) {
            go_on = false;
        }
        if (!go_on) {
            zmo_log(ZMO_LOG_ERROR, "cloud session: %s; the worker ends", zmo_sys_strerror(errno));
            sleep();
            return;
        }
    }
}

}  // namespace

extern "C" {

void *cloud_thread(void *)
{
    Worker w;
    w.run();
    return nullptr;
}

int data_get_handler(struct Mirel *, struct CoAPMessage *response)
{
    uint32_t length = 0;
    const char *payload = static_cast<const char *>(CoAPMessage_GetPayload(response, &length, 0));
    if (!payload || !length || length >= 22)
        return 0;
    char text[22];
    std::memcpy(text, payload, length);
    text[length] = '\0';
    zmo_ip_sockaddr_t data;
    if (std::strlen(text) != length || address_parse(text, &data) != 0)
        return 0;
    agent_data_set(&data);
    agent_flag_set(AGENT_DATA_KNOWN, 1);
    return 0;
}

int start_handler(struct Mirel *, struct CoAPMessage *response)
{
    if (CoAPMessage_GetCode(response) == COAP_CODE(2, 4))
        agent_flag_set(AGENT_STARTED, 1);
    return 0;
}

int alive_handler(struct Mirel *, struct CoAPMessage *response)
{
    if (CoAPMessage_GetCode(response) == COAP_CODE(2, 4))
        agent_flag_set(AGENT_ALIVE, 1);
    return 0;
}

}  // extern "C"
