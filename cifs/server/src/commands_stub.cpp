// Least versions of what the dispatcher calls of its neighbours: the SMB1
// commands and the SMB2 dispatcher. Each one's own part replaces it.
#include "cscommands.h"
#include "csdispatch.h"
#include "csserver.h"

extern "C" {

#define CS_DEFINE_COMMAND(code, name, flags)                                                                 \
    __attribute__((weak)) uint32_t name(const uint8_t *, uint8_t *, uint8_t **)                              \
    {                                                                                                        \
        return csErrorReturn(0xC00000BBu, 0xFFFF0002u);                                                      \
    }
CS_COMMANDS(CS_DEFINE_COMMAND)
#undef CS_DEFINE_COMMAND

// Without the SMB2 core an SMB2 client is dropped.
__attribute__((weak)) int csSmb2DispatchRequest(NSRecvContext *, uint8_t *, uint32_t) { return 0; }
__attribute__((weak)) int cs2DispatchInit(void) { return 0; }
__attribute__((weak)) void cs2DispatchExit(void) {}
__attribute__((weak)) void cs2DispatchSaveResponseContext(CSLateResponseContext *context, const uint8_t *)
{
    context->isSmb2 = 1;
}
__attribute__((weak)) void cs2DispatchPrepareLateResponse(CSLateResponseContext *context)
{
    context->response = nullptr;
    context->remaining = 0;
}
__attribute__((weak)) int cs2DispatchSendLateResponse(CSLateResponseContext *, uint32_t) { return 0; }
__attribute__((weak)) const uint8_t *cs2DispatchCurrentHeader(void) { return nullptr; }

}  // extern "C"

extern "C" {

__attribute__((weak)) int cs2NotifyInit(void) { return 0; }
__attribute__((weak)) void cs2NotifyExit(void) {}

}  // extern "C"
