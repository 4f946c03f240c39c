// Shared by the layer's tests: a process of its own mount, UTS and network
// namespaces (private /var/run, host name "nas", loopback up), the hooks
// started, and helpers for the bytes the tests compare.
#ifndef NETBIOS_LAYER_ENV_H
#define NETBIOS_LAYER_ENV_H

#include "ud_test_env.h"

#include "fw_test/bytes.h"

#include "cmnetbios.h"
#include "fake_daemon.h"
#include "nschannel.h"
#include "nssocket.h"

#include <string>
#include <vector>

namespace nbtest {

using fw_test::Bytes;
using fw_test::text_bytes;

// "FRED" <suffix>, encoded by hand: the oracle for every name on the wire.
inline std::string encodedFred(uint8_t suffix)
{
    std::string s = "\x20"
                    "EGFCEFEE";
    for (int i = 0; i < 11; ++i)
        s += "CA";
    s += static_cast<char>('A' + (suffix >> 4));
    s += static_cast<char>('A' + (suffix & 15));
    s += '\0';
    return s;
}

inline CMNetBiosNameInfo name(const char *text, uint8_t suffix, uint32_t group = 0)
{
    CMNetBiosNameInfo r{};
    cmNetBiosNameCreate(&r, text, suffix);
    r.isGroup = group;
    return r;
}

inline std::string n16(const char *text, uint8_t suffix) { return std::string(name(text, suffix).name, 16); }

// Hooks in a private /var/run, host "nas", the identity block read.
class HookedTest : public testenv::HookTest {
protected:
    void SetUp() override
    {
        testenv::HookTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(sethostname("nas", 3), 0);
        if (!cmConfig.empty())
            testenv::writeFile(path("cm_cfg.txt"), cmConfig);
        ASSERT_EQ(cmNetBiosInit(), 0);
    }
    void TearDown() override
    {
        cmNetBiosExit();
        testenv::HookTest::TearDown();
    }
    std::string cmConfig;
};

// The layer started (nsInit(0, 4)) against the fake daemon, all in a network
// namespace of the process's own; channel waits of one second.
class LayerTest : public HookedTest {
protected:
    void SetUp() override
    {
        if (!testenv::enterPrivateNet())
            GTEST_SKIP() << "needs a network namespace";
        HookedTest::SetUp();
        if (IsSkipped())
            return;
        prepare();
        ASSERT_TRUE(daemon.start());
        nsChannelSetWait(1);
        ASSERT_EQ(nsInit(0, 4), 0);
        started = true;
    }
    void TearDown() override
    {
        if (started)
            nsExit(0, 4);
        daemon.stop();
        nsChannelSetWait(0);
        HookedTest::TearDown();
    }
    // Scripts the daemon before it starts.
    virtual void prepare() {}
    fakend::Daemon daemon;
    bool started = false;
};

}  // namespace nbtest

#endif
