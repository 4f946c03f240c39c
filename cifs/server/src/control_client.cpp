// The client side of the control channel: each function packs one command,
// sends it to the server loop on 127.0.0.1 port 4445, waits for the answer
// and takes errno from its status.
#include "control_wire.h"
#include "cmstring.h"
#include "syfiles.h"
#include "sysockets.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>

namespace {

using cs::ctrl::Item;

constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network order

class Socket {
public:
    Socket() : fd_(syCreateSocket(0, 0)) {}
    ~Socket()
    {
        if (fd_ >= 0)
            syCloseSocket(fd_);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// A request's arguments in order, and the record its reply fills.
struct Request {
    Item items[6];
    size_t count;
    void *record;
};

void packItems(CMBufferWriter *w, const void *parameters)
{
    const Request *r = static_cast<const Request *>(parameters);
    for (size_t i = 0; i < r->count; ++i) {
        const Item &it = r->items[i];
        if (it.kind == Item::Number)
            cmBufferWriteUint16(w, it.number);
        else
            cs::ctrl::writeString(w, it.wide, cmWStrlen(it.wide));
    }
}

template <typename Record, int (*Parse)(CMBufferReader *, Record *)>
int parseInto(CMBufferReader *r, void *parameters)
{
    return Parse(r, static_cast<Record *>(static_cast<Request *>(parameters)->record));
}

Item text(const CMWchar *t)
{
    static const CMWchar kEmpty[] = {0};
    return {Item::Wide, t ? t : kEmpty, nullptr, 0};
}
Item number(uint32_t n) { return {Item::Number, nullptr, nullptr, uint16_t(n)}; }

int send(uint32_t code, Request &request, CSCtrlParse parse = nullptr, uint32_t timeout = CS_CTRL_TIMEOUT)
{
    return csCtrlTransact(code, packItems, parse, &request, timeout);
}

int enumerate(uint32_t code, void *record, uint32_t index, CSCtrlParse parse)
{
    if (!record)
        return -1;
    Request request{{number(index)}, 1, record};
    return send(code, request, parse);
}

// 8-bit (UTF-8) text converted into a buffer of N units; a text that does
// not convert or fit is refused before anything is sent.
template <size_t N> struct Utf16 {
    explicit Utf16(const char *source)
    {
        units[0] = 0;
        ok = !source || syUTF8ToUnicodeN(units, source, sizeof units) == 0;
    }
    CMWchar units[N];
    bool ok;
};

int refuse()
{
    errno = CM_ERR_GENERAL;
    return -1;
}

}  // namespace

extern "C" {

int csCtrlTransact(uint32_t code, CSCtrlPack pack, CSCtrlParse parse, void *parameters,
                   uint32_t timeoutSeconds)
{
    if (!udGetTransportPriority(2) && !udGetTransportPriority(1))
        return -1;
    Socket socket;
    if (socket.fd() < 0)
        return -1;
    uint8_t message[CS_CTRL_MAX_MESSAGE];
    CMBufferWriter w;
    cmBufferWriterInit(&w, message, sizeof message);
    cmBufferWriteUint32(&w, code);
    if (pack)
        pack(&w, parameters);
    if (cmBufferWriterIsOverrun(&w)) {
        errno = CM_ERR_GENERAL;
        return -1;
    }
    uint32_t length = cmBufferWriterGetDataCount(&w);
    const uint32_t server = kLoopback;
    const uint16_t port = htons(CS_CTRL_PORT);
    if (sySendToSocket(socket.fd(), message, length, &server, port) != int(length))
        return -1;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - Clock::now() +
                                                                     std::chrono::milliseconds(999));
        if (left.count() <= 0) {
            errno = CM_ERR_CTRL_TIMEOUT;
            return -1;
        }
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket.fd(), &set);
        int ready = sySelectSocket(socket.fd() + 1, &set, uint32_t(left.count()));
        if (ready < 0)
            return -1;
        if (ready == 0)
            continue;
        uint8_t reply[CS_CTRL_MAX_MESSAGE];
        uint32_t from = 0;
        uint16_t fromPort = 0;
        int received = syRecvFromSocket(socket.fd(), reply, sizeof reply, &from, &fromPort);
        if (received <= 0)
            return -1;
        // Only the server's answer counts; anything else on the port is not it.
        if (from != server || fromPort != port)
            continue;
        CMBufferReader r;
        cmBufferReaderInit(&r, reply, uint32_t(received));
        uint32_t status = 0;
        cmBufferReadUint32(&r, &status);
        if (cmBufferReaderIsOverrun(&r)) {
            errno = EBADMSG;
            return -1;
        }
        if (status != 0) {
            errno = int(status);
            return -1;
        }
        if (parse && parse(&r, parameters) != 0) {
            errno = EBADMSG;
            return -1;
        }
        errno = 0;
        return 0;
    }
}

int csCtrlStop(void) { return csCtrlTransact(CS_CTRL_STOP, nullptr, nullptr, nullptr, CS_CTRL_STOP_TIMEOUT); }

int csCtrlRestart(void)
{
    return csCtrlTransact(CS_CTRL_RESTART, nullptr, nullptr, nullptr, CS_CTRL_STOP_TIMEOUT);
}

