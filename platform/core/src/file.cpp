// Files the plug-ins write, with failures the host can inject.
#include "core_impl.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Io {

File::~File()
{
    if (fd_ >= 0)
        Close();
}

namespace {
String Mapped(const String &path) { return ::Core::MapPath(path); }
bool Injected(const char *op)
{
    Core::Host::Impl *c = ::Core::Current();
    return c && c->ShouldFail(op);
}
}  // namespace

ReturnT File::Open(const String &path, int flags, int eol, size_t buffer, unsigned mode)
{
    if (fd_ >= 0)
        Close();
    error_ = false;
    path_ = path;
    eol_ = eol;
    limit_ = buffer ? buffer : 1;
    if (Injected("file.open")) {
        errno_ = EACCES;
        error_ = true;
        ::Core::Journal("file open " + path + " refused (injected)");
        return static_cast<ReturnT>(Code::FAIL);
    }
    fd_ = open(Mapped(path).c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd_ < 0) {
        errno_ = errno;
        error_ = true;
        return static_cast<ReturnT>(Code::FAIL);
    }
    ::Core::Journal("file open " + path);
    return static_cast<ReturnT>(Code::DONE);
}

String File::ErrorText() const { return strerror(errno_); }

bool File::Flush()
{
    if (pending_.empty())
        return !error_;
    size_t off = 0;
    while (off < pending_.size()) {
        ssize_t n = write(fd_, pending_.data() + off, pending_.size() - off);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            errno_ = errno;
            error_ = true;
            pending_.clear();
            return false;
        }
        off += static_cast<size_t>(n);
    }
    pending_.clear();
    return !error_;
}

bool File::Write(const void *data, size_t size)
{
    if (fd_ < 0 || error_)
        return false;
    if (Injected("file.write")) {
        errno_ = ENOSPC;
        error_ = true;
        return false;
    }
    try {
        pending_.append(static_cast<const char *>(data), size);
    } catch (...) {
        errno_ = ENOMEM;
        error_ = true;
        return false;
    }
    if (pending_.size() >= limit_)
        return Flush();
    return true;
}

bool File::Seek(uint64_t offset)
{
    if (fd_ < 0 || !Flush())
        return false;
    if (lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
        errno_ = errno;
        error_ = true;
        return false;
    }
    return true;
}

bool File::SetLength(uint64_t length)
{
    if (fd_ < 0 || !Flush())
        return false;
    if (Injected("file.truncate")) {
        errno_ = EIO;
        return false;
    }
    if (ftruncate(fd_, static_cast<off_t>(length)) != 0) {
        errno_ = errno;
        return false;
    }
    return true;
}

bool File::GetLength(uint64_t *length)
{
    if (fd_ < 0 || !Flush())
        return false;
    struct stat st;
    if (fstat(fd_, &st) != 0) {
        errno_ = errno;
        return false;
    }
    *length = static_cast<uint64_t>(st.st_size);
    return true;
}

int File::Ioctl(unsigned long request, void *arg)
{
    if (fd_ < 0)
        return -1;
    if (Injected("file.ioctl")) {
        errno_ = ENOTTY;
        errno = ENOTTY;
        return -1;
    }
    // A driver request that no file system here knows, taken as done.
    if (Injected("file.ioctl.accept")) {
        ::Core::Journal("file ioctl " + path_ + " accepted (injected)");
        return 0;
    }
    int r = ioctl(fd_, request, arg);
    if (r < 0)
        errno_ = errno;
    return r;
}

bool File::IsRegular()
{
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0)
        return false;
    return S_ISREG(st.st_mode);
}

bool File::ReadAt(uint64_t offset, void *data, size_t size)
{
    if (fd_ < 0 || !Flush())
        return false;
    size_t done = 0;
    while (done < size) {
        ssize_t n =
            pread(fd_, static_cast<char *>(data) + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            errno_ = n < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool File::Close()
{
    if (fd_ < 0)
        return false;
    bool ok = Flush();
    if (Injected("file.close")) {
        errno_ = EIO;
        ok = false;
    }
    if (close(fd_) != 0) {
        errno_ = errno;
        ok = false;
    }
    fd_ = -1;
    ::Core::Journal("file close " + path_ + (ok ? "" : " failed"));
    return ok;
}

File &File::operator<<(const String &s)
{
    Write(s.data(), s.size());
    return *this;
}
File &File::operator<<(const char *s) { return *this << String(s ? s : ""); }
File &File::operator<<(int64_t v) { return *this << std::to_string(v); }
File &File::operator<<(EndlT) { return *this << String(eol_ == EOL_CRLF ? "\r\n" : "\n"); }

bool File::Remove(const String &path)
{
    if (Injected("file.remove"))
        return false;
    bool ok = unlink(Mapped(path).c_str()) == 0;
    ::Core::Journal("file remove " + path + (ok ? "" : " failed"));
    return ok;
}

bool File::Rename(const String &from, const String &to)
{
    if (Injected("file.rename")) {
        ::Core::Journal("file rename " + from + " " + to + " failed (injected)");
        return false;
    }
    bool ok = rename(Mapped(from).c_str(), Mapped(to).c_str()) == 0;
    ::Core::Journal("file rename " + from + " " + to + (ok ? "" : " failed"));
    return ok;
}

}  // namespace Io
