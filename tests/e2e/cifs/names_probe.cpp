// Drives the common layer's start, the resolver and the DNS/LLMNR client as a
// process of the stack would, one command per input line, one "> " answer
// line per command:
//   init MODE        cmInit(MODE) (and the DNS client after a full start)
//   exit MODE        cmExit(MODE)
//   ip NAME          cmResolverGetHostIps: dotted addresses or "none"
//   name ADDR        cmResolverGetHostName: the name or "none"
//   dc DOMAIN        cmGetDCNameByDomain: the controller or "fail ERRNO"
//   owndc            cmGetDCName: "CONTROLLER DOMAIN" or "fail ERRNO"
//   identity         host, domain and full names
//   cache SECONDS    cmResolverCacheSet
//   later SECONDS    the resolver's clock moves SECONDS ahead
//   bench COUNT,NAME COUNT lookups of NAME by the resolver and by the C
//                    library's getaddrinfo: "ours_us libc_us ratio"
#include "cmdns.h"
#include "cminit.h"
#include "cmipaddr.h"
#include "cmmemory.h"
#include "cmnetbios.h"
#include "cmresolver.h"
#include "udhooks.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <netdb.h>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The resolver's clock: the machine's, plus what "later" added.
uint32_t gAhead;

uint32_t aheadNow()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint32_t>(t.tv_sec) + gAhead;
}

std::vector<CMWchar> wide(const std::string &text)
{
    std::vector<CMWchar> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::string narrow(const CMWchar *w)
{
    std::string out;
    for (; *w != 0; ++w)
        out.push_back(static_cast<char>(*w));
    return out;
}

std::string run(const std::string &verb, const std::string &arg)
{
    if (verb == "init") {
        uint32_t mode = static_cast<uint32_t>(std::stoul(arg));
        int r = cmInit(mode);
        if (r == 0 && mode != CM_INIT_MODE_NETBIOS && nsDnsInit() != 0)
            return "dns failed";
        return std::to_string(r);
    }
    if (verb == "exit") {
        uint32_t mode = static_cast<uint32_t>(std::stoul(arg));
        if (mode != CM_INIT_MODE_NETBIOS)
            nsDnsExit();
        cmExit(mode);
        return "0";
    }
    if (verb == "ip") {
        int count = 0;
        uint32_t *ips = cmResolverGetHostIps(wide(arg).data(), &count);
        if (ips == nullptr)
            return "none";
        std::string out;
        for (int i = 0; i < count; ++i) {
            char text[16];
            cmIpToAscii(text, &ips[i]);
            out += (i ? " " : "") + std::string(text);
        }
        cmMemoryFreeNonDebug(ips);
        return out;
    }
    if (verb == "name") {
        uint32_t ip = 0;
        if (cmAsciiToIp(arg.c_str(), &ip) != 0)
            return "bad address";
        CMWchar *name = cmResolverGetHostName(&ip);
        if (name == nullptr)
            return "none";
        std::string out = narrow(name);
        cmMemoryFreeNonDebug(name);
        return out;
    }
    if (verb == "dc") {
        char dc[CM_DC_NAME_MAX + 1];
        errno = 0;
        if (cmGetDCNameByDomain(arg.c_str(), dc) != 0) {
            char code[32];
            std::snprintf(code, sizeof code, "fail %#x", errno);
            return code;
        }
        return dc;
    }
    if (verb == "owndc") {
        char dc[CM_DC_NAME_MAX + 1];
        char domain[CM_NB_FULL_NAME_MAX + 1];
        errno = 0;
        if (cmGetDCName(dc, domain) != 0) {
            char code[32];
            std::snprintf(code, sizeof code, "fail %#x", errno);
            return code;
        }
        return std::string(dc) + " " + domain;
    }
    if (verb == "identity") {
        const char *full = cmGetFullDomainName();
        return std::string(cmNetBiosGetHostNameZeroed()) + " " + cmNetBiosGetDomain()->name + " " +
               cmGetFullHostName() + " " + (full != nullptr ? full : "-");
    }
    if (verb == "later") {
        gAhead += static_cast<uint32_t>(std::stoul(arg));
        return "0";
    }
    if (verb == "cache") {
        cmResolverCacheSet(static_cast<uint32_t>(std::stoul(arg)));
        return "0";
    }
    if (verb == "bench") {
        size_t comma = arg.find(',');
        if (comma == std::string::npos)
            return "bad arguments";
        int count = std::stoi(arg.substr(0, comma));
        std::string name = arg.substr(comma + 1);
        using Clock = std::chrono::steady_clock;
        auto start = Clock::now();
        for (int i = 0; i < count; ++i) {
            int n = 0;
            uint32_t *ips = cmResolverGetHostIps(wide(name).data(), &n);
            if (ips == nullptr)
                return "ours failed";
            cmMemoryFreeNonDebug(ips);
        }
        double ours = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
        start = Clock::now();
        for (int i = 0; i < count; ++i) {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_DGRAM;
            addrinfo *res = nullptr;
            if (getaddrinfo(name.c_str(), nullptr, &hints, &res) != 0)
                return "libc failed";
            freeaddrinfo(res);
        }
        double libc = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / count;
        char out[96];
        std::snprintf(out, sizeof out, "%.0f %.0f %.2f", ours, libc, ours / libc);
        return out;
    }
    return "unknown command";
}

}  // namespace

int main()
{
    if (udInit() != 0) {
        std::puts("udInit failed");
        return 1;
    }
    cmResolverSetClock(aheadNow);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string verb, arg;
        words >> verb >> arg;
        if (verb.empty())
            continue;
        std::string answer = run(verb, arg);
        std::printf("> %s\n", answer.c_str());
        std::fflush(stdout);
    }
    udStop();
    return 0;
}
