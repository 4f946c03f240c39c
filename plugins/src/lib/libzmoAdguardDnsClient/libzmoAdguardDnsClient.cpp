// The module object of the AdGuard DNS client and the library's one export.
#include "AdguardDns/Client.h"
#include "AdguardDns/Command/Commands.h"

namespace lib {

namespace {
const char *const kSource = "lib::libzmoAdguardDnsClient";

template <typename T> T *Find(const char *ident) { return static_cast<T *>(Core::Core::Find_(ident)); }
}  // namespace

class libzmoAdguardDnsClient : public Core::Module::Object {
public:
    libzmoAdguardDnsClient()
        : Object("libzmoAdguardDnsClient", "\"AdGuard DNS client\"", "libzmoCorePack",
                 "libzmoCore libzmoDns libzmoInterface libzmoIp", 1)
    {
    }

    ReturnT Initialize() override
    {
        auto *nf = Find<Netfilter::Manager>(Netfilter::Manager::IDENT);
        auto *dns = Find<Dns::Manager>(Dns::Manager::IDENT);
        auto *hosts = Find<Core::KnownHosts>(Core::KnownHosts::IDENT);
        auto *lock = Find<Core::ServiceLock>(Core::ServiceLock::IDENT);
        auto *ifs = Find<Network::Interface::Repository>(Network::Interface::Repository::IDENT);
        auto *neighbours = Find<Network::NeighbourTable>(Network::NeighbourTable::IDENT);
        if (!nf || !dns || !hosts || !lock || !ifs || !neighbours)
            return StatusLog(0xcffd002eu, 3, kSource, "required components are missing");

        auto *client = Core::New<AdguardDns::Client>(*ifs, *neighbours, *nf, *lock, *dns, *hosts,
                                                     Core::Core::TaskQueue());
        if (client && !client->Setup()) {
            delete client;
            client = nullptr;
        }
        using namespace AdguardDns::Command;
        bool ok = Register(client) && Register(Setting_(Core::New<::AdguardDns::Command::AdguardDns>())) &&
                  Register(Setting_(Core::New<AdguardDnsAssign>(client))) &&
                  Register(Setting_(Core::New<AdguardDnsEnable>(client))) &&
                  Register(Core::New<AdguardDnsCheckAvailability>(client)) &&
                  Register(Core::New<ShowAdguardDns>()) &&
                  Register(Core::New<ShowAdguardDnsProfiles>(client)) &&
                  Register(Core::New<ShowAdguardDnsAvailability>(client));
        if (!ok) {
            // Nothing half-registered stays behind.
            Cleanup();
            return StatusLog(0xcffd0044u, 3, kSource, "unable to register AdGuard DNS client");
        }
        return StatusLog(kSource).SetDone(0x0047);
    }

private:
    // A setting whose framework part did not come up is not offered.
    template <typename T> static ::Command::Base *Setting_(T *s)
    {
        if (s && !s->Initialized()) {
            delete s;
            return nullptr;
        }
        return s;
    }
};

libzmoAdguardDnsClient g_module;

}  // namespace lib

extern "C" ZMOCORE_API Core::Module::Object *libzmoAdguardDnsClientObject() { return &lib::g_module; }
