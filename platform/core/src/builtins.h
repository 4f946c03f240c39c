// The core's own components, as the host and the script see them.
#ifndef ZMOCORE_BUILTINS_H
#define ZMOCORE_BUILTINS_H

#include "core_impl.h"

#include <random>

namespace Core {

struct TableState;

class NetfilterManagerImpl : public Netfilter::Manager {
public:
    NetfilterManagerImpl();
    ~NetfilterManagerImpl() override;
    const char *Ident() const override { return IDENT; }
    ReturnT Acquire(Netfilter::Table::NameT name, Netfilter::Table **table) override;
    void Release(Netfilter::Table *table) override;
    ReturnT ClearChain(Netfilter::Table::NameT name, const String &chain) override;
    ReturnT RemoveChain(Netfilter::Table::NameT name, const String &chain) override;
    String Save(Netfilter::Table::NameT name) const override;
    ReturnT CommitState(Netfilter::Table::NameT name, const TableState &s);

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::map<Netfilter::Table::NameT, bool> held_;
    std::map<Netfilter::Table::NameT, TableState> states_;
};

class PortAllocatorImpl : public Network::PortAllocator {
public:
    const char *Ident() const override { return IDENT; }
    ReturnT Reserve(const String &owner, ProtocolT proto, uint16_t port, uint32_t level) override;
    void Clear(const String &owner) override;
    String OwnerOf(ProtocolT proto, uint16_t port) const override;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<int, uint16_t>, String> owners_;
};

class DashboardImpl : public Dashboard {
public:
    const char *Ident() const override { return IDENT; }
    ReturnT RegisterKey(const String &key, int64_t initial, int track_mode) override;
    ReturnT SetKey(const String &key, int64_t value) override;
    void UnregisterKey(const String &key) override;
    bool GetKey(const String &key, int64_t *value) const override;
    std::map<String, int64_t> All() const;

private:
    mutable std::mutex mutex_;
    std::map<String, int64_t> keys_;
};

class AuthenticatorImpl : public Authenticator {
public:
    struct UserRecord {
        StringVector tags;
        std::map<String, String> passwords;
    };
    const char *Ident() const override { return IDENT; }
    ReturnT RegisterTag(const String &tag) override;
    void UnregisterTag(const String &tag) override;
    ReturnT GetUsersByTag(const String &tag, StringVector &names) override;
    bool HasTag(const String &user, const String &tag) override;
    ReturnT GetPassword(const String &user, const String &type, int category, String &out) override;
    void SetUser(const String &name, const UserRecord &r);
    void RemoveUser(const String &name);
    StringVector Tags() const;

private:
    mutable std::mutex mutex_;
    std::map<String, UserRecord> users_;
    StringVector tags_;
};

class ServiceLockImpl : public ServiceLock {
public:
    const char *Ident() const override { return IDENT; }
    ReturnT TryAcquire(const String &id, const String &name) override;
    ReturnT Release(const String &id, const String &name) override;

private:
    std::mutex mutex_;
    std::map<String, String> holders_;
};

class KnownHostsImpl : public KnownHosts {
public:
    const char *Ident() const override { return IDENT; }
    bool IsExist(const Network::MacAddress &mac) const override;
    void Add(const Network::MacAddress &mac);
    bool Remove(const Network::MacAddress &mac);
    void Clear();

private:
    mutable std::mutex mutex_;
    std::set<Network::MacAddress> hosts_;
};

class NeighbourTableImpl : public Network::NeighbourTable {
public:
    const char *Ident() const override { return IDENT; }
    Network::IpAddress GetLatestIp(const Network::MacAddress &mac) const override;
    void Set(const Network::MacAddress &mac, Network::IpAddress ip);

private:
    mutable std::mutex mutex_;
    std::map<Network::MacAddress, Network::IpAddress> latest_;
};

class RandomImpl : public RandomNumberGenerator {
public:
    explicit RandomImpl(uint32_t seed) : gen_(seed) {}
    const char *Ident() const override { return IDENT; }
    uint32_t Get() const override;
    void Seed(uint32_t seed);

private:
    mutable std::mutex mutex_;
    mutable std::mt19937 gen_;
};

class SystemConfigImpl : public System::Config {
public:
    const char *Ident() const override { return IDENT; }
    ReturnT GetWanMacAddress(Network::MacAddress &mac) const override;
    void SetWanMac(const Network::MacAddress &m);

private:
    mutable std::mutex mutex_;
    Network::MacAddress mac_;
};

class ModeImpl : public ModeComponent {
public:
    const char *Ident() const override { return IDENT; }
};

class FsRepositoryImpl : public FileSystem::Repository {
public:
    const char *Ident() const override { return IDENT; }
    bool IsValidName(const String &file) const override;
    ReturnT GetRealName(const String &file, String &real) const override;
    ReturnT GetMounted(std::vector<FileSystem::Info> &out) const override;
    ReturnT Exists(const String &real, bool &exists) const override;
    StringVector Names() const override;
    // Mounts (replacing one of the name) or unmounts.
    void Mount(const FileSystem::Info &fs);
    bool Unmount(const String &name, FileSystem::Info *was);
    // The file system a real path is on, when any.
    bool FindByRealPath(const String &real, FileSystem::Info *out) const;

private:
    mutable std::mutex mutex_;
    std::vector<FileSystem::Info> mounted_;
};

class PrinterManagerImpl : public Printer::Manager {
public:
    const char *Ident() const override { return IDENT; }
    ReturnT RegisterController(Printer::Controller *c) override;
    void UnregisterController(Printer::Controller *c) override;
    const char *Tag() const override { return "printers"; }
    // Hands a printer to every controller (the script's "event printer").
    bool Activate(const Printer::Id &id, const String &share, const String &device, const String &status,
                  uint32_t debug);
    void Deactivate(const Printer::Id &id);

private:
    std::mutex mutex_;
    std::vector<Printer::Controller *> controllers_;
};

class DnsManagerImpl : public Dns::Manager {
public:
    const char *Ident() const override { return IDENT; }
    ReturnT ReinitProxy(int flags) override;
    ReturnT ClearServiceData(const String &name) override;
};

class DhcpClientImpl : public Dhcp::Client {
public:
    const char *Ident() const override { return IDENT; }
    ReturnT SetAutoStart(const String &type) override;
    StringVector Types() const;

private:
    mutable std::mutex mutex_;
    StringVector types_;
};

class InterfaceRepositoryImpl : public Network::Interface::Repository {
public:
    const char *Ident() const override { return IDENT; }
    ReturnT GetIds(const String &kind, StringVector &ids) const override;
    bool FindIp(const String &id, Network::Interface::IpInfo &info) const override;
    Network::Interface::Base *Find(const String &id) const override;

