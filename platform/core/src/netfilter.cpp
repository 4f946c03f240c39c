// Firewall tables, kept as the core would hand them to the system.
#include "core_impl.h"
#include "builtins.h"

#include <algorithm>

namespace Netfilter {

const char *const Table::CHAIN_ZMO_OUTPUT = "_ZMO_OUTPUT";
const char *const Table::CHAIN_ZMO_MULTICAST_INPUT = "_ZMO_MCAST_INPUT";
const char *const Table::CHAIN_ZMO_DNS_REDIRECT = "_ZMO_DNS_REDIRECT";

void Entry::SetSource(const Network::IpBlock &b, bool invert)
{
    source = b, source_set = true, source_not = invert;
}
void Entry::SetDestination(const Network::IpBlock &b, bool invert)
{
    destination = b, destination_set = true, destination_not = invert;
}

namespace {
String Ports(const PortRange &r)
{
    return r.from == r.to ? std::to_string(r.from) : std::to_string(r.from) + ":" + std::to_string(r.to);
}
bool IsBuiltinChain(const String &c)
{
    return c == "INPUT" || c == "FORWARD" || c == "OUTPUT" || c == "PREROUTING" || c == "POSTROUTING";
}
}  // namespace

// In the order iptables-save writes the options.
String Entry::Render() const
{
    String o;
    auto add = [&](const String &s) {
        if (!o.empty())
            o += ' ';
        o += s;
    };
    if (source_set)
        add(String(source_not ? "! " : "") + "-s " + source.ToString());
    if (destination_set)
        add(String(destination_not ? "! " : "") + "-d " + destination.ToString());
    if (!in_interface.empty())
        add("-i " + in_interface);
    if (!out_interface.empty())
        add("-o " + out_interface);
    const char *proto = protocol == 17 ? "udp" : protocol == 6 ? "tcp" : nullptr;
    if (proto)
        add(String("-p ") + proto);
    else if (protocol)
        add("-p " + std::to_string(protocol));
    if (proto && (source_ports.Set() || destination_ports.Set())) {
        add(String("-m ") + proto);
        if (source_ports.Set())
            add("--sport " + Ports(source_ports));
        if (destination_ports.Set())
            add("--dport " + Ports(destination_ports));
    }
    if (!target.empty())
        add("-j " + target);
    if (redirect_port)
        add("--to-ports " + std::to_string(redirect_port));
    return o;
}

}  // namespace Netfilter

