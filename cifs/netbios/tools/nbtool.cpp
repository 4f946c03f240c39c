// A small tool over the NetBIOS socket layer, one command a line on standard
// input, one "> " answer line each:
//   init OPEN MODE         nsInit(OPEN, MODE)
//   exit OPEN MODE         nsExit(OPEN, MODE)
//   register NAME[/XX] [group]   hold NAME<XX> (hex suffix, 20 by default)
//   release NAME[/XX] [group]    give it back
//   query NAME[/XX]        its address through the daemon, "group" for a group
//   listen NAME[/XX]       a datagram slot bound under the name and listening
//   send NAME[/XX] TEXT    TEXT as a group datagram to NAME from the last
//                          listening slot (or the host-name socket)
//   recv                   the next datagram of the last listening slot
//   wins LIST              cmNetBiosSetWinsA(LIST)
//   announce               one host announcement: the period it used
//   accept                 one session on port 139 and its first message:
//                          "CALLING LENGTH FIRST-BYTES-HEX", or "refused"
//   connect ADDR NAME[/XX] a session to ADDR:139 calling NAME
//   hostname ADDR          the name of ADDR by node status
// Failures answer "fail 0xERRNO".
#include "csbrowse.h"
#include "cmipaddr.h"
#include "cmnetbios.h"
#include "nschannel.h"
#include "nssocket.h"
#include "syfiles.h"
#include "udhooks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

NSSocket *gListening = nullptr;
NSSocket *gSessionListener = nullptr;
bool gBrowsing = false;

// Slots die with the layer: give them back before it stops.
void closeAll()
{
    if (gBrowsing)
        csStopBrowse();
    gBrowsing = false;
    if (gSessionListener != nullptr)
        nsClose(gSessionListener);
    gSessionListener = nullptr;
    if (gListening != nullptr)
        nsClose(gListening);
    gListening = nullptr;
}

std::string failure()
{
    char text[32];
    std::snprintf(text, sizeof text, "fail %#x", errno);
    return text;
}

CMNetBiosNameInfo parseName(const std::string &word, bool group)
{
    std::string text = word;
    unsigned suffix = 0x20;
    size_t slash = word.find('/');
    if (slash != std::string::npos) {
        text = word.substr(0, slash);
        suffix = static_cast<unsigned>(std::strtoul(word.substr(slash + 1).c_str(), nullptr, 16));
    }
    CMNetBiosNameInfo r{};
    if (text == "*") {
        r.name[0] = '*';
    } else {
        cmNetBiosNameCreate(&r, text.c_str(), static_cast<uint8_t>(suffix));
    }
    r.isGroup = group ? 1 : 0;
    return r;
}

std::string hex(const uint8_t *p, size_t n)
{
    std::string out;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        out += b;
    }
    return out;
}

