// Gives a test process its own /var/run (a tmpfs in a private mount
// namespace) and its own host and domain names, so the fixed paths of the
// hooks never touch the host's.
#ifndef UD_TEST_ENV_H
#define UD_TEST_ENV_H

#include <gtest/gtest.h>

#include "udhooks.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <string>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace testenv {

// True once the process runs in its own mount and UTS namespaces.
inline bool enterPrivateRun()
{
    static const bool entered = [] {
        if (unshare(CLONE_NEWNS | CLONE_NEWUTS) != 0)
            return false;
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return false;
        return mount("tmpfs", "/var/run", "tmpfs", 0, "mode=0755") == 0;
    }();
    return entered;
}

// True once the process runs in a network namespace of its own with the
// loopback interface up: fixed ports, broadcasts and multicasts stay in it.
inline bool enterPrivateNet()
{
    static const bool entered = [] {
        if (unshare(CLONE_NEWNET) != 0)
            return false;
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        struct ifreq req {};
        std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
        bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &req) == 0;
        req.ifr_flags |= IFF_UP;
        up = up && ioctl(s, SIOCSIFFLAGS, &req) == 0;
        if (s >= 0)
            close(s);
        return up;
    }();
    return entered;
}

// A zero-terminated UTF-16 copy of 8-bit text.
inline std::vector<uint16_t> W(const std::string &text)
{
    std::vector<uint16_t> out(text.begin(), text.end());
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<unsigned char>(text[i]);
    out.push_back(0);
    return out;
}

// 8-bit text of a zero-terminated UTF-16 buffer.
inline std::string A(const uint16_t *text)
{
    std::string out;
    for (; *text != 0; ++text)
        out.push_back(static_cast<char>(*text));
    return out;
}

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeFile(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline bool exists(const std::string &path) { return std::filesystem::exists(path); }

// Each test starts the hooks on an empty configuration folder.
class HookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!enterPrivateRun())
            GTEST_SKIP() << "needs root for a private mount namespace over /var/run";
        std::filesystem::remove_all(UD_CONFIG_DIR);
        ASSERT_EQ(udInit(), 0);
    }
    void TearDown() override { udStop(); }

    static std::string path(const char *file) { return std::string(UD_CONFIG_DIR) + file; }
};

}  // namespace testenv

#endif
