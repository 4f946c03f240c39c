// The core's small services: ports, dashboard, users, locks, hosts,
// neighbours, random numbers, system settings, printers, DHCP.
#include "builtins.h"

#include <algorithm>
#include <cstdio>

namespace Core {

namespace {
ReturnT Done() { return static_cast<ReturnT>(Code::DONE); }
ReturnT Failure() { return static_cast<ReturnT>(Code::FAIL); }
const char *ProtoName(int p) { return p == Network::PortAllocator::TCP ? "tcp" : "udp"; }
}  // namespace

// ---- ports
ReturnT PortAllocatorImpl::Reserve(const String &owner, ProtocolT proto, uint16_t port, uint32_t level)
{
    String line = "port reserve " + owner + " " + ProtoName(proto) + " " + std::to_string(port) +
                  " level=" + std::to_string(level);
    std::unique_lock<std::mutex> g(mutex_);
    auto key = std::make_pair(static_cast<int>(proto), port);
    auto it = owners_.find(key);
    if ((it != owners_.end() && it->second != owner) || ::Core::Fail("port.reserve")) {
        String holder = it != owners_.end() ? it->second : String("(injected)");
        g.unlock();
        Journal(line + " refused: held by " + holder);
        return static_cast<ReturnT>(0x80ff0010u);
    }
    owners_[key] = owner;
    g.unlock();
    Journal(line);
    return Done();
}

void PortAllocatorImpl::Clear(const String &owner)
{
    int n = 0;
    {
        std::lock_guard<std::mutex> g(mutex_);
        for (auto it = owners_.begin(); it != owners_.end();)
            if (it->second == owner)
                it = owners_.erase(it), ++n;
            else
                ++it;
    }
    Journal("port clear " + owner + " (" + std::to_string(n) + ")");
}

String PortAllocatorImpl::OwnerOf(ProtocolT proto, uint16_t port) const
{
    std::lock_guard<std::mutex> g(mutex_);
    auto it = owners_.find(std::make_pair(static_cast<int>(proto), port));
    return it == owners_.end() ? String() : it->second;
}

// ---- dashboard
ReturnT DashboardImpl::RegisterKey(const String &key, int64_t initial, int track_mode)
{
    if (::Core::Fail("dashboard.register")) {
        Journal("dashboard register " + key + " refused");
        return Failure();
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (keys_.count(key))
            return Failure();
        keys_[key] = initial;
    }
    Journal("dashboard register " + key + "=" + std::to_string(initial) +
            " track=" + std::to_string(track_mode));
    return Done();
}

ReturnT DashboardImpl::SetKey(const String &key, int64_t value)
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = keys_.find(key);
        if (it == keys_.end() || ::Core::Fail("dashboard.set"))
            return Failure();
        it->second = value;
    }
    Journal("dashboard " + key + "=" + std::to_string(value));
    return Done();
}

void DashboardImpl::UnregisterKey(const String &key)
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (!keys_.erase(key))
            return;
    }
    Journal("dashboard unregister " + key);
}

bool DashboardImpl::GetKey(const String &key, int64_t *value) const
{
    std::lock_guard<std::mutex> g(mutex_);
    auto it = keys_.find(key);
    if (it == keys_.end())
        return false;
    *value = it->second;
    return true;
}

std::map<String, int64_t> DashboardImpl::All() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return keys_;
}

}  // namespace Core

Core::Dashboard::KeyHolder::~KeyHolder() = default;

ReturnT Core::Dashboard::KeyHolder::RegisterKey(const String &key, int64_t initial, int track_mode)
{
    auto *d = static_cast<Dashboard *>(Core::Find_(Dashboard::IDENT));
    if (!d)
        return static_cast<ReturnT>(Code::FAIL);
    ReturnT r = d->RegisterKey(key, initial, track_mode);
    if (Failed(r))
        return r;
    try {
        keys_.push_back(key);
    } catch (...) {
        d->UnregisterKey(key);
        return static_cast<ReturnT>(Code::OOM);
    }
    return r;
}

ReturnT Core::Dashboard::KeyHolder::SetKey(const String &key, int64_t value)
{
    if (std::find(keys_.begin(), keys_.end(), key) == keys_.end())
        return static_cast<ReturnT>(Code::FAIL);
    auto *d = static_cast<Dashboard *>(Core::Find_(Dashboard::IDENT));
    return d ? d->SetKey(key, value) : static_cast<ReturnT>(Code::FAIL);
}

