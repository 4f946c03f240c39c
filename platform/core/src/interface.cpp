// Network interfaces: repository, parts and the device factory.
#include "builtins.h"

#include <algorithm>

namespace Network {
namespace Interface {

namespace {
::Core::InterfaceRepositoryImpl *Repo()
{
    Core::Host::Impl *c = ::Core::Current();
    return c ? &c->builtins->interfaces : nullptr;
}
ReturnT Done() { return static_cast<ReturnT>(Code::DONE); }
}  // namespace

Base::Base(const char *type, unsigned index, Base *) : type_(type ? type : ""), index_(index)
{
    id_ = type_ + std::to_string(index_);
}

Base::~Base()
{
    // Too late for the derived class's Ident().
    if (registered_)
        Unregister("");
}

ReturnT Base::Initialize(InitT) { return Done(); }
bool Base::AttachTo(Xml::Node &node)
{
    node.Add("id", id_);
    node.Add("name", system_name_);
    node.Add("description", description_);
    node.Add("state", state_);
    return node.Valid();
}
ReturnT Base::GetLink(LinkT &link) const
{
    link = 0;
    return Done();
}
ReturnT Base::GetIfUp(IfUpT &ifup) const
{
    ifup = 0;
    return Done();
}
ReturnT Base::SetIfUp(IfUpT) { return Done(); }
const char *Base::Type() const { return type_.c_str(); }
void Base::Cleanup() {}

ReturnT Base::SetSystemName(const String &name)
{
    try {
        system_name_ = name;
    } catch (...) {
        return static_cast<ReturnT>(Code::OOM);
    }
    return Done();
}
ReturnT Base::SetDescription(const String &d)
{
    try {
        description_ = d;
    } catch (...) {
        return static_cast<ReturnT>(Code::OOM);
    }
    return Done();
}
ReturnT Base::SetState(int state)
{
    state_ = state;
    ::Core::Journal("interface " + id_ + " state=" + std::to_string(state));
    return Done();
}

ReturnT Base::Register(const char *ident, const char *type)
{
    ::Core::InterfaceRepositoryImpl *r = Repo();
    if (!r || registered_ || !r->AddObject(this))
        return static_cast<ReturnT>(Code::FAIL);
    registered_ = true;
    ::Core::Journal(String("interface register ") + id_ + " " + (ident ? ident : "") + " " +
                    (type ? type : ""));
    return Done();
}

void Base::Unregister(const char *ident)
{
    if (!registered_)
        return;
    if (::Core::InterfaceRepositoryImpl *r = Repo())
        r->RemoveObject(this);
    registered_ = false;
    ::Core::Journal(String("interface unregister ") + id_ + " " + (ident ? ident : ""));
}

ReturnT Ethernet::Initialize(InitT) { return Done(); }
bool Ethernet::AttachTo(Xml::Node &node)
{
    node.Add("mac", mac_.ToString());
    return node.Valid();
}
void Ethernet::Cleanup() {}

ReturnT Wireless::SetSsid(const Ssid &ssid)
{
    Ssid old = ssid_;
    ssid_ = ssid;
    ReturnT r = SetSsid_(ssid);
    if (Failed(r))
        ssid_ = old;
    return r;
}

ReturnT Usb::SetDeviceId(const String &vendor, const String &product)
{
    vendor_ = vendor, product_ = product;
    return Done();
}
ReturnT Usb::GetDeviceId(String &vendor, String &product) const
{
    vendor = vendor_, product = product_;
    return Done();
}
ReturnT Usb::ClrDeviceId()
{
    vendor_.clear(), product_.clear();
    return Done();
}
ReturnT Usb::Initialize(InitT) { return Done(); }
ReturnT Usb::SetInternetAvailable(bool) { return Done(); }
bool Usb::HasDevice(const Event::Device &d) const { return plugged_ && d.Get("DEVICE") == device_path_; }
ReturnT Usb::OnDeviceAdded(const Event::Device &d)
{
    try {
        device_path_ = d.Get("DEVICE");
        vendor_ = d.Get("VENDOR");
        product_ = d.Get("MODEL");
    } catch (...) {
        return static_cast<ReturnT>(Code::OOM);
    }
    plugged_ = true;
    return Done();
}
ReturnT Usb::OnDeviceRemoved(const Event::Device &)
{
    plugged_ = false;
    device_path_.clear();
    return Done();
}
ReturnT Usb::SetWwanForceConnected_(bool) { return Done(); }
bool Usb::AttachTo(Xml::Node &node)
{
    node.Add("plugged", plugged_);
    if (plugged_)
        node.Add("device", device_path_);
    return node.Valid();
}

int Usb::DeviceIndex(const char *const *list, const String &vendor, const String &product)
{
    if (!list)
        return -1;
    for (int i = 0; list[2 * i] && list[2 * i + 1]; ++i)
        if (vendor == list[2 * i] && product == list[2 * i + 1])
            return i;
    return -1;
}

bool Usb::Matches(const Event::Device &device)
{
    ::Core::InterfaceRepositoryImpl *r = Repo();
    return r && device.action == 0 && !r->DeviceHeld(device);
}

ReturnT IP::SetGlobal(Base &iface)
{
    iface.SetGlobalFlag(true);
    ::Core::Journal("interface " + iface.Id() + " global");
    return Done();
}

namespace Factory {

BaseCreator::~BaseCreator()
{
    if (registered_)
        BaseCreator::Unregister();
}
bool BaseCreator::Register()
{
    ::Core::InterfaceRepositoryImpl *r = Repo();
    if (!r || registered_ || !r->AddCreator(this))
        return false;
    registered_ = true;
    ::Core::Journal(String("interface creator ") + Ident() + " " + Type());
    return true;
}
void BaseCreator::Unregister()
{
    if (!registered_)
        return;
    if (::Core::InterfaceRepositoryImpl *r = Repo())
        r->RemoveCreator(this);
    registered_ = false;
}
ReturnT BaseCreator::CheckCreate_(Base *, unsigned index) const
{
    ::Core::InterfaceRepositoryImpl *r = Repo();
    if (!r || index > MaxIndex() || r->IndexTaken(Type(), index))
        return static_cast<ReturnT>(Code::FAIL);
    return Done();
}

}  // namespace Factory
}  // namespace Interface
}  // namespace Network

