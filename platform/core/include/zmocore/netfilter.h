// Firewall tables: the core's chains, chains of plug-ins, their entries.
// A commit hands the table to the system as iptables-save text (here: the
// journal).
#ifndef ZMOCORE_NETFILTER_H
#define ZMOCORE_NETFILTER_H

#include "zmocore/module.h"
#include "zmocore/network.h"

namespace Netfilter {

namespace Target {
namespace Standard {
constexpr const char *ACCEPT = "ACCEPT";
constexpr const char *DROP = "DROP";
// Leaves the chain: back to the one that jumped here.
constexpr const char *REPEAT = "RETURN";
}  // namespace Standard
}  // namespace Target

struct ZMOCORE_API PortRange {
    uint16_t from = 0, to = 0;
    bool Set() const { return from != 0 || to != 0; }
    bool operator==(const PortRange &o) const { return from == o.from && to == o.to; }
};

class ZMOCORE_API Entry {
public:
    uint8_t protocol = 0;  // 0 any, 6 TCP, 17 UDP
    Network::IpBlock source;
    bool source_set = false;
    bool source_not = false;
    Network::IpBlock destination;
    bool destination_set = false;
    bool destination_not = false;
    String in_interface;  // "ppp+" style masks allowed
    String out_interface;
    PortRange source_ports;  // of the protocol's match
    PortRange destination_ports;
    // A standard target (ACCEPT, DROP, RETURN) or a chain name to jump to.
    String target;
    uint16_t redirect_port = 0;  // target REDIRECT --to-ports when non-zero

    void SetSource(const Network::IpBlock &b, bool invert = false);
    void SetDestination(const Network::IpBlock &b, bool invert = false);
    void SetRedirect(uint16_t port) { target = "REDIRECT", redirect_port = port; }
    // The rule as iptables-save writes it after "-A CHAIN ".
    String Render() const;
};

namespace Base {
template <typename T> class Predicate {
public:
    virtual ~Predicate() = default;
    virtual bool operator()(const T &item) const = 0;
    virtual bool Valid() const { return true; }
};
}  // namespace Base

class ZMOCORE_API Table {
public:
    enum NameT { FILTER, NAT };
    // Chains of the core that plug-ins hook into.
    static const char *const CHAIN_ZMO_OUTPUT;           // filter
    static const char *const CHAIN_ZMO_MULTICAST_INPUT;  // filter
    static const char *const CHAIN_ZMO_DNS_REDIRECT;     // nat

    virtual ~Table() = default;
    virtual NameT Name() const = 0;
    // policy empty: a user chain.
    virtual ReturnT CreateChain(const String &chain, const String &policy = String()) = 0;
    virtual ReturnT RemoveChain(const String &chain) = 0;
    virtual ReturnT ClearChain(const String &chain) = 0;
    virtual bool HasChain(const String &chain) const = 0;
    virtual ReturnT Append(const String &chain, const Entry &e) = 0;
    virtual ReturnT Prepend(const String &chain, const Entry &e) = 0;
    // Removes every entry of the chain for which pred is true.
    virtual ReturnT Remove(const String &chain, const Base::Predicate<Entry> &pred) = 0;
    virtual std::vector<Entry> Entries(const String &chain) const = 0;
    virtual ReturnT Commit() = 0;
};

class ZMOCORE_API Manager : public Core::Module::Component {
public:
    static constexpr const char *IDENT = "Netfilter::Manager";
    // The table for the caller alone until Release; commit to make changes
    // take effect. Changes not committed are dropped at Release.
    virtual ReturnT Acquire(Table::NameT name, Table **table) = 0;
    virtual void Release(Table *table) = 0;
    // Each in one acquire and commit.
    virtual ReturnT ClearChain(Table::NameT name, const String &chain) = 0;
    virtual ReturnT RemoveChain(Table::NameT name, const String &chain) = 0;
    // iptables-save text of the committed table.
    virtual String Save(Table::NameT name) const = 0;
};

}  // namespace Netfilter

#endif