void Core::Dashboard::KeyHolder::UnregisterKeys()
{
    auto *d = static_cast<Dashboard *>(Core::Find_(Dashboard::IDENT));
    if (d)
        for (const String &k : keys_)
            d->UnregisterKey(k);
    keys_.clear();
}

namespace Core {

// ---- users
ReturnT AuthenticatorImpl::RegisterTag(const String &tag)
{
    if (::Core::Fail("auth.tag")) {
        Journal("auth tag " + tag + " refused");
        return Failure();
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (std::find(tags_.begin(), tags_.end(), tag) != tags_.end())
            return Failure();
        tags_.push_back(tag);
    }
    Journal("auth tag " + tag);
    return Done();
}

void AuthenticatorImpl::UnregisterTag(const String &tag)
{
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = std::find(tags_.begin(), tags_.end(), tag);
        if (it == tags_.end())
            return;
        tags_.erase(it);
    }
    Journal("auth untag " + tag);
}

StringVector AuthenticatorImpl::Tags() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return tags_;
}

ReturnT AuthenticatorImpl::GetUsersByTag(const String &tag, StringVector &names)
{
    if (::Core::Fail("auth.users"))
        return Failure();
    std::lock_guard<std::mutex> g(mutex_);
    try {
        names.clear();
        for (const auto &u : users_)
            if (std::find(u.second.tags.begin(), u.second.tags.end(), tag) != u.second.tags.end())
                names.push_back(u.first);
    } catch (...) {
        return static_cast<ReturnT>(Code::OOM);
    }
    return Done();
}

bool AuthenticatorImpl::HasTag(const String &user, const String &tag)
{
    std::lock_guard<std::mutex> g(mutex_);
    auto it = users_.find(user);
    return it != users_.end() &&
           std::find(it->second.tags.begin(), it->second.tags.end(), tag) != it->second.tags.end();
}

ReturnT AuthenticatorImpl::GetPassword(const String &user, const String &type, int, String &out)
{
    std::lock_guard<std::mutex> g(mutex_);
    auto it = users_.find(user);
    if (it == users_.end())
        return static_cast<ReturnT>(NO_SUCH_USER);
    auto p = it->second.passwords.find(type);
    if (p == it->second.passwords.end())
        return static_cast<ReturnT>(NO_PASSWORD);
    try {
        out = p->second;
    } catch (...) {
        return static_cast<ReturnT>(Code::OOM);
    }
    return Done();
}

void AuthenticatorImpl::SetUser(const String &name, const UserRecord &r)
{
    std::lock_guard<std::mutex> g(mutex_);
    users_[name] = r;
}

void AuthenticatorImpl::RemoveUser(const String &name)
{
    std::lock_guard<std::mutex> g(mutex_);
    users_.erase(name);
}

// ---- service lock
ReturnT ServiceLockImpl::TryAcquire(const String &id, const String &name)
{
    std::unique_lock<std::mutex> g(mutex_);
    auto it = holders_.find(id);
    if (it != holders_.end() && it->second != name) {
        String h = it->second;
        g.unlock();
        Journal("service-lock " + id + " refused to " + name + ": held by " + h);
        return static_cast<ReturnT>(0x80ff0020u);
    }
    holders_[id] = name;
    g.unlock();
    Journal("service-lock " + id + " acquired by " + name);
    return Done();
}

ReturnT ServiceLockImpl::Release(const String &id, const String &name)
{
    std::unique_lock<std::mutex> g(mutex_);
    auto it = holders_.find(id);
    if (it == holders_.end() || it->second != name)
        return static_cast<ReturnT>(0x80ff0021u);
    holders_.erase(it);
    g.unlock();
    Journal("service-lock " + id + " released by " + name);
    return Done();
}

// ---- hosts and neighbours
bool KnownHostsImpl::IsExist(const Network::MacAddress &mac) const
{
    std::lock_guard<std::mutex> g(mutex_);
    return hosts_.count(mac) != 0;
}
void KnownHostsImpl::Add(const Network::MacAddress &mac)
{
    std::lock_guard<std::mutex> g(mutex_);
    hosts_.insert(mac);
}
bool KnownHostsImpl::Remove(const Network::MacAddress &mac)
{
    std::lock_guard<std::mutex> g(mutex_);
    return hosts_.erase(mac) != 0;
}
void KnownHostsImpl::Clear()
{
    std::lock_guard<std::mutex> g(mutex_);
    hosts_.clear();
}

