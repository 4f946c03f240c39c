/* The DNS and LLMNR client behind the resolver's host-name and
 * domain-controller methods, and the DNS message codec that the LLMNR
 * responder shares: headers, names, answers and reversed names. Messages are
 * read and written with big-endian buffer readers and writers; every read is
 * bounded by the datagram. */
#ifndef CMDNS_H
#define CMDNS_H

#include "cmbuffer.h"
#include "cmtypes.h"

#define CM_DNS_PORT 53
#define CM_LLMNR_PORT 5355
#define CM_LLMNR_GROUP "224.0.0.252"
#define CM_DNS_MAX_SERVERS 128
#define CM_DNS_NAME_MAX 255 /* characters of a decoded name */
#define CM_DNS_DOMAIN_MAX 256
#define CM_DNS_MAX_POINTERS 8 /* compression pointers followed in one name */
#define CM_DNS_REVERSED_NAME_SIZE 257
#define CM_DNS_HEADER_SIZE 12

#define CM_DNS_TYPE_A 1
#define CM_DNS_TYPE_CNAME 5
#define CM_DNS_TYPE_PTR 12
#define CM_DNS_TYPE_AAAA 28
#define CM_DNS_TYPE_SRV 33

#define CM_DNS_ERR_REFUSED CM_ERRNO(0x07D4)
#define CM_DNS_ERR_NO_DOMAIN CM_ERRNO(0x03EB)

typedef struct CMDnsHeader {
    uint16_t id;
    uint8_t flags1; /* QR, opcode, AA, TC, RD */
    uint8_t flags2; /* RA, Z, response code in the low 4 bits */
    uint16_t questions;
    uint16_t answers;
    uint16_t authority;
    uint16_t additional;
} CMDnsHeader;

/* 0, or -1 with errno 0xff03f0. Registers the methods of the configured
 * servers and the LLMNR method with the resolver. */
VX_API int nsDnsInit(void);
VX_API void nsDnsExit(void);
VX_API int nsDnsClearTargetAddress(void);
/* 0 when the host has no NetBIOS name or has an own address, else -1. */
VX_API int nsDnsSetTargetAddresses(void);

/* -1 for null, empty or 258 characters and more; else 0 (and the hooks'
 * domain is no longer read). */
VX_API int cmDnsSetDomainA(const char *domain);
VX_API int cmDnsSetDomainW(const CMWchar *domain);
/* Addresses separated by ";" replace the servers; null or empty clears them. */
VX_API void cmDnsSetServersA(const char *list);
VX_API void cmDnsSetServersW(const CMWchar *list);

VX_API void nsWriteDnsHeader(CMBufferWriter *writer, const CMDnsHeader *header);
VX_API void nsReadDnsHeader(CMBufferReader *reader, CMDnsHeader *header);
/* Labels of the dotted text; 0, or -1 (nothing written) for a label over 63
 * or a name over 255 characters. */
VX_API int nsDnsEncodeName(CMBufferWriter *writer, const char *text);
/* Decodes the name at the reader's position into text (CM_DNS_NAME_MAX + 1
 * bytes; null only skips it); pointers are offsets from the reader's origin.
 * 0, or -1 with the reader overrun for a name that runs past the message,
 * follows more than CM_DNS_MAX_POINTERS pointers or exceeds 255 characters. */
VX_API int nsDnsDecodeName(CMBufferReader *reader, char *text);
/* One answer record with TTL 0: A (4 data bytes) or PTR (data: dotted text). */
VX_API void nsDnsWriteAnswer(CMBufferWriter *writer, const char *name, uint16_t type, const void *data,
                             uint32_t length);
/* "d.c.b.a.in-addr.arpa" for address a.b.c.d (network order); allocated. */
VX_API char *nsDnsCreateReversedName(const uint32_t *address);
/* The address back from a reversed name (length 4); allocated, or null. */
VX_API uint32_t *nsDnsParseReversedName(const char *name, uint32_t length);
/* Synchronous SRV lookup on every server in turn; result gets
 * CM_DNS_NAME_MAX + 1 bytes. 0 when a name was found, else -1. */
VX_API int nsDnsGetHostNameByService(const char *service, char *result);

/* Answers of one response: wanted type 1 gives addresses (network order, at
 * most maxItems), 12 and 5 one name, 33 the SRV target names; names go one
 * after the other into names (namesSize bytes), each with its terminator.
 * 0 when something was taken, -1 when nothing was, CM_DNS_ERR_REFUSED for a
 * refusal; a message that is no response to id is -1 as well. */
VX_API int nsDnsParseAnswers(const uint8_t *message, uint32_t length, uint16_t id, uint16_t type,
                             uint32_t *addresses, uint32_t maxItems, uint32_t *count, char *names,
                             uint32_t namesSize);

#endif
