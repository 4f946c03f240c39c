// Internal: the pipe framework's late-answer steps that the spooler uses to
// answer a write it held.
#pragma once

#include "cmrpc.h"
#include "csdispatch.h"

extern "C" {
int csDcerpcPrepareLateResponse(CSLateResponseContext *context, uint32_t size);
int csDcerpcSendLateResponse(CSLateResponseContext *context, uint32_t status, uint32_t length);
void csDcerpcSaveResponseContext(uint32_t rpcFraming, const CMRpcPacketDescriptor *request,
                                 CSLateResponseContext *context);
}
