// Control-tool runs against a running (fake) server: argument vectors,
// the tool's failures reported, users, printers and automount. Runs in a
// scenario namespace: the daemons' pid files are the fixed ones.
#include "cifs_fixture.h"

#include <algorithm>
#include <chrono>
#include <csignal>

namespace {

using cifs_test::CifsTest;
using cifs_test::Lines;

TEST_F(CifsTest, RunsAreArgumentVectorsAndTheirFailuresAreReported)
{
    StartServing();
    EXPECT_THAT(Runs(), HasSubstr("[addfileshare][USB0][" + dir_ + "/media/usb0/][]\n[setpermissive][no]\n"))
        << Runs();
    EXPECT_EQ(Run("dashboard"), "CIFS_ENABLE=1\nCIFS_PRINTERS=0\nCIFS_SHARES=1\n");
    ClearRuns();
    // Words with spaces and shell characters reach the tool as they are.
    ASSERT_FALSE(Failed(Server()->AddShare("my $(x) disk", "DISK:/", false, "a; b")));
    EXPECT_EQ(Runs(), "[addfileshare][my $(x) disk][" + dir_ + "/media/usb0/][a; b]\n");
    EXPECT_EQ(static_cast<uint32_t>(Server()->AddShare("usb0", "USB0:/", false, "")),
              Cifs::Code::SHARE_EXISTS);

    ToolStatus("3");
    ClearRuns();
    EXPECT_EQ(static_cast<uint32_t>(Server()->AddShare("Other", "USB0:/", false, "")),
              Cifs::Code::RUN_FAILED);
    EXPECT_EQ(Lines(host_->JournalMatching("log 2 Cifs::ServerVX: vxcsctrl")),
              "log 2 Cifs::ServerVX: vxcsctrl addfileshare exited with 3: refused by the server\n")
        << Lines(host_->Journal());
    std::vector<Cifs::Share> shares;
    ASSERT_TRUE(Server()->GetShares(shares));
    EXPECT_EQ(shares.size(), 2u);
    EXPECT_EQ(static_cast<uint32_t>(Server()->SetPermissive(true)), Cifs::Code::RUN_FAILED);
    EXPECT_FALSE(Server()->IsPermissive());
    Printer::Id id{0x04e8, 0x3242};
    EXPECT_FALSE(Printers()->ActivatePrinter(id, "lp", "/dev/usb/lp0", "/tmp/st", false, 0, 2));
    EXPECT_EQ(Run("dashboard"), "CIFS_ENABLE=1\nCIFS_PRINTERS=0\nCIFS_SHARES=2\n");

    ToolStatus("0");
    ClearRuns();
    ASSERT_FALSE(Failed(Server()->SetPermissive(true)));
    EXPECT_TRUE(Server()->IsPermissive());
    EXPECT_TRUE(Printers()->ActivatePrinter(id, "lp", "/dev/usb/lp0", "/tmp/st", false, 0, 2));
    EXPECT_TRUE(Printers()->ActivatePrinter(id, "lp2", "/dev/usb/lp1", "/tmp/st", false, 0, 3));
    EXPECT_EQ(Runs(), "[setpermissive][yes]\n[addprintershare][lp][/dev/usb/lp0][/tmp/st][2]\n"
                      "[addprintershare][lp2][/dev/usb/lp1][/tmp/st][3]\n");
    EXPECT_EQ(Run("dashboard"), "CIFS_ENABLE=1\nCIFS_PRINTERS=1\nCIFS_SHARES=2\n");
    ClearRuns();
    Printers()->DeactivatePrinter(Printer::Id{0x04e8, 0x9999});
    Printers()->DeactivatePrinter(id);
    EXPECT_EQ(Runs(), "[removeshare][lp2]\n");
    EXPECT_EQ(Run("dashboard"), "CIFS_ENABLE=1\nCIFS_PRINTERS=0\nCIFS_SHARES=2\n");
    // A dashboard that refuses the key changes nothing of the answer.
    host_->InjectFailure("dashboard.set");
    EXPECT_EQ(static_cast<uint32_t>(Server()->Disable()), Cifs::Code::DONE);
    EXPECT_FALSE(Server()->IsEnabled());
}

TEST_F(CifsTest, AHungToolIsStoppedAtTheBound)
{
    StartServing();
    ToolStatus("hang");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(static_cast<uint32_t>(Server()->SetPermissive(true)), Cifs::Code::RUN_FAILED);
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 4900);
    EXPECT_LT(ms, 9000);
    EXPECT_TRUE(Journaled("log 2 Cifs::ServerVX: vxcsctrl setpermissive timed out"));
}

