/* NetBIOS names: the name record, first-level encoding with the scope,
 * compression pointers, transaction ids, the node type, and the host's own
 * identity (host name, workgroup or domain, scope, full DNS names). */
#ifndef CMNETBIOS_H
#define CMNETBIOS_H

#include "cmtypes.h"

/* Name bytes on the wire before encoding: 15 characters and the suffix. */
#define CM_NB_NAME_SIZE 16
/* Text that fits a name record: 15 characters. */
#define CM_NB_NAME_TEXT_MAX 15
/* Longest scope kept, without its terminator. */
#define CM_NB_SCOPE_MAX 99
/* Longest full domain or host name, without its terminator. */
#define CM_NB_FULL_NAME_MAX 256
/* Room for an encoded name with the longest scope: 34 + 99 + 2. */
#define CM_NB_ENCODED_NAME_MAX 136
/* Largest offset a 14-bit compression pointer can hold. */
#define CM_NB_POINTER_MASK 0x3FFF

#define CM_NB_NODE_B 0x0000
#define CM_NB_NODE_P 0x2000
#define CM_NB_NODE_M 0x4000

/* The record that the daemon, the socket layer and the server exchange. */
typedef struct CMNetBiosNameInfo {
    char name[CM_NB_NAME_SIZE + 1]; /* 16 name bytes and a terminator */
    uint32_t isGroup;
} CMNetBiosNameInfo;

/* 0, or -1 with errno 0xff03f0 when the identity block cannot be had. */
VX_API int cmNetBiosInit(void);
VX_API void cmNetBiosExit(void);
VX_API int cmNetBiosNameInit(void);
VX_API void cmNetBiosNameExit(void);

/* Readers of the identity block, valid until the next cmNetBiosNameInit or
 * cmNetBiosExit. Before cmNetBiosInit they give empty texts and records. */
VX_API const char *cmNetBiosGetScope(void);
VX_API uint32_t cmNetBiosGetScopeLength(void);
VX_API const CMNetBiosNameInfo *cmNetBiosGetHostNameInfo(void);
/* 17 bytes: the host name followed by zero bytes. */
VX_API const char *cmNetBiosGetHostNameZeroed(void);
/* 17 bytes: the host name followed by spaces. */
VX_API const char *cmNetBiosGetHostNameSpaced(void);
VX_API const CMNetBiosNameInfo *cmNetBiosGetDomain(void);
VX_API const CMNetBiosNameInfo *cmNetBiosGetDomainAuth(void);
VX_API const char *cmGetFullHostName(void);
/* Null when the host has no full (DNS) domain name. */
VX_API const char *cmGetFullDomainName(void);

/* Replaces the authentication domain with wname narrowed to 8 bits; longer
 * names are cut at 16 characters. Null only clears it. */
VX_API void cmNetBiosSetDomainAuth(const CMWchar *wname);

/* gethostname cut at its first "." and after 16 characters, upper-cased, the
 * rest of the 17 bytes filled with pad (zeros when the name is empty). */
VX_API void cmNetBiosReadSystemHostName(char *buffer17, char pad);

/* Text in a 17-byte buffer to a name in place: at most 15 characters,
 * upper-cased, space-padded, suffix in byte 16, zero in byte 17. */
VX_API void cmNetBiosNameFormat(char *name17, uint8_t suffix);
/* The text up to its first "." (at most 15 characters), formatted. */
VX_API void cmNetBiosNameCreate(CMNetBiosNameInfo *record, const char *text, uint8_t suffix);
/* A formatted name back to text: trailing spaces removed. */
VX_API void cmNetBiosNameClean(char *name17);

/* Writes the first-level encoding of the record's 16 bytes and the scope;
 * out needs CM_NB_ENCODED_NAME_MAX bytes. Returns the bytes written. */
VX_API uint32_t cmNetBiosEncodeName(const CMNetBiosNameInfo *record, uint8_t *out);
/* Decodes the name at encoded inside [packetStart, packetEnd): 16 name bytes
 * and a terminator into name17, the scope as dotted text into scopeOut
 * (scopeSize bytes; may be null). A name follows at most one compression
 * pointer, and only backwards. Returns the position after the name, or null
 * for a name that is not one or does not lie wholly inside the packet. */
VX_API const uint8_t *cmNetBiosParseName(const uint8_t *packetStart, const uint8_t *packetEnd,
                                         const uint8_t *encoded, char *name17, char *scopeOut,
                                         uint32_t scopeSize);
/* The same walk without decoding. */
VX_API const uint8_t *cmNetBiosSkipName(const uint8_t *packetStart, const uint8_t *packetEnd,
                                        const uint8_t *encoded);
/* Writes a 2-byte pointer to encoded (or to its target when encoded is
 * itself a pointer); returns 2. */
VX_API uint32_t cmNetBiosEncodeNamePointer(const uint8_t *packetStart, uint8_t *out, const uint8_t *encoded);

/* The next transaction id: 1, 2, ... wrapping at 16 bits. */
VX_API uint16_t cmNetBiosGetNextTranId(void);
/* CM_NB_NODE_M with a WINS server, else CM_NB_NODE_B. */
VX_API uint32_t cmNetBiosGetNodeType(void);
/* Adds the datagram header's node-type bits to flags. */
VX_API void cmNetBiosSetDatagramFlags(uint8_t *flags);

#endif
