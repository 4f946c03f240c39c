// Security layer. Sealing is not in this build: every message passes in
// clear, and the layer holds no sessions.
#include "layers.h"

extern "C" {

int SecLayer_Init(struct Mirel *, struct Err *) { return 0; }

void SecLayer_Deinit(struct Mirel *) {}

int SecLayer_OnSend(struct Mirel *, struct CoAPMessage *, uint8_t, struct Err *)
{
    return LAYER_CONTINUE;
}

int SecLayer_OnReceive(struct Mirel *, struct CoAPMessage *, uint8_t, struct Err *)
{
    return LAYER_CONTINUE;
}

}  // extern "C"
