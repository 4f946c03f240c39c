// The core's services as the plug-ins rely on them.
#include "core_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace {

class ServicesTest : public CoreTest {
protected:
    template <typename T> T &Find()
    {
        auto *c = static_cast<T *>(Core::Core::Find_(T::IDENT));
        EXPECT_NE(c, nullptr) << T::IDENT;
        return *c;
    }
};

TEST_F(ServicesTest, EveryServiceIsFoundByItsIdentifier)
{
    const char *idents[] = {"Netfilter::Manager",
                            "Network::PortAllocator",
                            "Core::Dashboard",
                            "Core::Authenticator",
                            "Core::ServiceLock",
                            "Core::KnownHosts",
                            "Network::NeighbourTable",
                            "Core::RandomNumberGenerator",
                            "Core::System::Config",
                            "Core::Mode",
                            "FileSystem::Repository",
                            "Printer::Manager",
                            "Dns::Manager",
                            "Dhcp::Client",
                            "Network::Interface::Repository"};
    for (const char *i : idents)
        EXPECT_NE(Core::Core::Find_(i), nullptr) << i;
    EXPECT_EQ(Core::Core::Find_("No::Such"), nullptr);
    EXPECT_NE(Core::Core::TaskQueue(), nullptr);
}

TEST_F(ServicesTest, PortOfAnotherOwnerIsRefusedAndClearDropsAllOfAnOwner)
{
    auto &p = Find<Network::PortAllocator>();
    EXPECT_FALSE(Failed(p.Reserve("A", Network::PortAllocator::TCP, 445, 0)));
    EXPECT_FALSE(Failed(p.Reserve("A", Network::PortAllocator::TCP, 445, 0)));  // again by the owner
    EXPECT_TRUE(Failed(p.Reserve("B", Network::PortAllocator::TCP, 445, 0)));
    EXPECT_FALSE(Failed(p.Reserve("B", Network::PortAllocator::UDP, 445, 0)));  // other protocol
    p.Clear("A");
    EXPECT_EQ(p.OwnerOf(Network::PortAllocator::TCP, 445), "");
    EXPECT_EQ(p.OwnerOf(Network::PortAllocator::UDP, 445), "B");
}

TEST_F(ServicesTest, FileSystemNamesLabelsAndRealNames)
{
    Run("event fs add name=USB0 label=DISK usb=1 type=3 dir=" + dir_);
    auto &fs = Find<FileSystem::Repository>();
    String real;
    struct Case {
        const char *name;
        uint32_t code;
        const char *real;
    } cases[] = {
        {"USB0:/a/b", Code::DONE, "/a/b"},
        {"DISK:/a", Code::DONE, "/a"},
        {"USB0:", Code::DONE, ""},
        {"USB1:/a", FileSystem::Repository::NOT_FOUND, nullptr},
        {"USB0:/../etc", FileSystem::Repository::BAD_NAME, nullptr},
        {"no-colon", FileSystem::Repository::BAD_NAME, nullptr},
        {"a:b:/c", FileSystem::Repository::BAD_NAME, nullptr},
    };
    for (const Case &c : cases) {
        ReturnT r = fs.GetRealName(c.name, real);
        EXPECT_EQ(static_cast<uint32_t>(r), c.code) << c.name;
        if (c.real) {
            EXPECT_EQ(real, dir_ + c.real) << c.name;
        }
    }
    host_->InjectFailure("fs.repository");
    EXPECT_EQ(static_cast<uint32_t>(fs.GetRealName("USB0:/a", real)), FileSystem::Repository::FAILURE);
    std::vector<FileSystem::Info> m;
    ASSERT_FALSE(Failed(fs.GetMounted(m)));
    ASSERT_EQ(m.size(), 1u);
    EXPECT_TRUE(m[0].usb);
    EXPECT_EQ(m[0].type, 3);
    EXPECT_TRUE(m[0].Holds("DISK:/x"));
    bool exists = false;
    ASSERT_FALSE(Failed(fs.Exists(dir_, exists)));
    EXPECT_TRUE(exists);
    Run("event fs remove name=USB0");
    EXPECT_EQ(static_cast<uint32_t>(fs.GetRealName("USB0:/a", real)), FileSystem::Repository::NOT_FOUND);
    EXPECT_TRUE(Journaled("event Fs action=1 name=USB0:"));
}

TEST_F(ServicesTest, SwapCallsAreJournaled)
{
    EXPECT_FALSE(Failed(FileSystem::Native::SwapOn_("/mnt/x/swap", 0)));
    EXPECT_FALSE(Failed(FileSystem::Native::SwapOff_("/mnt/x/swap")));
    host_->InjectFailure("swap.off");
    EXPECT_TRUE(Failed(FileSystem::Native::SwapOff_("/mnt/x/swap")));
    EXPECT_TRUE(Journaled("swapon /mnt/x/swap flags=0"));
    EXPECT_TRUE(Journaled("swapoff /mnt/x/swap"));
}