TEST_F(CifsTest, AutomountFallsBackToTheNameForABadLabel)
{
    StartServing();
    std::filesystem::create_directories(dir_ + "/media/usb1");
    ASSERT_FALSE(Failed(Server()->SetAutomount(true)));
    ClearRuns();
    Run("event fs add name=USB1 label=A/B usb=1 dir=" + dir_ + "/media/usb1");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(Runs(), "[addfileshare][USB1][" + dir_ + "/media/usb1][]\n");
    ClearRuns();
    Run("event fs remove name=USB1");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(Runs(), "[removeshare][USB1]\n");
}

TEST_F(CifsTest, UsersAreAddedInOrderAndRemoved)
{
    StartServing();
    ClearRuns();
    Run("event user add name=ann tags=cifs nt=0123456789abcdef0123456789abcdef");
    Run("event user add name=bob tags=cifs");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(
        Runs(),
        "[removeuser][ann]\n[adduser][ann][0123456789abcdef0123456789abcdef]\n[setprinterowner][ann][no]\n");
    EXPECT_TRUE(Journaled(
        "status 0x40ce0011 Cifs::ServerVX: \"bob\" user has \"cifs\" tag but has no \"nt\" password, ignored"));
    ClearRuns();
    Run("event user remove name=ann");
    Run("event user remove name=bob");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(Runs(), "[removeuser][ann]\n");
    // A refusing tool during an event is logged; the event's other runs go on.
    ToolStatus("4");
    ClearRuns();
    Run("event user add name=cid tags=cifs nt=0123456789abcdef0123456789abcdef");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(
        Runs(),
        "[removeuser][cid]\n[adduser][cid][0123456789abcdef0123456789abcdef]\n[setprinterowner][cid][no]\n");
    EXPECT_TRUE(Journaled("log 2 Cifs::ServerVX: vxcsctrl adduser exited with 4: refused by the server"));
}

TEST_F(CifsTest, CommandsForwardAndShowTheConfiguration)
{
    ASSERT_FALSE(Failed(Load())) << load_output_;
    Run("event fs add name=USB0 label=DISK usb=1 dir=" + dir_ + "/media/usb0");
    const struct {
        const char *line, *answer;
    } lines[] = {{"cifs", "(config-cifs)\n"},
                 {"share USB0 USB0:/", "[0x00ce0001]\n"},
                 {"share usb0 USB0:/", "[0x80ce0006] a share record for \"usb0\" already exists\n"},
                 {"share TM DISK:/ timemachine \"my disk\"", "[0x00ce0001]\n"},
                 {"share A/B USB0:/", "[0x80ce000d] a share label \"A/B\" is invalid\n"},
                 {"master", "[0xcffd0000]\n"},
                 {"no master", "[0xcffd0000]\n"},
                 {"map-hidden", "[0xcffd0000]\n"},
                 {"no map-hidden", "[0xcffd0000]\n"},
                 {"exit", ""}};
    for (const auto &l : lines)
        EXPECT_EQ(Run(l.line), l.answer) << l.line;
    std::string out = Run("show running-config");
    EXPECT_THAT(out, HasSubstr("cifs\n    share USB0 USB0:/\n    share TM DISK:/ \"my disk\"\n")) << out;
    EXPECT_THAT(out, Not(HasSubstr("service cifs\n"))) << out;

    out = Run("service cifs");
    ASSERT_TRUE(host_->WaitJournal("status 0x00ce0001 Cifs::ServerVX: service started", 15000))
        << Lines(host_->Journal());
    ASSERT_TRUE(host_->Drain());
    out = Run("show running-config\nshow cifs");
    EXPECT_THAT(out, HasSubstr("\nservice cifs\n")) << out;
    EXPECT_THAT(out, HasSubstr("<enabled>true</enabled>")) << out;
    EXPECT_THAT(
        out,
        HasSubstr("<label>TM</label>\n    <description>my disk</description>\n    <active>true</active>"))
        << out;
    ClearRuns();
    host_->ClearJournal();
    Run("cifs\nno share\nexit\nno service cifs");
    EXPECT_EQ(Runs(), "[removeshare][USB0]\n[removeshare][TM]\n");
    out = Run("show running-config");
    EXPECT_THAT(out, Not(HasSubstr("share"))) << out;
    EXPECT_THAT(out, Not(HasSubstr("service cifs\n"))) << out;
    // The server goes before the NetBIOS daemon.
    StringVector stops = host_->JournalMatching("service ");
    auto at = [&](const std::string &line) {
        return std::find(stops.begin(), stops.end(), line) - stops.begin();
    };
    EXPECT_LT(at("service CIFS stop"), at("service NETBIOS browser stop")) << Lines(stops);
    EXPECT_LT(at("service NETBIOS browser stop"), static_cast<std::ptrdiff_t>(stops.size())) << Lines(stops);
}

