// libzmoCifsVX: the module object and its start.
#include "Cifs/Command/Commands.h"
#include "Cifs/ServerVX.h"

namespace lib {

namespace {

template <typename T> T *Find(const char *ident) { return static_cast<T *>(Core::Core::Find_(ident)); }

}  // namespace

class libzmoCifsVX : public Core::Module::Object {
public:
    libzmoCifsVX()
        : Object("libzmoCifsVX", "\"CIFS VX server\"", "libzmoCorePack libzmoUsb libzmoCifs",
                 "libzmoCore libzmoInterface libzmoIp libzmoUsb libzmoCifs", 15)
    {
    }

    ReturnT Initialize() override
    {
        Cifs::Components c;
        c.interfaces = Find<Network::Interface::Repository>(Network::Interface::Repository::IDENT);
        c.files = Find<FileSystem::Repository>(FileSystem::Repository::IDENT);
        c.auth = Find<Core::Authenticator>(Core::Authenticator::IDENT);
        c.config = Find<Core::System::Config>(Core::System::Config::IDENT);
        c.ports = Find<Network::PortAllocator>(Network::PortAllocator::IDENT);
        c.netfilter = Find<Netfilter::Manager>(Netfilter::Manager::IDENT);
        c.printers = Find<Printer::Manager>(Printer::Manager::IDENT);
        if (!c.interfaces || !c.files || !c.auth || !c.config || !Core::Core::Find_(Core::Dashboard::IDENT) ||
            !Core::Core::Find_(Core::ModeComponent::IDENT) || !c.ports || !c.netfilter || !c.printers)
            return StatusLog(Cifs::MODULE_SOURCE).SetFail(1);
        auto *server = Core::New<Cifs::ServerVX>(c);
        if (!server)
            return StatusLog(Cifs::MODULE_SOURCE).SetFail(2);
        if (Failed(server->Setup())) {
            delete server;
            return StatusLog(Cifs::MODULE_SOURCE).SetFail(3);
        }
        if (!Register(static_cast<Core::Module::Component *>(server)))
            return StatusLog(Cifs::MODULE_SOURCE).SetFail(4);
        if (!Cifs::Command::RegisterAll(*this, *server, *c.files)) {
            Cleanup();  // the commands so far, then the component
            return StatusLog(Cifs::MODULE_SOURCE).SetFail(6);
        }
        return StatusLog(Cifs::MODULE_SOURCE).SetDone(5);
    }
};

libzmoCifsVX g_module;

}  // namespace lib

extern "C" ZMOCORE_API Core::Module::Object *libzmoCifsVXObject() { return &lib::g_module; }
