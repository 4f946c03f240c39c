/* Security descriptors and SIDs, the local domain with its accounts and
 * prepared descriptors, and the access decisions made on them.
 *
 * A descriptor is kept in its self-relative wire layout (little-endian) in a
 * fixed 512-byte area. Parsing copies each part to the offset the wire names
 * and refuses a descriptor whose parts leave the input or the area. */
#ifndef CMSD_H
#define CMSD_H

#include "cmrpc.h"
#include "cmmemory.h"
#include "cmtypes.h"

#define CM_SD_MAX_SIZE 512
#define CM_SD_MAX_SUBAUTHORITIES 6
#define CM_SD_MAX_RIDS 6
#define CM_SD_MAX_ACE_SIZE 40
#define CM_SD_MIN_ACE_SIZE 16

/* Security information bits of cmSdPackSecurityDescriptor. */
#define CM_SD_OWNER 0x1
#define CM_SD_GROUP 0x2
#define CM_SD_DACL 0x4
#define CM_SD_SACL 0x8

/* ACE types and flags. */
#define CM_SD_ACE_ALLOWED 0
#define CM_SD_ACE_DENIED 1
#define CM_SD_OBJECT_INHERIT 0x01
#define CM_SD_CONTAINER_INHERIT 0x02
#define CM_SD_NO_PROPAGATE 0x04
#define CM_SD_INHERIT_ONLY 0x08

/* Access masks. */
#define CM_SD_FULL_CONTROL 0x001F01FFu
#define CM_SD_CHANGE 0x001301BFu
#define CM_SD_READ 0x001200A9u
#define CM_SD_DELETE 0x00010000u
#define CM_SD_READ_CONTROL 0x00020000u
#define CM_SD_WRITE_DAC 0x00040000u
#define CM_SD_WRITE_OWNER 0x00080000u
#define CM_SD_SYNCHRONIZE 0x00100000u

/* Well-known RIDs. */
#define CM_SD_RID_ADMIN_USER 500
#define CM_SD_RID_GUEST_USER 501
#define CM_SD_RID_DOMAIN_ADMINS 512
#define CM_SD_RID_DOMAIN_USERS 513
#define CM_SD_RID_DOMAIN_GUESTS 514
#define CM_SD_RID_ADMINISTRATORS 544
#define CM_SD_RID_USERS 545
#define CM_SD_RID_GUESTS 546
#define CM_SD_RID_ACCOUNT_OPS 548

typedef struct CMSdSecurityDescriptor {
    uint8_t data[CM_SD_MAX_SIZE];
    uint32_t length;
} CMSdSecurityDescriptor;

/* A SID as a record: at most six sub-authorities. */
typedef struct CMSdDomainSid {
    uint8_t revision;
    uint8_t count;
    uint8_t authority[6];
    uint32_t subauthorities[CM_SD_MAX_SUBAUTHORITIES];
} CMSdDomainSid;

typedef struct CMSdAce {
    uint8_t type;
    uint8_t flags;
    uint16_t size;
    uint32_t mask;
    CMSdDomainSid sid;
} CMSdAce;

/* A user's token: the computer SID and up to six RIDs (the first is the
 * user's own; negative for an administrator account). */
typedef struct CMSdAccessToken {
    CMSdDomainSid domain;
    uint32_t ridCount;
    uint32_t rids[CM_SD_MAX_RIDS];
} CMSdAccessToken;

/* Wire forms of SIDs and ACEs, little-endian, on the bounded descriptor. */
VX_API void cmSdParseSid(CMRpcPacketDescriptor *d, CMSdDomainSid *sid);
VX_API void cmSdPackSid(CMRpcPacketDescriptor *d, const CMSdDomainSid *sid);
VX_API void cmSdPackSidRid(CMRpcPacketDescriptor *d, const CMSdDomainSid *sid, uint32_t rid);
VX_API void cmSdParseAce(CMRpcPacketDescriptor *d, CMSdAce *ace);
VX_API void cmSdPackAce(CMRpcPacketDescriptor *d, const CMSdAce *ace);
/* An ACL moves between the wire and a record area in wire layout (ACEs
 * contiguous, each 8 + SID size bytes); the record descriptor bounds the
 * area. Either side running out sets that side's overrun flag. */
