// Internal: the daemon's records and the handlers each socket kind feeds.
#pragma once
#include "cmnetbios.h"
#include "ndaemon.h"

#include <cstdint>
#include <vector>

#define ND_BUFFER_SIZE 1500u
#define ND_MAX_ADAPTERS 32u
#define ND_OWN_NAMES 20u
#define ND_QUERIED_NAMES 20u
#define ND_MAX_LISTENERS 32u

struct NDAdapter {
    uint32_t ordinal;
    uint32_t ip;     // network order
    uint32_t bcast;  // network order; 255 for 127.0.0.1
    int32_t status;  // 0 free, 1 new, 2 kept, -1 stale
    uint32_t bNode;
    int nameSocket;
    int datagramSocket;
    // The message at hand
    uint16_t srcPort;  // network order
    uint32_t srcIp;
    uint16_t tranId;
    uint16_t spare;
    uint8_t *recv;
    uint32_t length;
    uint8_t *send;
    uint32_t word;
    uint32_t mask;
    uint8_t mac[6];
};

// Adapter table
int ndAdapterListInit();
int ndAdapterListLoad();
void ndAdapterListStop();
uint32_t ndGetNumAdapters();
NDAdapter *ndAdapterGetNext();
NDAdapter *ndFindAdapter(uint32_t sourceIp, NDAdapter *fallback);
// Test seam: a table built from given addresses instead of the host's.
struct NDSelfAddress {
    uint32_t ip, bcast, mask;
};
int ndAdapterListLoadFrom(const std::vector<NDSelfAddress> &addresses);

// Own names
int ndNameInit();
void ndNameStop();
int ndInternalNameInit();
void ndInternalNameStop();
int ndInternalNameFind(const char *name16);
void ndInternalNameRegisterAllAdapters(NDAdapter *requester, const CMNetBiosNameInfo *name);
void ndConfigChangeRegisterAllNames(NDAdapter *savedRequester);
void ndInternalNameReleaseAllAdapters(NDAdapter *requester, const CMNetBiosNameInfo *name, int final);
void ndInternalNameReleaseAllNames(int final);
uint32_t ndInternalNameTimeout(uint32_t elapsed);
int ndInternalProcessNameQuery(NDAdapter *adapter, const CMNetBiosNameInfo *name, int noNegative);
int ndInternalNameSetPort(const char *name16, uint16_t port);
const std::vector<uint16_t> *ndInternalNameGetPort(const char *name16);
// State of an own name on one adapter ordinal, -1 when not own (tests).
int ndInternalNameState(const char *name16, uint32_t ordinal);
uint32_t ndInternalNameCount(const char *name16);

// Queried names
int ndExternalNameInit();
void ndExternalNameStop();
int ndExternalNameFind(const char *name16);
void ndExternalNameQuery(NDAdapter *requester, const CMNetBiosNameInfo *name);
uint32_t ndExternalNameTimeout(uint32_t elapsed);
int ndExternalNameState(const char *name16);

// One parsed name service message: the name record, key, and the reader
// position behind the first name.
struct NDMessage {
    CMNetBiosNameInfo name;
    uint16_t id;
    uint16_t flags;
    uint16_t key;
    uint32_t behindName;  // offset
};
bool ndParseNameMessage(const NDAdapter *adapter, NDMessage *message);
// Resource record behind the name: type, TTL and rdata, bounded by the packet.
struct NDRecord {
    uint16_t type;
    uint32_t ttl;
    uint16_t rdLength;
    const uint8_t *rdata;  // rdLength bytes inside the packet
};
bool ndReadRecord(const NDAdapter *adapter, uint32_t offset, NDRecord *record);

void ndInternalNameOnResponse(NDAdapter *adapter, const NDMessage &message);
int ndExternalNamePositiveQuery(NDAdapter *adapter, const NDMessage &message);
int ndExternalNameNegativeQuery(NDAdapter *adapter, const NDMessage &message);
int ndExternalNameWack(NDAdapter *adapter, const NDMessage &message);

// Handlers by socket kind
int ndNameProcessExternalMessage(NDAdapter *adapter);
int ndNameProcessInternalMessage(NDAdapter *adapter);
int ndDatagramInit();
void ndDatagramStop();
int ndDatagramProcessInternalMessage(NDAdapter *adapter);
int ndDatagramProcessExternalMessage(NDAdapter *adapter);
void ndLLMNRSetSocket(int socket);
int ndLLMNRNameLookup(const char *text);
int ndLLMNRProcessExternalMessage(NDAdapter *adapter);

// Sends len bytes of the adapter's send buffer; false on failure.
bool ndSend(int socket, const uint8_t *data, uint32_t length, uint32_t ip, uint16_t portNetworkOrder);
uint16_t ndPort(uint16_t hostOrder);  // udGetPort, network order
