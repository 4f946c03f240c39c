/* cloudagent: messages to the cloud, the session worker, discovery and the
 * forwarding of core events. */
#ifndef CLOUDAGENT_CLOUD_H
#define CLOUDAGENT_CLOUD_H

#include <stddef.h>
#include <stdint.h>

#include "coap_message.h"
#include "zmo.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One message with a fresh 8-byte token to uri, handed to Mirel_Send and
 * released: 0, or -1 with errno. */
int agent_send(const char *uri, int type, int code, const void *payload, size_t length,
               CoAPMessage_Handler handler);

/* The payload of a core event, or none: 1 with *payload (malloc'd) to send,
 * 0 when nothing is sent, -1 with errno when the event fails. */
int event_payload(const char *type, const zmo_xml_node_t *root, char **payload);
/* Forwards one core event to the data server when it is known: 0, or -1
 * (the agent ends). */
int event_forward(zmo_core_event_t *event);

/* Master lookup over HTTP/1.0: 0 with *out, or -1 with errno. */
int master_lookup(const char *host, const char *service, int reconnect, zmo_ip_sockaddr_t *out);
/* The body of a master reply (the whole text read): 0 with *out, or -1 with errno. */
int master_reply_parse(const char *reply, size_t length, zmo_ip_sockaddr_t *out);

/* The worker thread; arg is the endpoint. */
void *cloud_thread(void *arg);

/* Response handlers of the worker's requests (receiver thread). */
int data_get_handler(struct Mirel *ep, struct CoAPMessage *response);
int start_handler(struct Mirel *ep, struct CoAPMessage *response);
int alive_handler(struct Mirel *ep, struct CoAPMessage *response);
int discovery_handler(struct Mirel *ep, struct CoAPMessage *response);

/* Statistics: each sends its messages; 0, or -1 when the source fails. */
int report_system(const char *data);
int report_interfaces(const char *data);
int report_hosts(const char *data);
/* "mem" of a "used/total" text: 0 with *percent; -1 for a bad text or a
 * total of 0. */
int memory_percent(const char *text, uint8_t *percent);

/* Discovered peers, newest first; the list is capped. */
#define PEER_LIST_MAX 64
int peers_clear(void);
/* The "/zmo/dis" object as allocated text, or null. */
char *peers_json(void);
/* One "/info" answer from address: 0 when listed, -1 with errno. */
int peer_add_info(const char *payload, size_t length, const char *address);

#ifdef __cplusplus
}
#endif

#endif