int csCtrlAddShareW(const CMWchar *name, const CMWchar *path, const CMWchar *statusPath, int16_t debugLevel,
                    const CMWchar *comment)
{
    Request request{
        {text(name), text(path), text(statusPath), number(uint16_t(debugLevel)), text(comment)}, 5, nullptr};
    return send(CS_CTRL_ADD_SHARE, request);
}

int csCtrlAddShareA(const char *name, const char *path, const char *statusPath, int16_t debugLevel,
                    const char *comment)
{
    struct Texts {
        Texts(const char *n, const char *p, const char *s, const char *c)
            : name(n), path(p), status(s), comment(c)
        {
        }
        Utf16<130> name;
        Utf16<1002> path, status;
        Utf16<502> comment;
    };
    std::unique_ptr<Texts> t(new (std::nothrow) Texts(name, path, statusPath, comment));
    if (!t) {
        errno = CM_ERR_NOMEM;
        return -1;
    }
    if (!t->name.ok || !t->path.ok || !t->status.ok || !t->comment.ok)
        return refuse();
    return csCtrlAddShareW(t->name.units, t->path.units, t->status.units, debugLevel, t->comment.units);
}

int csCtrlRemoveShareW(const CMWchar *name)
{
    Request request{{text(name)}, 1, nullptr};
    return send(CS_CTRL_REMOVE_SHARE, request);
}

int csCtrlRemoveShareA(const char *name)
{
    Utf16<64> n(name);
    return n.ok ? csCtrlRemoveShareW(n.units) : refuse();
}

int csCtrlEnumShares(CSCtrlShareRecord *record, uint32_t index)
{
    return enumerate(CS_CTRL_ENUM_SHARES, record, index, parseInto<CSCtrlShareRecord, cs::ctrl::parseShare>);
}

int csCtrlAddUserW(const CMWchar *name, const CMWchar *fullName, const CMWchar *description,
                   const CMWchar *credential, int administrator)
{
    Request request{
        {text(name), text(fullName), text(description), text(credential), number(administrator ? 1 : 0)},
        5,
        nullptr};
    return send(CS_CTRL_ADD_USER, request);
}

int csCtrlAddUserA(const char *name, const char *fullName, const char *description, const char *credential,
                   int administrator)
{
    Utf16<514> n(name), f(fullName), d(description), c(credential);
    if (!n.ok || !f.ok || !d.ok || !c.ok)
        return refuse();
    return csCtrlAddUserW(n.units, f.units, d.units, c.units, administrator);
}

int csCtrlRemoveUserW(const CMWchar *name)
{
    Request request{{text(name)}, 1, nullptr};
    return send(CS_CTRL_REMOVE_USER, request);
}

int csCtrlRemoveUserA(const char *name)
{
    Utf16<130> n(name);
    return n.ok ? csCtrlRemoveUserW(n.units) : refuse();
}

int csCtrlCleanUserConnectionsW(const CMWchar *name, int domainUser)
{
    Request request{{number(domainUser ? 1 : 0), text(name)}, 2, nullptr};
    return send(CS_CTRL_CLEAN_USER_CONNECTIONS, request);
}

int csCtrlCleanUserConnectionsA(const char *name, int domainUser)
{
    Utf16<514> n(name);
    return n.ok ? csCtrlCleanUserConnectionsW(n.units, domainUser) : refuse();
}

int csCtrlEnumUsers(CSCtrlUserRecord *record, uint32_t index)
{
    return enumerate(CS_CTRL_ENUM_USERS, record, index, parseInto<CSCtrlUserRecord, cs::ctrl::parseUser>);
}

int csCtrlEnumClients(CSCtrlClientRecord *record, uint32_t index)
{
    return enumerate(CS_CTRL_ENUM_CLIENTS, record, index,
                     parseInto<CSCtrlClientRecord, cs::ctrl::parseClient>);
}

int csCtrlEnumFiles(CSCtrlFileRecord *record, uint32_t index)
{
    return enumerate(CS_CTRL_ENUM_FILES, record, index, parseInto<CSCtrlFileRecord, cs::ctrl::parseFile>);
}

int csCtrlSetEncryptionMethods(uint16_t methods)
{
    Request request{{number(methods)}, 1, nullptr};
    return send(CS_CTRL_SET_ENCRYPTION_METHODS, request);
}

int csCtrlSetMessageSigningPolicy(uint16_t policy)
{
    Request request{{number(policy)}, 1, nullptr};
    return send(CS_CTRL_SET_SIGNING_POLICY, request);
}

int csCtrlSetPermissive(int flag)
{
    Request request{{number(flag ? 1 : 0)}, 1, nullptr};
    return send(CS_CTRL_SET_PERMISSIVE, request);
}

int csCtrlSetPrinterOwnerW(const CMWchar *name, int owner)
{
    Request request{{number(owner ? 1 : 0), text(name)}, 2, nullptr};
    return send(CS_CTRL_SET_PRINTER_OWNER, request);
}

int csCtrlSetPrinterOwnerA(const char *name, int owner)
{
    Utf16<130> n(name);
    return n.ok ? csCtrlSetPrinterOwnerW(n.units, owner) : refuse();
}

}  // extern "C"
