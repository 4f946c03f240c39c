// ADSL PVCs: the commands, their SAR writes, the stored keys and start-up.
#include <algorithm>
#include <cstring>
#include <string>

#include "adsl_pvc.h"
#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "lifecycle_hooks.h"
#include "shell_fixture.h"
#include "vdsl.h"

namespace {

using shelltest::take;

class AdslPvc : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        std::memset(adsl_pvcs, 0, sizeof adsl_pvcs);
        adsl_default_pvc = 0;
        take();
    }
    // OIDs written, in order.
    std::vector<std::string> writes() const
    {
        std::vector<std::string> oids;
        for (const fakedev::Request &r : dev.requests)
            if (r.number == VDSL_SET_DATA_LOGIC)
                oids.push_back(reinterpret_cast<const char *>(r.block.data() + 1));
        return oids;
    }
    fakedev::Device &dev = fakedev::device();
};

TEST_F(AdslPvc, BasicWritesTheSarEntriesAndStoresTheKey)
{
    dev.values["2.1.151"] = "ffffff";
    dev.values["2.1.48"] = "000001";
    EXPECT_EQ(run("interface xdsl pvc basic 0 8 35 100 1 2 1 3 1000 500 60000 1"), 0);
    std::string out = take();
    for (const char *line :
         {"OID: 2.1.167 - CfgSarSegTransP0: 0x080023\n", "OID: 2.1.175 - CfgSarReamMapperP0: 0x080023\n",
          "OID: 2.1.159 - CfgSarSegMapperP0: 0xfff064\n", "OID: 2.1.40 - CfgM2QosFilter00: 0xfff064\n",
          "OID: 2.1.151 - CfgSarSegProcP0: 0xfe7fff\n", "OID: 2.1.183 - CfgSarReamProcP0: 0x004000\n",
          "OID: 2.1.359 - SV_MIB_CfgSarQosTypeP0: 0x3\n", "OID: 2.1.367 - SV_MIB_CfgSarQosPcrP0: 0x3e8\n",
          "OID: 2.1.375 - SV_MIB_CfgSarQosScrP0: 0x1f4\n", "OID: 2.1.48 - CfgM2Qosfr: 0x0001e1\n",
          "OID: 2.1.383 - SV_MIB_SarPvcSelect: 0x000001\n",
          "OID: 2.1.118 - SV_MIB_xdslTwConfig2: 0x000800\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << out;
    // Encapsulation 2 is kept as 1.
    EXPECT_NE(argv_log().find("\"-w\" \"ADSL_PVC0=8@35@100@1@1@1@3@1000@500@60000@1\""), std::string::npos);
    EXPECT_EQ(adsl_pvcs[0].encapsulation, 1);

    dev.requests.clear();
    EXPECT_EQ(run("interface xdsl pvc basic 0 8 35 100 1 1 1 3 1000 500 60000 1"), 0);
    EXPECT_EQ(
        take(),
        "pvc=0,vpi=8,vci=35,vlanid=100,priority=1,encapsulation=1,crc_option=1,atmqos=3,pcr=1000,"
        "scr=500,mbs=60000,activation=1\nADSL PVC0 Parameter is the Same with Config!!\nADSL PVC0 Applied!!\n");
    EXPECT_TRUE(writes().empty());

    // A new shell finds the record again.
    std::memset(adsl_pvcs, 0, sizeof adsl_pvcs);
    EXPECT_EQ(init_adsl_settings(), 0);
    EXPECT_EQ(adsl_pvcs[0].vci, 35);
    EXPECT_EQ(adsl_pvcs[0].mbs, 60000u);
    EXPECT_EQ(adsl_pvcs[0].activation, 1);
}

TEST_F(AdslPvc, DeactivatedPvcWritesOnlyTheSharedEntries)
{
    EXPECT_EQ(run("interface xdsl pvc basic 3 0 40 5 0 0 0 1 0 0 0 0"), 0);
    EXPECT_EQ(writes(), (std::vector<std::string>{"2.1.48", "2.1.383", "2.1.118"}));
    dev.requests.clear();
    dev.values["2.1.118"] = "000800";  // set once: not written again
    EXPECT_EQ(run("interface xdsl pvc basic 3 0 41 5 0 0 0 1 0 0 0 0"), 0);
    EXPECT_EQ(writes(), (std::vector<std::string>{"2.1.48", "2.1.383"}));
    take();
    EXPECT_EQ(run("interface xdsl pvc default 3"), 100);
    EXPECT_EQ(take(), "set default pvc=3\nPVC 3 not activated\n");
}

TEST_F(AdslPvc, FailedReadWritesNothingForThatEntry)
{
    dev.failures["2.1.152"] = 104;
    dev.failures["2.1.48"] = 104;
    EXPECT_EQ(run("interface xdsl pvc basic 1 0 40 5 0 1 1 1 0 0 0 1"), 0);
    std::vector<std::string> w = writes();
    EXPECT_EQ(std::count(w.begin(), w.end(), "2.1.152"), 0);
    EXPECT_EQ(std::count(w.begin(), w.end(), "2.1.48"), 0);
    EXPECT_EQ(std::count(w.begin(), w.end(), "2.1.184"), 1);  // the sequence went on
    EXPECT_NE(take().find("Error getting MIB value of 2.1.48: not written."), std::string::npos);
}

TEST_F(AdslPvc, CommandsRefuseBadValues)
{
    struct Case {
        const char *line;
        int rc;
        const char *last;
    } cases[] = {
        {"interface xdsl pvc basic 8 0 40 5 0 1 1 1 0 0 0 1", 100, "Allowed PVC number is 0 - 7\n"},
        {"interface xdsl pvc basic 0 0 31 5 0 1 1 1 0 0 0 1", 100, "Allowed VCI value is 32 - 65535\n"},
        {"interface xdsl pvc basic 0 0 40 5 0 1 1 0 0 0 0 1", 100, "Allowed ATM QoS value is 1 - 3\n"},
        {"interface xdsl pvc basic -1 0 40 5 0 1 1 1 0 0 0 1", 100, "Allowed PVC number is 0 - 7\n"},
        {"interface xdsl pvc basic 0 0 40 5 0 1 1 1 0 0 0 2", 100, "Allowed Activation value is 0 - 1\n"},
        {"interface xdsl pvc vlanop 0 0 0 1 0", 100, "Allowed VLAN tx ID is 1 - 4094\n"},
        {"interface xdsl pvc vlanop 9 1 0 1 0", 100, "Allowed PVC number is 0 - 7\n"},
        {"interface xdsl pvc activation 0 2", 100, "Allowed Activation value is 0 - 1\n"},
        {"interface xdsl pvc activation 1", -111, "  activation: 0: Deactivate, 1: Activate\n"},
        {"interface xdsl pvc default", -111, "  pvc: 0 - 7\n"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(run(c.line), c.rc) << c.line;
        std::string out = take();
        EXPECT_EQ(out.substr(out.size() - std::min(out.size(), std::strlen(c.last))), c.last)
            << c.line << out;
    }
    EXPECT_TRUE(writes().empty());
}

TEST_F(AdslPvc, StartUpLoadsWhatIsSoundAndStopsAtAMissingField)
{
    store("ADSL_PVC0", "1@40@10@0@1@0@1@0@0@0@1");
    store("ADSL_PVC1", "1@41@10@0@1@0@1@0@0@0@0");
    store("ADSL_PVC2", "1@20@10@0@1@0@1@0@0@0@1");
    store("ADSL_PVC3", "3@43@10@0@1@0@1@0@0@0@1");
    store("ADSL_PVC4", "");
    store("ADSL_PVC5", "5@45@10@0@1@0@1@0@0@0@1");
    store("ADSL_PVC0_VLAN_OP", "7@1@8@2");
    store("ADSL_DEFAULT_PVC", "9");
    cli_print_mask = CLI_MASK_CLEAN | CLI_LEVEL_ORDINARY;
    EXPECT_EQ(init_adsl_settings(), 0);
    std::string out = take();
    EXPECT_NE(out.find("Allowed VCI value is 32 - 65535\nset PVC 2 minimun and deactivate it\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(adsl_pvcs[2].vci, 32);
    EXPECT_EQ(adsl_pvcs[2].activation, 0);
    EXPECT_EQ(adsl_pvcs[3].vci, 43);
    EXPECT_EQ(adsl_pvcs[5].vci, 0);  // loading stopped at PVC 4
    EXPECT_EQ(adsl_pvcs[0].tx_vlan_id, 7);
    EXPECT_EQ(adsl_pvcs[0].rx_vlan_op, 2);
    EXPECT_EQ(adsl_default_pvc, 0);  // 9 would index past the table
    EXPECT_NE(out.find("Stored default PVC 9 refused (0 - 7): PVC 0 is the default."), std::string::npos);
    EXPECT_TRUE(writes().empty());  // nothing reaches the chip at start-up

    take();
    EXPECT_EQ(run("show pvc"), 0);
    out = take();
    EXPECT_NE(
        out.find("PVC0     1      40     10          0      LLC Bridge 1Q           CBR      0      0       0"
                 "          Yes \n"),
        std::string::npos)
        << out;
    EXPECT_NE(
        out.find("PVC6     0       0      0          0            by pass   Unknown( 0)      0      0       0"
                 "           No \n"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("Default PVC: 0\n"), std::string::npos);
}

TEST_F(AdslPvc, ReapplyWritesEveryActivatedPvc)
{
    store("ADSL_PVC0", "1@40@10@0@1@0@1@0@0@0@1");
    store("ADSL_PVC1", "2@41@10@0@1@0@1@0@0@0@0");
    store("ADSL_PVC2", "3@42@10@0@1@0@1@0@0@0@1");
    init_adsl_settings();
    dev.requests.clear();
    EXPECT_EQ(adsl_reapply_settings(0), 0);
    EXPECT_EQ(dev.values["2.1.167"], "010028");
    EXPECT_EQ(dev.values.count("2.1.168"), 0u);
    EXPECT_EQ(dev.values["2.1.169"], "03002a");
    EXPECT_EQ(dev.values["2.1.383"], "000005");
    EXPECT_EQ(dev.values["2.1.118"], "000800");
    std::vector<std::string> w = writes();
    EXPECT_EQ(w.front(), "2.1.49");
    EXPECT_EQ(w.back(), "2.1.118");
}

}  // namespace
