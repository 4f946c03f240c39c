// A logged-on SMB2 client with a tree on a share of its own, and files
// opened straight in the database: the file commands through the
// dispatcher without CREATE.
#pragma once
#include "smb2_fixture.h"

#include "csfiles.h"

#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace smb2_test {

inline void put_fid(Bytes &b, uint16_t fid)
{
    put_le16(b, fid);
    b.resize(b.size() + 14, 0);
}

class Smb2FileTest : public Smb2Test {
protected:
    void SetUp() override
    {
        Smb2Test::SetUp();
        if (IsSkipped())
            return;
        ASSERT_NO_FATAL_FAILURE(logonWithDocs(CS_DIALECT_SMB311, share, tree));
        ASSERT_EQ(csFnamesInit(), 0);
        fnames = true;
    }
    void TearDown() override
    {
        if (fnames)
            csFnamesExit();
        Smb2Test::TearDown();
    }
    std::string root() const { return dirs.back()->path(); }
    std::string hostPath(const std::string &name) const { return root() + "/" + name; }
    void writeFile(const std::string &name, const Bytes &content)
    {
        std::ofstream(hostPath(name), std::ios::binary)
            .write(reinterpret_cast<const char *>(content.data()), std::streamsize(content.size()));
    }
    Bytes readFile(const std::string &name)
    {
        std::ifstream in(hostPath(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    off_t sizeOf(const std::string &name)
    {
        struct stat st {};
        return stat(hostPath(name).c_str(), &st) == 0 ? st.st_size : -1;
    }
    // An open of the share's name as CREATE leaves it: 0 when it fails.
    uint16_t open(const std::string &name, bool directory = false, int flags = O_RDWR)
    {
        const std::string path = name.empty() ? root() : hostPath(name);
        CSName *n = csGetNewName(testenv::W(path).data(), user->uid);
        if (!n)
            return 0;
        CSFile *f = csGetNewFile(tree, n, 0x1FF);
        if (!f)
            return 0;
        f->isDirectory = directory;
        f->sid = CS_FREE_ID;
        f->fd = directory ? -1 : ::open(path.c_str(), flags);
        return f->fid;
    }
    Element request(uint16_t command, Bytes body, uint64_t mid)
    {
        Element e;
        e.command = command;
        e.mid = mid;
        e.sid = sid(user);
        e.tid = tree->tid;
        e.body = std::move(body);
        return e;
    }
    CSShare *share = nullptr;
    CSTree *tree = nullptr;
    bool fnames = false;
};

}  // namespace smb2_test