std::string trimmed(const char *name16)
{
    std::string s(name16, 15);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

std::string accept()
{
    if (gSessionListener == nullptr) {
        gSessionListener = csPrepareSocket(NS_SOCKET_STREAM, NS_TRANSPORT_NETBIOS);
        if (gSessionListener == nullptr)
            return failure();
    }
    uint32_t peer = 0;
    NSSocket *slot = nsAccept(gSessionListener, &peer);
    if (slot == nullptr)
        return failure();
    if (nsPostAccept(&slot) != 0)
        return "refused";
    std::string calling = trimmed(slot->peerName.name);
    NSRecvContext ctx{};
    int length;
    do {
        length = nsStartRecvIntoBuffer(slot, &ctx);
    } while (length == 0);
    if (length < 0) {
        nsClose(slot);
        return calling + " none";
    }
    uint8_t *buffer = nsGetBuffer();
    int got = nsRecvIntoBuffer(&ctx, buffer, NS_MESSAGE_BUFFER_SIZE);
    nsEndRecvIntoBuffer(&ctx);
    std::string answer = calling + " " + std::to_string(length) + " " + std::to_string(got) + " " +
                         hex(buffer, got > 8 ? 8 : (got > 0 ? static_cast<size_t>(got) : 0));
    nsPutBuffer(buffer);
    nsClose(slot);
    return answer;
}

std::string run(const std::string &verb, std::istringstream &words)
{
    std::string a, b;
    words >> a;
    if (verb == "init" || verb == "exit") {
        words >> b;
        int open = std::atoi(a.c_str());
        uint32_t mode = static_cast<uint32_t>(std::atoi(b.c_str()));
        if (verb == "exit")
            closeAll();
        int r = verb == "init" ? nsInit(open, mode) : nsExit(open, mode);
        return r == 0 ? "0" : failure();
    }
    if (verb == "register" || verb == "release") {
        words >> b;
        CMNetBiosNameInfo n = parseName(a, b == "group");
        int r = verb == "register" ? nsRegisterName(&n) : nsReleaseName(&n);
        return r == 0 ? "0" : failure();
    }
    if (verb == "query") {
        CMNetBiosNameInfo n = parseName(a, false);
        uint32_t ip = 0;
        if (nsGetHostByName(&ip, &n) != 0)
            return failure();
        char text[16];
        cmIpToAscii(text, &ip);
        return std::string(text) + (n.isGroup ? " group" : "");
    }
    if (verb == "listen") {
        CMNetBiosNameInfo n = parseName(a, false);
        NSSocket *slot = nsSocket(NS_SOCKET_DATAGRAM, NS_TRANSPORT_NETBIOS);
        if (slot == nullptr)
            return failure();
        if (nsBindNetBios(slot, &n, 1) != 0 || nsListen(slot, 3) != 0) {
            std::string f = failure();
            int saved = errno;
            nsClose(slot);
            errno = saved;
            return f;
        }
        gListening = slot;
        return "0";
    }
    if (verb == "send") {
        std::getline(words, b);
        if (!b.empty() && b[0] == ' ')
            b.erase(0, 1);
        NSSocket *from = gListening != nullptr ? gListening : nsGetCommonDatagramSocket();
        CMNetBiosNameInfo n = parseName(a, true);
        int r = nsSendToName(from, b.data(), static_cast<uint32_t>(b.size()), &n);
        return r >= 0 ? std::to_string(r) : failure();
    }
    if (verb == "recv") {
        uint8_t data[NS_DATAGRAM_BUFFER_SIZE];
        CMNetBiosNameInfo source{};
        int r = nsRecvFromName(gListening, data, sizeof data, &source);
        if (r < 0)
            return failure();
        return trimmed(source.name) + " " +
               std::string(reinterpret_cast<char *>(data), static_cast<size_t>(r));
    }
    if (verb == "wins") {
        cmNetBiosSetWinsA(a.c_str());
        return std::to_string(cmNetBiosGetNumWinsServers());
    }
    if (verb == "announce") {
        if (!gBrowsing) {
            if (csInitBrowse() != 0)
                return failure();
            gBrowsing = true;
        }
        int r = csAnnounceServer();
        return r >= 0 ? std::to_string(r) : failure();
    }
    if (verb == "accept")
        return accept();
    if (verb == "connect") {
        words >> b;
        uint32_t ip = 0;
        if (cmAsciiToIp(a.c_str(), &ip) != 0)
            return "bad address";
        CMNetBiosNameInfo called = parseName(b, false);
        NSSocket *slot = nsSocket(NS_SOCKET_STREAM, NS_TRANSPORT_NETBIOS);
        if (slot == nullptr)
            return failure();
        int r = nsConnect(slot, &ip, &called);
        std::string answer = r == 0 ? "0" : failure();
        int saved = errno;
        nsClose(slot);
        errno = saved;
        return answer;
    }
    if (verb == "hostname") {
        uint32_t ip = 0;
        if (cmAsciiToIp(a.c_str(), &ip) != 0)
            return "bad address";
        char name16[16];
        if (nsGetHostName(&ip, name16) != 0)
            return failure();
        return trimmed(name16);
    }
    return "unknown command";
}

}  // namespace

int main()
{
    if (udInit() != 0 || syInit() == 0) {
        std::puts("start failed");
        return 1;
    }
    nsInitGuard();
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string verb;
        words >> verb;
        if (verb.empty())
            continue;
        std::string answer = run(verb, words);
        std::printf("> %s\n", answer.c_str());
        std::fflush(stdout);
    }
    closeAll();
    udStop();
    return 0;
}