TEST_F(CifsTest, DaemonsRunOnlyWhenEnabledAndConfigured)
{
    Run("interface add id=Lan name=br0 ip=192.168.1.1/24 level=2");
    ASSERT_FALSE(Failed(Load())) << load_output_;
    Run("service cifs");
    ASSERT_TRUE(host_->Drain());
    EXPECT_FALSE(Journaled("service NETBIOS browser start"));
    EXPECT_FALSE(Journaled("service CIFS start"));
    Run("event fs add name=USB0 label=DISK usb=1 dir=" + dir_ + "/media/usb0\ncifs\nshare USB0 USB0:/\nexit");
    ASSERT_TRUE(host_->WaitJournal("status 0x00ce0001 Cifs::ServerVX: service started", 15000))
        << Lines(host_->Journal());
    StringVector j = host_->JournalMatching("service ");
    auto at = [&](const std::string &line) { return std::find(j.begin(), j.end(), line) - j.begin(); };
    EXPECT_LT(at("service NETBIOS browser start"), at("service CIFS start")) << Lines(j);
    EXPECT_LT(at("service CIFS start"), static_cast<std::ptrdiff_t>(j.size())) << Lines(j);
    ASSERT_TRUE(host_->Drain());

    // A new address: the NetBIOS daemon re-reads its configuration and keeps running.
    host_->ClearJournal();
    Run("interface ip id=Lan ip=192.168.2.1/24");
    ASSERT_TRUE(host_->Drain());
    EXPECT_TRUE(Journaled("service NETBIOS browser signal Hangup")) << Lines(host_->Journal());
    EXPECT_FALSE(Journaled("service NETBIOS browser died"));

    // Host name change: the running server restarts, the NetBIOS daemon stays.
    host_->ClearJournal();
    Run("event host name=router2");
    ASSERT_TRUE(host_->Drain());
    EXPECT_TRUE(Journaled("service CIFS stop"));
    EXPECT_TRUE(Journaled("service CIFS start"));
    EXPECT_FALSE(Journaled("service NETBIOS browser stop"));

    // After shutdown nothing starts again.
    Run("event shutdown");
    ASSERT_TRUE(host_->Drain());
    host_->ClearJournal();
    Run("event host name=router3\ncifs\nshare More USB0:/\nexit\nno service cifs\nservice cifs");
    ASSERT_TRUE(host_->Drain());
    EXPECT_TRUE(host_->JournalMatching("service CIFS start").empty()) << Lines(host_->Journal());
    EXPECT_TRUE(host_->JournalMatching("service NETBIOS browser start").empty()) << Lines(host_->Journal());
}

// The NetBIOS daemon gone: the server stops with it and comes back after it.
TEST_F(CifsTest, LosingTheNetbiosDaemonStopsTheServerUntilItIsBack)
{
    StartServing();
    int pid = 0;
    std::ifstream("/var/run/vxnd.pid") >> pid;
    ASSERT_GT(pid, 0);
    host_->ClearJournal();
    kill(pid, SIGKILL);
    ASSERT_TRUE(host_->WaitJournal("service CIFS stopped", 10000)) << Lines(host_->Journal());
    ASSERT_TRUE(host_->WaitJournal("status 0x00ce0001 Cifs::ServerVX: service started", 20000))
        << Lines(host_->Journal());
    StringVector j = host_->JournalMatching("service ");
    auto at = [&](const std::string &prefix) {
        return std::find_if(j.begin(), j.end(),
                            [&](const std::string &l) { return l.rfind(prefix, 0) == 0; }) -
               j.begin();
    };
    EXPECT_LT(at("service NETBIOS browser up"), at("service CIFS spawn")) << Lines(j);
}

