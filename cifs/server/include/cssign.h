/* Signing and checking of the server's messages, by session and user. */
#ifndef CSSIGN_H
#define CSSIGN_H

#include "cmsign.h"
#include "csdb.h"

/* user may be null. */
VX_API void csCreateMessageSignatureSMB(CSSession *session, CSUser *user, uint8_t *message, uint32_t length);
/* 1 accept, 0 reject. */
VX_API int csCheckMessageSignatureSMB(CSSession *session, CSUser *user, uint8_t *message, uint32_t length);
/* sessionId: the low word of the SMB2 SessionId. */
VX_API void csCreateMessageSignatureSMB2(uint32_t sessionId, uint8_t *message, uint32_t length);
VX_API void csCreateMessageSignatureSMB3(uint32_t sessionId, uint8_t *message, uint32_t length);
VX_API int csCheckMessageSignatureSMB2(CSUser *user, uint8_t *message, uint32_t length, uint32_t flags);
VX_API int csCheckMessageSignatureSMB3(CSUser *user, uint8_t *message, uint32_t length, uint32_t flags);

#endif
