// Interface walk: in a network namespace of its own (veth pairs, one named
// like the skipped kinds), which interfaces are usable and what they report.
#include "syadapter.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Seen {
    std::string name;
    uint32_t ip, mask, broadcast;
};

constexpr int kSkip = 77;

// Runs in a forked child inside a fresh network namespace; reports each
// adapter as one line on the pipe.
[[noreturn]] void walkInNamespace(int out)
{
    if (unshare(CLONE_NEWNET) != 0)
        _exit(kSkip);
    const char *setup = "ip link set lo up && "
                        "ip link add lan0 type veth peer name ppp0 && "
                        "ip link add ezcfg0 type veth peer name v6only && "
                        "ip addr add 10.1.2.3/24 broadcast 10.1.2.255 dev lan0 && "
                        "ip addr add 10.9.9.9/24 broadcast 10.9.9.255 dev ppp0 && "
                        "ip addr add 10.8.8.8/24 broadcast 10.8.8.255 dev ezcfg0 && "
                        "for i in lan0 ppp0 ezcfg0 v6only; do ip link set $i up; done";
    if (std::system(setup) != 0)
        _exit(kSkip);
    std::system("ip -6 addr add fd00::1/64 dev v6only nodad 2>/dev/null");
    FILE *f = fdopen(out, "w");
    int ordinal = 0, next = 0;
    char name[SY_ADAPTER_NAME_SIZE];
    uint32_t ip, mask, broadcast = 0xDEADBEEF, wins;
    int steps = 0;
    while (syGetAdapter(next, &ordinal, name, &ip, nullptr, &mask, &broadcast, &wins) == 0 && ++steps < 100) {
        std::fprintf(f, "%s %u %u %u\n", name, ip, mask, broadcast);
        broadcast = 0xDEADBEEF;
        next = 1;
    }
    std::fclose(f);
    _exit(0);
}

TEST(Adapter, UsableInterfacesInANamespace)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        walkInNamespace(fds[1]);
    }
    close(fds[1]);
    std::vector<Seen> seen;
    FILE *f = fdopen(fds[0], "r");
    char name[32];
    unsigned ip, mask, broadcast;
    while (std::fscanf(f, "%31s %u %u %u", name, &ip, &mask, &broadcast) == 4)
        seen.push_back({name, ip, mask, broadcast});
    std::fclose(f);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kSkip)
        GTEST_SKIP() << "no network namespace here";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::map<std::string, std::vector<Seen>> byName;
    for (auto &s : seen)
        byName[s.name].push_back(s);
    EXPECT_EQ(byName.count("ppp0"), 0u);
    EXPECT_EQ(byName.count("ezcfg0"), 0u);
    ASSERT_EQ(byName.count("lo"), 1u);
    EXPECT_EQ(byName["lo"][0].ip, inet_addr("127.0.0.1"));
    ASSERT_EQ(byName.count("lan0"), 1u);
    bool v4 = false;
    for (auto &s : byName["lan0"]) {
        if (s.ip == inet_addr("10.1.2.3")) {
            v4 = true;
            EXPECT_EQ(s.mask, inet_addr("255.255.255.0"));
            EXPECT_EQ(s.broadcast, inet_addr("10.1.2.255"));
        }
    }
    EXPECT_TRUE(v4);
    if (byName.count("v6only")) {
        for (auto &s : byName["v6only"]) {
            EXPECT_EQ(s.ip, 0u) << "an IPv6 entry reports no IPv4 address";
            EXPECT_EQ(s.mask, 0u);
            EXPECT_EQ(s.broadcast, 0xDEADBEEFu) << "broadcast left as it was";
        }
    }
}

TEST(Adapter, HardwareAddressByName)
{
    uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(syGetMacAddressByName("lo", mac), 0);
    for (uint8_t b : mac)
        EXPECT_EQ(b, 0) << "loopback has an all-zero address";
    uint8_t none[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_NE(syGetMacAddressByName("no-such-if0", none), 0);
    for (uint8_t b : none)
        EXPECT_EQ(b, 0);
    uint8_t byIndex[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(syGetMacAddress(1, byIndex), 0);
    EXPECT_EQ(byIndex[0], 0);
}

}  // namespace
