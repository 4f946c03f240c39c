// A test host for the control channel (not shipped): it stands in for the
// server loop. It starts the stack's parts as the server does, serves
// 127.0.0.1:4445 with doControl, exits 0 on a stop and rebuilds the database
// on a restart. Clients, their users and open files can be seeded:
//   vxctlhost [--client NAME,ADDRESS,DIALECT[,guest|anonymous]]... [--open CLIENT,PATH[,dir]]...
// One line on standard output for each command served: the switches' state.
#include "cminit.h"
#include "csauth.h"
#include "csctrl.h"
#include "csdb.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "csserver.h"
#include "csshares.h"
#include "cmipaddr.h"
#include "cmstring.h"
#include "syfiles.h"
#include "sysockets.h"
#include "udhooks.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Seed {
    std::string name;
    uint32_t address = 0;
    uint32_t dialect = CS_DIALECT_SMB311;
    bool guest = false, anonymous = false;
};
struct OpenSeed {
    size_t client;
    std::string path;
    bool directory;
};

std::vector<Seed> gSeeds;
std::vector<OpenSeed> gOpens;
// One connection slot per seeded client; null once it is closed.
std::vector<int *> gSlots;
uint16_t gEncryptionMethods = CS_AUTH_ALL;

std::vector<std::string> split(const std::string &text)
{
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        out.push_back(part);
    return out;
}

std::vector<CMWchar> wide(const std::string &text)
{
    std::vector<CMWchar> out(text.size() * 2 + 2, 0);
    syUTF8ToUnicodeN(out.data(), text.c_str(), uint32_t(out.size() * sizeof(CMWchar)));
    return out;
}

int gSlotStorage[64];

void closeConnection(CSSocketSlot socket)
{
    for (size_t i = 0; i < gSlots.size(); ++i)
        if (gSlots[i] && gSlots[i] == socket) {
            std::printf("closed %s\n", gSeeds[i].name.c_str());
            gSlots[i] = nullptr;
        }
}

void dropAllClients()
{
    for (int *&slot : gSlots) {
        if (!slot)
            continue;
        csReleaseSessions(slot, 0);
        slot = nullptr;
    }
    std::printf("dropped every client\n");
}

void seed()
{
    gSlots.clear();
    CSShare *share = csGetShareByIndex(1) ? csGetShareByIndex(1) : csGetShareByIndex(0);
    std::vector<CSTree *> trees;
    static uint32_t addresses[64];
    for (size_t i = 0; i < gSeeds.size() && i < 64; ++i) {
        const Seed &s = gSeeds[i];
        gSlots.push_back(&gSlotStorage[i]);
        addresses[i] = s.address;
        csDispatchSetSocket(&gSlotStorage[i]);
        csDispatchSetSocketIp(&addresses[i]);
        CSSession *session = csGetNewSession();
        CSUser *user = session ? csGetNewUser(session) : nullptr;
        if (!user) {
            trees.push_back(nullptr);
            continue;
        }
        session->dialect = s.dialect;
        std::vector<CMWchar> name = wide(s.name);
        cmWStrncpy(user->name, name.data(), CS_USER_NAME_UNITS - 1);
        user->guest = s.guest;
        user->anonymous = s.anonymous;
        user->loggedOn = user->authenticated = 1;
        CSTree *tree = csGetNewTree(user);
        if (tree)
            tree->share = share;
        trees.push_back(tree);
    }
    for (const OpenSeed &o : gOpens) {
        if (o.client >= trees.size() || !trees[o.client])
            continue;
        std::vector<CMWchar> path = wide(o.path);
        CSName *name = csGetNameByName(path.data());
        if (!name)
            name = csGetNewName(path.data(), trees[o.client]->uid);
        if (CSFile *f = name ? csGetNewFile(trees[o.client], name, 0) : nullptr)
            f->isDirectory = o.directory;
    }
    csDispatchSetSocket(nullptr);
}

