// Drives the host hooks and the system layer from a script: "start" and
// "stop" run the event hooks, "selfip" lists the own addresses, "run" reads
// tab-separated commands from standard input (in one process, since every
// start drops the users) and answers each with a "> " line.
#include "cmselfip.h"
#include "fw_test/bytes.h"
#include "syfiles.h"
#include "udhooks.h"
#include "zmo_acl.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<CMWchar> wide(const std::string &text)
{
    std::vector<CMWchar> out(text.size() + 1);
    if (syUTF8ToUnicodeN(out.data(), text.c_str(), static_cast<uint32_t>(out.size() * 2)) != 0)
        out.assign(1, 0);
    return out;
}

std::string narrow(const CMWchar *text)
{
    char out[1024];
    return syUnicodeToUTF8N(out, text, sizeof out) == 0 ? out : "?";
}

// "\n", "\r", "\t" and "\\" in a field stand for themselves escaped.
std::string unescape(const std::string &in)
{
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '\\' && i + 1 < in.size()) {
            char c = in[++i];
            out.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
        } else {
            out.push_back(in[i]);
        }
    }
    return out;
}

std::string command(const std::vector<std::string> &f)
{
    const std::string &c = f[0];
    auto w = [&](size_t i) { return wide(f.at(i)); };
    auto n = [&](size_t i) { return std::stoi(f.at(i)); };
    if (c == "adduser")
        return std::to_string(udCreateUser(w(1).data(), nullptr, nullptr));
    if (c == "setinfo")
        return std::to_string(udSetUserInfo(n(1), w(2).data(), nullptr, nullptr, w(3).data()));
    if (c == "admin")
        return std::to_string(udSetUserAsAdministrator(n(1), n(2)));
    if (c == "owner")
        return std::to_string(udSetUserAsPrinterOwner(n(1), n(2)));
    if (c == "deluser")
        return std::to_string(udDeleteUserByRid(n(1)));
    if (c == "password") {
        uint8_t out[UD_PASSWORD_OUT_SIZE] = {};
        int hashed = 0;
        int32_t rid = 0;
        int r = udGetPassword(w(1).data(), out, &hashed, &rid);
        return std::to_string(r) + " " + std::to_string(rid) + " " +
               fw_test::to_hex(out, r == 3             ? 16
                                    : r == 4 && hashed ? 32
                                                       : 0);
    }
    if (c == "saveshare") {
        auto old = w(1);
        return std::to_string(udSaveShareInformation(f[1] == "-" ? nullptr : old.data(), w(2).data(),
                                                     w(3).data(), w(4).data()));
    }
    if (c == "rmshare")
        return std::to_string(udRemoveShare(w(1).data()));
    if (c == "shares") {
        std::string all;
        CMWchar name[UD_SHARE_NAME_SIZE], path[UD_SHARE_PATH_SIZE], comment[UD_SHARE_COMMENT_SIZE];
        int printer;
        while (udGetNextShare(name, path, &printer, comment) == 1)
            all += narrow(name) + "|" + narrow(path) + "|" + narrow(comment) + ";";
        return all;
    }
    if (c == "savesd") {
        auto sd = fw_test::hex(f.at(2));
        return std::to_string(
            udSaveShareSecurityDescriptor(w(1).data(), sd.data(), static_cast<uint32_t>(sd.size())));
    }
    if (c == "loadsd") {
        uint8_t buf[512];
        uint32_t len = udLoadShareSecurityDescriptor(w(1).data(), buf, sizeof buf);
        return std::to_string(len) + " " + fw_test::to_hex(buf, len);
    }
    if (c == "mkfile") {
        int fd = syCreateFile(w(1).data(), 0, 0, 0);
        if (fd >= 0)
            syCloseFile(fd);
        return std::to_string(fd >= 0);
    }
    if (c == "rename")
        return std::to_string(syRenameFile(w(1).data(), w(2).data()));
    if (c == "rm")
        return std::to_string(syDeleteFile(w(1).data()));
    if (c == "mkdir")
        return std::to_string(syCreateDirectory(w(1).data()));
    if (c == "rmdir")
        return std::to_string(syDeleteDirectory(w(1).data()));
    return "unknown command";
}

int run()
{
    zmo_acl_set_log_hook([](void *, const char *call, const char *path, const char *, int,
                            int error) { std::printf("acl %s %s %d\n", call, path ? path : "-", error); },
                         nullptr);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::vector<std::string> fields;
        std::stringstream in(line);
        for (std::string field; std::getline(in, field, '\t');)
            fields.push_back(unescape(field));
        if (fields.empty())
            continue;
        std::string answer;
        try {
            answer = command(fields);
        } catch (const std::exception &) {
            answer = "bad arguments";
        }
        std::printf("> %s\n", answer.c_str());
        std::fflush(stdout);
    }
    return 0;
}

int selfip()
{
    if (!cmSelfipStart())
        return 1;
    cmSelfipIterate();
    while (const CMSelfIp *s = cmSelfipNext()) {
        char ip[INET_ADDRSTRLEN], bcast[INET_ADDRSTRLEN], mask[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &s->ip, ip, sizeof ip);
        inet_ntop(AF_INET, &s->bcast, bcast, sizeof bcast);
        inet_ntop(AF_INET, &s->mask, mask, sizeof mask);
        std::printf("%s %s %s %s\n", s->name, ip, bcast, mask);
    }
    cmSelfipTerminate();
    cmSelfipShutdown();
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "selfip")
        return selfip();
    if (udInit() != 0 || syInit() != 1) {
        std::fprintf(stderr, "hooks_probe: start failed\n");
        return 1;
    }
    int status = 0;
    if (mode == "start") {
        udCifsServerStarted();
        udNetBiosDaemonStarted();
        std::printf("pid %d\n", static_cast<int>(getpid()));
    } else if (mode == "stop") {
        udCifsServerClosed();
        udNetBiosDaemonClosed();
    } else if (mode == "run") {
        status = run();
    } else {
        std::fprintf(stderr, "usage: hooks_probe start|stop|selfip|run\n");
        status = 2;
    }
    syStop();
    udStop();
    return status;
}
