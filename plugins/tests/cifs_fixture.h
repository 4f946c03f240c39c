// The CIFS plug-in loaded into a core of the stand-in, with a fake vxcsctrl
// that records each run's words, and daemons that are small scripts writing
// their pid files (so the core sees them come up as it would the real ones;
// the pid files are the fixed ones, hence a namespace for those tests).
#ifndef CIFS_TEST_FIXTURE_H
#define CIFS_TEST_FIXTURE_H

#include "core_fixture.h"

#include "Cifs/ServerVX.h"

#include <sys/stat.h>

#include <cstdlib>

namespace cifs_test {

inline std::string Lines(const StringVector &v)
{
    std::string s;
    for (const auto &l : v)
        s += l + "\n";
    return s;
}

inline void WriteScript(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
    chmod(path.c_str(), 0755);
}

class CifsTest : public CoreTest {
protected:
    void SetUp() override
    {
        CoreTest::SetUp();
        bin_ = dir_ + "/bin";
        std::filesystem::create_directories(bin_);
        std::filesystem::create_directories(dir_ + "/media/usb0");
        // The tool records each run's words as [w1][w2]... and exits with the
        // status written in its status file, saying why when it refuses.
        WriteScript(bin_ + "/vxcsctrl",
                    "#!/bin/sh\n"
                    "for a in \"$@\"; do printf '[%s]' \"$a\"; done >> \"$CIFS_TEST_DIR/runs\"\n"
                    "echo >> \"$CIFS_TEST_DIR/runs\"\n"
                    "st=$(cat \"$CIFS_TEST_DIR/status\" 2>/dev/null || echo 0)\n"
                    "[ \"$st\" = 0 ] || echo \"refused by the server\"\n"
                    "[ \"$st\" = hang ] && exec sleep 30\n"
                    "exit $st\n");
        for (const char *daemon : {"vxnd", "vxcs"})
            WriteScript(bin_ + "/" + daemon, std::string("#!/bin/sh\ntrap '' HUP\necho $$ > /var/run/") +
                                                 daemon + ".pid\nexec sleep 600\n");
        old_path_ = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", (bin_ + ":" + old_path_).c_str(), 1);
        setenv("CIFS_TEST_DIR", dir_.c_str(), 1);
    }
    void TearDown() override
    {
        CoreTest::TearDown();
        setenv("PATH", old_path_.c_str(), 1);
    }
    ReturnT Load()
    {
        std::ostringstream out;
        ReturnT r = host_->LoadPlugin(CIFS_PLUGIN, out);
        load_output_ = out.str();
        return r;
    }
    Cifs::Server *Server() { return dynamic_cast<Cifs::Server *>(Core::Core::Find_("Cifs::ServerVX")); }
    Printer::Controller *Printers()
    {
        return dynamic_cast<Printer::Controller *>(Core::Core::Find_("Cifs::ServerVX"));
    }
    std::string Runs() { return File(dir_ + "/runs"); }
    void ClearRuns() { std::filesystem::remove(dir_ + "/runs"); }
    void ToolStatus(const std::string &s) { std::ofstream(dir_ + "/status") << s; }
    // Enabled with a USB share: both daemons up and the replay made.
    void StartServing()
    {
        ASSERT_FALSE(Failed(Load())) << load_output_;
        Run("event fs add name=USB0 label=DISK usb=1 dir=" + dir_ + "/media/usb0");
        ASSERT_FALSE(Failed(Server()->Enable()));
        ASSERT_FALSE(Failed(Server()->AddShare("USB0", "USB0:/", false, "")));
        ASSERT_TRUE(host_->WaitJournal("status 0x00ce0001 Cifs::ServerVX: service started", 15000))
            << Lines(host_->Journal());
        ASSERT_TRUE(host_->Drain());
    }
    std::string bin_, old_path_, load_output_;
};

}  // namespace cifs_test

#endif
