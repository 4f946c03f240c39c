// A test client of the control channel: one csCtrl* call by the control
// tool's keyword and positional words. It prints "ok", or "fail 0x<errno>
// <ms>" with the time the call took; an enumeration prints one line a
// record and ends with "end 0x<errno>". Exit status 0 on success.
#include "csctrl.h"
#include "cmipaddr.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string narrow(const CMWchar *text)
{
    std::string out;
    for (; *text; ++text)
        out.push_back(*text < 0x80 ? char(*text) : '?');
    return out;
}

std::string address(uint32_t ip)
{
    char text[16];
    cmIpToAscii(text, &ip);
    return text;
}

int verdict(int result, std::chrono::steady_clock::time_point start)
{
    if (result == 0) {
        std::printf("ok\n");
        return 0;
    }
    long ms =
        long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                 .count());
    std::printf("fail 0x%x %ld\n", unsigned(errno), ms);
    return 1;
}

template <typename Record, typename Print> int enumerate(int (*call)(Record *, uint32_t), Print print)
{
    Record r;
    uint32_t i = 0;
    for (; std::memset(&r, 0, sizeof r), call(&r, i) == 0; ++i)
        print(r);
    std::printf("end 0x%x\n", unsigned(errno));
    return 0;
}

bool flag(const char *word)
{
    return !strcasecmp(word, "1") || !strcasecmp(word, "yes") || !strcasecmp(word, "true");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s KEYWORD [WORDS]...\n", argv[0]);
        return 2;
    }
    std::string k = argv[1];
    std::vector<const char *> w(argv + 2, argv + argc);
    auto arg = [&](size_t i) { return i < w.size() ? w[i] : ""; };
    auto start = std::chrono::steady_clock::now();
    int r;
    if (k == "S")
        r = csCtrlStop();
    else if (k == "R")
        r = csCtrlRestart();
    else if (k == "+S")
        r = csCtrlAddShareA(arg(0), arg(1), "", w.size() > 3 ? 0 : -1, arg(2));
    else if (k == "addfileshare")
        r = csCtrlAddShareA(arg(0), arg(1), "", -1, arg(2));
    else if (k == "addprintershare")
        r = csCtrlAddShareA(arg(0), arg(1), arg(2), int16_t(std::atoi(arg(3))), arg(4));
    else if (k == "-S" || k == "removeshare")
        r = csCtrlRemoveShareA(arg(0));
    else if (k == "+U")
        r = csCtrlAddUserA(arg(0), arg(1), arg(2), arg(3), w.size() > 4);
    else if (k == "adduser")
        r = csCtrlAddUserA(arg(0), arg(2), arg(3), arg(1), 1);
    else if (k == "-U" || k == "removeuser")
        r = csCtrlRemoveUserA(arg(0));
    else if (k == "C")
        r = csCtrlCleanUserConnectionsA(arg(0), w.size() > 1);
    else if (k == "setprinterowner")
        r = csCtrlSetPrinterOwnerA(arg(0), flag(arg(1)));
    else if (k == "setpermissive")
        r = csCtrlSetPermissive(flag(arg(0)));
    else if (k == "SEL")
        r = csCtrlSetEncryptionMethods(uint16_t(std::atoi(arg(0))));
    else if (k == "MSG")
        r = csCtrlSetMessageSigningPolicy(uint16_t(std::atoi(arg(0))));
    else if (k == "ES")
        return enumerate<CSCtrlShareRecord>(csCtrlEnumShares, [](const CSCtrlShareRecord &s) {
            std::printf("%s|%s|%s|%d|%s\n", narrow(s.name).c_str(), narrow(s.path).c_str(),
                        narrow(s.statusPath).c_str(), s.debugLevel, narrow(s.comment).c_str());
        });
    else if (k == "EU")
        return enumerate<CSCtrlUserRecord>(csCtrlEnumUsers, [](const CSCtrlUserRecord &u) {
            std::printf("%s|%s|%s|%u\n", narrow(u.name).c_str(), narrow(u.fullName).c_str(),
                        narrow(u.description).c_str(), u.administrator);
        });
    else if (k == "EC")
        return enumerate<CSCtrlClientRecord>(csCtrlEnumClients, [](const CSCtrlClientRecord &c) {
            std::printf("%s|%u|%s|%u|%u|%u\n", address(c.address).c_str(), c.dialect, narrow(c.name).c_str(),
                        c.guest, c.anonymous, c.printerOwner);
        });
    else if (k == "EF")
        return enumerate<CSCtrlFileRecord>(csCtrlEnumFiles, [](const CSCtrlFileRecord &f) {
            std::printf("%s|%s|%s|%u\n", narrow(f.path).c_str(), narrow(f.user).c_str(),
                        address(f.address).c_str(), f.isDirectory);
        });
    else {
        std::fprintf(stderr, "unknown keyword %s\n", k.c_str());
        return 2;
    }
    return verdict(r, start);
}
