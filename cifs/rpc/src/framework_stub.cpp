// Least versions of the pipe framework's late-answer steps until the
// framework is linked in: without it nothing carries a late answer.
#include "late_answer.h"

extern "C" {

__attribute__((weak)) int csDcerpcPrepareLateResponse(CSLateResponseContext *context, uint32_t)
{
    context->response = nullptr;
    context->remaining = 0;
    return 0;
}

__attribute__((weak)) int csDcerpcSendLateResponse(CSLateResponseContext *, uint32_t, uint32_t) { return 0; }

__attribute__((weak)) void csDcerpcSaveResponseContext(uint32_t, const CMRpcPacketDescriptor *,
                                                       CSLateResponseContext *)
{
}

}  // extern "C"