namespace Core {

using Network::Interface::Base;

ReturnT InterfaceRepositoryImpl::GetIds(const String &kind, StringVector &ids) const
{
    if (::Core::Fail("interfaces.ids"))
        return static_cast<ReturnT>(Code::FAIL);
    std::lock_guard<std::recursive_mutex> g(mutex_);
    ids.clear();
    if (kind != KIND_IP)
        return static_cast<ReturnT>(Code::DONE);
    for (const auto &i : ip_)
        ids.push_back(i.first);
    for (const Base *b : objects_)
        if (b->IsGlobal() && !ip_.count(b->Id()))
            ids.push_back(b->Id());
    return static_cast<ReturnT>(Code::DONE);
}

bool InterfaceRepositoryImpl::FindIp(const String &id, Network::Interface::IpInfo &info) const
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    auto it = ip_.find(id);
    if (it != ip_.end()) {
        info = it->second;
        return true;
    }
    for (const Base *b : objects_)
        if (b->Id() == id && b->IsGlobal()) {
            info = Network::Interface::IpInfo();
            info.id = id;
            info.system_name = b->SystemName();
            info.level = 1;
            return true;
        }
    return false;
}

Base *InterfaceRepositoryImpl::Find(const String &id) const
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    for (Base *b : objects_)
        if (b->Id() == id)
            return b;
    return nullptr;
}

void InterfaceRepositoryImpl::SetIp(const Network::Interface::IpInfo &info)
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    ip_[info.id] = info;
}

bool InterfaceRepositoryImpl::RemoveIp(const String &id)
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    return ip_.erase(id) != 0;
}

bool InterfaceRepositoryImpl::AddObject(Base *b)
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    for (Base *o : objects_)
        if (o->Id() == b->Id())
            return false;
    objects_.push_back(b);
    return true;
}

void InterfaceRepositoryImpl::RemoveObject(Base *b)
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    objects_.erase(std::remove(objects_.begin(), objects_.end(), b), objects_.end());
}

