// Serving one SMB1 message: framing, the AndX chain through the command
// table, the client's error mode, signatures and the user's file identity.
#include "dispatch_frame.h"
#include "smb1_block.h"

#include "cmsmbheader.h"
#include "cmstring.h"
#include "cscommands.h"
#include "csauth.h"
#include "cssign.h"
#include "sysockets.h"
#include "zmo_acl.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

using cs::gFrame;

namespace {

constexpr uint32_t kHeader = CM_SMB_HEADER_SIZE;
// Header, WordCount and the first parameter byte: what is read before the
// command's own reading starts.
constexpr uint32_t kFirstRead = kHeader + 2;
// Header, WordCount and ByteCount: the smallest whole SMB1 message.
constexpr uint32_t kSmallestMessage = kHeader + 3;
constexpr uint32_t kNtStatusFlag = 0x4000;
constexpr uint8_t kNoCommand = 0xFF;

const std::array<CSCommandRow, 256> &table()
{
    static const std::array<CSCommandRow, 256> rows = [] {
        std::array<CSCommandRow, 256> t{};
#define CS_ROW(code, name, flags) t[code] = CSCommandRow{flags, name};
        CS_COMMANDS(CS_ROW)
#undef CS_ROW
        return t;
    }();
    return rows;
}

using cs::setU16;
using cs::setU32;
using cs::u16;

uint64_t nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

// Readable before the message's deadline (or closed: the read then fails).
bool waitReadable(int fd)
{
    uint64_t now = nowMs();
    if (now >= gFrame.deadlineMs)
        return false;
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, int(gFrame.deadlineMs - now)) > 0;
}

int available(int fd)
{
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

// The session header must arrive by the deadline too: the socket layer's own
// read of it would wait on a trickling client for much longer.
bool waitForHeader(int fd)
{
    // The loop saw the socket readable: a header usually lies there already.
    if (available(fd) >= int(NS_SESSION_HEADER))
        return true;
    for (;;) {
        if (!waitReadable(fd))
            return false;
        int n = available(fd);
        if (n >= int(NS_SESSION_HEADER) || n == 0)  // 0 and readable: closed, the read says so
            return true;
        usleep(2000);
    }
}

void releaseMessageBuffer(uint8_t *buffer) { nsPutBuffer(buffer); }

// Both message buffers of one request, returned to the pool on every path.
struct Buffers {
    uint8_t *request = nsGetBuffer();
    uint8_t *response = nullptr;
    ~Buffers()
    {
        if (request && gFrame.requestBuffer == request)
            gFrame.requestBuffer = nullptr;
        if (request)
            nsPutBuffer(request);
        if (response)
            nsPutBuffer(response);
    }
};

bool isSmb2(const uint8_t *p) { return std::memcmp(p, cmSmb2ProtocolId, 4) == 0; }

// The block at offset lies inside the message with its counts: parameter
// words and ByteCount among the received bytes, the data within length.
bool blockFits(uint32_t offset, uint32_t received, uint32_t length)
{
    if (uint64_t(offset) + 1 > received)
        return false;
    uint32_t words = gFrame.requestBuffer[offset];
    uint64_t countAt = uint64_t(offset) + 1 + 2 * words;
    if (countAt + 2 > received)
        return false;
    return countAt + 2 + u16(gFrame.requestBuffer + countAt) <= length;
}

// Walks the whole chain before any command runs, so a malformed one is
// refused without half of it served: each block inside the message and
// after the previous one's words and count (no loops, no going back), at
// most CS_MAX_CHAIN of them.
bool chainFits(uint32_t received, uint32_t length)
{
    const uint8_t *request = gFrame.requestBuffer;
    uint8_t command = request[4];
    uint32_t offset = kHeader;
    for (uint32_t hop = 0; hop < CS_MAX_CHAIN; ++hop) {
        if (!blockFits(offset, received, length))
            return false;
        const CSCommandRow &row = table()[command];
        if ((row.flags & (CS_CMD_SUPPORTED | CS_CMD_ANDX)) != (CS_CMD_SUPPORTED | CS_CMD_ANDX))
            return true;
        const uint8_t words = request[offset];
        if (words < 2)
            return false;
        const uint8_t next = request[offset + 1];
        if (next == kNoCommand)
            return true;
        const uint32_t nextOffset = u16(request + offset + 3);
        if (nextOffset < offset + 3 + 2u * words)
            return false;
        command = next;
        offset = nextOffset;
    }
    return false;
}

enum class Outcome { Continue, Error, Late };

Outcome classify(uint32_t status, uint8_t *response)
{
    const bool smb2Answer = isSmb2(response);
    const uint32_t moreProcessing = gFrame.ntStatusMode ? 0xC0000016u : 0x00FF04D2u;
    uint16_t flags2 = u16(response + 10);
    if (status == CS_STATUS_LATE)
        return Outcome::Late;
    if (status == moreProcessing) {
        if (!smb2Answer) {
            setU32(response + 5, status);
            setU16(response + 10, uint16_t(flags2 | kNtStatusFlag));
        }
        return Outcome::Continue;
    }
    if (status == 0) {
        if (!smb2Answer) {
            setU32(response + 5, 0);
            if (gFrame.ntStatusMode)
                setU16(response + 10, uint16_t(flags2 | kNtStatusFlag));
        }
        return Outcome::Continue;
    }
    if (status == CS_STATUS_TRANS_TOO_SMALL) {
        setU32(response + 5, 0xC0000023u);
        setU16(response + 10, uint16_t(flags2 | kNtStatusFlag));
        return Outcome::Continue;
    }
    if ((status >> 29) == 7 || (status >> 28) == 0xC || (status & 0xFC) == 0)
        return Outcome::Error;
    if (!smb2Answer) {
        setU32(response + 5, status);
        setU16(response + 10, uint16_t(flags2 | kNtStatusFlag));
    }
    return Outcome::Continue;
}

// The pad byte before a direct write's data, once the parameter words are
// in: WriteAndX's DataOffset (word 11) says whether there is one; the other
// commands always have one.
uint32_t dtPadBytes(const uint8_t *request)
{
    const uint32_t words = request[kHeader];
    const uint32_t dataOffsetLow = kHeader + 1 + 22;
    if (request[4] != 0x2F)
        return 1;
    return (words >= 12 && (request[dataOffsetLow] & 1)) ? 0 : 1;
}

// Turns the answer into an error answer (no words, no bytes) carrying
// status in the session's mode; its length.
uint32_t answerError(uint8_t *response, uint32_t status)
{
    setU32(response + 5, status);
    if (gFrame.ntStatusMode)
        setU16(response + 10, uint16_t(u16(response + 10) | kNtStatusFlag));
    response[kHeader] = 0;
    setU16(response + kHeader + 1, 0);
    return kSmallestMessage;
}

}  // namespace

