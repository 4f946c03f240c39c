// Loading a plug-in by its export, rolling back a failed Initialize, and
// its commands through the script host.
#include "core_fixture.h"

namespace {

class PluginTest : public CoreTest {
protected:
    ReturnT Load()
    {
        std::ostringstream out;
        ReturnT r = host_->LoadPlugin(ZMOCORE_TOY, out);
        load_output_ = out.str();
        return r;
    }
    std::string load_output_;
};

TEST_F(PluginTest, LoadsByExportNameAndUnloadsEverything)
{
    ASSERT_FALSE(Failed(Load())) << load_output_;
    EXPECT_THAT(load_output_, HasSubstr("plugin libzmoToy: [0x0fff0007]"));
    EXPECT_NE(Core::Core::Find_("Toy::Component"), nullptr);
    EXPECT_TRUE(Journaled("command register toy value"));
    EXPECT_TRUE(Journaled("port reserve Toy::Component tcp 8080"));
    host_->UnloadAll();
    EXPECT_EQ(Core::Core::Find_("Toy::Component"), nullptr);
    EXPECT_TRUE(Journaled("port clear Toy::Component"));
    EXPECT_TRUE(Journaled("event unsubscribe Toy::Component"));
    EXPECT_TRUE(Journaled("command unregister toy value"));
    EXPECT_THAT(Run("netfilter filter"), Not(HasSubstr("_ZMO_TOY")));
}

TEST_F(PluginTest, NoEntryIsRefused)
{
    std::ostringstream out;
    EXPECT_TRUE(Failed(host_->LoadPlugin(ZMOCORE_CHILD, out)));  // not a library at all
}

// Each step of Initialize failing in turn, half-way where a step repeats,
// leaves no subscription, port, chain, key or command behind.
TEST_F(PluginTest, InitializeFailingHalfWayLeavesNothing)
{
    struct Step {
        const char *op;
        int after;  // calls that pass first
    } steps[] = {{"netfilter.commit", 0},
                 {"port.reserve", 1},
                 {"event.subscribe", 1},
                 {"dashboard.register", 0},
                 {"command.register", 2}};
    for (const Step &step : steps) {
        SCOPED_TRACE(step.op);
        host_->ClearJournal();
        host_->InjectFailure(step.op, 1, step.after);
        ReturnT r = Load();
        EXPECT_TRUE(Failed(r)) << load_output_;
        EXPECT_EQ(Core::Core::Find_("Toy::Component"), nullptr);
        std::string nf = Run("netfilter filter");
        EXPECT_THAT(nf, Not(HasSubstr("_ZMO_TOY"))) << nf;
        EXPECT_EQ(Run("ports"), "");
        EXPECT_EQ(Run("dashboard"), "");
        std::ostringstream out;
        EXPECT_FALSE(host_->RunLine("toy value x", out));
        if (Journaled("event subscribe Toy::Component")) {
            EXPECT_TRUE(Journaled("event unsubscribe Toy::Component"));
        }
        if (Journaled("command register toy")) {
            EXPECT_TRUE(Journaled("command unregister toy"));
        }
        // Nobody handles an event any more (a handler left behind would run on a freed object).
        Run("event fs add name=USB9 dir=/tmp");
        EXPECT_FALSE(Journaled("log 0 Toy::Component"));
    }
    // And then it loads cleanly.
    ASSERT_FALSE(Failed(Load())) << load_output_;
}

// Every allocation of Initialize failing in turn: it fails cleanly or,
// once there are no more to fail, loads.
TEST_F(PluginTest, EveryAllocationOfInitializeFailingInTurn)
{
    for (int after = 0;; ++after) {
        SCOPED_TRACE(after);
        host_->InjectFailure("alloc", 1, after);
        ReturnT r = Load();
        if (host_->FailurePending("alloc")) {  // fewer allocations than that: it loaded
            ASSERT_FALSE(Failed(r)) << load_output_;
            break;
        }
        EXPECT_TRUE(Failed(r)) << load_output_;
        EXPECT_EQ(Core::Core::Find_("Toy::Component"), nullptr);
        EXPECT_EQ(Run("ports"), "");
        EXPECT_THAT(Run("netfilter filter"), Not(HasSubstr("_ZMO_TOY")));
        ASSERT_LT(after, 100);
    }
}

// Another owner's port is refused, and nothing of the plug-in stays.
TEST_F(PluginTest, PortOfAnotherOwnerStopsTheStart)
{
    auto *ports = static_cast<Network::PortAllocator *>(Core::Core::Find_(Network::PortAllocator::IDENT));
    ASSERT_FALSE(Failed(ports->Reserve("Other", Network::PortAllocator::UDP, 8081, 0)));
    EXPECT_TRUE(Failed(Load()));
    EXPECT_THAT(load_output_, HasSubstr("port 8081 is taken")) << load_output_;
    EXPECT_EQ(Run("ports"), "udp 8081 Other\n");
}

TEST_F(PluginTest, SettingNoFormAndConfiguration)
{
    ASSERT_FALSE(Failed(Load()));
    EXPECT_EQ(Run("show running-config"), "");
    std::string out = Run("toy\nvalue \"two words; and more\"\nexit\nshow running-config");
    EXPECT_THAT(out, HasSubstr("[0x00770010] value set to \"two words; and more\"")) << out;
    EXPECT_THAT(out, HasSubstr("toy\n    value \"two words; and more\"\n")) << out;
    out = Run("no toy value\nshow running-config");
    EXPECT_THAT(out, Not(HasSubstr("    value"))) << out;
    // A failure names the argument it blames.
    std::ostringstream o;
    EXPECT_TRUE(host_->RunLine("toy value bad", o));
    EXPECT_THAT(o.str(), HasSubstr("[0x80770010] value \"bad\" refused (argument \"value\")")) << o.str();
}

TEST_F(PluginTest, BadArgumentsAreRefusedBeforeTheCommandRuns)
{
    ASSERT_FALSE(Failed(Load()));
    struct Case {
        const char *line;
        const char *why;
    } cases[] = {
        {"toy value", "missing value"},
        {"toy value a b", "unexpected \"b\""},
        {"toy count x", "is not a number"},
        {"toy count 1001", "out of range"},
        {"toy value \"open", "unbalanced quotes"},
        {"nonsense", "unknown command"},
    };
    for (const Case &c : cases) {
        std::ostringstream o;
        EXPECT_FALSE(host_->RunLine(c.line, o)) << c.line;
        EXPECT_THAT(o.str(), HasSubstr(c.why)) << c.line << ": " << o.str();
    }
    EXPECT_FALSE(Journaled("status 0x00770010"));
}

TEST_F(PluginTest, ProgressCommandContinuedThenInterrupted)
{
    ASSERT_FALSE(Failed(Load()));
    std::string out = Run("toy count 10\ncontinue 3\ninterrupt");
    EXPECT_THAT(out, HasSubstr("[0x00770020] counting to 10")) << out;
    EXPECT_THAT(out, HasSubstr("<step>3</step>")) << out;
    EXPECT_THAT(out, Not(HasSubstr("<step>4</step>"))) << out;
    EXPECT_THAT(out, HasSubstr("interrupted [0x40770022] counting interrupted at 3")) << out;
    EXPECT_TRUE(Journaled("event Progress toy 30%"));
    // Without an interrupt the next line waits for the end.
    out = Run("toy count 2\nshow toy");
    EXPECT_LT(out.find("finished [0x00770021] counted to 2"), out.find("<fs-events>")) << out;
}

// The script's clock line moves the one clock that the task queue watches.
TEST_F(PluginTest, DeferredApplyJoinsUnderTheScriptClock)
{
    Make(true);
    ASSERT_FALSE(Failed(Load()));
    Run("toy apply\nclock +1000ms\ntoy apply\nclock +499ms");
    EXPECT_FALSE(Journaled("log 0 Toy::Component: applied"));
    Run("clock +1ms");
    EXPECT_TRUE(Journaled("log 0 Toy::Component: applied 2 request(s)"));
    EXPECT_EQ(host_->JournalMatching("task apply run").size(), 1u);
    std::ostringstream out;
    EXPECT_TRUE(host_->RunLine("clock +5000ms", out));
    EXPECT_EQ(host_->JournalMatching("task apply run").size(), 1u);
}

TEST_F(PluginTest, ScriptFileThroughTheProgram)
{
    const std::string script = dir_ + "/s.txt";
    std::ofstream(script) << "toy value v1\nevent fs add name=USB0 label=DISK usb=1 dir=" << dir_
                          << "\nshow toy\nshow running-config\ntoy count 9\ncontinue 2\ninterrupt\n"
                          << "no toy value\nshow running-config\n";
    const std::string cmd = std::string(ZMOCORE_BIN) + " --root " + dir_ + " --plugin " + ZMOCORE_TOY +
                            " --script " + script + " > " + dir_ + "/out.txt 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << File(dir_ + "/out.txt");
    std::string out = File(dir_ + "/out.txt");
    EXPECT_THAT(out, HasSubstr("plugin libzmoToy: [0x0fff0007]")) << out;
    EXPECT_THAT(out, HasSubstr("<fs-events>1</fs-events>")) << out;
    EXPECT_THAT(out, HasSubstr("toy\n    value v1")) << out;
    EXPECT_THAT(out, HasSubstr("> interrupt\ninterrupted [0x40770022] counting interrupted at 2")) << out;
    EXPECT_THAT(out, HasSubstr("> no toy value\n[0x00770010] value set to \"\"\n> show running-config\n"))
        << out;
}

}  // namespace