    void SetIp(const Network::Interface::IpInfo &info);
    bool RemoveIp(const String &id);
    bool AddObject(Network::Interface::Base *b);
    void RemoveObject(Network::Interface::Base *b);
    bool AddCreator(Network::Interface::Factory::BaseCreator *c);
    void RemoveCreator(Network::Interface::Factory::BaseCreator *c);
    bool IndexTaken(const String &type, unsigned index) const;
    // Offers a USB device event: to the interface that holds the device, else
    // to a free interface of a matching creator, else to a new one.
    void OfferDevice(const Event::Device &d);
    bool DeviceHeld(const Event::Device &d) const;
    // Interfaces made from devices, for the host to clean up.
    void DestroyCreated();

private:
    mutable std::recursive_mutex mutex_;
    std::map<String, Network::Interface::IpInfo> ip_;
    std::vector<Network::Interface::Base *> objects_;
    std::vector<Network::Interface::Factory::BaseCreator *> creators_;
    std::vector<std::unique_ptr<Network::Interface::Base>> created_;
};

class BuiltIns {
public:
    explicit BuiltIns(const HostOptions &o);
    void RegisterAll();
    void UnregisterAll();
    NetfilterManagerImpl netfilter;
    PortAllocatorImpl ports;
    DashboardImpl dashboard;
    AuthenticatorImpl auth;
    ServiceLockImpl service_lock;
    KnownHostsImpl known_hosts;
    NeighbourTableImpl neighbours;
    RandomImpl random;
    SystemConfigImpl sysconfig;
    ModeImpl mode;
    FsRepositoryImpl fs;
    PrinterManagerImpl printers;
    DnsManagerImpl dns;
    DhcpClientImpl dhcp;
    InterfaceRepositoryImpl interfaces;
};

}  // namespace Core

#endif
