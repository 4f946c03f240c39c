/* cloudagent: the process-wide agent state and the functions its threads
 * share. */
#ifndef CLOUDAGENT_AGENT_H
#define CLOUDAGENT_AGENT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "zmo.h"

#ifdef __cplusplus
#include <atomic>
#include <mutex>
extern "C" {
#endif

#define AGENT_VERSION "0.3.5-1"
#define AGENT_DEFAULT_NAME "Quendra Orvale Tarn"
#define AGENT_CID_LENGTH 36
#define AGENT_NAME_MAX 49
#define AGENT_CORE_VERSION_MAX 19
#define AGENT_CHECKSUM_MAX 32
#define AGENT_MIREL_PORT 5683
/* The cloud master: fixed name and service, resolved through the hosts file. */
#define AGENT_MASTER_HOST "gum.quendra-cloud.net"
#define AGENT_MASTER_SERVICE "8081"

enum agent_type {
    AGENT_TYPE_ROUTER,
    AGENT_TYPE_CLIENT,
    AGENT_TYPE_REPEATER,
    AGENT_TYPE_AP,
    AGENT_TYPE_COUNT
};
const char *agent_type_text(unsigned index); /* null past the table */
int agent_type_parse(const char *text);      /* index, or -1 */

/* One byte flag each, shared by the main, worker and receiver threads. */
enum agent_flag {
    AGENT_ALIVE,
    AGENT_MASTER_KNOWN,
    AGENT_DATA_KNOWN,
    AGENT_STARTED,
    AGENT_STATS_SUBSCRIBED,
    AGENT_SYSTEM_SUBSCRIBED,
    AGENT_EVENT_SUBSCRIBED,
    AGENT_FLAG_COUNT
};

#ifdef __cplusplus
} /* extern "C" */

struct Mirel;
struct zmo_core;

// The one record of the process. Flags are atomic; the addresses, the digest
// and the settings a SIGHUP changes sit under `lock`, as the receiver thread
// reads what the main and worker threads write.
struct agent_state {
    char cid[AGENT_CID_LENGTH + 1] = "";
    char name[AGENT_NAME_MAX + 1] = AGENT_DEFAULT_NAME;
    char core_version[AGENT_CORE_VERSION_MAX + 1] = "";
    uint8_t type = AGENT_TYPE_ROUTER;
    zmo_core_t *core = nullptr;
    zmo_core_event_connection_t *events = nullptr;
    struct Mirel *endpoint = nullptr;
    std::atomic<uint8_t> flags[AGENT_FLAG_COUNT] = {};

    std::mutex lock;
    char *config_path = nullptr;
    uint16_t http_port = 80;
    char digest[33] = "";
    zmo_ip_sockaddr_t master{};
    zmo_ip_sockaddr_t data{};
};
extern agent_state g_agent;

extern "C" {
#endif

int agent_flag(enum agent_flag flag);
void agent_flag_set(enum agent_flag flag, int on);

/* Client ID check: 36 characters, '-' at 9, 14, 19 and 24, else hex digits or '-'. */
int cid_parse(const char *text);

/* "a.b.c.d:port" into an IPv4 address; -1 with EINVAL for anything else. */
int address_parse(const char *text, zmo_ip_sockaddr_t *out);
/* "a.b.c.d:port" into buf (at least 22 bytes); buf. */
const char *address_format(const zmo_ip_sockaddr_t *sa, char *buf, size_t size);
/* The stored master or data-server address as text; 0 when it is unknown. */
int agent_master_text(char *buf, size_t size);
int agent_data_text(char *buf, size_t size);
void agent_master_set(const zmo_ip_sockaddr_t *sa);
void agent_data_set(const zmo_ip_sockaddr_t *sa);
uint16_t agent_http_port(void);
/* Copies the digest (33 bytes). */
void agent_digest(char out[33]);

/* 36 characters of "/proc/sys/kernel/random/uuid" (and the zero); 0 or -1. */
int uuid_generate_text(char out[AGENT_CID_LENGTH + 1]);

/* JSON configuration: 0, or -1 with errno; a failure keeps the old settings. */
int ConfigurationRead(const char *path);

/* GET uri from the core and take its body as a JSON string of at most max
 * characters: 0, or -1 with errno (EBADE no answer or not a string, ENOSPC
 * too long). */
int core_json_string(const char *uri, char *out, size_t max);
int VersionGet(void);

/* The period every wait of the agent is counted in: 15 s, or the value of
 * CLOUDAGENT_TICK_MS (tests). */
int64_t agent_tick_ms(void);

#ifdef __cplusplus
}
#endif

#endif
