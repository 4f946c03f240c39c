// Layer handlers of the receive and send stacks.
#ifndef MIREL_LAYERS_H
#define MIREL_LAYERS_H

#include <cstdint>

#include "coap_message.h"
#include "mirel_util.h"

extern "C" {

// 0 continue, 1 stop, 2 error (with the error record filled).
enum { LAYER_CONTINUE = 0, LAYER_STOP = 1, LAYER_ERROR = 2 };
typedef int (*LayerHandler)(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);

int LogLayer_OnSend(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);
int LogLayer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);

typedef int (*LayerInit)(struct Mirel *ep, struct Err *err);
typedef void (*LayerDeinit)(struct Mirel *ep);

int SecLayer_Init(struct Mirel *ep, struct Err *err);
void SecLayer_Deinit(struct Mirel *ep);
int SecLayer_OnSend(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);
int SecLayer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);
int SecLayer_OnReceive_SessionError(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra,
                                    struct Err *err);

int ArqBlock1Layer_OnSend(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);
int ArqBlock2Layer_OnSend(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);
int ArqBlock1Layer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);
int ArqBlock2Layer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);

int ReqLayer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);
int ResLayer_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err);
}

namespace mirel {

// Builds the one-line summary of a message and logs it at debug level 1.
int message_summary(const struct CoAPMessage *msg, bool outgoing, bool with_options, bool with_payload);

}  // namespace mirel

#endif
