// File systems over folders: names ("USB0:"), labels, USB flag, type, mounts;
// and the swap calls.
#include "builtins.h"

#include <sys/stat.h>
#include <sys/swap.h>

#include <cerrno>
#include <cstring>

namespace FileSystem {

namespace {
// "USB0:/a/b" -> prefix "USB0", rest "/a/b"; false when it is no file name.
bool Split(const String &file, String *prefix, String *rest)
{
    size_t colon = file.find(':');
    if (colon == String::npos || colon == 0)
        return false;
    if (file.find(':', colon + 1) != String::npos)
        return false;
    *prefix = file.substr(0, colon);
    *rest = file.substr(colon + 1);
    if (!rest->empty() && (*rest)[0] != '/')
        return false;
    // No way out of the file system's folder.
    size_t pos = 0;
    while (pos <= rest->size()) {
        size_t next = rest->find('/', pos);
        if (next == String::npos)
            next = rest->size();
        if (rest->compare(pos, next - pos, "..") == 0 && next - pos == 2)
            return false;
        pos = next + 1;
    }
    return true;
}
}  // namespace

bool Info::Holds(const String &file) const
{
    String prefix, rest;
    if (!Split(file, &prefix, &rest))
        return false;
    return prefix + ":" == name || (!label.empty() && prefix == label);
}

namespace Native {

namespace {
bool RealCallAllowed(const String &path)
{
    Core::Host::Impl *c = ::Core::Current();
    if (!c || c->options.real_swap_label.empty())
        return false;
    FileSystem::Info fs;
    return c->builtins->fs.FindByRealPath(path, &fs) && fs.label == c->options.real_swap_label;
}
}  // namespace

ReturnT SwapOn_(const String &path, int flags)
{
    if (::Core::Fail("swap.on")) {
        ::Core::Journal("swapon " + path + " failed (injected)");
        return static_cast<ReturnT>(0x80ff0030u);
    }
    if (RealCallAllowed(path) && swapon(path.c_str(), flags) != 0) {
        ::Core::Journal("swapon " + path + " failed: " + strerror(errno));
        return static_cast<ReturnT>(0x80ff0030u);
    }
    ::Core::Journal("swapon " + path + " flags=" + std::to_string(flags));
    return static_cast<ReturnT>(Code::DONE);
}

ReturnT SwapOff_(const String &path)
{
    if (::Core::Fail("swap.off")) {
        ::Core::Journal("swapoff " + path + " failed (injected)");
        return static_cast<ReturnT>(0x80ff0031u);
    }
    if (RealCallAllowed(path) && swapoff(path.c_str()) != 0) {
        ::Core::Journal("swapoff " + path + " failed: " + strerror(errno));
        return static_cast<ReturnT>(0x80ff0031u);
    }
    ::Core::Journal("swapoff " + path);
    return static_cast<ReturnT>(Code::DONE);
}

}  // namespace Native
}  // namespace FileSystem

namespace Core {

bool FsRepositoryImpl::IsValidName(const String &file) const
{
    String prefix, rest;
    return FileSystem::Split(file, &prefix, &rest);
}

ReturnT FsRepositoryImpl::GetRealName(const String &file, String &real) const
{
    if (::Core::Fail("fs.repository"))
        return static_cast<ReturnT>(FAILURE);
    String prefix, rest;
    if (!FileSystem::Split(file, &prefix, &rest))
        return static_cast<ReturnT>(BAD_NAME);
    std::lock_guard<std::mutex> g(mutex_);
    for (const auto &fs : mounted_) {
        if (fs.Holds(file)) {
            try {
                real = fs.directory + rest;
            } catch (...) {
                return static_cast<ReturnT>(FAILURE);
            }
            return static_cast<ReturnT>(Code::DONE);
        }
    }
    return static_cast<ReturnT>(NOT_FOUND);
}

ReturnT FsRepositoryImpl::GetMounted(std::vector<FileSystem::Info> &out) const
{
    if (::Core::Fail("fs.mounted"))
        return static_cast<ReturnT>(FAILURE);
    std::lock_guard<std::mutex> g(mutex_);
    try {
        out = mounted_;
    } catch (...) {
        return static_cast<ReturnT>(Code::OOM);
    }
    return static_cast<ReturnT>(Code::DONE);
}

ReturnT FsRepositoryImpl::Exists(const String &real, bool &exists) const
{
    if (::Core::Fail("fs.exists"))
        return static_cast<ReturnT>(FAILURE);
    struct stat st;
    exists = stat(real.c_str(), &st) == 0;
    return static_cast<ReturnT>(Code::DONE);
}

StringVector FsRepositoryImpl::Names() const
{
    std::lock_guard<std::mutex> g(mutex_);
    StringVector v;
    for (const auto &fs : mounted_) {
        v.push_back(fs.name);
        if (!fs.label.empty())
            v.push_back(fs.label + ":");
    }
    return v;
}

void FsRepositoryImpl::Mount(const FileSystem::Info &fs)
{
    std::lock_guard<std::mutex> g(mutex_);
    for (auto &m : mounted_)
        if (m.name == fs.name) {
            m = fs;
            return;
        }
    mounted_.push_back(fs);
}

bool FsRepositoryImpl::Unmount(const String &name, FileSystem::Info *was)
{
    std::lock_guard<std::mutex> g(mutex_);
    for (auto it = mounted_.begin(); it != mounted_.end(); ++it)
        if (it->name == name) {
            if (was)
                *was = *it;
            mounted_.erase(it);
            return true;
        }
    return false;
}

bool FsRepositoryImpl::FindByRealPath(const String &real, FileSystem::Info *out) const
{
    std::lock_guard<std::mutex> g(mutex_);
    for (const auto &fs : mounted_) {
        const String &d = fs.directory;
        if (!d.empty() && real.compare(0, d.size(), d) == 0 &&
            (real.size() == d.size() || real[d.size()] == '/')) {
            *out = fs;
            return true;
        }
    }
    return false;
}

}  // namespace Core
