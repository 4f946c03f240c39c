// The AdGuard DNS client: which LAN hosts use which resolver set, the
// safety file of the DNS proxy and the nat chain that keeps LAN DNS on it.
#ifndef ADGUARDDNS_CLIENT_H
#define ADGUARDDNS_CLIENT_H

#include "zmocore.h"

namespace AdguardDns {

// Values of the outside service.
extern const char *const AG_CONF_FILE_;
extern const char *const RESOLVER_NAME_;
extern const char *const AG_CONF_STANDARD_DNS_LIST_[2];
extern const char *const AG_CONF_FAMILY_DNS_LIST_[2];
extern const char *const CHAIN_;
extern const char *const SOURCE_;

class Client : public Core::Module::Component, public Task::Apply::Owner {
public:
    enum DnsT { DEFAULT = 0, STANDARD = 1, FAMILY = 2 };
    static DnsT TypeOf(const String &name);
    // "" for a value outside the table.
    static const char *NameOf(int type);

    class Entry {
    public:
        Entry(const Network::MacAddress &mac, DnsT type) : initialized_(true), host_(mac), type_(type) {}
        const Network::MacAddress &Host() const { return host_; }
        DnsT DnsType() const { return type_; }
        void SetDnsType(DnsT t) { type_ = t; }
        const char *TypeName() const { return NameOf(type_); }

    private:
        bool initialized_;
        Network::MacAddress host_;
        DnsT type_;
    };

    enum FlagT : uint32_t { LOCKED = 1, FILE_WRITTEN = 2, WAN = 4, ENABLED = 8, AVAILABLE = 16 };

    Client(Network::Interface::Repository &interfaces, Network::NeighbourTable &neighbours,
           Netfilter::Manager &netfilter, Core::ServiceLock &lock, Dns::Manager &dns, Core::KnownHosts &hosts,
           Task::Queue *queue);
    ~Client() override;
    const char *Ident() const override { return "AdguardDns::Client"; }
    ReturnT Apply() override;

    // Subscribes, records the interfaces and builds the chain; false when
    // the client can't work (it then has undone what it did).
    bool Setup();
    bool Initialized() const { return chain_ready_; }

    ReturnT Enable(bool on);
    ReturnT SetHostProfile(const Network::MacAddress &mac, const String &type);
    ReturnT DeleteHostToken(const Network::MacAddress &mac);
    ReturnT SetDefaultType(const String &type);
    ReturnT ResetDefaultType();
    DnsT GetDefaultType();
    bool IsSetDefaultType();
    bool IsEnabled();
    ReturnT GetHostDnsTypeList(AutoPVector<Entry> &out);
    static bool GetTypeNames(StringVector &names);
    ReturnT CheckAvailability(Log::VerboseT verbose);
    ReturnT AttachAvailabilityTo(Xml::Node &node);
    ReturnT AttachProfilesTo(Xml::Node &node);
    Mutex &Lock() { return mutex_; }

private:
    struct Interface_ {
        String system_name;
        Network::Interface::SecurityLevelT level = 0;
        Network::IpBlock address;
        bool initialized = false;
    };

    ReturnT EnableImpl_(bool on);
    ReturnT Disable_();
    ReturnT SetDefaultType_(DnsT type);
    ReturnT DeleteHostToken_(const Network::MacAddress &mac);
    ReturnT UpdateNetfilter_();
    ReturnT WriteSafetyFile_(uint16_t port);
    uint16_t GetDnsPort_();
    bool IsBlockedNameResolved_(const char *server, uint16_t port);
    Entry *FindEntry_(const Network::MacAddress &mac);
    // Records the interface as OnIfCreated_ does; false on allocation failure.
    bool RecordInterface_(const String &id, const String &system_name);
    void UnsubscribeAll_();
    bool Subscribe_();

    void OnWan_(const Event::Wan &e);
    void OnKnownHost_(const Event::KnownHost &e);
    void OnNeighbour_(const Event::Neighbour &e);
    void OnIfCreated_(const Event::IfCreated &e);
    void OnIfDestroyed_(const Event::IfDestroyed &e);
    void OnIfIpChanged_(const Event::IfIpChanged &e);
    void OnIfPrivateChanged_(const Event::IfPrivateChanged &e);

    Network::Interface::Repository &interfaces_;
    Network::NeighbourTable &neighbours_;
    Netfilter::Manager &netfilter_;
    Core::ServiceLock &service_lock_;
    Dns::Manager &dns_;
    Core::KnownHosts &known_hosts_;
    Mutex mutex_;
    Task::Apply apply_;
    bool chain_ready_ = false;
    bool subscribed_ = false;
    AutoPVector<Entry> hosts_;
    DnsT default_type_ = STANDARD;
    uint32_t flags_ = 0;
    AutoPMap<String, Interface_> interfaces_map_;
    uint16_t dns_port_ = 53;
    Time::Span availability_deadline_;
};

}  // namespace AdguardDns

#endif
