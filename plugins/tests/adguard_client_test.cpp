// The AdGuard DNS client: its safety file, the redirect chain, the deferred
// apply and its roll-back, driven by the core's events and clock.
#include "plugin_fixture.h"

namespace {

const char kFile[] = "/var/dnsrelaydsafe.conf";

class AdguardClientTest : public PluginCoreTest {
protected:
    void SetUp() override
    {
        Make(true);
        ASSERT_FALSE(Failed(Load(ADGUARD_PLUGIN))) << load_output_;
        Run("interface add id=Bridge0 name=br0 ip=192.168.1.1/24 level=0\n"
            "interface add id=Guest0 name=br1 ip=10.1.0.1/24 level=2\n"
            "interface add id=Wan0 name=eth3 ip=1.2.3.4/24 level=1\n"
            "event knownhost add mac=00:11:22:33:44:55\n"
            "event knownhost add mac=00:11:22:33:44:66\n"
            "event neighbour mac=00:11:22:33:44:55 ip=192.168.1.33");
    }
    std::string Nat() { return Run("netfilter nat"); }
    std::vector<std::string> Chain()
    {
        std::vector<std::string> rules;
        std::istringstream in(Nat());
        for (std::string l; std::getline(in, l);)
            if (l.rfind("-A _ZMO_AG_REDIRECT ", 0) == 0)
                rules.push_back(l.substr(20));
        return rules;
    }
};

TEST_F(AdguardClientTest, StartLinksTheChainAndUnloadRemovesIt)
{
    EXPECT_THAT(Nat(), HasSubstr("-A _ZMO_DNS_REDIRECT -j _ZMO_AG_REDIRECT"));
    EXPECT_TRUE(Chain().empty());
    host_->UnloadAll();
    EXPECT_THAT(Nat(), Not(HasSubstr("_ZMO_AG_REDIRECT")));
    EXPECT_TRUE(Journaled("event unsubscribe AdguardDns::Client"));
}

TEST_F(AdguardClientTest, EnableWithoutWanInstallsTheChainButWritesNoFile)
{
    Run("adguard-dns enable\nclock +1500ms");
    EXPECT_TRUE(Journaled("service-lock DNS acquired by AdGuard DNS"));
    EXPECT_EQ(Count("dns reinit-proxy"), 1u);
    EXPECT_FALSE(Exists(kFile));
    // Both private interfaces redirect; the public one does not.
    EXPECT_EQ(Chain(), (std::vector<std::string>{
                           "-i br0 -p udp -m udp --dport 53 -j REDIRECT --to-ports 53",
                           "! -d 224.0.0.0/4 -i br0 -p udp -m udp --dport 5353 -j REDIRECT --to-ports 53",
                           "-i br1 -p udp -m udp --dport 53 -j REDIRECT --to-ports 53",
                           "! -d 224.0.0.0/4 -i br1 -p udp -m udp --dport 5353 -j REDIRECT --to-ports 53",
                       }));
}

// No resolver answers here (the addresses are not this host's), so the
// file names 5353 for all four servers.
TEST_F(AdguardClientTest, WanMakesTheNextApplyWriteTheExactFile)
{
    Run("adguard-dns assign host 00:11:22:33:44:66 type family\n"
        "adguard-dns assign host 00:11:22:33:44:55 type default\n"
        "adguard-dns assign type default\n"
        "adguard-dns enable\nevent wan id=Wan0\nclock +1500ms");
    EXPECT_EQ(File(dir_ + kFile), "profile 1 safe-access\n"
                                  "profile 2 safe-access\n"
                                  "profile-set-server 1 94.140.14.14:5353\n"
                                  "profile-set-server 1 94.140.15.15:5353\n"
                                  "profile-set-server 2 94.140.14.15:5353\n"
                                  "profile-set-server 2 94.140.15.16:5353\n"
                                  "set-profile 00:11:22:33:44:66 2\n"
                                  "set-profile 00:11:22:33:44:55 0\n"
                                  "set-profile mac_default 0\n");
    EXPECT_FALSE(Exists(std::string(kFile) + ".__temp__"));
    // The "default" host is let through ahead of its interface's redirects.
    auto rules = Chain();
    ASSERT_EQ(rules.size(), 6u);
    EXPECT_EQ(rules[0], "-s 192.168.1.33/32 -i br0 -p udp -m udp --dport 53 -j RETURN");
    EXPECT_EQ(rules[1], "-s 192.168.1.33/32 ! -d 224.0.0.0/4 -i br0 -p udp -m udp --dport 5353 -j RETURN");
    EXPECT_THAT(rules[2], HasSubstr("-i br0 -p udp -m udp --dport 53 -j REDIRECT"));
    EXPECT_THAT(rules[4], HasSubstr("-i br1 -p udp -m udp --dport 53 -j REDIRECT"));
    // The WAN going away: the next apply deletes the file.
    Run("event wan id=\nclock +1500ms");
    EXPECT_FALSE(Exists(kFile));
}

TEST_F(AdguardClientTest, ChangesWithinTheDelayMakeOneWriteAndOneReload)
{
    Run("adguard-dns enable\nevent wan id=Wan0\nclock +1500ms");
    const size_t writes = Count("file rename /var/dnsrelaydsafe.conf"), reloads = Count("dns reinit-proxy");
    Run("adguard-dns assign host 00:11:22:33:44:66 type family\nclock +500ms\n"
        "adguard-dns assign type family\nclock +500ms\n"
        "adguard-dns assign host 00:11:22:33:44:66 type standard\nclock +499ms");
    EXPECT_EQ(Count("file rename /var/dnsrelaydsafe.conf"), writes);
    Run("clock +1ms");
    EXPECT_EQ(Count("file rename /var/dnsrelaydsafe.conf"), writes + 1);
    EXPECT_EQ(Count("dns reinit-proxy"), reloads + 1);
    EXPECT_THAT(File(dir_ + kFile),
                HasSubstr("set-profile 00:11:22:33:44:66 1\nset-profile mac_default 2\n"));
}

TEST_F(AdguardClientTest, DisablingUndoesEverything)
{
    Run("adguard-dns enable\nevent wan id=Wan0\nclock +1500ms");
    ASSERT_TRUE(Exists(kFile));
    const size_t reloads = Count("dns reinit-proxy");
    std::string out = Run("no adguard-dns enable");
    EXPECT_THAT(out, HasSubstr("[0x00200258] AdGuard DNS disabled"));
    EXPECT_FALSE(Exists(kFile));
    EXPECT_TRUE(Chain().empty());
    EXPECT_EQ(Count("dns reinit-proxy"), reloads + 1);
    EXPECT_TRUE(Journaled("dns clear-service-data AdGuard DNS"));
    EXPECT_TRUE(Journaled("service-lock DNS released by AdGuard DNS"));
    // A disabled client's pending apply does nothing.
    Run("clock +3000ms");
    EXPECT_FALSE(Exists(kFile));
}

TEST_F(AdguardClientTest, LockHeldByAnotherServiceRefusesEnabling)
{
    auto *lock = static_cast<Core::ServiceLock *>(Core::Core::Find_(Core::ServiceLock::IDENT));
    ASSERT_FALSE(Failed(lock->TryAcquire("DNS", "Other DNS")));
    std::string out = Run("adguard-dns enable\nshow running-config");
    EXPECT_THAT(out, Not(HasSubstr("AdGuard DNS enabled")));
    EXPECT_THAT(out, Not(HasSubstr("    enable")));
}

// A failed write or close leaves the proxy's last good file untouched and no
// temporary behind; AdGuard DNS is then off on the system side.
TEST_F(AdguardClientTest, FailedWriteNeverLeavesAPartialFile)
{
    for (const char *op : {"file.write", "file.close", "file.rename"}) {
        SCOPED_TRACE(op);
        Run("adguard-dns enable\nevent wan id=Wan0\nclock +1500ms");
        ASSERT_TRUE(Exists(kFile));
        host_->InjectFailure(op);
        Run("adguard-dns assign type family\nclock +1500ms");
        EXPECT_TRUE(
            Journaled("status 0x80200190 AdguardDns::Client: failed to create AdGuard DNS configuration"));
        EXPECT_FALSE(Exists(std::string(kFile) + ".__temp__"));
        EXPECT_FALSE(Exists(kFile));  // turned off: no file, empty chain
        EXPECT_TRUE(Chain().empty());
        // The configuration stays; the next change tries again.
        Run("adguard-dns assign type default\nclock +1500ms");
        EXPECT_THAT(File(dir_ + kFile), HasSubstr("set-profile mac_default 0\n"));
        Run("no adguard-dns enable");
        host_->ClearJournal();
    }
}

TEST_F(AdguardClientTest, ProxyRefusingTheReloadTurnsItOff)
{
    Run("adguard-dns enable\nevent wan id=Wan0");
    host_->InjectFailure("dns.reinit");
    Run("clock +1500ms");
    EXPECT_TRUE(Journaled("status 0x80200258 AdguardDns::Client: failed to apply AdGuard DNS configuration"));
    EXPECT_FALSE(Exists(kFile));
}

TEST_F(AdguardClientTest, HostsLeavingTheKnownListLoseTheirEntries)
{
    Run("adguard-dns assign host 00:11:22:33:44:66 type family\n"
        "adguard-dns assign host 00:11:22:33:44:55 type default\n"
        "adguard-dns enable\nevent wan id=Wan0\nclock +1500ms");
    Run("event knownhost remove mac=00:11:22:33:44:66\nclock +1500ms");
    EXPECT_THAT(File(dir_ + kFile), Not(HasSubstr("44:66")));
    EXPECT_THAT(File(dir_ + kFile), HasSubstr("set-profile 00:11:22:33:44:55 0"));
    Run("event knownhost clear\nclock +1500ms");
    EXPECT_THAT(File(dir_ + kFile), Not(HasSubstr("44:55")));
    EXPECT_THAT(Run("show running-config"), Not(HasSubstr("assign host")));
}

// Interface and neighbour events rebuild the chain at once, without waiting
// for an apply.
TEST_F(AdguardClientTest, InterfaceAndNeighbourEventsRebuildTheChain)
{
    Run("adguard-dns assign host 00:11:22:33:44:55 type default\nadguard-dns enable\nclock +1500ms");
    ASSERT_EQ(Chain().size(), 6u);
    Run("interface level id=Guest0 level=1");
    EXPECT_EQ(Chain().size(), 4u);
    Run("interface ip id=Bridge0 ip=192.168.7.1/24");
    EXPECT_EQ(Chain().size(), 2u);  // the default host's address is outside it now
    Run("event neighbour mac=00:11:22:33:44:55 ip=192.168.7.9");
    EXPECT_EQ(Chain().size(), 4u);
    EXPECT_EQ(Chain()[0], "-s 192.168.7.9/32 -i br0 -p udp -m udp --dport 53 -j RETURN");
    // IPv6 neighbours and plain refreshes are not ours.
    Run("event neighbour mac=00:11:22:33:44:55 ip=192.168.7.10 type=1\n"
        "event neighbour mac=00:11:22:33:44:55 ip=192.168.7.11 action=1 kind=0");
    EXPECT_EQ(Chain()[0], "-s 192.168.7.9/32 -i br0 -p udp -m udp --dport 53 -j RETURN");
    Run("interface del id=Bridge0");
    EXPECT_TRUE(Chain().empty());
    Run("interface add id=Bridge2 name=br2 ip=172.16.0.1/16 level=0");
    EXPECT_EQ(Chain().size(), 2u);
}

class AdguardStartTest : public PluginCoreTest {};

TEST_F(AdguardStartTest, FailingStepsOfInitializeLeaveNothing)
{
    struct Step {
        const char *op;
        int after;
    } steps[] = {{"event.subscribe", 0},   {"event.subscribe", 4},  {"interfaces.ids", 0},
                 {"netfilter.acquire", 0}, {"netfilter.commit", 0}, {"command.register", 3},
                 {"command.init", 1}};
    for (const Step &s : steps) {
        SCOPED_TRACE(std::string(s.op) + " after " + std::to_string(s.after));
        host_->InjectFailure(s.op, 1, s.after);
        EXPECT_TRUE(Failed(Load(ADGUARD_PLUGIN))) << load_output_;
        EXPECT_EQ(Core::Core::Find_("AdguardDns::Client"), nullptr);
        EXPECT_THAT(Run("netfilter nat"), Not(HasSubstr("_ZMO_AG_REDIRECT")));
        std::ostringstream o;
        EXPECT_FALSE(host_->RunLine("adguard-dns enable", o));
        if (Journaled("event subscribe AdguardDns::Client")) {
            EXPECT_TRUE(Journaled("event unsubscribe AdguardDns::Client"));
        }
        host_->ClearJournal();
    }
    ASSERT_FALSE(Failed(Load(ADGUARD_PLUGIN))) << load_output_;
}

TEST_F(AdguardStartTest, EveryAllocationOfInitializeFailingInTurn)
{
    Run("interface add id=Bridge0 name=br0 ip=192.168.1.1/24 level=0");
    for (int after = 0;; ++after) {
        SCOPED_TRACE(after);
        host_->InjectFailure("alloc", 1, after);
        ReturnT r = Load(ADGUARD_PLUGIN);
        if (host_->FailurePending("alloc")) {
            ASSERT_FALSE(Failed(r)) << load_output_;
            break;
        }
        EXPECT_TRUE(Failed(r)) << load_output_;
        EXPECT_EQ(Core::Core::Find_("AdguardDns::Client"), nullptr);
        EXPECT_THAT(Run("netfilter nat"), Not(HasSubstr("_ZMO_AG_REDIRECT")));
        ASSERT_LT(after, 100);
    }
}

}  // namespace