bool cs::readMessage(NSRecvContext *reader, uint8_t *to, uint32_t n)
{
    int fd = nsGetSySocket(reader->socket);
    uint32_t got = 0;
    while (got < n) {
        // Bytes already queued are read at once; only a message still on
        // its way is waited for, up to the deadline.
        int queued = available(fd);
        if (queued <= 0) {
            if (!waitReadable(fd))
                return false;
            queued = std::max(available(fd), 1);
        }
        uint32_t want = std::min<uint32_t>(n - got, uint32_t(queued));
        int r = nsRecvIntoBuffer(reader, to + got, want);
        if (r <= 0)
            return false;
        got += uint32_t(r);
    }
    return true;
}

extern "C" {

const CSCommandRow *csDispatchGetCommand(uint8_t code) { return &table()[code]; }

int csDispatchRequest(NSSocket *socket, const uint32_t *address)
{
    gFrame.dtFd = -1;
    gFrame.dtCount = 0;
    gFrame.dtIn = gFrame.dtOut = 0;
    gFrame.smb2 = 0;
    gFrame.savedReader = nullptr;
    gFrame.savedPosition = nullptr;
    gFrame.socket = socket;
    gFrame.clientAddress = address;
    gFrame.deadlineMs = nowMs() + CS_MESSAGE_DEADLINE_SECONDS * 1000;
    const int fd = nsGetSySocket(socket);
    if (fd < 0 || !waitForHeader(fd))
        return -1;

    Buffers buffers;
    uint8_t *request = buffers.request;
    if (!request)
        return -1;
    gFrame.requestBuffer = request;
    gFrame.requestLength = 0;
    NSRecvContext reader{};
    int started = nsStartRecvIntoBuffer(socket, &reader);
    if (started <= 0)
        return started;
    const uint32_t length = uint32_t(started);
    if (length < 4 || !cs::readMessage(&reader, request, 4))
        return -1;

    if (std::memcmp(request, cmSmb2ProtocolId, 4) == 0 ||
        std::memcmp(request, cmSmb2TrnsfrmHdrProtocolId, 4) == 0) {
        gFrame.smb2 = 1;
        return csSmb2DispatchRequest(&reader, request, length - 4) ? 0 : -1;
    }
    // A message shorter than a header cannot be answered, one longer than the
    // buffer cannot be held: both end the connection.
    if (std::memcmp(request, cmSmbProtocolId, 4) != 0 || length < kSmallestMessage)
        return -1;
    if (!cs::readMessage(&reader, request + 4, kFirstRead - 4))
        return -1;
    buffers.response = nsGetBuffer();
    if (!buffers.response)
        return -1;
    uint8_t *response = nsSkipHeader(socket, buffers.response);

    std::memcpy(response, request, kHeader);
    response[9] = uint8_t(0x88 | (request[9] & 0x10));
    setU16(response + 10, uint16_t(0x0001 | (u16(request + 10) & 0x8000)));
    CSUser *user = csGetUserByUid(u16(request + 28));
    CSSession *session = csGetSessionBySocket();
    const bool signing = user && session && session->signingActive;

    const CSCommandRow &firstRow = table()[request[4]];
    const bool unchained = !(firstRow.flags & CS_CMD_ANDX) || request[kHeader + 1] == kNoCommand;
    uint32_t received = length;
    if (unchained && (firstRow.flags & CS_CMD_DT_IN) && !signing) {
        // The rest of the parameter words and ByteCount first: whether a pad
        // byte follows is known only from the words themselves.
        const uint32_t more = request[kHeader] * 2u + 1;
        if (uint64_t(kFirstRead) + more + 1 <= length && kFirstRead + more + 1 <= NS_SESSION_PAYLOAD_MAX) {
            if (!cs::readMessage(&reader, request + kFirstRead, more))
                return -1;
            received = kFirstRead + more;
            const uint32_t pad = dtPadBytes(request);
            if (pad && !cs::readMessage(&reader, request + received, pad))
                return -1;
            received += pad;
            gFrame.dtIn = 1;
            csDispatchDtSaveParameters(request + received, &reader);
        }
    }
    if (!gFrame.dtIn) {
        if (length > NS_SESSION_PAYLOAD_MAX)
            return -1;
        if (!cs::readMessage(&reader, request + kFirstRead, length - kFirstRead))
            return -1;
    }
    gFrame.requestLength = gFrame.dtIn ? received : length;
    if (unchained && (firstRow.flags & CS_CMD_DT_OUT) && !signing) {
        syDtStartPacket(fd);
        gFrame.dtOut = 1;
    }

    uint32_t responseLength = kHeader;
    if (request[4] != kNoCommand) {
        uint8_t *position = response + kHeader;
        uint8_t command = request[4];
        uint32_t offset = kHeader;
        uint32_t status = 0;
        bool failed = false;
        for (uint32_t hop = 0;; ++hop) {
            const CSCommandRow &row = table()[command];
            // The mode comes first: an unsupported command is answered in it too.
            uint32_t nt = (u16(request + 10) & kNtStatusFlag) ? 1 : 0;
            if (!(row.flags & CS_CMD_NO_SESSION) && user)
                nt = user->ntStatusMode;
            gFrame.ntStatusMode = nt;
            if (!(row.flags & CS_CMD_SUPPORTED)) {
                status = csErrorReturn(0xC00000BBu, 0xFFFF0002u);
                failed = true;
                break;
            }
            if (hop >= CS_MAX_CHAIN || !blockFits(offset, received, length) ||
                (hop == 0 && !chainFits(received, length))) {
                status = csErrorReturn(0xC000000Du, 0x00570001u);
                failed = true;
                break;
            }
            // One signature covers the whole message: checked once, which
            // also keeps the sequence numbers in step.
            // A logon still under way has no name to act as yet; its
            // commands reach no file (no tree without a finished logon).
            if (hop == 0 && (!csCheckMessageSignatureSMB(session, user, request, length) ||
                             (user && user->authenticated && !cs::setIdentity(user)))) {
                status = csErrorReturn(0xC0000022u, 0x00FF07D4u);
                failed = true;
                break;
            }
            uint8_t *block = position;
            status = row.handler(request + offset, response, &position);
            if (position < block || position > response + (CS_RESPONSE_LIMIT - 1))
                position = block;  // a handler that wrote outside its room answers nothing
            Outcome outcome = classify(status, response);
            if (outcome == Outcome::Late) {
                // What the command left of the message is read past, so the
                // next request starts where the client put it.
                if (gFrame.dtOut)
                    syDtEndPacket(fd);
                return nsEndRecvIntoBuffer(&reader) == 0 ? 0 : -1;
            }
            if (outcome == Outcome::Error) {
                failed = true;
                break;
            }
            // A warning answered without a body still needs its WordCount
            // and ByteCount, or the client cannot parse the message.
            if (position == block && status != 0 && !isSmb2(response) &&
                cs::smb1EmptyAnswer(response, &position) != 0) {
                status = csErrorReturn(0xC0000023u, 0x00010002u);
                failed = true;
                break;
            }
            if (!(row.flags & CS_CMD_ANDX))
                break;
            const uint8_t next = request[offset + 1];
            const uint32_t nextOffset = u16(request + offset + 3);
            const bool linkable = position >= block + 5 && block[0] >= 2;
            if (linkable) {
                block[1] = next;
                block[2] = 0;
                setU16(block + 3, next == kNoCommand ? 0 : uint16_t(position - response));
            }
            if (next == kNoCommand)
                break;
            // Each block lies after the previous one's words and count, so a
            // chain can neither loop nor go back.
            if (request[offset] < 2 || nextOffset < offset + 3 + 2u * request[offset]) {
                status = csErrorReturn(0xC000000Du, 0x00570001u);
                failed = true;
                break;
            }
            command = next;
            offset = nextOffset;
        }
        if (failed)
            position = response + answerError(response, status);
        responseLength = uint32_t(position - response);
    }

    if (gFrame.dtIn) {
        // A write that moved fewer bytes than it announced leaves the stream
        // out of step with the client: the connection cannot go on. A file
        // that refused the data is answered instead, the rest of the data
        // read past with the message.
        uint32_t fileStatus = 0;
        if (!cs::dtFromSocket(&reader, gFrame.dtCount, &fileStatus)) {
            if (gFrame.dtOut)
                syDtEndPacket(fd);
            return -1;
        }
        if (fileStatus)
            responseLength = answerError(response, fileStatus);
    }
    if (nsEndRecvIntoBuffer(&reader) != 0) {
        if (gFrame.dtOut)
            syDtEndPacket(fd);
        return -1;
    }
    csCreateMessageSignatureSMB(session, csGetUserByUid(u16(response + 28)), response, responseLength);
    nsPutBuffer(buffers.request);
    buffers.request = nullptr;
    gFrame.requestBuffer = nullptr;

    uint32_t total = responseLength;
    const bool sendFile = gFrame.dtOut && gFrame.dtFd >= 0;
    if (sendFile)
        total += gFrame.dtCount;
    uint8_t *frame = buffers.response;
    buffers.response = nullptr;
    uint32_t packet = nsPrepareNBBuffer(frame, total, responseLength);
    if (packet == 0) {
        nsPutBuffer(frame);
        if (gFrame.dtOut)
            syDtEndPacket(fd);
        return -1;
    }
    int sent = nsSendFromBuffer(socket, frame, packet, packet, releaseMessageBuffer);
    bool ok = sent == int(packet);
    if (ok && sendFile)
        ok = csDispatchDtToSocket(&reader) != 0;
    if (gFrame.dtOut)
        syDtEndPacket(fd);
    return ok ? 0 : -1;
}

int csDispatchErrorNoResources(NSSocket *socket)
{
    Buffers buffers;
    if (!buffers.request)
        return -1;
    NSRecvContext reader{};
    int started = nsStartRecvIntoBuffer(socket, &reader);
    if (started <= 0)
        return -1;
    uint32_t length = uint32_t(started);
    uint8_t *message = nsSkipHeader(socket, buffers.request);
    if (length < kSmallestMessage || length > NS_SESSION_PAYLOAD_MAX ||
        nsRecvIntoBuffer(&reader, message, length) != int(length))
        return -1;
    setU32(message + 5, csErrorReturn(0xC000009Au, 0x00590002u));
    if (gFrame.ntStatusMode)
        setU16(message + 10, uint16_t(u16(message + 10) | kNtStatusFlag));
    message[kHeader] = 0;
    setU16(message + kHeader + 1, 0);
    uint8_t *frame = buffers.request;
    buffers.request = nullptr;
    uint32_t packet = nsPrepareNBBuffer(frame, kSmallestMessage, kSmallestMessage);
    return nsSendFromBuffer(socket, frame, packet, packet, releaseMessageBuffer) == int(packet) ? 0 : -1;
}

}  // extern "C"