VX_API void cmSdParseAcl(CMRpcPacketDescriptor *wire, CMRpcPacketDescriptor *record);
VX_API void cmSdPackAcl(CMRpcPacketDescriptor *wire, CMRpcPacketDescriptor *record);

/* 1 parsed; 0 refused (a part leaves the input or the 512 bytes): the
 * record's length is then 0. */
VX_API int cmSdParseSecurityDescriptor(CMRpcPacketDescriptor *d, CMSdSecurityDescriptor *sd);
VX_API void cmSdPackSecurityDescriptor(CMRpcPacketDescriptor *d, CMSdSecurityDescriptor *sd,
                                       uint32_t information);
VX_API int cmSdIsValid(const CMSdSecurityDescriptor *sd);
VX_API int cmSdIsAnySid(const CMSdDomainSid *sid);
VX_API uint32_t cmSdGetRidType(uint32_t rid);
/* Wire-form SIDs: S-1-1-0 (12 bytes), S-1-5-32-544 and S-1-5-32-545 (16). */
VX_API const uint8_t *cmSdGetEveryoneGroupACE(void);
VX_API const uint8_t *cmSdGetAdministratorsGroupACE(void);
VX_API const uint8_t *cmSdGetUsersGroupACE(void);

/* Local domain. */
VX_API int cmSdInit(void);
VX_API void cmSdExit(void);
VX_API const CMSdDomainSid *cmSdGetComputerSid(void);
VX_API int cmSdIsComputerSid(const CMSdDomainSid *sid);
VX_API int cmSdCheckAlias(const CMSdDomainSid *sid, uint32_t *alias);
VX_API const CMSdDomainSid *cmSdGetDomainSid(void);
VX_API int cmSdIsDomainSidSet(void);
VX_API const CMSdDomainSid *cmSdSetDomainSid(const CMSdDomainSid *sid);
VX_API const CMSdDomainSid *cmSdGetLocalDomainAlias(void);
VX_API int cmSdLookupName(const CMWchar *name, uint32_t *rid);
VX_API int cmSdLookupRid(uint32_t rid, CMWchar *name, CMWchar *description);
VX_API int cmSdIsAdministrator(const CMSdAccessToken *token);

/* Prepared descriptors: each fills the record and returns 1. */
VX_API int cmSdGetDefaultSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetOwnerAndDaclSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetGroupAndDaclSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetShareSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetEmptyShareSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetNoneSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetOwnerSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetGroupSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetOwnerAndGroupSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetOwnerAndGroupAndDaclSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetReadonlyShareSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetAdminonlyShareSecurityDescriptor(CMSdSecurityDescriptor *sd);
VX_API int cmSdGetDefaultSecurityDescriptorByToken(const CMSdAccessToken *token, CMSdSecurityDescriptor *sd);
VX_API int cmSdGetLocalSecurityDescriptorForUser(uint32_t rid, CMSdSecurityDescriptor *sd);

/* Access decisions. */
VX_API int cmSdHasAccess(const CMSdAccessToken *token, const CMSdSecurityDescriptor *sd, uint32_t desired);
/* The granted mask, or 0xFFFFFFFF for a descriptor that is not valid. */
VX_API uint32_t cmSdGetAccess(const CMBlob *sd, const CMSdAccessToken *token);
/* Writes the child's descriptor into child->data (room: child->len bytes,
 * at least 20) and returns its length (also left in child->len); 0 when
 * the parent is not valid or the child does not fit. */
VX_API uint32_t cmSdInherit(const CMBlob *parent, CMBlob *child, const CMSdAccessToken *token);
VX_API int cmSdCreateExclusiveSecurityDescriptor(const CMSdAccessToken *token, CMSdSecurityDescriptor *sd);
VX_API int cmSdIsExclusiveSecurityDescriptor(const CMSdAccessToken *token, const CMSdSecurityDescriptor *sd);

#endif
