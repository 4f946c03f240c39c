// The agent's one record: identity, addresses, flags, and the checks of the
// texts that fill them.
#include "agent.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

agent_state g_agent;

namespace {
const char *const kTypes[AGENT_TYPE_COUNT] = {"router", "client", "repeater", "ap"};
}

extern "C" {

const char *agent_type_text(unsigned index) { return index < AGENT_TYPE_COUNT ? kTypes[index] : nullptr; }

int agent_type_parse(const char *text)
{
    for (unsigned i = 0; text && i < AGENT_TYPE_COUNT; ++i)
        if (std::strcmp(text, kTypes[i]) == 0)
            return static_cast<int>(i);
    return -1;
}

int agent_flag(enum agent_flag flag) { return g_agent.flags[flag].load(); }
void agent_flag_set(enum agent_flag flag, int on) { g_agent.flags[flag].store(on ? 1 : 0); }

int cid_parse(const char *text)
{
    if (!text || std::strlen(text) != AGENT_CID_LENGTH)
        return -1;
    for (int i = 0; i < AGENT_CID_LENGTH; ++i) {
        char c = text[i];
        bool dash_place = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash_place ? c != '-' : !(std::isxdigit(static_cast<unsigned char>(c)) || c == '-'))
            return -1;
    }
    return 0;
}

int address_parse(const char *text, zmo_ip_sockaddr_t *out)
{
    const char *colon = text ? std::strchr(text, ':') : nullptr;
    if (!colon || !out || colon == text || static_cast<size_t>(colon - text) >= INET_ADDRSTRLEN) {
        errno = EINVAL;
        return -1;
    }
    std::string host(text, static_cast<size_t>(colon - text));
    unsigned short port;
    struct in_addr a;
    if (inet_pton(AF_INET, host.c_str(), &a) != 1 || !zmo_int_parse_ushort(colon + 1, &port)) {
        errno = EINVAL;
        return -1;
    }
    std::memset(out, 0, sizeof *out);
    out->u.in.sin_family = AF_INET;
    out->u.in.sin_addr = a;
    out->u.in.sin_port = htons(port);
    return 0;
}

const char *address_format(const zmo_ip_sockaddr_t *sa, char *buf, size_t size)
{
    char host[ZMO_IP_ADDRSTRLEN];
    if (!zmo_ip_sockaddr_ntop(sa, host, sizeof host))
        std::strcpy(host, "0.0.0.0");
    std::snprintf(buf, size, "%s:%u", host, zmo_ip_sockaddr_port(sa));
    return buf;
}

int agent_master_text(char *buf, size_t size)
{
    std::lock_guard<std::mutex> lock(g_agent.lock);
    if (!agent_flag(AGENT_MASTER_KNOWN))
        return 0;
    address_format(&g_agent.master, buf, size);
    return 1;
}

int agent_data_text(char *buf, size_t size)
{
    std::lock_guard<std::mutex> lock(g_agent.lock);
    if (!agent_flag(AGENT_DATA_KNOWN))
        return 0;
    address_format(&g_agent.data, buf, size);
    return 1;
}

void agent_master_set(const zmo_ip_sockaddr_t *sa)
{
    std::lock_guard<std::mutex> lock(g_agent.lock);
    g_agent.master = *sa;
}

void agent_data_set(const zmo_ip_sockaddr_t *sa)
{
    std::lock_guard<std::mutex> lock(g_agent.lock);
    g_agent.data = *sa;
}

uint16_t agent_http_port(void)
{
    std::lock_guard<std::mutex> lock(g_agent.lock);
    return g_agent.http_port;
}

void agent_digest(char out[33])
{
    std::lock_guard<std::mutex> lock(g_agent.lock);
    std::memcpy(out, g_agent.digest, 33);
}

int uuid_generate_text(char out[AGENT_CID_LENGTH + 1])
{
    int fd = open("/proc/sys/kernel/random/uuid", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char buf[AGENT_CID_LENGTH + 1];
    ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    if (n != static_cast<ssize_t>(sizeof buf)) {
        errno = EIO;
        return -1;
    }
    buf[AGENT_CID_LENGTH] = '\0';
    std::memcpy(out, buf, sizeof buf);
    return 0;
}

int64_t agent_tick_ms(void)
{
    static const int64_t tick = [] {
        const char *env = std::getenv("CLOUDAGENT_TICK_MS");
        unsigned long v;
        return env && zmo_int_parse_ulong(env, &v) && v >= 10 && v <= 15000 ? static_cast<int64_t>(v)
                                                                            : int64_t{15000};
    }();
    return tick;
}

}  // extern "C"
