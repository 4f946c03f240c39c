/* DER tags, lengths and object identifiers for the security tokens, and the
 * negTokenResp wrapper of the SPNEGO server. */
#ifndef CMASN1_H
#define CMASN1_H

#include "cmbuffer.h"
#include "cmtypes.h"

/* An object identifier's DER contents (no tag, no length). */
typedef struct CMAsn1Oid {
    const uint8_t *data;
    uint32_t size;
} CMAsn1Oid;

#define CM_ASN1_OID 0x06

VX_API const CMAsn1Oid cmGssApiOidSpnego;             /* 1.3.6.1.5.5.2 */
VX_API const CMAsn1Oid cmGssApiOidNtlmSsp;            /* 1.3.6.1.4.1.311.2.2.10 */
VX_API const CMAsn1Oid cmGssApiOidKerberos;           /* 1.2.840.113554.1.2.2 */
VX_API const CMAsn1Oid cmGssApiOidMsKerberos;         /* 1.2.840.48018.1.2.2 */
VX_API const CMAsn1Oid cmGssApiOidKerberosUserToUser; /* 1.2.840.113554.1.2.2.3 */

/* Size of the DER length field for length. */
VX_API uint32_t cmAsn1PackLen(uint32_t length);
/* Tag, length field and contents together. */
VX_API uint32_t cmAsn1GetElementLength(uint32_t length);
VX_API void cmAsn1PackTag(CMBufferWriter *writer, uint8_t tag, uint32_t length);
VX_API void cmAsn1PackOid(CMBufferWriter *writer, const CMAsn1Oid *oid);
/* Returns the tag and stores the length. A long form of more than 4 bytes or
 * a length past the bytes left is refused: 0 is returned, the length is 0 and
 * the reader is marked overrun. */
VX_API uint8_t cmAsn1ParseTag(CMBufferReader *reader, uint32_t *length);
VX_API int cmAsn1ParseCompareOid(CMBufferReader *reader, const CMAsn1Oid *oid, int restore);

/* A mechanism's processing step: reads its token from in, writes its answer
 * to out and returns 2 when the exchange is complete. */
typedef uint32_t (*CMSpnegoProcess)(void *context, CMBufferReader *in, CMBufferWriter *out);

/* Runs process and, unless raw, wraps what it wrote into a negTokenResp
 * naming mechanism; returns process's result. */
VX_API uint32_t spnegoPackNegTokenResp(const CMAsn1Oid *mechanism, CMSpnegoProcess process, void *context,
                                       CMBufferReader *in, CMBufferWriter *out, int raw);

#endif
