/* SPNEGO server with its one mechanism, NTLMSSP, and the client-side NTLM
 * response makers. */
#ifndef AMSPNEGO_H
#define AMSPNEGO_H

#include "cmasn1.h"
#include "cmbuffer.h"
#include "cmmemory.h"
#include "cmtypes.h"

/* Results of a round. */
#define AM_SPNEGO_DONE 2     /* credentials complete */
#define AM_SPNEGO_CONTINUE 3 /* a challenge was sent */
#define AM_SPNEGO_REFUSED 10 /* not acceptable */
#define AM_SPNEGO_NOMEM 12

/* Largest answer a round writes. */
#define AM_SPNEGO_ANSWER_MAX 65500
/* The negTokenInit of the negotiate responses. */
#define AM_SPNEGO_MECH_LIST_SIZE 74

/* NTLMSSP negotiate flags the server looks at. */
#define AM_NTLMSSP_NTLM2_SESSION 0x00080000u
#define AM_NTLMSSP_KEY_EXCHANGE 0x40000000u
#define AM_NTLMSSP_CHALLENGE_FLAGS 0xE0890231u
/* Field limits of AUTHENTICATE. */
#define AM_NTLMSSP_RESPONSE_MAX 1953
#define AM_NTLMSSP_NAME_MAX 257
#define AM_NTLMSSP_SESSION_KEY_SIZE 16
/* The caller's account-name buffer: 258 bytes. */
#define AM_ACCOUNT_NAME_UNITS 129

/* Points at the current session's 8-byte challenge and 16-byte nonce area
 * and returns 8; 11 when there is no session. */
typedef uint32_t (*AMSessionKeyCallback)(uint8_t **challenge, uint8_t **nonceArea);

/* What AUTHENTICATE carried; cleared before each round. */
typedef struct AMNtlmsspResult {
    const uint8_t *lmResponse;
    const uint8_t *ntResponse;
    uint16_t lmLength;
    uint16_t ntLength;
    uint32_t lmv2Accepted;
    uint32_t ntAccepted;
    uint32_t flags;
} AMNtlmsspResult;

/* One round of a mechanism: reads its message, writes its answer.
 * domain gets an allocated UTF-16 copy (freed by the caller with
 * cmMemoryFreeNonDebug); encryptedKey points into the message. */
typedef uint32_t (*AMMechanismProcess)(CMBufferReader *in, CMBufferWriter *out, AMNtlmsspResult *result,
                                       CMWchar *account, CMWchar **domain, const uint8_t **encryptedKey);

typedef struct AMMechanismDescriptor {
    const CMAsn1Oid *oid;
    const CMAsn1Oid *alternativeOid; /* null for NTLMSSP */
    AMMechanismProcess process;
    uint32_t reserved;
} AMMechanismDescriptor;

/* A session's mechanism context: the descriptor its negTokenInit chose. */
typedef const AMMechanismDescriptor *AMMechanismContext;

VX_API int amSpnegoStart(void);
VX_API void amSpnegoShutdown(void);
VX_API void amSpnegoServerSetSessionKeyCallback(AMSessionKeyCallback callback);
VX_API uint32_t amSpnegoServerGetCurrentSessionKey(uint8_t **challenge, uint8_t **nonceArea);
/* Allocates the 74-byte negTokenInit; (null, 0) when memory runs out. */
VX_API CMBlob *amSpnegoServerGenerateMechList(CMBlob *blob);
/* One round. in is advanced past what was parsed; out->len holds the room
 * of out->data on entry (at most AM_SPNEGO_ANSWER_MAX is used) and the
 * answer's length on return. account: AM_ACCOUNT_NAME_UNITS units. */
VX_API uint32_t amSpnegoServerAcceptBlobW(AMMechanismContext *context, CMBlob *in, CMBlob *out,
                                          CMWchar *account, CMWchar **domain, const uint8_t **encryptedKey,
                                          AMNtlmsspResult *result);
/* The same with an 8-bit account name (room for 257 bytes). */
VX_API uint32_t amSpnegoServerAcceptBlobA(AMMechanismContext *context, CMBlob *in, CMBlob *out, char *account,
                                          CMWchar **domain, const uint8_t **encryptedKey,
                                          AMNtlmsspResult *result);
VX_API void amSpnegoFreeKey(void **holder);
VX_API int cmGssDoesBlobHaveMechType(const uint8_t *blob, uint32_t length, const CMAsn1Oid *oid);

/* NTLMSSP server. */
VX_API const AMMechanismDescriptor *amNtlmsspGetServerDescriptor(void);
/* 3 after a CHALLENGE, 2 after an AUTHENTICATE, 10 for anything else
 * (a malformed AUTHENTICATE, or no session to take a challenge from). */
VX_API uint32_t ntlmsspServerProcess(CMBufferReader *in, CMBufferWriter *out, AMNtlmsspResult *result,
                                     CMWchar *account, CMWchar **domain, const uint8_t **encryptedKey);
VX_API void ntlmsspPackAvPair(CMBufferWriter *writer, uint16_t type, const char *text);
/* The 8-byte server challenge of a CHALLENGE, raw or in a negTokenResp. */
VX_API const uint8_t *amNtlmsspServerGetChallenge(const CMBlob *blob);

/* Client side. Response types and credentials. */
#define AM_CRYPT_NONE 0
#define AM_CRYPT_LM 1
#define AM_CRYPT_NTLM 2
#define AM_CRYPT_LMV2 3
#define AM_CRYPT_NTLMV2 4
#define AM_CRYPT_NTLMV2_MAX 1752
/* Fields of the 8-bit credentials (byte offsets) and of the UTF-16 ones. */
#define AM_CREDENTIALS_A_NAME 0
#define AM_CREDENTIALS_A_NAME2 257
#define AM_CREDENTIALS_A_NAME3 514
#define AM_CREDENTIALS_A_PASSWORD 772
#define AM_CREDENTIALS_A_SIZE 1029
#define AM_CREDENTIALS_W_NAME 0
#define AM_CREDENTIALS_W_NAME2 1028
#define AM_CREDENTIALS_W_NAME3 2056
#define AM_CREDENTIALS_W_PASSWORD 3088
#define AM_CREDENTIALS_W_SIZE 4116

typedef struct AMCryptOutput {
    CMBlob lmResponse;
    CMBlob ntResponse;
    CMBlob sessionKey;
    CMBlob macKey;
} AMCryptOutput;

/* credentials: AM_CREDENTIALS_W_SIZE bytes. 1 when both crypters ran. */
VX_API int amCryptEncrypt(const uint8_t *credentials, int lmType, int ntType, const uint8_t *serverChallenge,
                          const CMBlob *targetInfo, uint32_t timeLow, uint32_t timeHigh, AMCryptOutput *out);
VX_API void amCryptDispose(AMCryptOutput *out);
VX_API void amCredentialsAsciiiToW(uint8_t *credentialsW, const uint8_t *credentialsA);

#endif
