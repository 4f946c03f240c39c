// Block-wise layers. Block-wise transfer is not in this build: every
// message passes whole.
#include "layers.h"

extern "C" {

int ArqBlock1Layer_OnSend(struct Mirel *, struct CoAPMessage *, uint8_t, struct Err *)
{
    return LAYER_CONTINUE;
}

int ArqBlock2Layer_OnSend(struct Mirel *, struct CoAPMessage *, uint8_t, struct Err *)
{
    return LAYER_CONTINUE;
}

int ArqBlock1Layer_OnReceive(struct Mirel *, struct CoAPMessage *, uint8_t, struct Err *)
{
    return LAYER_CONTINUE;
}

int ArqBlock2Layer_OnReceive(struct Mirel *, struct CoAPMessage *, uint8_t, struct Err *)
{
    return LAYER_CONTINUE;
}

}  // extern "C"