bool InterfaceRepositoryImpl::AddCreator(Network::Interface::Factory::BaseCreator *c)
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    creators_.push_back(c);
    return true;
}

void InterfaceRepositoryImpl::RemoveCreator(Network::Interface::Factory::BaseCreator *c)
{
    std::vector<std::unique_ptr<Base>> gone;
    {
        std::lock_guard<std::recursive_mutex> g(mutex_);
        creators_.erase(std::remove(creators_.begin(), creators_.end(), c), creators_.end());
        // What it made goes with it.
        for (auto it = created_.begin(); it != created_.end();) {
            if (String((*it)->Type()) == c->Type()) {
                gone.push_back(std::move(*it));
                it = created_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto &b : gone)
        b->Cleanup();
}

bool InterfaceRepositoryImpl::IndexTaken(const String &type, unsigned index) const
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    for (const Base *b : objects_)
        if (type == b->Type() && b->Index() == index)
            return true;
    return false;
}

bool InterfaceRepositoryImpl::DeviceHeld(const Event::Device &d) const
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    for (Base *b : objects_)
        if (auto *u = dynamic_cast<Network::Interface::Usb *>(b))
            if (u->HasDevice(d))
                return true;
    return false;
}

// Runs on the event thread and calls the plug-ins' code without holding the
// repository's lock, so their handlers may look interfaces up meanwhile.
void InterfaceRepositoryImpl::OfferDevice(const Event::Device &d)
{
    std::vector<Base *> objects;
    std::vector<Network::Interface::Factory::BaseCreator *> cs;
    {
        std::lock_guard<std::recursive_mutex> g(mutex_);
        objects = objects_;
        cs = creators_;
    }
    if (d.action != 0) {
        for (Base *b : objects)
            if (auto *u = dynamic_cast<Network::Interface::Usb *>(b))
                if (u->HasDevice(d)) {
                    ReturnT r = u->OnDeviceRemoved(d);
                    Journal("interface " + b->Id() + " device removed " + d.Get("DEVICE") +
                            (Failed(r) ? " (failed)" : ""));
                    return;
                }
        return;
    }
    if (DeviceHeld(d))
        return;
    std::stable_sort(cs.begin(), cs.end(), [](auto *a, auto *b) { return a->Priority() > b->Priority(); });
    for (auto *c : cs) {
        if (!c->Matches(d))
            continue;
        // A free interface of this kind takes it; else a new one.
        for (Base *b : objects) {
            auto *u = dynamic_cast<Network::Interface::Usb *>(b);
            if (u && String(b->Type()) == c->Type() && u->HasNoDevice()) {
                ReturnT r = u->OnDeviceAdded(d);
                Journal("interface " + b->Id() + " device added " + d.Get("DEVICE") +
                        (Failed(r) ? " (failed)" : ""));
                return;
            }
        }
        unsigned index = 0;
        while (index <= c->MaxIndex() && IndexTaken(c->Type(), index))
            ++index;
        AutoPtr<Base> out;
        ReturnT r = c->Create(nullptr, index, out);
        if (Failed(r) || !out) {
            Journal(String("interface create ") + c->Type() + " failed");
            return;
        }
        r = out->Initialize(0);
        if (Failed(r)) {
            Journal("interface " + out->Id() + " initialize failed");
            out->Cleanup();
            return;
        }
        Base *b = out.get();
        try {
            std::lock_guard<std::recursive_mutex> g(mutex_);
            created_.push_back(std::move(out));
        } catch (...) {
            b->Cleanup();
            return;
        }
        if (auto *u = dynamic_cast<Network::Interface::Usb *>(b)) {
            r = u->OnDeviceAdded(d);
            Journal("interface " + b->Id() + " device added " + d.Get("DEVICE") +
                    (Failed(r) ? " (failed)" : ""));
        }
        return;
    }
}

void InterfaceRepositoryImpl::DestroyCreated()
{
    std::vector<std::unique_ptr<Base>> gone;
    {
        std::lock_guard<std::recursive_mutex> g(mutex_);
        gone.swap(created_);
    }
    while (!gone.empty()) {
        gone.back()->Cleanup();
        gone.pop_back();
    }
}

}  // namespace Core
