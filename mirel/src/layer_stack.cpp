// The receive and send layer tables and the runner over them.
#include <cstddef>

#include "layers.h"
#include "message_internal.h"
#include "mirel.h"
#include "zmo.h"

namespace {

struct Layer {
    const char *name;
    LayerHandler handler;
    LayerInit init;
    LayerDeinit deinit;
};

// Logged twice on the way in: as it arrived, and once the security layer
// opened it.
constexpr Layer kReceiveLayers[] = {
    {"log", LogLayer_OnReceive, nullptr, nullptr},
    {"sec", SecLayer_OnReceive, SecLayer_Init, SecLayer_Deinit},
    {"log", LogLayer_OnReceive, nullptr, nullptr},
    {"bl1", ArqBlock1Layer_OnReceive, nullptr, nullptr},
    {"bl2", ArqBlock2Layer_OnReceive, nullptr, nullptr},
    {"req", ReqLayer_OnReceive, nullptr, nullptr},
    {"res", ResLayer_OnReceive, nullptr, nullptr},
};

// Logged before sealing.
constexpr Layer kSendLayers[] = {
    {"bl1", ArqBlock1Layer_OnSend, nullptr, nullptr},
    {"bl2", ArqBlock2Layer_OnSend, nullptr, nullptr},
    {"log", LogLayer_OnSend, nullptr, nullptr},
    {"sec", SecLayer_OnSend, nullptr, nullptr},
};

const char *result_name(int rc)
{
    switch (rc) {
    case LAYER_CONTINUE:
        return "continue";
    case LAYER_STOP:
        return "stop";
    default:
        return "error";
    }
}

template <size_t N>
int run(const Layer (&layers)[N], const char *tag, struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra,
        struct Err *err)
{
    if (!ep || !msg)
        return LAYER_ERROR;
    int id = CoAPMessage_GetId(msg);
    for (size_t i = 0; i < N; i++) {
        const Layer &l = layers[i];
        if (!l.name || !l.handler)
            continue;
        zmo_log_debug(3, "[%d] %s#%zu \"%s\": enter", id, tag, i, l.name);
        int rc = l.handler(ep, msg, extra, err);
        zmo_log_debug(3, "[%d] %s#%zu \"%s\": %s", id, tag, i, l.name, result_name(rc));
        if (rc != LAYER_CONTINUE)
            return rc;
    }
    return LAYER_CONTINUE;
}

template <size_t N> void deinit_all(const Layer (&layers)[N], struct Mirel *ep)
{
    for (const Layer &l : layers)
        if (l.deinit)
            l.deinit(ep);
}

}  // namespace

extern "C" {

int LayerStack_Init(struct Mirel *ep, struct Err *err)
{
    for (const Layer &l : kReceiveLayers) {
        if (!l.init)
            continue;
        int rc = l.init(ep, err);
        if (rc < 0)
            return rc;
    }
    for (const Layer &l : kSendLayers) {
        if (!l.init)
            continue;
        int rc = l.init(ep, err);
        if (rc < 0)
            return rc;
    }
    return 0;
}

void LayerStack_Deinit(struct Mirel *ep)
{
    deinit_all(kReceiveLayers, ep);
    deinit_all(kSendLayers, ep);
}

int LayerStack_OnReceive(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err)
{
    return run(kReceiveLayers, "RL", ep, msg, extra, err);
}

int LayerStack_OnSend(struct Mirel *ep, struct CoAPMessage *msg, uint8_t extra, struct Err *err)
{
    return run(kSendLayers, "SL", ep, msg, extra, err);
}

}  // extern "C"
