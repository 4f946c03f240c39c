// The WiMAX modem interface with a fake daemon, in a namespace of its own
// (it makes TAP devices): device events, the daemon's arguments and life,
// and its event-script reports.
#include "plugin_fixture.h"

#include <net/if.h>
#include <unistd.h>

namespace {

const char kModem[] =
    "event usb add subsystem=usb_device VENDOR=04e8 MODEL=6761 DEVICE=/proc/bus/usb/001/002";
const char kUnplug[] =
    "event usb remove subsystem=usb_device VENDOR=04e8 MODEL=6761 DEVICE=/proc/bus/usb/001/002";

class WimaxTest : public PluginCoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        // The fake daemon records its arguments, reports the link and its
        // statistics through the event script (which lies under the core's
        // root here), and reports the link down when stopped.
        bin_ = dir_ + "/bin";
        std::filesystem::create_directories(bin_);
        const std::string fake = bin_ + "/madwimax";
        std::ofstream(fake)
            << "#!/bin/sh\n"
            << "echo \"$@\" >> " << dir_ << "/argv\n"
            << "while [ $# -gt 0 ]; do case $1 in --ifname) ifname=$2;; --event-script) script=" << dir_
            << "$2;; esac; shift; done\n"
            << "trap '$script if-down $ifname; exit 0' TERM\n"
            << "$script if-up $ifname\n"
            << "printf 'FW=1.0\\nRSSI=-55\\nBSSID=00:aa:bb:cc:dd:ee\\nSTATE=NORMAL\\n' | $script stats $ifname\n"
            << "sleep 60 & wait\n";
        std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
        setenv("PATH", (bin_ + ":" + getenv("PATH")).c_str(), 1);
        ASSERT_FALSE(Failed(Load(WIMAX_PLUGIN))) << load_output_;
    }
    void TearDown() override
    {
        host_.reset();
        EXPECT_EQ(if_nametoindex("wimax0"), 0u) << "the TAP device outlived the interface";
    }
    // One run of the event script, as the daemon makes it.
    void Report(const std::string &words, const std::string &input = "")
    {
        const std::string cmd =
            "printf '" + input + "' | " + host_->Path("/var/run/madwimax-wimax0") + " " + words;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        host_->Drain();
    }
    std::string Show() { return Run("interface show WiMax0"); }
    bool WaitArgv(size_t lines)
    {
        for (int i = 0; i < 300; ++i) {
            std::string a = File(dir_ + "/argv");
            if (static_cast<size_t>(std::count(a.begin(), a.end(), '\n')) >= lines)
                return true;
            usleep(10000);
        }
        return false;
    }
    std::string bin_;
};

TEST_F(WimaxTest, ModemMakesAPersistentTapAndTheDaemonRunsOnlyWhilePluggedAndUp)
{
    Run(kModem);
    EXPECT_NE(if_nametoindex("wimax0"), 0u);
    EXPECT_TRUE(Journaled("service new WiMax0 program=madwimax configured=0"));
    EXPECT_TRUE(Journaled("interface WiMax0 device added /proc/bus/usb/001/002"));
    EXPECT_FALSE(Journaled("service WiMax0 spawn"));  // plugged but not up
    Run("interface up WiMax0");
    ASSERT_TRUE(WaitArgv(1));
    EXPECT_EQ(
        File(dir_ + "/argv"),
        "--exact-device 001/002 --ifname wimax0 --event-script /var/run/madwimax-wimax0 --ssid @wimax.example.net\n");
    // Its reports move the link and fill what the interface shows.
    EXPECT_TRUE(host_->WaitJournal(
        "event IfStateChanged change=0 id=WiMax0 name=wimax0 link=1 connection=1 ifup=1", 5000));
    for (int i = 0; i < 300 && Show().find("<rssi>-55</rssi>") == std::string::npos; ++i)
        usleep(10000);
    EXPECT_THAT(Show(), HasSubstr("<bssid>00:aa:bb:cc:dd:ee</bssid>\n  <wimax_state>NORMAL</wimax_state>"));
    // A new SSID: the next run has it last. (The core's service runs on
    // through an off-and-on within one of its rounds, so wait for the stop.)
    host_->ClearJournal();
    Run("interface ssid WiMax0 @other.example\ninterface down WiMax0");
    ASSERT_TRUE(host_->WaitJournal("service WiMax0 stopped", 5000));
    EXPECT_TRUE(
        host_->WaitJournal("event IfStateChanged change=0 id=WiMax0 name=wimax0 link=0 connection=0", 5000));
    Run("interface up WiMax0");
    ASSERT_TRUE(WaitArgv(2));
    EXPECT_THAT(File(dir_ + "/argv"),
                HasSubstr("--event-script /var/run/madwimax-wimax0 --ssid @other.example\n"));
    // Unplugged: stopped, and the link reported down.
    host_->ClearJournal();
    Run(kUnplug);
    EXPECT_TRUE(host_->WaitJournal("service WiMax0 stopped", 5000))
        << ::testing::PrintToString(host_->Journal());
    EXPECT_TRUE(Journaled("event IfStateChanged change=0 id=WiMax0 name=wimax0 link=0 connection=0 ifup=1"));
    EXPECT_THAT(Show(), HasSubstr("<plugged>false</plugged>"));
    host_->UnloadAll();
    EXPECT_EQ(if_nametoindex("wimax0"), 0u);
}

