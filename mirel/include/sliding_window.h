/* Mirel library: the blocks of one block-wise transfer with their window,
 * and the endpoint's pool of running transfers. */
#ifndef SLIDING_WINDOW_H
#define SLIDING_WINDOW_H

#include <stddef.h>
#include <stdint.h>

#include "coap_message.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Block flags. */
#define SW_BLOCK_SENT 1
#define SW_BLOCK_ACKED 2
#define SW_BLOCK_LAST 4

struct SlidingWindow;

MIREL_API struct SlidingWindow *SlidingWindow(int sending, uint32_t block_size, uint32_t window_size);
MIREL_API int SlidingWindow_SetBlockSize(struct SlidingWindow *w, uint32_t size);
MIREL_API int SlidingWindow_Write(struct SlidingWindow *w, const void *data, size_t length);
MIREL_API int SlidingWindow_WriteBlock(struct SlidingWindow *w, uint32_t number, const void *data,
                                       size_t length, int check, const uint8_t *flags);
MIREL_API const uint8_t *SlidingWindow_ReadBlock(struct SlidingWindow *w, uint32_t number, uint32_t *length,
                                                 int check, uint8_t *flags);
/* Returns 1 to go on, 0 to stop, a negative value for an error; may change
 * the block's flags through the pointer. */
typedef int (*SlidingWindow_BlockCallback)(struct SlidingWindow *w, uint32_t number, const uint8_t *data,
                                           uint32_t length, uint8_t *flags, void *context);
MIREL_API int SlidingWindow_ReadBlockIter(struct SlidingWindow *w, int in_window,
                                          SlidingWindow_BlockCallback callback, void *context);
MIREL_API int SlidingWindow_GetBlockFlags(struct SlidingWindow *w, uint32_t number, uint8_t *flags);
MIREL_API int SlidingWindow_SetBlockFlags(struct SlidingWindow *w, uint32_t number, uint8_t flags);
MIREL_API int SlidingWindow_Advance(struct SlidingWindow *w, uint8_t *complete);
MIREL_API int64_t SlidingWindow_GetOffset(const struct SlidingWindow *w);
MIREL_API uint64_t SlidingWindow_GetSize(const struct SlidingWindow *w);
MIREL_API void *SlidingWindow_Read(const struct SlidingWindow *w, uint32_t *length);
MIREL_API int SlidingWindow_IsRx(const struct SlidingWindow *w);
MIREL_API void SlidingWindow_Free(struct SlidingWindow *w);

struct SlidingWindowPool;

/* Monotonic milliseconds; TimeMono_Ms unless told otherwise. */
typedef uint64_t (*SlidingWindowPool_Clock)(void *context);

MIREL_API struct SlidingWindowPool *SlidingWindowPool(void);
MIREL_API void SlidingWindowPool_SetClock(struct SlidingWindowPool *pool, SlidingWindowPool_Clock clock,
                                          void *context);
/* Takes over the window and the caller's reference on the template (which
 * may be null) on success only. */
MIREL_API int SlidingWindowPool_Set(struct SlidingWindowPool *pool, const char *key, struct SlidingWindow *w,
                                    struct CoAPMessage *tmpl, CoAPMessage_Handler handler);
MIREL_API struct SlidingWindow *SlidingWindowPool_Get(struct SlidingWindowPool *pool, const char *key,
                                                      struct CoAPMessage **tmpl,
                                                      CoAPMessage_Handler *handler);
MIREL_API int SlidingWindowPool_SetCode(struct SlidingWindowPool *pool, const char *key, int code);
MIREL_API int SlidingWindowPool_GetCode(struct SlidingWindowPool *pool, const char *key);
MIREL_API int SlidingWindowPool_Del(struct SlidingWindowPool *pool, const char *key);
/* Deletes every transfer without activity (Set or Get) for idle_ms; the
 * number deleted. Call it from the thread that uses the windows. */
MIREL_API int SlidingWindowPool_Expire(struct SlidingWindowPool *pool, uint64_t idle_ms);
/* Calls visit for every transfer (without counting it as activity), with the
 * pool locked: visit must not call the pool. It returns 1 to go on, 0 to
 * stop. */
typedef int (*SlidingWindowPool_Visit)(const char *key, struct SlidingWindow *w, struct CoAPMessage *tmpl,
                                       void *context);
MIREL_API int SlidingWindowPool_ForEach(struct SlidingWindowPool *pool, SlidingWindowPool_Visit visit,
                                        void *context);
/* Running transfers, receiving (rx 1), sending (rx 0) or all (rx -1). */
MIREL_API int SlidingWindowPool_Count(struct SlidingWindowPool *pool, int rx);
MIREL_API void SlidingWindowPool_Free(struct SlidingWindowPool *pool);

#ifdef __cplusplus
}
#endif

#endif
