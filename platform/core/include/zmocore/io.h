// Supervised daemons, short processes and files.
#ifndef ZMOCORE_IO_H
#define ZMOCORE_IO_H

#include "zmocore/base.h"
#include "zmocore/event.h"

#include <cstdio>

// A daemon that the core runs by argument vector (never through a shell)
// while it is both started and configured. It is up when its pid file names
// the live child, or, without a pid file, when the child is still alive
// after the first span. Stop kind 1 sends SIGTERM, then SIGKILL after the
// second span. A child that dies while wanted is run again after the third
// span. "Event::Type::ServiceUp" and "ServiceDown" carry the identifier and
// come from the core's event thread, also to the up and down delegates.
class ZMOCORE_API Service {
public:
    static Service *New(const char *program, const char *id, const StringVector &arguments, bool configured,
                        int stop_kind, Time::Span first, Time::Span second, const Event::Delegate &up,
                        const Event::Delegate &down, const char *pid_file, Time::Span third, unsigned number);
    virtual ~Service();
    virtual bool SetArguments(const StringVector &arguments) = 0;
    virtual bool PushArgument(const String &argument) = 0;
    virtual ReturnT Start() = 0;
    virtual ReturnT Stop() = 0;
    // Stops and waits until the child is gone (at most the second span and a
    // little more).
    virtual ReturnT StopWait() = 0;
    virtual bool IsStarted() const = 0;
    virtual bool IsUp() const = 0;
    // Signal kind 1 is SIGHUP; others are the signal numbers.
    virtual ReturnT Signal(int kind) = 0;
    virtual void SetConfigured(bool on) = 0;
    virtual bool IsConfigured() const = 0;
    virtual const String &Id() const = 0;
    virtual int Pid() const = 0;
};

namespace Io {

// End of line kinds: 1 "\r\n", 2 "\n".
enum { EOL_CRLF = 1, EOL_LF = 2 };

// A short program run by argument vector, its exit status and output kept.
class ZMOCORE_API Process {
public:
    Process(const char *identity, const char *program, int mode, int eol, int stop_signal, unsigned number,
            const char *last);
    ~Process();
    bool Initialized() const { return ok_; }
    // The words after the program name.
    bool SetArguments(const StringVector &words);
    ReturnT Start();
    // Until it ends or timeout_ms passes (Code::TIMEOUT).
    ReturnT Wait(uint32_t timeout_ms);
    // SIGTERM, SIGKILL after a moment, and wait.
    ReturnT StopWait();
    bool Running() const;
    // Exit status (-1 while running or killed by a signal).
    int ExitStatus() const;
    String Output() const;
    const String &Identity() const { return identity_; }

private:
    struct Run;
    String identity_, program_;
    StringVector words_;
    std::shared_ptr<Run> run_;
    bool ok_ = true;
};

// Io::Endl ends a line in the file's end-of-line kind.
struct EndlT {};
constexpr EndlT Endl{};

// A file whose operations can be made to fail from the host
// ("file.open", "file.write", "file.close", "file.truncate", "file.ioctl").
class ZMOCORE_API File {
public:
    File() = default;
    ~File();
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    // flags as open(2); the path goes through the core's root; mode is for a
    // file that the call creates.
    ReturnT Open(const String &path, int flags, int eol = EOL_LF, size_t buffer = 16384,
                 unsigned mode = 0644);
    bool IsOpen() const { return fd_ >= 0; }
    // The stream failed (a failed write or seek); sticky until ClearError.
    bool Error() const { return error_; }
    void ClearError() { error_ = false; }
    int LastErrno() const { return errno_; }
    String ErrorText() const;
    bool Write(const void *data, size_t size);
    bool Seek(uint64_t offset);
    bool SetLength(uint64_t length);
    bool GetLength(uint64_t *length);
    int Ioctl(unsigned long request, void *arg);
    // True when the open file is a regular file.
    bool IsRegular();
    // Reads exactly size bytes at offset; false on a short read or error.
    bool ReadAt(uint64_t offset, void *data, size_t size);
    // Flushes and closes; false when that failed.
    bool Close();
    File &operator<<(const String &s);
    File &operator<<(const char *s);
    File &operator<<(int64_t v);
    File &operator<<(int v) { return *this << static_cast<int64_t>(v); }
    File &operator<<(unsigned v) { return *this << static_cast<int64_t>(v); }
    File &operator<<(EndlT);
    const String &Path() const { return path_; }
    // Removes a file (through the root); false when it fails.
    static bool Remove(const String &path);
    // Renames a file over another (both through the root); false when it fails.
    static bool Rename(const String &from, const String &to);

private:
    bool Flush();
    int fd_ = -1;
    int eol_ = EOL_LF;
    bool error_ = false;
    int errno_ = 0;
    size_t limit_ = 16384;
    String path_;
    String pending_;
};

}  // namespace Io

#endif
