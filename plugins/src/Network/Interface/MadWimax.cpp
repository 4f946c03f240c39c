// The WiMAX modem interface: TAP device, daemon arguments, device events,
// feedback words and what the interface shows.
#include "Network/Interface/MadWimax.h"

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace Network {
namespace Interface {

namespace {
const char *const kSource = "Network::Interface::MadWimax";
const char *const kTemplate = "wimax%d";
const char *const kScriptPrefix = "/var/run/madwimax-";
// The operator's service: shown as the description, its realm as the SSID.
const char *const kDescription = "WiMAX Internet";
const char *const kDefaultSsid = "@wimax.example.net";
}  // namespace

const char *const MadWimax::TYPE[2] = {"WiMax", nullptr};
const char *const MadWimax::DEVICE_LIST_[9] = {"04e8", "6761", "04e9", "6761", "04e8",
                                               "6731", "04e8", "6780", nullptr};

MadWimax::MadWimax(unsigned index) : Base(TYPE[0], index, nullptr) {}

MadWimax::~MadWimax()
{
    Base::Unregister(IDENT);
    service_.reset();
}

ReturnT MadWimax::SetDeviceId(const String &, const String &)
{
    return StatusLog(0x84530024u, 2, kSource, "device ID can not be configured");
}

ReturnT MadWimax::GetDeviceId(String &vendor, String &product) const
{
    vendor.clear();
    product.clear();
    return static_cast<ReturnT>(0x04530028u);
}

ReturnT MadWimax::ClrDeviceId() { return StatusLog(0x84530034u, 2, kSource, "device ID can not be removed"); }

ReturnT MadWimax::Persist_(const String &name, bool persist, String *name_out)
{
    const int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return StatusLog(kSource).SetFail(0x0189);
    struct ifreq req;
    std::memset(&req, 0, sizeof req);
    std::snprintf(req.ifr_name, IFNAMSIZ, "%s", name.c_str());
    req.ifr_flags = IFF_TAP | IFF_NO_PI;
    ReturnT r = static_cast<ReturnT>(Code::DONE | 0x01a3);
    if (ioctl(fd, TUNSETIFF, &req) != 0) {
        r = StatusLog(kSource).SetFail(0x0195);
    } else if (ioctl(fd, TUNSETPERSIST, persist ? 1 : 0) != 0) {
        r = StatusLog(kSource).SetFail(0x019a);
    } else if (name_out) {
        try {
            name_out->assign(req.ifr_name, strnlen(req.ifr_name, IFNAMSIZ));
        } catch (...) {
            r = StatusLog(kSource).SetOom(0x01a0);
        }
    }
    close(fd);
    return r;
}

ReturnT MadWimax::Initialize(InitT init)
{
    String name;
    ReturnT r = Persist_(kTemplate, true, &name);
    if (Failed(r))
        return r;
    r = SetSystemName(name);
    if (!Failed(r))
        r = Usb::Initialize(init);
    if (!Failed(r))
        r = Base::Initialize(init);
    if (!Failed(r))
        r = Ethernet::Initialize(init);
    if (Failed(r))
        return r;
    service_.reset(Service::New("madwimax", Id().c_str(), StringVector(), false, 1, Time::Span(3000),
                                Time::Span(2000), Event::Delegate(), Event::Delegate(), "", Time::Span(30000),
                                2000));
    if (!service_)
        return StatusLog(kSource).SetOom(0x00ff);
    try {
        event_script_ = kScriptPrefix + SystemName();
    } catch (...) {
        return StatusLog(kSource).SetOom(0x00ff);
    }
    r = FeedbackListener::Register(event_script_);
    if (Failed(r))
        return r;
    r = IP::SetGlobal(*this);
    if (Failed(r))
        return r;
    r = SetDescription(kDescription);
    if (!Failed(r))
        r = SetState(1);
    if (Failed(r))
        return r;
    if (Failed(SetSsid(Ssid(kDefaultSsid))))
        return StatusLog(0xcffd0110u, 3, kSource, "unable to setup the default SSID");
    service_->Start();
    return static_cast<ReturnT>(Code::DONE | 0x0115);
}

ReturnT MadWimax::Reconfigure_()
{
    if (!service_)
        return StatusLog(kSource).SetFail(0x01b4);
    service_->SetConfigured(false);
    StringVector args;
    try {
        args = {"--exact-device", exact_device_, "--ifname", SystemName(), "--event-script", event_script_};
    } catch (...) {
        return StatusLog(kSource).SetOom(0x01b4);
    }
    if (!service_->SetArguments(args))
        return StatusLog(kSource).SetOom(0x01b4);
    const Ssid &ssid = GetSsid();
    if (ssid.IsSet() && (!service_->PushArgument("--ssid") || !service_->PushArgument(ssid.Value())))
        return StatusLog(kSource).SetOom(0x01c0);
    if (IsPlugged() && ifup_)
        service_->SetConfigured(true);
    return static_cast<ReturnT>(Code::DONE | 0x01c9);
}

ReturnT MadWimax::ExactDevice(const String &path, String *exact)
{
    Regex::Expression re("/([0-9][0-9]*/[0-9][0-9]*)$");
    if (!re.Initialized())
        return static_cast<ReturnT>(Regex::NO_MEMORY);
    StringVector groups;
    ReturnT r = re.Match(path, groups);
    if (static_cast<uint32_t>(r) != Regex::MATCH)
        return r;
    if (groups.size() < 2)
        return static_cast<ReturnT>(Regex::FAILURE);
    try {
        *exact = groups[1];
    } catch (...) {
        return static_cast<ReturnT>(Regex::NO_MEMORY);
    }
    return r;
}

ReturnT MadWimax::OnDeviceAdded(const Event::Device &device)
{
    String exact;
    const ReturnT m = ExactDevice(device.Get("DEVICE"), &exact);
    if (static_cast<uint32_t>(m) == Regex::NO_MEMORY)
        return StatusLog(kSource).SetOom(0x00ad);
    if (static_cast<uint32_t>(m) == Regex::NO_MATCH)
        return static_cast<ReturnT>(Code::DONE | 0x00cb);
    if (static_cast<uint32_t>(m) != Regex::MATCH)
        return StatusLog(kSource).SetFail(0x00c8);
    // One modem per interface: a second one is not taken over.
    if (IsPlugged())
        return static_cast<ReturnT>(Code::DONE | 0x00b6);
    ReturnT r = Usb::OnDeviceAdded(device);
    if (Failed(r))
        return r;
    try {
        exact_device_ = exact;
    } catch (...) {
        return StatusLog(kSource).SetOom(0x00c1);
    }
    Reconfigure_();
    return static_cast<ReturnT>(Code::DONE | 0x00cb);
}

ReturnT MadWimax::OnDeviceRemoved(const Event::Device &device)
{
    ReturnT r = Usb::OnDeviceRemoved(device);
    if (Failed(r))
        return r;
    Usb::ClrDeviceId();
    if (service_)
        service_->SetConfigured(false);
    link_ = 0;
    Event::Raise(
        Event::IfStateChanged(0, Id(), SystemName(), static_cast<int>(link_), 0, static_cast<int>(ifup_)));
    return static_cast<ReturnT>(Code::DONE | 0x00e5);
}

ReturnT MadWimax::GetLink(LinkT &link) const
{
    link = link_;
    return static_cast<ReturnT>(Code::DONE | 0x0057);
}

ReturnT MadWimax::GetIfUp(IfUpT &ifup) const
{
    ifup = ifup_;
    return static_cast<ReturnT>(Code::DONE | 0x005f);
}

ReturnT MadWimax::SetIfUp(IfUpT ifup)
{
    if (ifup == ifup_)
        return static_cast<ReturnT>(Code::DONE | 0x0067);
    ifup_ = ifup;
    if (ifup_) {
        if (Failed(Reconfigure_())) {
            ifup_ = 0;
            return StatusLog(kSource).SetFail(0x0072);
        }
    } else if (service_) {
        service_->SetConfigured(false);
    }
    return static_cast<ReturnT>(Code::DONE | 0x007a);
}

ReturnT MadWimax::SetSsid_(const Ssid &)
{
    if (Failed(Reconfigure_()))
        return StatusLog(0x845e00beu, 2, kSource, "failed to set SSID");
    return static_cast<ReturnT>(0x045e0064u);
}

void MadWimax::OnFeedback(const Feedback &feedback)
{
    if (feedback.Word(1) != SystemName())
        return;
    const String word = feedback.Word(0);
    if (word == "if-up") {
        link_ = 1;
        up_since_ = Time::Span::Now();
        Event::Raise(Event::IfStateChanged(0, Id(), SystemName(), 1, 1, static_cast<int>(ifup_)));
    } else if (word == "if-down") {
        link_ = 0;
        Event::Raise(Event::IfStateChanged(0, Id(), SystemName(), 0, 0, static_cast<int>(ifup_)));
    } else if (word == "stats") {
        const std::pair<const char *, String *> keys[] = {
            {"FW", &fw_},     {"RSSI", &rssi_},   {"CINR", &cinr_},  {"TXPOW", &txpow_},
            {"FREQ", &freq_}, {"BSSID", &bssid_}, {"STATE", &state_}};
        for (const auto &k : keys) {
            try {
                *k.second = feedback.Get(k.first);
            } catch (...) {
                StatusLog(kSource).SetOom(0x0168);
                break;
            }
        }
    } else if (word == "if-release") {
        state_.clear();
    }
}

bool MadWimax::AttachTo(Xml::Node &node)
{
    const bool parts = Usb::AttachTo(node) && Ethernet::AttachTo(node);
    if (state_.empty())
        return parts && node.Valid();
    if (GetSsid().IsSet())
        node.Add("ssid", GetSsid().Value());
    node.Add("fw", fw_);
    node.Add("rssi", rssi_);
    node.Add("cinr", cinr_);
    node.Add("txpow", txpow_);
    node.Add("freq", freq_);
    node.Add("bssid", bssid_);
    node.Add("wimax_state", state_);
    node.Add("uptime", bssid_.empty() ? static_cast<int64_t>(0) : (Time::Span::Now() - up_since_).Seconds());
    return parts && node.Valid();
}

void MadWimax::Cleanup()
{
    FeedbackListener::Unregister();
    SetIfUp(0);
    Base::Cleanup();
    Ethernet::Cleanup();
    if (!SystemName().empty())
        Persist_(SystemName(), false, nullptr);
    service_.reset();
}

}  // namespace Interface
}  // namespace Network
