/* The server's logon decision, its policy switches and the SMB1 signing-key
 * hand-over. */
#ifndef CSAUTH_H
#define CSAUTH_H

#include "amspnego.h"
#include "csdb.h"
#include "cmtypes.h"

/* Accepted logon responses. */
#define CS_AUTH_NTLM 0x2
#define CS_AUTH_LMV2 0x4
#define CS_AUTH_NTLMV2 0x8
#define CS_AUTH_ALL 0xF

#define CS_AUTH_CONTEXT_SIZE 1764
/* Work buffers of the account and domain names: 513 units and a terminator. */
#define CS_AUTH_NAME_UNITS 514

/* One round of a session setup. request: SMB1 the SESSION_SETUP_ANDX
 * parameter block from its WordCount byte; SMB2 the security buffer, whose
 * u16 length lies 10 bytes before it. requestLength: bytes from request to
 * the end of the message; nothing past it is read. answer: room in
 * *answerLength bytes on entry, the answer blob's length on return. user:
 * in/out record of this exchange. end (SMB1, may be null): the first byte
 * after the parsed fields. 0 done, else csErrorReturn's status. */
VX_API uint32_t csAuthenticateUser(const uint8_t *request, uint32_t requestLength, CSSession *session,
                                   uint8_t *answer, uint32_t *answerLength, int unicode, CSUser **user,
                                   const uint8_t **end);
VX_API int csAuthInit(void);
VX_API void csAuthShutdown(void);
VX_API const char *csAuthGetPDCName(void);
VX_API int csAuthIsPermissive(void);
VX_API void csAuthSetPermissive(int flag);
VX_API int csChangeEncryptionLevel(uint16_t mask);
VX_API int csAuthShareIsAccessible(const CSUser *user, uint32_t shareRestricted);
VX_API uint32_t getCurrentSessionKey(uint8_t **challenge, uint8_t **nonceArea);
VX_API int csFillUserToken(CSUser *user);
/* Use the v2 hash of the logon under way. */
VX_API int csAuthCheckNtlmv2Response(const uint8_t *challenge, const uint8_t *response, uint32_t length,
                                     CSUser *user);
VX_API int csAuthCheckLmv2Response(const uint8_t *challenge, const uint8_t *response, CSUser *user);
VX_API void csActivateSmb1Signing(CSUser *user, const AMNtlmsspResult *exchange);

#endif