TEST_F(ServicesTest, AuthenticatorTagsAndPasswords)
{
    auto &a = Find<Core::Authenticator>();
    EXPECT_FALSE(Failed(a.RegisterTag("cifs")));
    EXPECT_TRUE(Failed(a.RegisterTag("cifs")));
    Run("event user add name=bob tags=cifs,printers nt=0123abcd\nevent user add name=eve tags=cifs");
    StringVector names;
    ASSERT_FALSE(Failed(a.GetUsersByTag("cifs", names)));
    EXPECT_EQ(names, (StringVector{"bob", "eve"}));
    String pw;
    EXPECT_FALSE(Failed(a.GetPassword("bob", "nt", 0, pw)));
    EXPECT_EQ(pw, "0123abcd");
    EXPECT_EQ(static_cast<uint32_t>(a.GetPassword("eve", "nt", 0, pw)), Core::Authenticator::NO_PASSWORD);
    EXPECT_EQ(static_cast<uint32_t>(a.GetPassword("zed", "nt", 0, pw)), Core::Authenticator::NO_SUCH_USER);
    EXPECT_TRUE(a.HasTag("bob", Find<Printer::Manager>().Tag()));
    EXPECT_FALSE(a.HasTag("eve", "printers"));
}

TEST_F(ServicesTest, DashboardKeyHolder)
{
    Core::Dashboard::KeyHolder h;
    EXPECT_FALSE(Failed(h.RegisterKey("CIFS_SHARES", 0, 2)));
    EXPECT_TRUE(Failed(h.SetKey("OTHER", 1)));  // not its key
    EXPECT_FALSE(Failed(h.SetKey("CIFS_SHARES", 2)));
    int64_t v = 0;
    EXPECT_TRUE(Find<Core::Dashboard>().GetKey("CIFS_SHARES", &v));
    EXPECT_EQ(v, 2);
    h.UnregisterKeys();
    EXPECT_FALSE(Find<Core::Dashboard>().GetKey("CIFS_SHARES", &v));
}

TEST_F(ServicesTest, ServiceLockHoldsOneName)
{
    auto &l = Find<Core::ServiceLock>();
    EXPECT_FALSE(Failed(l.TryAcquire("DNS", "AdGuard DNS")));
    EXPECT_FALSE(Failed(l.TryAcquire("DNS", "AdGuard DNS")));
    EXPECT_TRUE(Failed(l.TryAcquire("DNS", "Other")));
    EXPECT_TRUE(Failed(l.Release("DNS", "Other")));
    EXPECT_FALSE(Failed(l.Release("DNS", "AdGuard DNS")));
    EXPECT_FALSE(Failed(l.TryAcquire("DNS", "Other")));
}

TEST_F(ServicesTest, HostsNeighboursWanMacAndRandom)
{
    Run("event knownhost add mac=00:11:22:33:44:55\nevent neighbour mac=00:11:22:33:44:55 ip=192.168.1.10");
    Network::MacAddress m;
    ASSERT_TRUE(m.Parse("00:11:22:33:44:55"));
    EXPECT_TRUE(Find<Core::KnownHosts>().IsExist(m));
    EXPECT_EQ(Find<Network::NeighbourTable>().GetLatestIp(m).ToString(), "192.168.1.10");
    Network::MacAddress wan;
    ASSERT_FALSE(Failed(Find<Core::System::Config>().GetWanMacAddress(wan)));
    EXPECT_EQ(wan.ToString(), "00:10:20:30:40:50");
    Run("wan-mac 00:00:00:00:00:00");
    Find<Core::System::Config>().GetWanMacAddress(wan);
    EXPECT_TRUE(wan.IsZero());
    // Seeded: the same sequence again.
    Run("seed 7");
    auto &r = Find<Core::RandomNumberGenerator>();
    uint32_t a = r.Get(), b = r.Get();
    Run("seed 7");
    EXPECT_EQ(r.Get(), a);
    EXPECT_EQ(r.Get(), b);
}

TEST_F(ServicesTest, MacTextAsTheBaseLibraryWritesIt)
{
    Network::MacAddress m;
    EXPECT_TRUE(m.Parse("AA-bb-0C-dd-EE-0f"));
    EXPECT_EQ(m.ToString(), "aa:bb:0c:dd:ee:0f");
    for (const char *bad :
         {"", "aa:bb:cc:dd:ee", "aa:bb:cc:dd:ee:fg", "aa:bb-cc:dd:ee:ff", "aa:bb:cc:dd:ee:ff:00"})
        EXPECT_FALSE(m.Parse(bad)) << bad;
    Network::IpBlock b;
    EXPECT_TRUE(b.Parse("192.168.1.7/24"));
    EXPECT_EQ(b.Network().ToString(), "192.168.1.0/24");
    EXPECT_EQ(b.Broadcast().ToString(), "192.168.1.255");
    for (const char *bad : {"1.2.3", "1.2.3.256", "1.2.3.4/33", "1.2.3.4/", "01234.1.1.1"})
        EXPECT_FALSE(b.Parse(bad)) << bad;
}