// Share writes are refused while the hooks' share walk runs: show that they are not.
void probeShareWrites()
{
    std::vector<CMWchar> name = wide("__probe__"), path = wide("/tmp"), none = wide("");
    bool written = udSaveShareInformation(nullptr, name.data(), path.data(), none.data()) == 1 &&
                   udRemoveShare(name.data()) == 1;
    std::printf("share writes %s\n", written ? "work" : "refused");
}

bool startDatabase()
{
    if (csInitDatabase(nullptr, nullptr) != 0 || csFnamesInit() != 0)
        return false;
    csDatabaseSetCloseHook(closeConnection);
    seed();
    probeShareWrites();
    return true;
}

void stopDatabase()
{
    dropAllClients();
    csDatabaseSetCloseHook(nullptr);
    csFnamesExit();
    csCloseDatabase();
}

void state()
{
    std::printf("state signing=%u/%u permissive=%d methods=0x%x clients=%u users=%u files=%u shares=%u\n",
                csIsMessageSigningEnabled(), csIsMessageSigningRequired(), csAuthIsPermissive(),
                gEncryptionMethods, csGetSessionsCount(), csGetUsersCount(), csGetFilesCount(),
                csGetSharesCount());
    std::fflush(stdout);
}

}  // namespace

// Sees the accepted logon forms on their way to the library.
extern "C" int csChangeEncryptionLevel(uint16_t mask)
{
    gEncryptionMethods = mask;
    auto next = reinterpret_cast<int (*)(uint16_t)>(dlsym(RTLD_NEXT, "csChangeEncryptionLevel"));
    return next ? next(mask) : 1;
}

int main(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        std::vector<std::string> f = split(argv[i + 1]);
        if (option == "--client" && f.size() >= 3) {
            Seed s;
            s.name = f[0];
            cmAsciiToIp(f[1].c_str(), &s.address);
            s.dialect = uint32_t(std::stoul(f[2]));
            s.guest = f.size() > 3 && f[3] == "guest";
            s.anonymous = f.size() > 3 && f[3] == "anonymous";
            gSeeds.push_back(s);
        } else if (option == "--open" && f.size() >= 2) {
            gOpens.push_back({size_t(std::stoul(f[0])), f[1], f.size() > 2 && f[2] == "dir"});
        } else {
            std::fprintf(stderr,
                         "usage: %s [--client NAME,ADDRESS,DIALECT[,guest|anonymous]]... "
                         "[--open CLIENT,PATH[,dir]]...\n",
                         argv[0]);
            return 2;
        }
    }
    if (udInit() != 0 || syInit() != 1 || cmInit(2) != 0 || csAuthInit() != 1 || !csServerContextCreate()) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    csServerSetLoopHooks(nullptr, dropAllClients);
    if (!startDatabase()) {
        std::fprintf(stderr, "no database\n");
        return 1;
    }
    int control = syCreateSocket(0, 0);
    uint32_t loopback = htonl(INADDR_LOOPBACK);
    if (control < 0 || syBindSocket(control, &loopback, htons(CS_CTRL_PORT)) != 0) {
        std::fprintf(stderr, "can not bind the control port\n");
        return 1;
    }
    std::printf("VXCTLHOST: ready\n");
    state();
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(control, &set);
        if (sySelectSocket(control + 1, &set, 1) <= 0)
            continue;
        if (doControl(control) != 0) {
            state();
            continue;
        }
        if (!csGetServerContext()->restart)
            break;
        stopDatabase();
        if (!startDatabase()) {
            std::fprintf(stderr, "no database after the restart\n");
            return 1;
        }
        std::printf("restarted\n");
        state();
    }
    std::printf("stopped\n");
    std::fflush(stdout);
    syCloseSocket(control);
    stopDatabase();
    csServerContextFree();
    csAuthShutdown();
    cmExit(2);
    syStop();
    udStop();
    return 0;
}