namespace Core {

struct TableState {
    struct Chain {
        String name, policy;
        std::vector<Netfilter::Entry> entries;
    };
    std::vector<Chain> chains;
    Chain *Find(const String &n)
    {
        for (Chain &c : chains)
            if (c.name == n)
                return &c;
        return nullptr;
    }
    const Chain *Find(const String &n) const
    {
        for (const Chain &c : chains)
            if (c.name == n)
                return &c;
        return nullptr;
    }
};

class TableImpl : public Netfilter::Table {
public:
    TableImpl(NetfilterManagerImpl &m, NameT n, const TableState &s) : m_(m), name_(n), work_(s) {}
    NameT Name() const override { return name_; }
    ReturnT CreateChain(const String &chain, const String &policy) override
    {
        if (chain.empty() || work_.Find(chain))
            return Fail("create chain " + chain);
        try {
            work_.chains.push_back({chain, policy, {}});
        } catch (...) {
            return static_cast<ReturnT>(Code::OOM);
        }
        return Done();
    }
    ReturnT RemoveChain(const String &chain) override
    {
        if (!work_.Find(chain) || Netfilter::IsBuiltinChain(chain))
            return Fail("remove chain " + chain);
        for (auto &c : work_.chains)
            c.entries.erase(std::remove_if(c.entries.begin(), c.entries.end(),
                                           [&](const Netfilter::Entry &e) { return e.target == chain; }),
                            c.entries.end());
        work_.chains.erase(std::remove_if(work_.chains.begin(), work_.chains.end(),
                                          [&](const TableState::Chain &c) { return c.name == chain; }),
                           work_.chains.end());
        return Done();
    }
    ReturnT ClearChain(const String &chain) override
    {
        auto *c = work_.Find(chain);
        if (!c)
            return Fail("clear chain " + chain);
        c->entries.clear();
        return Done();
    }
    bool HasChain(const String &chain) const override { return work_.Find(chain) != nullptr; }
    ReturnT Append(const String &chain, const Netfilter::Entry &e) override { return Put(chain, e, false); }
    ReturnT Prepend(const String &chain, const Netfilter::Entry &e) override { return Put(chain, e, true); }
    ReturnT Remove(const String &chain, const Netfilter::Base::Predicate<Netfilter::Entry> &pred) override
    {
        auto *c = work_.Find(chain);
        if (!c || !pred.Valid())
            return Fail("remove from " + chain);
        c->entries.erase(std::remove_if(c->entries.begin(), c->entries.end(),
                                        [&](const Netfilter::Entry &e) { return pred(e); }),
                         c->entries.end());
        return Done();
    }
    std::vector<Netfilter::Entry> Entries(const String &chain) const override
    {
        const auto *c = work_.Find(chain);
        return c ? c->entries : std::vector<Netfilter::Entry>();
    }
    ReturnT Commit() override;

private:
    ReturnT Put(const String &chain, const Netfilter::Entry &e, bool head)
    {
        auto *c = work_.Find(chain);
        // A jump must lead to a chain or a standard target.
        if (!c || (!e.target.empty() && e.target != "ACCEPT" && e.target != "DROP" && e.target != "RETURN" &&
                   e.target != "REDIRECT" && !work_.Find(e.target)))
            return Fail("entry into " + chain);
        try {
            if (head)
                c->entries.insert(c->entries.begin(), e);
            else
                c->entries.push_back(e);
        } catch (...) {
            return static_cast<ReturnT>(Code::OOM);
        }
        return Done();
    }
    ReturnT Fail(const String &what)
    {
        Journal("netfilter refused: " + what);
        return static_cast<ReturnT>(Code::FAIL);
    }
    static ReturnT Done() { return static_cast<ReturnT>(Code::DONE); }
    NetfilterManagerImpl &m_;
    NameT name_;
    TableState work_;
};

String RenderTable(Netfilter::Table::NameT name, const TableState &s)
{
    String o = name == Netfilter::Table::FILTER ? "*filter\n" : "*nat\n";
    for (const auto &c : s.chains)
        o += ":" + c.name + " " + (c.policy.empty() ? String("-") : c.policy) + " [0:0]\n";
    for (const auto &c : s.chains)
        for (const auto &e : c.entries)
            o += "-A " + c.name + " " + e.Render() + "\n";
    return o + "COMMIT\n";
}

NetfilterManagerImpl::NetfilterManagerImpl()
{
    TableState &f = states_[Netfilter::Table::FILTER];
    f.chains = {{"INPUT", "ACCEPT", {}},
                {"FORWARD", "ACCEPT", {}},
                {"OUTPUT", "ACCEPT", {}},
                {Netfilter::Table::CHAIN_ZMO_MULTICAST_INPUT, "", {}},
                {Netfilter::Table::CHAIN_ZMO_OUTPUT, "", {}}};
    Netfilter::Entry j;
    j.target = Netfilter::Table::CHAIN_ZMO_MULTICAST_INPUT;
    j.SetDestination(Network::IpBlock(Network::IpAddress(0xe0000000u), 4));
    f.Find("INPUT")->entries.push_back(j);
    Netfilter::Entry o;
    o.target = Netfilter::Table::CHAIN_ZMO_OUTPUT;
    f.Find("OUTPUT")->entries.push_back(o);
    TableState &n = states_[Netfilter::Table::NAT];
    n.chains = {{"PREROUTING", "ACCEPT", {}},
                {"INPUT", "ACCEPT", {}},
                {"OUTPUT", "ACCEPT", {}},
                {"POSTROUTING", "ACCEPT", {}},
                {Netfilter::Table::CHAIN_ZMO_DNS_REDIRECT, "", {}}};
    Netfilter::Entry d;
    d.target = Netfilter::Table::CHAIN_ZMO_DNS_REDIRECT;
    n.Find("PREROUTING")->entries.push_back(d);
}

NetfilterManagerImpl::~NetfilterManagerImpl() = default;

ReturnT NetfilterManagerImpl::Acquire(Netfilter::Table::NameT name, Netfilter::Table **table)
{
    *table = nullptr;
    if (::Core::Fail("netfilter.acquire"))
        return static_cast<ReturnT>(Code::FAIL);
    std::unique_lock<std::mutex> g(mutex_);
    cv_.wait(g, [&] { return !held_[name]; });
    TableImpl *t = new (std::nothrow) TableImpl(*this, name, states_[name]);
    if (!t)
        return static_cast<ReturnT>(Code::OOM);
    held_[name] = true;
    *table = t;
    return static_cast<ReturnT>(Code::DONE);
}

void NetfilterManagerImpl::Release(Netfilter::Table *table)
{
    if (!table)
        return;
    const auto name = table->Name();
    delete table;
    {
        std::lock_guard<std::mutex> g(mutex_);
        held_[name] = false;
    }
    cv_.notify_all();
}

ReturnT NetfilterManagerImpl::CommitState(Netfilter::Table::NameT name, const TableState &s)
{
    if (::Core::Fail("netfilter.commit")) {
        Journal(String("netfilter commit ") + (name == Netfilter::Table::FILTER ? "filter" : "nat") +
                " failed");
        return static_cast<ReturnT>(Code::FAIL);
    }
    String text;
    {
        std::lock_guard<std::mutex> g(mutex_);
        states_[name] = s;
        text = RenderTable(name, s);
    }
    Journal(String("netfilter commit ") + (name == Netfilter::Table::FILTER ? "filter" : "nat") + "\n" +
            text);
    return static_cast<ReturnT>(Code::DONE);
}

ReturnT TableImpl::Commit() { return m_.CommitState(name_, work_); }

ReturnT NetfilterManagerImpl::ClearChain(Netfilter::Table::NameT name, const String &chain)
{
    Netfilter::Table *t;
    ReturnT r = Acquire(name, &t);
    if (Failed(r))
        return r;
    r = t->ClearChain(chain);
    if (!Failed(r))
        r = t->Commit();
    Release(t);
    return r;
}

ReturnT NetfilterManagerImpl::RemoveChain(Netfilter::Table::NameT name, const String &chain)
{
    Netfilter::Table *t;
    ReturnT r = Acquire(name, &t);
    if (Failed(r))
        return r;
    r = t->RemoveChain(chain);
    if (!Failed(r))
        r = t->Commit();
    Release(t);
    return r;
}

String NetfilterManagerImpl::Save(Netfilter::Table::NameT name) const
{
    std::lock_guard<std::mutex> g(mutex_);
    auto it = states_.find(name);
    return it == states_.end() ? String() : RenderTable(name, it->second);
}

}  // namespace Core
