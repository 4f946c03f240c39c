// The USB WiMAX modem interface: a persistent TAP device that the outside
// daemon moves packets through, the daemon as a supervised service, and
// the daemon's event-script reports as feedback.
#ifndef NETWORK_INTERFACE_MADWIMAX_H
#define NETWORK_INTERFACE_MADWIMAX_H

#include "zmocore.h"

namespace Network {
namespace Interface {

class MadWimax : public Usb, public Wireless, public Ethernet, public FeedbackListener {
public:
    static const char *const TYPE[2];
    static const char *const DEVICE_LIST_[9];
    static constexpr const char *IDENT = "Network::Interface::MadWimax";

    explicit MadWimax(unsigned index);
    ~MadWimax() override;
    const char *Ident() const override { return IDENT; }
    ReturnT SetDeviceId(const String &vendor, const String &product) override;
    ReturnT GetDeviceId(String &vendor, String &product) const override;
    ReturnT ClrDeviceId() override;
    ReturnT Initialize(InitT init) override;
    ReturnT OnDeviceAdded(const Event::Device &device) override;
    ReturnT OnDeviceRemoved(const Event::Device &device) override;
    bool AttachTo(Xml::Node &node) override;
    ReturnT GetLink(LinkT &link) const override;
    ReturnT GetIfUp(IfUpT &ifup) const override;
    ReturnT SetIfUp(IfUpT ifup) override;
    const char *Type() const override { return TYPE[0]; }
    unsigned Priority() const override { return 7; }
    void Cleanup() override;
    ReturnT DetectLink() override { return static_cast<ReturnT>(Code::DONE); }
    void OnFeedback(const Feedback &feedback) override;
    ReturnT SetSsid_(const Ssid &ssid) override;

    // The USB bus and device numbers that end a device path ("/003/012"):
    // MATCH with them in *exact, NO_MATCH for any other path, else a failure.
    static ReturnT ExactDevice(const String &path, String *exact);
    // A TAP device of the name (a "%d" template is numbered by the kernel)
    // made persistent or not; its name into *name when given.
    static ReturnT Persist_(const String &name, bool persist, String *name_out);

private:
    ReturnT Reconfigure_();

    AutoPtr<Service> service_;
    LinkT link_ = 0;
    IfUpT ifup_ = 0;
    String exact_device_;
    String event_script_;
    String unused_;
    String fw_, rssi_, cinr_, txpow_, freq_, bssid_, state_;
    Time::Span up_since_;
};

}  // namespace Interface
}  // namespace Network

#endif
