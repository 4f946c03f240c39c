// A client with a tree on a share whose folder is a temporary directory,
// for the tests of the file machinery. The share rights, change
// notifications, pipes and print jobs are recorded by the test in place of
// the server's neighbours (include this header in one source per test).
#pragma once
#include "server_fixture.h"
#include "cscommands.h"
#include "cscreate.h"
#include "cspaths.h"
#include "csservices.h"
#include "syfiles.h"

#include "fw_test/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
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
extern "C" uint32_t syGetPrinterHandle(const CMWchar *, const CMWchar *, int16_t)
{
    files_test::gNeighbours.calls.push_back("printer");
    return 0;
}
extern "C" uint32_t syStartPrintJob(uint32_t printer, const CMWchar *document, const CMWchar *, uint32_t,
                                    const uint8_t *, uint32_t sdLength, CSUser *)
{
    files_test::gNeighbours.calls.push_back("print " + std::to_string(printer) + " " +
                                            server_test::A(document) + " sd " + std::to_string(sdLength));
    return 77;
}

namespace files_test {

inline uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t *p) { return uint32_t(le16(p)) | uint32_t(le16(p + 2)) << 16; }

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

    // An SMB1 request that is not chained: header, words, and a byte block
    // of names (each behind a buffer format 4), ASCII or Unicode.
    struct Request {
        std::vector<uint16_t> words;
        std::vector<std::string> names;
        bool unicode = false;
        std::vector<uint8_t> raw;  // bytes before the names
    };
    // Serves it as the dispatcher does: answer holds the block written.
    uint32_t serve(CSCommandHandler handler, const Request &r)
    {
        message.assign(32, 0);
        const uint8_t protocol[4] = {0xFF, 'S', 'M', 'B'};
        std::memcpy(message.data(), protocol, 4);
        uint16_t flags2 = r.unicode ? 0x8000 : 0;
        auto put16 = [&](size_t at, uint16_t v) {
            message[at] = uint8_t(v);
            message[at + 1] = uint8_t(v >> 8);
        };
        put16(10, flags2);
        put16(24, alice.tree->tid);
        put16(28, alice.user->uid);
        message.push_back(uint8_t(r.words.size()));
        for (uint16_t w : r.words) {
            message.push_back(uint8_t(w));
            message.push_back(uint8_t(w >> 8));
        }
        size_t countAt = message.size();
        message.resize(message.size() + 2);
        std::vector<uint8_t> bytes = r.raw;
        for (const std::string &name : r.names) {
            bytes.push_back(4);
            if (r.unicode) {
                if ((countAt + 2 + bytes.size()) & 1)
                    bytes.push_back(0);
                for (char c : name) {
                    bytes.push_back(uint8_t(c));
                    bytes.push_back(0);
                }
                bytes.push_back(0);
                bytes.push_back(0);
            } else {
                bytes.insert(bytes.end(), name.begin(), name.end());
                bytes.push_back(0);
            }
        }
        put16(countAt, uint16_t(bytes.size()));
        message.insert(message.end(), bytes.begin(), bytes.end());
        response.assign(65700, 0xAA);
        std::memcpy(response.data(), message.data(), 32);
        uint8_t *position = response.data() + 32;
        uint32_t status = handler(message.data() + 32, response.data(), &position);
        answer.assign(response.data() + 32, position);
        return status;
    }
    // Alice's tree on IPC$, whose path is empty.
    void onIpc()
    {
        setShare(ipc, "");
        ipc.isIpc = 1;
        alice.tree->share = &ipc;
    }
    // The statuses of calls made in a child whose "/" is jail (root may
    // chroot): a name that reaches the disk's root reaches the jail, never
    // the machine's. Empty when the child could not enter it.
    std::vector<uint32_t> inJail(const std::string &jail, const std::function<std::vector<uint32_t>()> &calls)
    {
        // The name conversions load what they need before "/" moves.
        SYDirectory d = nullptr;
        const CMWchar *entry = nullptr;
        syFirstDirectoryFile(W(root.path()).data(), &d, &entry);
        if (d)
            syCloseDirectory(d);
        int fds[2];
        if (::pipe(fds) != 0)
            return {};
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(fds[0]);
            if (::chroot(jail.c_str()) != 0 || ::chdir("/") != 0)
                ::_exit(1);
            for (uint32_t status : calls())
                if (::write(fds[1], &status, sizeof status) != sizeof status)
                    ::_exit(1);
            ::_exit(0);
        }
        ::close(fds[1]);
        std::vector<uint32_t> statuses;
        uint32_t status;
        while (child > 0 && ::read(fds[0], &status, sizeof status) == sizeof status)
            statuses.push_back(status);
        ::close(fds[0]);
        int exit = -1;
        if (child > 0)
            ::waitpid(child, &exit, 0);
        return exit == 0 ? statuses : std::vector<uint32_t>();
    }
    // A handle of alice's on name.
    uint16_t fidOf(const std::string &name, uint16_t mode = 0x42)
    {
        keep.push_back(W(root.file(name)));
        CSFile *file = nullptr;
        EXPECT_EQ(csOpenFile(keep.back().data(), alice.tree->tid, mode, nullptr, &file), 0u);
        return file ? file->fid : 0;
    }

    std::vector<uint8_t> message, response, answer;
    std::vector<std::vector<CMWchar>> keep;
    int socket = 0;
    fw_test::TempDir root{"csfiles"};
    CSShare share{}, ipc{};
    server_test::Client alice, bob;
};

}  // namespace files_test
