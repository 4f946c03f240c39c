// The client's state: set-up and tear-down, hosts, default type, enabling.
#include "AdguardDns/Client.h"

namespace AdguardDns {

const char *const AG_CONF_FILE_ = "/var/dnsrelaydsafe.conf";
// A name that only the service's own resolvers answer.
const char *const RESOLVER_NAME_ = "dnscheck.adguard.com";
const char *const AG_CONF_STANDARD_DNS_LIST_[2] = {"94.140.14.14", "94.140.15.15"};
const char *const AG_CONF_FAMILY_DNS_LIST_[2] = {"94.140.14.15", "94.140.15.16"};
const char *const CHAIN_ = "_ZMO_AG_REDIRECT";
const char *const SOURCE_ = "AdguardDns::Client";

namespace {
const char *const kTypeNames[] = {"default", "standard", "family"};
const char *const kLockId = "DNS";
const char *const kLockName = "AdGuard DNS";
}  // namespace

Client::DnsT Client::TypeOf(const String &name)
{
    if (name == kTypeNames[STANDARD])
        return STANDARD;
    if (name == kTypeNames[FAMILY])
        return FAMILY;
    return DEFAULT;
}

const char *Client::NameOf(int type) { return type >= 0 && type <= 2 ? kTypeNames[type] : ""; }

Client::Client(Network::Interface::Repository &interfaces, Network::NeighbourTable &neighbours,
               Netfilter::Manager &netfilter, Core::ServiceLock &lock, Dns::Manager &dns,
               Core::KnownHosts &hosts, Task::Queue *queue)
    : interfaces_(interfaces), neighbours_(neighbours), netfilter_(netfilter), service_lock_(lock), dns_(dns),
      known_hosts_(hosts), mutex_(2), apply_(*this, queue, &mutex_)
{
}

Client::~Client()
{
    UnsubscribeAll_();
    apply_.Cleanup();
    // Removing the chain drops the jump to it as well.
    if (chain_ready_ && Failed(netfilter_.RemoveChain(Netfilter::Table::NAT, CHAIN_)))
        StatusLog(SOURCE_).SetFail(0x0136);
}

bool Client::Subscribe_()
{
    subscribed_ = true;  // a refusal half-way must still drop the first ones
    const String owner = Ident();
    using E = Event::Type;
    return !Failed(Event::Subscribe(E::Wan, Event::Delegate::Make(owner, this, &Client::OnWan_, &mutex_))) &&
           !Failed(Event::Subscribe(E::KnownHost,
                                    Event::Delegate::Make(owner, this, &Client::OnKnownHost_, &mutex_))) &&
           !Failed(Event::Subscribe(E::Neighbour,
                                    Event::Delegate::Make(owner, this, &Client::OnNeighbour_, &mutex_))) &&
           !Failed(Event::Subscribe(E::IfCreated,
                                    Event::Delegate::Make(owner, this, &Client::OnIfCreated_, &mutex_))) &&
           !Failed(
               Event::Subscribe(E::IfPrivateChanged,
                                Event::Delegate::Make(owner, this, &Client::OnIfPrivateChanged_, &mutex_))) &&
           !Failed(Event::Subscribe(E::IfIpChanged,
                                    Event::Delegate::Make(owner, this, &Client::OnIfIpChanged_, &mutex_))) &&
           !Failed(Event::Subscribe(E::IfDestroyed,
                                    Event::Delegate::Make(owner, this, &Client::OnIfDestroyed_, &mutex_)));
}

void Client::UnsubscribeAll_()
{
    if (subscribed_)
        Event::Unsubscribe(Ident());
    subscribed_ = false;
}

bool Client::Setup()
{
    Mutex::Guard g(mutex_);
    if (!Subscribe_()) {
        StatusLog(SOURCE_).SetFail(0x00e3);
        UnsubscribeAll_();
        return false;
    }
    StringVector ids;
    if (Failed(interfaces_.GetIds(Network::Interface::Repository::KIND_IP, ids))) {
        StatusLog(SOURCE_).SetFail(0x00ef);
        UnsubscribeAll_();
        return false;
    }
    for (const String &id : ids) {
        Network::Interface::IpInfo info;
        if (!interfaces_.FindIp(id, info))
            continue;
        if (!RecordInterface_(id, info.system_name)) {
            StatusLog(SOURCE_).SetOom(0x010a);
            UnsubscribeAll_();
            return false;
        }
    }
    if (!apply_.Initialized()) {
        StatusLog(SOURCE_).SetFail(0x0113);
        UnsubscribeAll_();
        return false;
    }
    Netfilter::Table *t = nullptr;
    if (!Failed(netfilter_.Acquire(Netfilter::Table::NAT, &t))) {
        Netfilter::Entry jump;
        jump.target = CHAIN_;
        chain_ready_ = !Failed(t->CreateChain(CHAIN_)) &&
                       !Failed(t->Prepend(Netfilter::Table::CHAIN_ZMO_DNS_REDIRECT, jump)) &&
                       !Failed(t->Commit());
        netfilter_.Release(t);
    }
    if (!chain_ready_) {
        StatusLog(SOURCE_).SetFail(0x0123);
        UnsubscribeAll_();
    }
    return chain_ready_;
}

Client::Entry *Client::FindEntry_(const Network::MacAddress &mac)
{
    for (auto &e : hosts_)
        if (e->Host() == mac)
            return e.get();
    return nullptr;
}

ReturnT Client::EnableImpl_(bool on)
{
    ReturnT r = static_cast<ReturnT>(0x00200064u);
    if (on) {
        if (!(flags_ & LOCKED)) {
            ReturnT l = service_lock_.TryAcquire(kLockId, kLockName);
            if (Failed(l))
                return l;
            flags_ |= LOCKED;
        }
        ReturnT q = apply_.Enqueue(1500);
        if (Failed(q))
            return q;
        return r;
    }
    if (flags_ & LOCKED) {
        apply_.Cancel();
        Disable_();
        r = service_lock_.Release(kLockId, kLockName);
        if (!Failed(r))
            flags_ &= ~LOCKED;
    }
    return r;
}

ReturnT Client::Enable(bool on)
{
    Mutex::Guard g(mutex_);
    ReturnT r = EnableImpl_(on);
    if (Failed(r))
        return r;
    if (on) {
        flags_ |= ENABLED;
        return StatusLog(0x002001f4u, 0, SOURCE_, "AdGuard DNS enabled");
    }
    flags_ &= ~ENABLED;
    return StatusLog(0x00200258u, 0, SOURCE_, "AdGuard DNS disabled");
}

ReturnT Client::Disable_()
{
    if (Failed(netfilter_.ClearChain(Netfilter::Table::NAT, CHAIN_)))
        StatusLog(SOURCE_).SetFail(0x02dd);
    if (flags_ & FILE_WRITTEN) {
        Io::File::Remove(AG_CONF_FILE_);
        flags_ &= ~FILE_WRITTEN;
    }
    dns_.ClearServiceData(kLockName);
    return dns_.ReinitProxy(0);
}

ReturnT Client::SetHostProfile(const Network::MacAddress &mac, const String &type)
{
    Mutex::Guard g(mutex_);
    const String text = mac.ToString();
    if (!known_hosts_.IsExist(mac))
        return StatusLog(0x802000c8u, 2, SOURCE_, "host \"%1\" is not in the known host list") << text;
    Entry *e = FindEntry_(mac);
    const bool added = e == nullptr;
    if (added) {
        Entry *n = Core::New<Entry>(mac, TypeOf(type));
        bool kept = false;
        if (n) {
            try {
                hosts_.emplace_back(n);
                kept = true;
            } catch (...) {
                delete n;
            }
        }
        if (!kept)
            return StatusLog(0x8020012cu, 2, SOURCE_, "failed to create an entry for \"%1\"") << text;
    } else if (e->DnsType() != TypeOf(type)) {
        e->SetDnsType(TypeOf(type));
    }
    if (flags_ & ENABLED) {
        ReturnT r = EnableImpl_(true);
        if (Failed(r))
            return r;
    }
    if (added)
        return StatusLog(0x002000c8u, 0, SOURCE_, "\"%1\" has been associated with \"%2\" profile")
               << text << type;
    return StatusLog(0x0020012cu, 0, SOURCE_, "\"%1\" has been reassociated with \"%2\" profile")
           << text << type;
}

ReturnT Client::DeleteHostToken(const Network::MacAddress &mac)
{
    Mutex::Guard g(mutex_);
    return DeleteHostToken_(mac);
}

ReturnT Client::DeleteHostToken_(const Network::MacAddress &mac)
{
    for (auto it = hosts_.begin(); it != hosts_.end(); ++it) {
        if ((*it)->Host() != mac)
            continue;
        hosts_.erase(it);
        ReturnT r = StatusLog(0x00200190u, 0, SOURCE_, "host \"%1\" has been removed") << mac.ToString();
        return (flags_ & ENABLED) ? EnableImpl_(true) : r;
    }
    return StatusLog(0x80200064u, 2, SOURCE_, "no such host \"%1\"") << mac.ToString();
}

ReturnT Client::SetDefaultType_(DnsT type)
{
    default_type_ = type;
    ReturnT r = StatusLog(0x0020012cu, 0, SOURCE_, "default type set");
    return (flags_ & ENABLED) ? EnableImpl_(true) : r;
}

ReturnT Client::SetDefaultType(const String &type)
{
    Mutex::Guard g(mutex_);
    return SetDefaultType_(TypeOf(type));
}

ReturnT Client::ResetDefaultType()
{
    Mutex::Guard g(mutex_);
    return SetDefaultType_(STANDARD);
}

Client::DnsT Client::GetDefaultType()
{
    Mutex::Guard g(mutex_);
    return default_type_;
}

bool Client::IsSetDefaultType()
{
    Mutex::Guard g(mutex_);
    return default_type_ != STANDARD;
}

bool Client::IsEnabled()
{
    Mutex::Guard g(mutex_);
    return (flags_ & ENABLED) != 0;
}

ReturnT Client::GetHostDnsTypeList(AutoPVector<Entry> &out)
{
    Mutex::Guard g(mutex_);
    out.clear();
    for (const auto &e : hosts_) {
        Entry *copy = Core::New<Entry>(*e);
        bool kept = false;
        if (copy) {
            try {
                out.emplace_back(copy);
                kept = true;
            } catch (...) {
                delete copy;
            }
        }
        if (!kept) {
            out.clear();
            return StatusLog(SOURCE_).SetOom(0x040a);
        }
    }
    return static_cast<ReturnT>(0x002002bcu);
}

bool Client::GetTypeNames(StringVector &names)
{
    try {
        for (const char *n : kTypeNames)
            names.push_back(n);
    } catch (...) {
        return false;
    }
    return true;
}

}  // namespace AdguardDns
