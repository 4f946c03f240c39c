// A client with a tree on a share whose folder is a temporary directory,
// for the tests of the file machinery. The share rights, change
// notifications, pipes and print jobs are recorded by the test in place of
// the server's neighbours (include this header in one source per test).
#pragma once
#include "server_fixture.h"
#include "cscreate.h"
#include "cspaths.h"
#include "csservices.h"
#include "syfiles.h"

#include "fw_test/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace files_test {

struct Neighbours {
    bool canRead = true, canWrite = true;
    bool pipesOpen = true;
    std::vector<std::string> calls;
};

inline Neighbours gNeighbours;

}  // namespace files_test

extern "C" uint32_t csCanReadShare(uint16_t tid)
{
    if (!csGetTreeByTid(tid))
        return csErrorReturn(0xC0000001u, 0x00050002u);
    files_test::gNeighbours.calls.push_back("read right");
    return files_test::gNeighbours.canRead ? 0 : csErrorReturn(0xC0000005u, 0x000C0001u);
}
extern "C" uint32_t csCanWriteShare(uint16_t tid)
{
    if (!csGetTreeByTid(tid))
        return csErrorReturn(0xC0000001u, 0x00050002u);
    files_test::gNeighbours.calls.push_back("write right");
    return files_test::gNeighbours.canWrite ? 0 : csErrorReturn(0xC0000005u, 0x000C0001u);
}
extern "C" void csNotifyImmediatelly(const CMWchar *path, uint32_t action, uint32_t filter)
{
    files_test::gNeighbours.calls.push_back("notify " + server_test::A(path) + " " + std::to_string(action) +
                                            " " + std::to_string(filter));
}
extern "C" int csDcerpcOpenPipe(const CMWchar *name, CSFile *file)
{
    files_test::gNeighbours.calls.push_back("pipe " + server_test::A(name));
    if (!files_test::gNeighbours.pipesOpen)
        return 0;
    file->pipe = 1;
    return 1;
}
extern "C" uint32_t syStartPrintJob(uint32_t printer, const CMWchar *document, const CMWchar *, uint32_t,
                                    const uint8_t *, uint32_t sdLength, CSUser *)
{
    files_test::gNeighbours.calls.push_back("print " + std::to_string(printer) + " " +
                                            server_test::A(document) + " sd " + std::to_string(sdLength));
    return 77;
}

namespace files_test {

using server_test::A;
using server_test::W;

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gNeighbours = Neighbours{};
        ASSERT_EQ(syInit(), 1);
        ASSERT_EQ(csInitDatabase(nullptr, nullptr), 0);
        ASSERT_EQ(csFnamesInit(), 0);
        setShare(share, root.path());
        alice = server_test::connect(&socket, 0x0201A8C0, "alice", &share);
        ASSERT_NE(alice.tree, nullptr);
        // A second user of the same connection with its own tree.
        bob.session = alice.session;
        bob.user = csGetNewUser(alice.session);
        ASSERT_NE(bob.user, nullptr);
        bob.user->loggedOn = 1;
        bob.tree = csGetNewTree(bob.user);
        ASSERT_NE(bob.tree, nullptr);
        bob.tree->share = &share;
        csDispatchSetNtError(1);
    }
    void TearDown() override
    {
        csFnamesExit();
        csCloseDatabase();
        csDispatchSetSocket(nullptr);
        syStop();
    }
    static void setShare(CSShare &s, const std::string &path)
    {
        s = CSShare{};
        std::vector<CMWchar> w = W(path);
        cmWStrcpy(s.path, w.data());
        s.debugLevel = -1;
    }
    std::string write(const std::string &name, const std::string &content = "data")
    {
        std::string path = root.file(name);
        std::ofstream(path) << content;
        return path;
    }
    static std::string read(const std::string &path)
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static bool exists(const std::string &path)
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    }
    static void makeReadOnly(const std::string &path) { ::chmod(path.c_str(), 0444); }

    int socket = 0;
    fw_test::TempDir root{"csfiles"};
    CSShare share{};
    server_test::Client alice, bob;
};

}  // namespace files_test