// The server starting with fifty users to replay: three runs each, in order.
TEST_F(CifsTest, ReplayBringsBackEveryUser)
{
    auto *printers = static_cast<Printer::Manager *>(Core::Core::Find_(Printer::Manager::IDENT));
    ASSERT_NE(printers, nullptr);
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        char name[8];
        snprintf(name, sizeof name, "u%02d", i);
        const std::string hash = std::string(30, '0') + std::to_string(10 + i);
        const bool owner = i % 10 == 0;
        Run(std::string("event user add name=") + name + " tags=cifs" +
            (owner ? std::string(",") + printers->Tag() : "") + " nt=" + hash);
        expected += std::string("[removeuser][") + name + "]\n[adduser][" + name + "][" + hash +
                    "]\n[setprinterowner][" + name + "][" + (owner ? "yes" : "no") + "]\n";
    }
    Run("event user add name=zed tags=cifs");
    auto t0 = std::chrono::steady_clock::now();
    StartServing();
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    const std::string runs = Runs();
    const size_t from = runs.find("[removeuser]");
    ASSERT_NE(from, std::string::npos) << runs;
    EXPECT_EQ(runs.substr(from), expected);
    EXPECT_TRUE(Journaled(
        "status 0x40ce0011 Cifs::ServerVX: \"zed\" user has \"cifs\" tag but has no \"nt\" password"))
        << Lines(host_->Journal());
    RecordProperty("replay_ms", static_cast<int>(ms));
    EXPECT_LT(ms, 60000);

    // Removal locks a replayed user out.
    ClearRuns();
    Run("event user remove name=u07");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(Runs(), "[removeuser][u07]\n");
}

// A share whose medium is not there yet waits for it; unplugging hides it
// and plugging it in again brings it back, the record kept throughout.
TEST_F(CifsTest, SharesFollowTheirMedium)
{
    StartServing();
    std::filesystem::create_directories(dir_ + "/media/usb2");
    ClearRuns();
    ASSERT_FALSE(Failed(Server()->AddShare("Later", "USB2:/", false, "")));
    EXPECT_EQ(Runs(), "");
    EXPECT_EQ(Run("dashboard"), "CIFS_ENABLE=1\nCIFS_PRINTERS=0\nCIFS_SHARES=1\n");
    Run("event fs add name=USB2 label=STICK usb=1 dir=" + dir_ + "/media/usb2");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(Runs(), "[addfileshare][Later][" + dir_ + "/media/usb2/][]\n");
    EXPECT_EQ(Run("dashboard"), "CIFS_ENABLE=1\nCIFS_PRINTERS=0\nCIFS_SHARES=2\n");
    ClearRuns();
    Run("event fs remove name=USB2");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(Runs(), "[removeshare][Later]\n");
    EXPECT_EQ(Run("dashboard"), "CIFS_ENABLE=1\nCIFS_PRINTERS=0\nCIFS_SHARES=1\n");
    std::vector<Cifs::Share> shares;
    ASSERT_TRUE(Server()->GetShares(shares));
    EXPECT_EQ(shares.size(), 2u);
    ClearRuns();
    Run("event fs add name=USB2 label=STICK usb=1 dir=" + dir_ + "/media/usb2");
    ASSERT_TRUE(host_->Drain());
    EXPECT_EQ(Runs(), "[addfileshare][Later][" + dir_ + "/media/usb2/][]\n");
    // A file system that is not USB storage can't be shared.
    Run("event fs add name=HDD0 label=INT usb=0 dir=" + dir_ + "/media/usb2");
    EXPECT_EQ(static_cast<uint32_t>(Server()->AddShare("Int", "HDD0:/", false, "")), Cifs::Code::NOT_USB);
}

}  // namespace