TEST_F(WimaxTest, SecondModemIsNotTakenOver)
{
    Run(kModem);
    Run("event usb add subsystem=usb_device VENDOR=04e8 MODEL=6780 DEVICE=/proc/bus/usb/001/003");
    EXPECT_THAT(Show(), HasSubstr("<device>/proc/bus/usb/001/002</device>"));
    // Another interface of the kind may take it; this one keeps its modem.
    EXPECT_FALSE(Journaled("interface WiMax0 device added /proc/bus/usb/001/003"));
    // Devices that are not listed, or not USB devices, are not offered to it.
    Run("event usb add subsystem=usb_device VENDOR=04e8 MODEL=6762 DEVICE=/proc/bus/usb/001/004\n"
        "event usb add subsystem=tty VENDOR=04e8 MODEL=6761 DEVICE=/proc/bus/usb/001/005");
    EXPECT_FALSE(Journaled("device added /proc/bus/usb/001/004"));
    EXPECT_FALSE(Journaled("device added /proc/bus/usb/001/005"));
}

// The only outside input besides the reports: the kernel's device path.
TEST_F(WimaxTest, DevicePaths)
{
    struct Case {
        const char *path;
        const char *exact;  // null: not taken
    } cases[] = {
        {"/proc/bus/usb/001/002", "001/002"},
        {"/dev/bus/usb/1/23", "1/23"},
        {"/001/002/", nullptr},
        {"001/002", nullptr},
        {"/proc/bus/usb/a01/002", nullptr},
        {"/proc/bus/usb/001/00x", nullptr},
        {"/x//002", nullptr},
        {"/proc/bus/usb/001/002; reboot", nullptr},
        {"", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        Run(std::string("event usb add subsystem=usb_endpoint VENDOR=04e9 MODEL=6761 DEVICE=") + c.path);
        std::string show = Show();
        if (c.exact) {
            EXPECT_THAT(show, HasSubstr("<plugged>true</plugged>")) << show;
            Run(std::string("event usb remove subsystem=usb_endpoint DEVICE=") + c.path);
        } else {
            EXPECT_THAT(show, HasSubstr("<plugged>false</plugged>")) << show;
        }
    }
    // The taken path's numbers are what the daemon is told.
    Run("interface up WiMax0\n" + std::string(kModem));
    ASSERT_TRUE(WaitArgv(1));
    EXPECT_THAT(File(dir_ + "/argv"), HasSubstr("--exact-device 001/002 "));
}

TEST_F(WimaxTest, ReportsMoveTheLinkAndTheStatistics)
{
    Run(kModem);  // not up: the reports here are the test's alone
    struct Case {
        const char *words;
        const char *input;
        const char *journal;  // an event that must follow, or null
    } cases[] = {
        {"if-up wimax0", "",
         "event IfStateChanged change=0 id=WiMax0 name=wimax0 link=1 connection=1 ifup=0"},
        {"if-down wimax0", "",
         "event IfStateChanged change=0 id=WiMax0 name=wimax0 link=0 connection=0 ifup=0"},
        {"if-up wimax1", "", nullptr},
        {"bogus wimax0", "", nullptr},
        {"if-up", "", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.words);
        host_->ClearJournal();
        Report(c.words, c.input);
        if (c.journal) {
            EXPECT_TRUE(Journaled(c.journal)) << ::testing::PrintToString(host_->Journal());
        } else {
            EXPECT_FALSE(Journaled("event IfStateChanged"));
        }
    }
    EXPECT_THAT(Show(), Not(HasSubstr("<rssi>")));
    Report(
        "stats wimax0",
        "FW=1.2\\nRSSI=-61\\nCINR=20\\nTXPOW=3\\nFREQ=2600000\\nBSSID=00:11:22:33:44:55\\nSTATE=NORMAL\\n");
    Report("stats wimax1", "RSSI=-99\\nSTATE=OTHER\\n");  // another modem's
    std::string show = Show();
    EXPECT_THAT(
        show,
        HasSubstr("<ssid>@wimax.example.net</ssid>\n  <fw>1.2</fw>\n  <rssi>-61</rssi>\n  <cinr>20</cinr>\n"
                  "  <txpow>3</txpow>\n  <freq>2600000</freq>\n  <bssid>00:11:22:33:44:55</bssid>\n"
                  "  <wimax_state>NORMAL</wimax_state>\n  <uptime>"))
        << show;
    Report("if-release wimax0");
    EXPECT_THAT(Show(), Not(HasSubstr("<rssi>")));
}

class WimaxStartTest : public PluginCoreTest {};

TEST_F(WimaxStartTest, RefusedAutoStartLeavesNoCreator)
{
    host_->InjectFailure("dhcp.autostart");
    EXPECT_TRUE(Failed(Load(WIMAX_PLUGIN))) << load_output_;
    Run(kModem);
    EXPECT_FALSE(Journaled("interface WiMax0"));
    EXPECT_EQ(if_nametoindex("wimax0"), 0u);
}

}  // namespace