TEST_F(ServicesTest, ReinitProxySendsSigurgToThePidOfItsPidFile)
{
    const std::string pid_file = host_->Path("/var/run/dnsrelayd.pid");
    Io::Process proxy("Test::Proxy", ZMOCORE_CHILD, 3, 2, 1, 2000, "");
    proxy.SetArguments({"urg", pid_file});
    ASSERT_FALSE(Failed(proxy.Start()));
    for (int i = 0; i < 500 && File(pid_file).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(File(pid_file).empty());
    auto &d = Find<Dns::Manager>();
    EXPECT_FALSE(Failed(d.ReinitProxy(0)));
    EXPECT_FALSE(Failed(proxy.Wait(5000)));
    EXPECT_EQ(proxy.ExitStatus(), 42);
    EXPECT_TRUE(Journaled("dns reinit-proxy SIGURG pid="));
    unlink(pid_file.c_str());
    EXPECT_FALSE(Failed(d.ReinitProxy(0)));  // nothing runs: it reads its files when it starts
    host_->InjectFailure("dns.reinit");
    EXPECT_TRUE(Failed(d.ReinitProxy(0)));
}

TEST_F(ServicesTest, FilesWithInjectedFailures)
{
    Io::File f;
    ASSERT_FALSE(Failed(f.Open("/var/dnsrelaydsafe.conf", O_WRONLY | O_CREAT | O_TRUNC, Io::EOL_LF, 16384)));
    f << "profile " << 1 << " safe-access" << Io::Endl;
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(File(dir_ + "/var/dnsrelaydsafe.conf"), "profile 1 safe-access\n");
    struct Case {
        const char *op;
        bool open_fails, close_fails;
    } cases[] = {{"file.open", true, false}, {"file.write", false, true}, {"file.close", false, true}};
    for (const Case &c : cases) {
        host_->InjectFailure(c.op);
        Io::File g;
        EXPECT_EQ(Failed(g.Open("/var/x", O_WRONLY | O_CREAT | O_TRUNC)), c.open_fails) << c.op;
        if (c.open_fails)
            continue;
        g << "x" << Io::Endl;
        EXPECT_EQ(!g.Close(), c.close_fails) << c.op;
    }
    Io::File t;
    ASSERT_FALSE(Failed(t.Open("/var/y", O_RDWR | O_CREAT)));
    host_->InjectFailure("file.ioctl");
    EXPECT_EQ(t.Ioctl(0x80144ED5, nullptr), -1);
    EXPECT_TRUE(t.SetLength(8192));
    uint64_t len = 0;
    EXPECT_TRUE(t.GetLength(&len));
    EXPECT_EQ(len, 8192u);
    EXPECT_TRUE(Io::File::Remove("/var/y"));
}

}  // namespace

namespace {

TEST_F(ServicesTest, RegexGroupsAndCodes)
{
    Regex::Expression re("/([0-9][0-9]*/[0-9][0-9]*)$");
    ASSERT_TRUE(re.Initialized());
    StringVector g;
    EXPECT_EQ(static_cast<uint32_t>(re.Match("/devices/pci0/usb1/1-1/1/3", g)), Regex::MATCH);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_EQ(g[1], "1/3");
    EXPECT_EQ(static_cast<uint32_t>(re.Match("/devices/usb1/1-1", g)), Regex::NO_MATCH);
    host_->InjectFailure("regex.match");
    EXPECT_EQ(static_cast<uint32_t>(re.Match("/1/3", g)), Regex::NO_MEMORY);
    Regex::Expression bad("(");
    EXPECT_FALSE(bad.Initialized());
}

}  // namespace

namespace {

// A plug-in fails each of its allocations in turn with Core::New.
TEST_F(ServicesTest, AllocationsFailInTurn)
{
    struct Thing {
        explicit Thing(int v) : value(v) {}
        int value;
    };
    for (int after = 0; after < 3; ++after) {
        host_->InjectFailure("alloc", 1, after);
        std::vector<std::unique_ptr<Thing>> made;
        int refused = 0;
        for (int i = 0; i < 4; ++i) {
            std::unique_ptr<Thing> t(Core::New<Thing>(i));
            if (!t) {
                ++refused;
                EXPECT_EQ(i, after);
            }
        }
        EXPECT_EQ(refused, 1);
    }
    std::unique_ptr<Thing> t(Core::New<Thing>(7));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->value, 7);
}

}  // namespace