Network::IpAddress NeighbourTableImpl::GetLatestIp(const Network::MacAddress &mac) const
{
    std::lock_guard<std::mutex> g(mutex_);
    auto it = latest_.find(mac);
    return it == latest_.end() ? Network::IpAddress() : it->second;
}
void NeighbourTableImpl::Set(const Network::MacAddress &mac, Network::IpAddress ip)
{
    std::lock_guard<std::mutex> g(mutex_);
    latest_[mac] = ip;
}

// ---- random numbers, system settings
uint32_t RandomImpl::Get() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return gen_();
}
void RandomImpl::Seed(uint32_t seed)
{
    std::lock_guard<std::mutex> g(mutex_);
    gen_.seed(seed);
}

ReturnT SystemConfigImpl::GetWanMacAddress(Network::MacAddress &mac) const
{
    if (::Core::Fail("config.wan_mac"))
        return Failure();
    std::lock_guard<std::mutex> g(mutex_);
    mac = mac_;
    return Done();
}
void SystemConfigImpl::SetWanMac(const Network::MacAddress &m)
{
    std::lock_guard<std::mutex> g(mutex_);
    mac_ = m;
}

// ---- printers
ReturnT PrinterManagerImpl::RegisterController(Printer::Controller *c)
{
    if (!c || ::Core::Fail("printer.register")) {
        Journal(String("printer controller refused ") + (c ? c->Type() : "(null)"));
        return Failure();
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        controllers_.push_back(c);
    }
    Journal(String("printer controller ") + c->Type());
    return Done();
}

void PrinterManagerImpl::UnregisterController(Printer::Controller *c)
{
    std::lock_guard<std::mutex> g(mutex_);
    controllers_.erase(std::remove(controllers_.begin(), controllers_.end(), c), controllers_.end());
}

bool PrinterManagerImpl::Activate(const Printer::Id &id, const String &share, const String &device,
                                  const String &status, uint32_t debug)
{
    std::vector<Printer::Controller *> cs;
    {
        std::lock_guard<std::mutex> g(mutex_);
        cs = controllers_;
    }
    bool any = false;
    for (auto *c : cs)
        any = c->ActivatePrinter(id, share, device, status, false, 0, debug) || any;
    return any;
}

void PrinterManagerImpl::Deactivate(const Printer::Id &id)
{
    std::vector<Printer::Controller *> cs;
    {
        std::lock_guard<std::mutex> g(mutex_);
        cs = controllers_;
    }
    for (auto *c : cs)
        c->DeactivatePrinter(id);
}

// ---- DHCP
ReturnT DhcpClientImpl::SetAutoStart(const String &type)
{
    if (::Core::Fail("dhcp.autostart"))
        return Failure();
    {
        std::lock_guard<std::mutex> g(mutex_);
        types_.push_back(type);
    }
    Journal("dhcp autostart " + type);
    return Done();
}
StringVector DhcpClientImpl::Types() const
{
    std::lock_guard<std::mutex> g(mutex_);
    return types_;
}

BuiltIns::BuiltIns(const HostOptions &o) : random(o.seed)
{
    Network::MacAddress m;
    if (m.Parse(o.wan_mac))
        sysconfig.SetWanMac(m);
}

void BuiltIns::RegisterAll()
{
    Module::Component *all[] = {&netfilter,   &ports,      &dashboard, &auth,      &service_lock,
                                &known_hosts, &neighbours, &random,    &sysconfig, &mode,
                                &fs,          &printers,   &dns,       &dhcp,      &interfaces};
    for (auto *c : all)
        c->Register();
}

void BuiltIns::UnregisterAll()
{
    Module::Component *all[] = {&netfilter,   &ports,      &dashboard, &auth,      &service_lock,
                                &known_hosts, &neighbours, &random,    &sysconfig, &mode,
                                &fs,          &printers,   &dns,       &dhcp,      &interfaces};
    for (auto *c : all)
        c->Unregister();
}

}  // namespace Core

String Printer::Id::ToString() const
{
    char b[16];
    std::snprintf(b, sizeof b, "%04x:%04x", vendor, product);
    return b;
}
