// A core of the test's own with one plug-in loaded, as the management core
// loads it.
#ifndef PLUGINS_TEST_FIXTURE_H
#define PLUGINS_TEST_FIXTURE_H

#include "core_fixture.h"

class PluginCoreTest : public CoreTest {
protected:
    ReturnT Load(const char *library)
    {
        std::ostringstream out;
        ReturnT r = host_->LoadPlugin(library, out);
        load_output_ = out.str();
        return r;
    }
    size_t Count(const std::string &prefix) { return host_->JournalMatching(prefix).size(); }
    bool Exists(const std::string &path) { return std::filesystem::exists(dir_ + path); }
    std::string load_output_;
};

#endif
