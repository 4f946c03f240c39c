/* Mirel library: the pending-message pool, the endpoint's send queue and its
 * memory of unanswered confirmable messages. */
#ifndef COAP_POOL_H
#define COAP_POOL_H

#include <stdint.h>
#include <sys/socket.h>

#include "coap_message.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Layer-pass bits handed to the send layers with a message. */
#define COAP_POOL_PASS_BLOCK 1
#define COAP_POOL_PASS_SEC 2

/* Retransmission schedule, in milliseconds. */
#define COAP_POOL_RETRANSMIT_MS 3000
#define COAP_POOL_KEEP_AFTER_SEND_MS 25000
#define COAP_POOL_LIFETIME_MS 60000
#define COAP_POOL_MAX_SENDS 3

struct CoAPMessagePool;

/* Monotonic milliseconds; the pool uses TimeMono_Ms unless told otherwise. */
typedef uint64_t (*CoAPMessagePool_Clock)(void *context);

MIREL_API struct CoAPMessagePool *CoAPMessagePool(void);
MIREL_API void CoAPMessagePool_SetClock(struct CoAPMessagePool *pool, CoAPMessagePool_Clock clock,
                                        void *context);
MIREL_API int CoAPMessagePool_Add(struct CoAPMessagePool *pool, struct CoAPMessage *msg, uint8_t extra);

/* The pending message with that id sent to peer (any peer when peer is null;
 * a message sent to a multicast group matches every peer), the latest added
 * first, with a new reference for the caller; null when none. */
MIREL_API struct CoAPMessage *CoAPMessagePool_Get(struct CoAPMessagePool *pool, uint16_t id,
                                                  const struct sockaddr_storage *peer, uint8_t *extra);
/* The pending confirmable message with that token sent to peer (as Get
 * matches peers), the latest added first, with a new reference; null when
 * none. For answers whose id is not the request's. */
MIREL_API struct CoAPMessage *CoAPMessagePool_GetByToken(struct CoAPMessagePool *pool, const uint8_t *token,
                                                         size_t length, const struct sockaddr_storage *peer);
/* Drops every pending confirmable message with that token sent to peer,
 * but keep (which may be null); the number dropped. */
MIREL_API int CoAPMessagePool_RemoveByToken(struct CoAPMessagePool *pool, const uint8_t *token, size_t length,
                                            const struct sockaddr_storage *peer,
                                            const struct CoAPMessage *keep);
/* Drops the entry that Get would return: 0, or -1 with EINVAL or ENOENT. */
MIREL_API int CoAPMessagePool_Remove(struct CoAPMessagePool *pool, uint16_t id,
                                     const struct sockaddr_storage *peer);
/* Drops the entry holding exactly this message: 0, or -1 with EINVAL or ENOENT. */
MIREL_API int CoAPMessagePool_RemoveMessage(struct CoAPMessagePool *pool, const struct CoAPMessage *msg);
/* Sets the layer-pass bits of the entry holding exactly this message:
 * 0, or -1 with EINVAL or ENOENT. */
MIREL_API int CoAPMessagePool_SetExtra(struct CoAPMessagePool *pool, const struct CoAPMessage *msg,
                                       uint8_t extra);
/* Entries not transmitted yet. */
MIREL_API int CoAPMessagePool_Unsent(struct CoAPMessagePool *pool);
MIREL_API int CoAPMessagePool_Clear(struct CoAPMessagePool *pool);
MIREL_API void CoAPMessagePool_Free(struct CoAPMessagePool *pool);

/* The next message to transmit, with a new reference; blocks until one is due
 * (or CoAPMessagePool_Wake is called) and may return null: call again. */
MIREL_API struct CoAPMessage *CoAPMessagePool_Next(struct CoAPMessagePool *pool, uint8_t *extra);
/* Makes a waiting (or the next) CoAPMessagePool_Next return; for shutdown. */
MIREL_API void CoAPMessagePool_Wake(struct CoAPMessagePool *pool);

#ifdef __cplusplus
}
#endif

#endif
