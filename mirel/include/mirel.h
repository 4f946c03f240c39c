/* Mirel library: the endpoint (UDP socket, receiver and sender threads, key
 * pair, served resources) and the layer stacks its threads run. */
#ifndef MIREL_H
#define MIREL_H

#include <stddef.h>
#include <stdint.h>

#include "coap_message.h"
#include "mirel_util.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MIREL_MULTICAST_GROUP "224.0.0.187"
#define MIREL_KEY_SIZE 32

/* Method mask bits: bit n accepts requests with method code n. */
#define MIREL_METHOD(code) (1u << (code))
#define MIREL_GET MIREL_METHOD(COAP_CODE_GET)
#define MIREL_POST MIREL_METHOD(COAP_CODE_POST)
#define MIREL_PUT MIREL_METHOD(COAP_CODE_PUT)
#define MIREL_DELETE MIREL_METHOD(COAP_CODE_DELETE)

struct Mirel;

/* Runs on the receiver thread; 0 = the library sends the prepared response,
 * anything else = nothing is sent for this request. */
typedef int (*Mirel_ResHandler)(struct Mirel *ep, struct CoAPMessage *request, struct CoAPMessage *response);

/* port in host order, interface address (IPv4, network order) for the
 * multicast group; null on any failure (logged). IPv4 only. */
MIREL_API struct Mirel *Mirel(uint16_t port, uint32_t interface_address);
/* Must not be called from a handler (it joins the receiver thread). */
MIREL_API void Mirel_Free(struct Mirel *ep);
MIREL_API int Mirel_Send(struct Mirel *ep, struct CoAPMessage *msg);
MIREL_API int Mirel_SetPrivateKey(struct Mirel *ep, const uint8_t *key, size_t length);
/* The path is kept by pointer while the resource is registered. */
MIREL_API int Mirel_AddRes(struct Mirel *ep, const char *path, uint32_t methods, Mirel_ResHandler handler);
MIREL_API int Mirel_GetRes(struct Mirel *ep, const char *path, int method, Mirel_ResHandler *handler);
MIREL_API int Mirel_RemRes(struct Mirel *ep, const char *path);

/* Layer stacks: results 0 continue, 1 stop, 2 error (error record filled). */
MIREL_API int LayerStack_Init(struct Mirel *ep, struct Err *err);
MIREL_API void LayerStack_Deinit(struct Mirel *ep);
MIREL_API int LayerStack_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);
MIREL_API int LayerStack_OnSend(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);

#ifdef __cplusplus
}
#endif

#endif
