// The plug-in's start and roll-back, its firewall rules, and share checks
// that need no running server.
#include "cifs_fixture.h"

namespace {

using cifs_test::CifsTest;
using cifs_test::Lines;
TEST_F(CifsTest, StartReservesPortsInOrderAndBuildsTheChain)
{
    ASSERT_FALSE(Failed(Load())) << load_output_;
    EXPECT_THAT(load_output_, HasSubstr("[0x0fff0005]")) << load_output_;
    EXPECT_EQ(Lines(host_->JournalMatching("port reserve")),
              "port reserve Cifs::ServerVX tcp 139 level=0\n"
              "port reserve Cifs::ServerVX tcp 445 level=0\n"
              "port reserve Cifs::ServerVX udp 137 level=0\n"
              "port reserve Cifs::ServerVX udp 138 level=0\n"
              "port reserve Cifs::ServerVX udp 1022 level=0\n"
              "port reserve Cifs::ServerVX udp 1023 level=0\n"
              "port reserve Cifs::ServerVX udp 4445 level=0\n");
    std::string nf = Run("netfilter filter");
    EXPECT_THAT(nf, HasSubstr(":_ZMO_NBNS_OUTPUT_FILTER")) << nf;
    EXPECT_THAT(nf, HasSubstr("-p udp -j _ZMO_NBNS_OUTPUT_FILTER")) << nf;
    EXPECT_THAT(nf, HasSubstr("-A _ZMO_NBNS_OUTPUT_FILTER -o ppp+ -p udp -m udp --sport 137:138 -j DROP"))
        << nf;
    EXPECT_TRUE(Journaled("auth tag cifs"));
    EXPECT_TRUE(Journaled("printer controller cifs"));
    EXPECT_EQ(Run("dashboard"), "CIFS_ENABLE=0\nCIFS_PRINTERS=0\nCIFS_SHARES=0\n");
    EXPECT_TRUE(Journaled("service NETBIOS browser arguments -i 001020304050"));
    EXPECT_TRUE(Journaled("service CIFS arguments -i 001020304050"));
    ASSERT_NE(Server(), nullptr);
    EXPECT_TRUE(Server()->Initialized());
    EXPECT_TRUE(Failed(Server()->SetMaster(true)));
    EXPECT_TRUE(Failed(Server()->SetMaster(false)));
    EXPECT_TRUE(Failed(Server()->SetMapHidden(true)));
    host_->UnloadAll();
    EXPECT_EQ(Run("ports"), "");
    EXPECT_EQ(Run("dashboard"), "");
    EXPECT_THAT(Run("netfilter filter"), Not(HasSubstr("_ZMO_NBNS")));
    EXPECT_TRUE(Journaled("auth untag cifs"));
}

// Each step failing leaves nothing of the plug-in behind, and it then starts.
TEST_F(CifsTest, EachFailingStepLeavesTheCoreAsBefore)
{
    struct Step {
        const char *op;
        int after;
    } steps[] = {{"netfilter.acquire", 0}, {"netfilter.commit", 0}, {"port.reserve", 5},
                 {"printer.register", 0},  {"config.wan_mac", 0},   {"service.new", 0},
                 {"service.new", 1},       {"event.subscribe", 0},  {"event.subscribe", 2},
                 {"event.subscribe", 7},   {"auth.tag", 0},         {"dashboard.register", 2},
                 {"interfaces.ids", 0},    {"command.register", 0}, {"command.register", 5}};
    for (const Step &step : steps) {
        SCOPED_TRACE(std::string(step.op) + " after " + std::to_string(step.after));
        host_->ClearJournal();
        host_->InjectFailure(step.op, 1, step.after);
        EXPECT_TRUE(Failed(Load())) << load_output_;
        EXPECT_FALSE(host_->FailurePending(step.op));
        EXPECT_EQ(Core::Core::Find_("Cifs::ServerVX"), nullptr);
        EXPECT_EQ(Run("ports"), "");
        EXPECT_EQ(Run("dashboard"), "");
        EXPECT_THAT(Run("netfilter filter"), Not(HasSubstr("_ZMO_NBNS")));
        auto tagged = host_->JournalMatching("auth tag cifs");
        if (!tagged.empty() && tagged[0] == "auth tag cifs") {
            EXPECT_TRUE(Journaled("auth untag cifs"));
        }
        if (Journaled("event subscribe Cifs::ServerVX")) {
            EXPECT_TRUE(Journaled("event unsubscribe Cifs::ServerVX"));
        }
        Run("event fs add name=USB9 usb=1 dir=/tmp\nevent user add name=u tags=cifs nt=x");
        ASSERT_TRUE(host_->Drain());
        EXPECT_FALSE(Journaled("log 2 Cifs::ServerVX:")) << Lines(host_->Journal());
    }
    ASSERT_FALSE(Failed(Load())) << load_output_;
}

TEST_F(CifsTest, AllZeroWanMacOrAHeldPortStopsTheStart)
{
    Run("wan-mac 00:00:00:00:00:00");
    EXPECT_TRUE(Failed(Load()));
    EXPECT_TRUE(Journaled("status 0xcffd0000 Cifs::ServerVX: failed to get the WAN MAC address"))
        << Lines(host_->Journal());
    EXPECT_EQ(Run("ports"), "");
    Run("wan-mac 00:10:20:30:40:50");
    auto *ports = static_cast<Network::PortAllocator *>(Core::Core::Find_(Network::PortAllocator::IDENT));
    ASSERT_FALSE(Failed(ports->Reserve("Other", Network::PortAllocator::UDP, 1023, 0)));
    host_->ClearJournal();
    EXPECT_TRUE(Failed(Load()));
    EXPECT_TRUE(Journaled("port reserve Cifs::ServerVX udp 1022"));
    EXPECT_EQ(Run("ports"), "udp 1023 Other\n");
}

TEST_F(CifsTest, FirewallFollowsTheInterfaces)
{
    Run("interface add id=Lan name=br0 ip=192.168.1.1/24 level=2");
    ASSERT_FALSE(Failed(Load())) << load_output_;
    Run("interface add id=Wan name=eth3 ip=10.1.2.3/16 level=1");
    Run("interface add id=Zero name=eth4 ip=0.0.0.0/24 level=1");
    ASSERT_TRUE(host_->Drain());
    std::string nf = Run("netfilter filter");
    for (const char *rule :
         {"-A _ZMO_NBNS_OUTPUT_FILTER -d 10.1.255.255/32 -o eth3 -p udp -m udp --sport 137:138 -j DROP",
          "-A _ZMO_NBNS_OUTPUT_FILTER -d 10.1.255.255/32 -o eth3 -p udp -m udp --dport 137:138 -j DROP",
          "-A _ZMO_NBNS_OUTPUT_FILTER -d 10.1.0.0/16 -o eth3 -p udp -m udp --sport 5355 -j DROP",
          "-d 224.0.0.252/32 -i eth3 -p udp -m udp --dport 5355 -j DROP",
          "-A _ZMO_NBNS_OUTPUT_FILTER -o ovpn_br+ -p udp -m udp --dport 137:138 -j DROP"})
        EXPECT_THAT(nf, HasSubstr(rule)) << nf;
    EXPECT_THAT(nf, Not(HasSubstr("br0"))) << nf;
    EXPECT_THAT(nf, Not(HasSubstr("eth4"))) << nf;
    Run("interface level id=Wan level=0");
    ASSERT_TRUE(host_->Drain());
    nf = Run("netfilter filter");
    EXPECT_THAT(nf, Not(HasSubstr("eth3"))) << nf;
    EXPECT_THAT(nf, HasSubstr("-o ppp+ -p udp -m udp --dport 137:138 -j DROP")) << nf;
}

// The mend: a refusing or hung tool is a failure the caller sees.
TEST_F(CifsTest, LabelsThatCannotNameAShareAreRefused)
{
    ASSERT_FALSE(Failed(Load())) << load_output_;
    const char *bad[] = {"A/B", "a\\b", "x:y",  "s*", "q?", "d\"q",      "l<",  "g>",
                         "p|",  "IPC$", "ipc$", "C$", "z$", "tab\there", "\x7f"};
    for (const char *label : bad) {
        SCOPED_TRACE(label);
        EXPECT_EQ(static_cast<uint32_t>(Server()->AddShare(label, "USB0:/", false, "")),
                  Cifs::Code::BAD_LABEL);
    }
    EXPECT_EQ(static_cast<uint32_t>(Server()->AddShare(std::string(65, 'a'), "USB0:/", false, "")),
              Cifs::Code::BAD_LABEL);
    EXPECT_EQ(static_cast<uint32_t>(Server()->AddShare("", "USB0:/", false, "")), Cifs::Code::EMPTY_LABEL);
    EXPECT_EQ(static_cast<uint32_t>(Server()->AddShare("x", "nocolon", false, "")), Cifs::Code::BAD_MOUNT);
    for (const std::string &good : {std::string(64, 'a'), std::string("Disk$"), std::string("my disk")})
        EXPECT_FALSE(Failed(Server()->AddShare(good, "USB0:/", false, ""))) << good;
    std::vector<Cifs::Share> shares;
    ASSERT_TRUE(Server()->GetShares(shares));
    EXPECT_EQ(shares.size(), 3u);
}

// A medium whose label can't name a share is shared under its own name.
TEST_F(CifsTest, NothingRunsWhileTheServerIsDisabled)
{
    ASSERT_FALSE(Failed(Load())) << load_output_;
    Run("event fs add name=USB0 label=DISK usb=1 dir=" + dir_ + "/media/usb0");
    ASSERT_FALSE(Failed(Server()->AddShare("USB0", "USB0:/", false, "")));
    ASSERT_FALSE(Failed(Server()->AddShare("Later", "USB7:/", false, "")));
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(Runs(), "");
    EXPECT_FALSE(Journaled("service NETBIOS browser start"));
    EXPECT_EQ(Run("dashboard"), "CIFS_ENABLE=0\nCIFS_PRINTERS=0\nCIFS_SHARES=1\n");
    EXPECT_EQ(static_cast<uint32_t>(Server()->RemoveShare("none")), Cifs::Code::NO_SHARE);
    // A host name change restarts only a server that runs.
    host_->ClearJournal();
    Run("event host name=router2\nevent domain name=home");
    ASSERT_TRUE(host_->Drain());
    EXPECT_FALSE(Journaled("service CIFS"));
}

// An IfDestroyed raised no later than the record was made is about an older
// interface of that id: the record and its rules stay.
TEST_F(CifsTest, AnOlderIfDestroyedIsIgnored)
{
    Make(true);
    ASSERT_FALSE(Failed(Load())) << load_output_;
    Run("interface add id=A name=eth3 ip=10.1.2.3/16 level=1\ninterface del id=A");
    ASSERT_TRUE(host_->Drain());
    EXPECT_THAT(Run("netfilter filter"), HasSubstr("-o eth3"));
    Run("interface add id=B name=eth5 ip=10.9.0.1/16 level=1\nclock +1500ms\ninterface del id=B");
    ASSERT_TRUE(host_->Drain());
    std::string nf = Run("netfilter filter");
    EXPECT_THAT(nf, Not(HasSubstr("eth5"))) << nf;
    EXPECT_THAT(nf, HasSubstr("-o eth3")) << nf;
}

// Every allocation of the start failing in turn: a clean refusal each time,
// then a start once there are no more to fail.
TEST_F(CifsTest, EveryAllocationOfTheStartFailingInTurn)
{
    for (int after = 0;; ++after) {
        SCOPED_TRACE(after);
        host_->InjectFailure("alloc", 1, after);
        ReturnT r = Load();
        if (host_->FailurePending("alloc")) {
            ASSERT_FALSE(Failed(r)) << load_output_;
            break;
        }
        EXPECT_TRUE(Failed(r)) << load_output_;
        EXPECT_EQ(Core::Core::Find_("Cifs::ServerVX"), nullptr);
        EXPECT_EQ(Run("ports"), "");
        EXPECT_EQ(Run("dashboard"), "");
        EXPECT_THAT(Run("netfilter filter"), Not(HasSubstr("_ZMO_NBNS")));
        ASSERT_LT(after, 100);
    }
}

TEST_F(CifsTest, SystemReadySetsTheKeys)
{
    ASSERT_FALSE(Failed(Load())) << load_output_;
    Run("event fs add name=USB0 label=DISK usb=1 dir=" + dir_ + "/media/usb0");
    ASSERT_FALSE(Failed(Server()->AddShare("USB0", "USB0:/", false, "")));
    ASSERT_FALSE(Failed(Server()->AddShare("Gone", "USB5:/", false, "")));
    host_->ClearJournal();
    Run("event ready");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(Lines(host_->JournalMatching("dashboard ")),
              "dashboard CIFS_ENABLE=0\ndashboard CIFS_SHARES=1\ndashboard CIFS_PRINTERS=0\n");
}

TEST_F(CifsTest, AMissingCoreComponentStopsTheStart)
{
    for (const char *ident :
         {Network::Interface::Repository::IDENT, FileSystem::Repository::IDENT, Core::Authenticator::IDENT,
          Core::System::Config::IDENT, Core::Dashboard::IDENT, Core::ModeComponent::IDENT,
          Network::PortAllocator::IDENT, Netfilter::Manager::IDENT, Printer::Manager::IDENT}) {
        SCOPED_TRACE(ident);
        Core::Module::Component *c = Core::Core::Find_(ident);
        ASSERT_NE(c, nullptr);
        c->Unregister();
        host_->ClearJournal();
        EXPECT_TRUE(Failed(Load())) << load_output_;
        EXPECT_EQ(Core::Core::Find_("Cifs::ServerVX"), nullptr);
        EXPECT_TRUE(host_->JournalMatching("port reserve").empty());
        EXPECT_TRUE(host_->JournalMatching("netfilter commit").empty());
        ASSERT_TRUE(c->Register());
    }
    ASSERT_FALSE(Failed(Load())) << load_output_;
}

}  // namespace
