// The module object of the WiMAX modem interface, its creator, and the
// library's one export.
#include "Network/Interface/MadWimax.h"

namespace Network {
namespace Interface {
namespace Factory {

// Offered every USB device event; takes the listed modems.
class MadWimaxCreator : public NoParentCreator<MadWimax> {
public:
    ReturnT Create(Base *parent, unsigned index, AutoPtr<Base> &out) override
    {
        ReturnT r = CheckCreate_(parent, index);
        if (Failed(r))
            return r;
        auto *m = Core::New<MadWimax>(index);
        if (!m)
            return StatusLog(MadWimax::IDENT).SetOom(0x0028);
        if (Failed(m->Base::Register(MadWimax::IDENT, MadWimax::TYPE[0]))) {
            delete m;
            return StatusLog(MadWimax::IDENT).SetFail(0x0028);
        }
        out.reset(m);
        return static_cast<ReturnT>(0x044c0064u);
    }
    const char *Ident() const override { return MadWimax::IDENT; }
    const char *Type() const override { return MadWimax::TYPE[0]; }
    unsigned Priority() const override { return 7; }
    unsigned MaxIndex() const override { return Base::MAX_INDEX; }
    bool Matches(const Event::Device &device) const override
    {
        return (device.subsystem == "usb_endpoint" || device.subsystem == "usb_device") &&
               Usb::DeviceIndex(MadWimax::DEVICE_LIST_, device.Vendor(), device.Model()) >= 0 &&
               Usb::Matches(device);
    }
    const char *const *Types_() const override { return MadWimax::TYPE; }
};

}  // namespace Factory
}  // namespace Interface
}  // namespace Network

namespace lib {

namespace {
const char *const kSource = "lib::libzmoMadWimax";
}

class libzmoMadWimax : public Core::Module::Object {
public:
    libzmoMadWimax()
        : Object("libzmoMadWimax", "\"Samsung U200 WiMAX interface\"",
                 "libzmoCorePack libzmoDhcpClient libzmoUsb",
                 "libzmoCore libzmoDhcpClient libzmoDns libzmoInterface libzmoIp libzmoUsb", 1)
    {
    }

    ReturnT Initialize() override
    {
        auto *dhcp = static_cast<Dhcp::Client *>(Core::Core::Find_(Dhcp::Client::IDENT));
        if (!dhcp)
            return StatusLog(0xcffd0014u, 3, kSource, "the DHCP client is missing");
        if (!Register(Core::New<Network::Interface::Factory::MadWimaxCreator>()) ||
            Failed(dhcp->SetAutoStart("WiMax"))) {
            Cleanup();
            return StatusLog(0xcffd001cu, 3, kSource, "unable to register the WiMAX interface");
        }
        return StatusLog(kSource).SetDone(0x001f);
    }
};

libzmoMadWimax g_module;

}  // namespace lib

extern "C" ZMOCORE_API Core::Module::Object *libzmoMadWimaxObject() { return &lib::g_module; }
