// Shares, users, printers and permissive mode, pushed into the running
// server with one control-tool run per change, and replayed when it starts.
#include "Cifs/ServerVX.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace Cifs {

namespace {

ReturnT Done() { return static_cast<ReturnT>(Code::DONE); }

bool SameLabel(const String &a, const String &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

}  // namespace

bool IsValidLabel(const String &label)
{
    if (label.empty() || label.size() > 64)
        return false;
    for (unsigned char ch : label)
        if (ch < 0x20 || ch == 0x7f || std::strchr("\\/:*?\"<>|", ch))
            return false;
    if (SameLabel(label, "IPC$"))
        return false;
    // A drive letter and '$' is an administrative share of the clients.
    if (label.size() == 2 && std::isalpha(static_cast<unsigned char>(label[0])) && label[1] == '$')
        return false;
    return true;
}

// The tool's refusals and a hung tool must reach the caller: its exit status
// and the bound decide, and its output goes to the log.
ReturnT ServerVX::Do_(const StringVector &words)
{
    if (!initialized_ || !controller_->CifsIsStarted() || !controller_->CifsIsConfigured() || !server_up_)
        return Done();
    const String verb = words.empty() ? String() : words[0];
    if (!process_)
        return StatusLog(Code::RUN_FAILED, 2, Ident(), "control tool run \"%1\" failed") << verb;
    bool started = process_->SetArguments(words) && !Failed(process_->Start());
    bool ended = started && !Failed(process_->Wait(RUN_BOUND_MS));
    int status = ended ? process_->ExitStatus() : -1;
    String output = started ? process_->Output() : String();
    process_->StopWait();
    while (!output.empty() && std::isspace(static_cast<unsigned char>(output.back())))
        output.pop_back();
    if (status == 0)
        return Done();
    Log::Write(Ident(), 2,
               "vxcsctrl " + verb +
                   (ended     ? " exited with " + std::to_string(status)
                    : started ? " timed out"
                              : " did not start") +
                   (output.empty() ? String() : ": " + output));
    return StatusLog(Code::RUN_FAILED, 2, Ident(), "control tool run \"%1\" failed") << verb;
}

ReturnT ServerVX::FlushShare_(const Share &share)
{
    if (!share.exists)
        return Done();
    String real;
    if (Failed(core_.files->GetRealName(share.mount, real)))
        return StatusLog(Code::NO_REAL_PATH, 2, Ident(), "failed to get a real path for \"%1\"")
               << share.mount;
    return Do_({"addfileshare", share.label, real, share.description});
}

int ServerVX::FindShare_(const String &label) const
{
    for (size_t i = 0; i < shares_.size(); ++i)
        if (SameLabel(shares_[i].label, label))
            return static_cast<int>(i);
    return -1;
}

ReturnT ServerVX::CheckExists_(const String &mount, bool &exists)
{
    exists = false;
    String real;
    ReturnT r = core_.files->GetRealName(mount, real);
    if (static_cast<uint32_t>(r) == FileSystem::Repository::FAILURE)
        return StatusLog(Code::EXISTENCE_CHECK, 2, Ident(), "failed to check existence of \"%1\"") << mount;
    if (Failed(r))
        return Done();
    if (Failed(core_.files->Exists(real, exists)))
        return StatusLog(Code::EXISTENCE_CHECK, 2, Ident(), "failed to check existence of \"%1\"") << mount;
    return Done();
}

ReturnT ServerVX::AddShare(const String &label, const String &mount, bool, const String &description)
{
    Mutex::Guard g(lock_);
    return AddShare_(label, mount, description);
}

ReturnT ServerVX::AddShare_(const String &label, const String &mount, const String &description)
{
    if (!core_.files->IsValidName(mount))
        return StatusLog(Code::BAD_MOUNT, 2, Ident(), "mounting path \"%1\" is invalid") << mount;
    if (label.empty())
        return StatusLog(Code::EMPTY_LABEL, 2, Ident(), "a share label is empty");
    if (mount.empty())
        return StatusLog(Code::EMPTY_MOUNT, 2, Ident(), "a mount path is empty");
    if (!IsValidLabel(label))
        return StatusLog(Code::BAD_LABEL, 2, Ident(), "a share label \"%1\" is invalid") << label;
    if (FindShare_(label) >= 0)
        return StatusLog(Code::SHARE_EXISTS, 2, Ident(), "a share record for \"%1\" already exists") << label;
    std::vector<FileSystem::Info> mounted;
    if (Failed(core_.files->GetMounted(mounted)))
        return StatusLog(Code::NO_MOUNTED_LIST, 2, Ident(), "failed to get the mounted filesystem list");
    for (const FileSystem::Info &fs : mounted) {
        if (!fs.Holds(mount))
            continue;
        if (!fs.usb)
            return StatusLog(Code::NOT_USB, 2, Ident(),
                             "a mounting path \"%1\" is not on a removable USB storage")
                   << mount;
        break;
    }
    bool exists = false;
    ReturnT r = CheckExists_(mount, exists);
    if (Failed(r))
        return r;
    try {
        Share s;
        s.valid = true;
        s.label = label;
        s.mount = mount;
        s.description = description;
        s.exists = exists;
        shares_.push_back(s);
    } catch (...) {
        return StatusLog(Ident()).SetOom(30);
    }
    if (exists) {
        controller_->TryStart();
        r = FlushShare_(shares_.back());
        if (Failed(r)) {
            shares_.pop_back();
            return r;
        }
        UpdateSharesKey_();
    }
    return Done();
}

ReturnT ServerVX::RemoveShare(const String &label)
{
    Mutex::Guard g(lock_);
    int i = FindShare_(label);
    if (i < 0)
        return StatusLog(Code::NO_SHARE, 2, Ident(), "no share record for \"%1\"") << label;
    Do_({"removeshare", shares_[i].label});
    shares_.erase(shares_.begin() + i);
    UpdateSharesKey_();
    return Done();
}

ReturnT ServerVX::RemoveAllShares()
{
    Mutex::Guard g(lock_);
    while (!shares_.empty()) {
        Do_({"removeshare", shares_.front().label});
        shares_.erase(shares_.begin());
    }
    UpdateSharesKey_();
    return StatusLog(Code::DONE, 0, Ident(), "all shares removed");
}

bool ServerVX::GetShares(std::vector<Share> &list) const
{
    Mutex::Guard g(lock_);
    list.clear();
    try {
        list = shares_;
    } catch (...) {
        list.clear();
        Log::Oom(Ident(), 31);
        return false;
    }
    return true;
}

void ServerVX::Automount_(const FileSystem::Info &fs)
{
    for (const Share &s : shares_)
        if (fs.Holds(s.mount))
            return;
    const String &name = fs.name;
    if (std::count(name.begin(), name.end(), ':') > 1 || name.size() < 2) {
        StatusLog(static_cast<uint32_t>(::Code::FAIL), 2, Ident(), "invalid filesystem name \"%1\"") << name;
        return;
    }
    // A label that can't name a share (empty, or one a USB stick may well
    // carry, like "A/B") gives way to the file system's own name.
    String label = IsValidLabel(fs.label) ? fs.label : name.substr(0, name.size() - 1);
    if (Failed(AddShare_(label, name, String())))
        StatusLog(0x40CE0010u, 1, Ident(), "failed to automount \"%1\", ignored") << name;
}

ReturnT ServerVX::SetAutomount(bool on)
{
    Mutex::Guard g(lock_);
    automount_ = on;
    if (!on || !initialized_)
        return Done();
    std::vector<FileSystem::Info> mounted;
    if (Failed(core_.files->GetMounted(mounted)))
        return StatusLog(Code::NO_MOUNTED_LIST, 2, Ident(), "failed to get the mounted filesystem list");
    for (const FileSystem::Info &fs : mounted)
        if (fs.usb && fs.type != 7)
            Automount_(fs);
    controller_->TryStart();
    return Done();
}

void ServerVX::OnFs_(const Event::Fs &e)
{
    if (!e.usb || e.type == 7)
        return;
    FileSystem::Info fs;
    fs.name = e.name;
    fs.label = e.label;
    fs.usb = e.usb;
    fs.type = e.type;
    if (e.action != 0) {
        for (Share &s : shares_) {
            if (!fs.Holds(s.mount))
                continue;
            Do_({"removeshare", s.label});
            s.exists = false;
        }
        UpdateSharesKey_();
        return;
    }
    if (automount_)
        Automount_(fs);
    // Shares attached already (the one automount just added) are not sent
    // twice: the server would refuse the second as a duplicate.
    std::vector<bool> appeared(shares_.size(), false);
    for (size_t i = 0; i < shares_.size(); ++i) {
        Share &s = shares_[i];
        if (!fs.Holds(s.mount) || s.exists)
            continue;
        bool exists = false;
        if (Failed(CheckExists_(s.mount, exists)))
            StatusLog(Code::EXISTENCE_CHECK, 2, Ident(), "failed to check existence of \"%1\", not mounted")
                << s.mount;
        else if (exists)
            s.exists = appeared[i] = true;
    }
    UpdateSharesKey_();
    controller_->TryStart();
    for (size_t i = 0; i < shares_.size(); ++i)
        if (appeared[i])
            FlushShare_(shares_[i]);
}

void ServerVX::ActivateUser_(const String &name, const String &password, bool owner)
{
    Do_({"removeuser", name});
    Do_({"adduser", name, password});
    Do_({"setprinterowner", name, owner ? "yes" : "no"});
}

void ServerVX::DeactivateUser_(const String &name)
{
    auto it = std::find(active_users_.begin(), active_users_.end(), name);
    if (it == active_users_.end())
        return;
    Do_({"removeuser", name});
    active_users_.erase(it);
}

void ServerVX::OnUser_(const Event::User &e)
{
    if (e.action < 0 || e.action > 2)
        return;
    if (e.action == 2 || !e.HasTag(USER_TAG)) {
        DeactivateUser_(e.name);
        return;
    }
    String password;
    if (!e.GetPassword("nt", &password)) {
        StatusLog(0x40CE0011u, 1, Ident(), "\"%1\" user has \"%2\" tag but has no \"%3\" password, ignored")
            << e.name << USER_TAG << "nt";
        DeactivateUser_(e.name);
        return;
    }
    if (std::find(active_users_.begin(), active_users_.end(), e.name) == active_users_.end()) {
        try {
            active_users_.push_back(e.name);
        } catch (...) {
            StatusLog(static_cast<uint32_t>(::Code::OOM), 3, Ident(),
                      "no memory to activate \"%1\" user, ignored")
                << e.name;
            return;
        }
    }
    ActivateUser_(e.name, password, e.HasTag(core_.printers->Tag()));
}

ReturnT ServerVX::SetPermissive(bool on)
{
    Mutex::Guard g(lock_);
    if (!initialized_)
        return StatusLog(Code::NOT_INITIALIZED, 3, Ident(), "instance is not initialized");
    ReturnT r = Do_({"setpermissive", on ? "yes" : "no"});
    if (Failed(r))
        return r;
    permissive_ = on;
    return Done();
}

bool ServerVX::ActivatePrinter(const Printer::Id &id, const String &share, const String &device,
                               const String &status_file, bool, uint16_t, uint32_t debug_level)
{
    Mutex::Guard g(lock_);
    for (size_t i = 0; i < printers_.size(); ++i) {
        if (!(printers_[i].id == id))
            continue;
        printers_.erase(printers_.begin() + static_cast<std::ptrdiff_t>(i));
        StatusLog(0x40CE0012u, 1, Ident(), "previous instance of \"%1\" removed") << id.ToString();
        break;
    }
    try {
        printers_.push_back(Printer_{id, share, device, status_file, std::to_string(debug_level)});
    } catch (...) {
        StatusLog(static_cast<uint32_t>(::Code::OOM), 2, Ident(), "failed to create a new printer instance");
        return false;
    }
    controller_->TryStart();
    const Printer_ &p = printers_.back();
    if (Failed(Do_({"addprintershare", p.share, p.device, p.status_file, p.debug_level}))) {
        printers_.pop_back();
        UpdateKey_(KEY_PRINTERS, static_cast<int64_t>(printers_.size()));
        return false;
    }
    UpdateKey_(KEY_PRINTERS, static_cast<int64_t>(printers_.size()));
    return true;
}

void ServerVX::DeactivatePrinter(const Printer::Id &id)
{
    Mutex::Guard g(lock_);
    for (size_t i = 0; i < printers_.size(); ++i) {
        if (!(printers_[i].id == id))
            continue;
        Do_({"removeshare", printers_[i].share});
        printers_.erase(printers_.begin() + static_cast<std::ptrdiff_t>(i));
        UpdateKey_(KEY_PRINTERS, static_cast<int64_t>(printers_.size()));
        return;
    }
}

// The server came up empty: everything it should hold, in order.
void ServerVX::OnServiceUp_(const Event::ServiceUp &e)
{
    if (e.id != SERVICE_CIFS)
        return;
    server_up_ = true;
    SignalConfigurationChanged();
    for (const Share &s : shares_)
        FlushShare_(s);
    for (const Printer_ &p : printers_)
        Do_({"addprintershare", p.share, p.device, p.status_file, p.debug_level});
    Do_({"setpermissive", permissive_ ? "yes" : "no"});
    active_users_.clear();
    StringVector names;
    if (Failed(core_.auth->GetUsersByTag(USER_TAG, names))) {
        Log::Fail(Ident(), 32);
        names.clear();
    }
    for (const String &name : names) {
        String password;
        ReturnT r = core_.auth->GetPassword(name, "nt", 0, password);
        if (static_cast<uint32_t>(r) == Core::Authenticator::NO_SUCH_USER ||
            static_cast<uint32_t>(r) == Core::Authenticator::NO_PASSWORD) {
            StatusLog(0x40CE0011u, 2, Ident(),
                      "\"%1\" user has \"%2\" tag but has no \"%3\" password, ignored")
                << name << USER_TAG << "nt";
            continue;
        }
        if (Failed(r)) {
            StatusLog(static_cast<uint32_t>(::Code::FAIL), 3, Ident(),
                      "failed to get \"%1\" password for \"%2\" user, ignored")
                << "nt" << name;
            continue;
        }
        try {
            active_users_.push_back(name);
        } catch (...) {
            StatusLog(static_cast<uint32_t>(::Code::OOM), 3, Ident(),
                      "no memory to activate \"%1\" user, ignored")
                << name;
            continue;
        }
        ActivateUser_(name, password, core_.auth->HasTag(name, core_.printers->Tag()));
    }
    StatusLog(Code::DONE, 0, Ident(), "service started");
}

}  // namespace Cifs
