// A database with one client connected: its session, user and tree, and
// UTF-16 texts for the tests of the server's tables.
#pragma once
#include "csdb.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "csshares.h"
#include "cmstring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace server_test {

// Zero-terminated UTF-16 of 8-bit text, unit for unit.
inline std::vector<CMWchar> W(const std::string &text)
{
    std::vector<CMWchar> out;
    for (unsigned char c : text)
        out.push_back(c);
    out.push_back(0);
    return out;
}

inline std::string A(const CMWchar *text)
{
    std::string out;
    for (; text && *text; ++text)
        out.push_back(char(*text));
    return out;
}

struct Client {
    CSSession *session = nullptr;
    CSUser *user = nullptr;
    CSTree *tree = nullptr;
};

// Connects a client on socket with a logged-on user name, and a tree on share.
inline Client connect(int *socket, uint32_t address, const std::string &name, void *share)
{
    static uint32_t addresses[64];
    static size_t next;
    uint32_t *slot = &addresses[next++ % 64];
    *slot = address;
    csDispatchSetSocket(socket);
    csDispatchSetSocketIp(slot);
    Client c;
    c.session = csGetNewSession();
    if (!c.session)
        return c;
    c.session->dialect = CS_DIALECT_SMB311;
    c.user = csGetNewUser(c.session);
    if (!c.user)
        return c;
    std::vector<CMWchar> w = W(name);
    cmWStrcpy(c.user->name, w.data());
    c.user->loggedOn = c.user->authenticated = 1;
    c.tree = csGetNewTree(c.user);
    if (c.tree)
        c.tree->share = share;
    return c;
}

// Opens path for the client's tree: a name shared with other handles, and a file.
inline CSFile *open(const Client &c, const std::string &path)
{
    std::vector<CMWchar> w = W(path);
    CSName *name = csGetNameByName(w.data());
    if (!name)
        name = csGetNewName(w.data(), c.user->uid);
    return name ? csGetNewFile(c.tree, name, 0) : nullptr;
}

}  // namespace server_test
