// Internal: state and helpers shared by the socket layer's files.
#pragma once
#include "cmbuffer.h"
#include "cmnetbios.h"
#include "nssocket.h"

#include <cerrno>
#include <cstdint>

namespace ns {

// Sets errno to code and returns result: the layer's one way of failing.
template <typename T> inline T fail(int code, T result)
{
    errno = code;
    return result;
}

inline int fail(int code) { return fail(code, -1); }

// A big-endian writer or reader over [buffer, buffer + size).
inline CMBufferWriter writer(uint8_t *buffer, uint32_t size)
{
    CMBufferWriter w;
    cmBufferWriterInit(&w, buffer, size);
    cmBufferWriterSetByteOrder(&w, 0);
    return w;
}

inline CMBufferReader reader(const uint8_t *buffer, uint32_t size)
{
    CMBufferReader r;
    cmBufferReaderInit(&r, buffer, size);
    cmBufferReaderSetByteOrder(&r, 0);
    return r;
}

// Writes the first-level encoding of name; false when it does not fit.
bool writeName(CMBufferWriter *w, const CMNetBiosNameInfo *name);
// Moves past the name at the reader's position, decoding it into name17
// when given; false (and the reader overrun) when it is not a whole name.
bool readName(CMBufferReader *r, char *name17);

// Host-order port of the daemon's channel, in network order.
uint16_t channelPort(uint16_t port);
const uint32_t *loopback();

// Parts made by the first nsInit and removed by the last nsExit.
int initSocketPool();
void exitSocketPool();
int initSession();
void exitSession();
int initMessageBufferPool();
void releaseMessageBufferPool();
int initMessage();
void exitMessage();
// The datagram compose buffer, held until given back; null (not held) when
// the layer is not started.
uint8_t *takeComposeBuffer();
void giveComposeBuffer();
void registerResolverMethods();

// Domain-controller methods in the resolver's two stages: the first answer
// (the controller's address, from the daemon or a WINS server) becomes a
// candidate given as its address text; the candidate's node status gives
// the controller's name as a block of one name.
int responseByNameDC(int socket, uint32_t **block, int *count, void **context);
int requestByIpDC(int socket, const uint32_t *candidate, void **context, const uint32_t *server);
int responseByIpDC(int socket, CMWchar *name, void **context, uint32_t *count);

// The WINS record's flag: the domain group name is held by the daemon.
bool domainGroupRegistered();
void setDomainGroupRegistered(bool value);

void setCommonDatagramSocket(NSSocket *slot);

// Name text of a record with the given suffix, unique.
CMNetBiosNameInfo nameOf(const char *text, uint8_t suffix, bool group);

}  // namespace ns
