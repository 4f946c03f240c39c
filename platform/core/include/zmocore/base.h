// Management-core framework stand-in: results, logging, status, time, locks.
// Plug-ins are classes derived from these; nothing here throws across the
// plug-in boundary.
#ifndef ZMOCORE_BASE_H
#define ZMOCORE_BASE_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <new>
#include <string>
#include <vector>

#define ZMOCORE_API __attribute__((visibility("default")))

typedef int32_t ReturnT;

typedef std::string String;
typedef std::vector<std::string> StringVector;
template <typename T> using AutoPtr = std::unique_ptr<T>;
template <typename T> using AutoPVector = std::vector<std::unique_ptr<T>>;
template <typename K, typename T> using AutoPMap = std::map<K, std::unique_ptr<T>>;

namespace Core {
// True when the host asked this allocation to fail ("alloc"); for New.
ZMOCORE_API bool AllocationRefused();
// A non-throwing allocation that the host can make fail, so that a
// plug-in's every allocation can be failed in turn.
template <typename T, typename... A> T *New(A &&...args)
{
    if (AllocationRefused())
        return nullptr;
    return new (std::nothrow) T(static_cast<A &&>(args)...);
}
}  // namespace Core

// Code layout: top nibble the kind (0 done, 4 warning, 8 error, C critical),
// bits 16-23 the facility, the low 16 bits the number.
inline bool Failed(ReturnT r) { return r < 0; }
inline bool Succeeded(ReturnT r) { return r >= 0; }

namespace Xml {
class Node;
}

// Generic codes of the framework's own facility.
namespace Code {
constexpr uint32_t DONE = 0x0fff0000u;
constexpr uint32_t FAIL = 0xcffd0000u;
constexpr uint32_t OOM = 0xcffe0000u;
constexpr uint32_t TIMEOUT = 0x8fff0001u;
}  // namespace Code

// What the core's interfaces are made of: something with an identifier.
class ZMOCORE_API Object {
public:
    virtual ~Object();
    virtual const char *Ident() const = 0;
};

class ZMOCORE_API Log {
public:
    // Log control of a status: QUIET logs at debug only, VERBOSE always.
    enum VerboseT { QUIET = 1, VERBOSE = 2 };
    static void Write(const String &source, int level, const String &text);
    static ReturnT Fail(const String &source, uint16_t number = 0);
    static ReturnT Oom(const String &source, uint16_t number = 0);
};

// The status of the calling thread: the last StatusLog made on it (or, on a
// task's thread, the Status the task reports into).
class ZMOCORE_API Status {
public:
    ReturnT Code() const { return code_; }
    int Level() const { return level_; }
    const String &Source() const { return source_; }
    const String &Message() const { return message_; }
    void Set(ReturnT code, int level, const String &source, const String &message);
    void Reset();
    // Copies this status into the calling thread's one.
    void Load() const;
    // "status" element with "code", "level", "source" and "message".
    bool AttachTo(Xml::Node &node) const;
    // The calling thread's status.
    static Status &Current();
    // Routes the calling thread's status into s (null: its own again).
    static void Redirect(Status *s);

private:
    mutable std::mutex mutex_;
    ReturnT code_ = 0;
    int level_ = 0;
    String source_;
    String message_;
};

// A result with its message: "%1", "%2"... are filled in order by <<. It is
// logged and stored in the thread's status when the expression ends.
class ZMOCORE_API StatusLog {
public:
    StatusLog(uint32_t code, int level, const String &source, const String &message = String());
    explicit StatusLog(const String &source);
    StatusLog(const StatusLog &) = delete;
    StatusLog &operator=(const StatusLog &) = delete;
    ~StatusLog();
    StatusLog &operator<<(const String &arg);
    StatusLog &operator<<(const char *arg);
    StatusLog &operator<<(int64_t arg);
    StatusLog &operator<<(int arg) { return *this << static_cast<int64_t>(arg); }
    StatusLog &operator<<(unsigned arg) { return *this << static_cast<int64_t>(arg); }
    StatusLog &operator<<(uint64_t arg) { return *this << static_cast<int64_t>(arg); }
    StatusLog &SetDone(uint16_t number = 0);
    StatusLog &SetFail(uint16_t number = 0);
    StatusLog &SetOom(uint16_t number = 0);
    StatusLog &Control(Log::VerboseT v);
    ReturnT Code() const { return code_; }
    String Text() const;
    operator ReturnT() const { return code_; }

private:
    ReturnT code_;
    int level_;
    String source_;
    String message_;
    StringVector args_;
    Log::VerboseT control_ = Log::VERBOSE;
};

namespace Time {
// Monotonic time and spans in milliseconds, from the core's one clock.
class ZMOCORE_API Span {
public:
    Span() = default;
    explicit Span(int64_t ms) : ms_(ms) {}
    Span(int64_t seconds, int64_t ms) : ms_(seconds * 1000 + ms) {}
    int64_t Ms() const { return ms_; }
    int64_t Seconds() const { return ms_ / 1000; }
    static Span Now();
    Span operator+(Span o) const { return Span(ms_ + o.ms_); }
    Span operator-(Span o) const { return Span(ms_ - o.ms_); }
    bool operator<(Span o) const { return ms_ < o.ms_; }
    bool operator<=(Span o) const { return ms_ <= o.ms_; }
    bool operator>(Span o) const { return ms_ > o.ms_; }
    bool operator>=(Span o) const { return ms_ >= o.ms_; }
    bool operator==(Span o) const { return ms_ == o.ms_; }
    bool operator!=(Span o) const { return ms_ != o.ms_; }
    bool IsZero() const { return ms_ == 0; }

private:
    int64_t ms_ = 0;
};
}  // namespace Time

// A recursive lock with a precedence: taking one of lower precedence while
// the thread holds one of higher precedence is refused (and journaled), so an
// inverted pair shows up on the first run instead of as a rare deadlock.
// Precedence 0 is not checked.
class ZMOCORE_API Mutex {
public:
    explicit Mutex(unsigned precedence = 0) : precedence_(precedence) {}
    Mutex(const Mutex &) = delete;
    Mutex &operator=(const Mutex &) = delete;
    bool Lock();
    // Takes the lock only if no other thread holds it.
    bool TryLock();
    void Unlock();
    unsigned Precedence() const { return precedence_; }
    bool HeldByCaller() const;

    class Guard {
    public:
        explicit Guard(Mutex &m) : m_(m), locked_(m.Lock()) {}
        ~Guard()
        {
            if (locked_)
                m_.Unlock();
        }
        bool Locked() const { return locked_; }
        Guard(const Guard &) = delete;
        Guard &operator=(const Guard &) = delete;

    private:
        Mutex &m_;
        bool locked_;
    };

private:
    bool Take(bool wait);
    std::recursive_mutex mutex_;
    unsigned precedence_;
};

// One value per thread; a thread's value is freed when the thread ends or the
// object goes.
template <typename T> class ThreadSpecific {
public:
    ThreadSpecific() : ok_(pthread_key_create(&key_, &Free) == 0) {}
    ~ThreadSpecific()
    {
        if (!ok_)
            return;
        pthread_key_delete(key_);  // no thread-exit call after this
        std::lock_guard<std::mutex> g(m_);
        for (Holder *h : all_)
            delete h;
    }
    bool Initialized() const { return ok_; }
    // The calling thread's value, made on first use; null when it can't be.
    T *Get()
    {
        if (!ok_)
            return nullptr;
        Holder *h = static_cast<Holder *>(pthread_getspecific(key_));
        if (h)
            return &h->value;
        h = new (std::nothrow) Holder{this, T()};
        if (!h)
            return nullptr;
        if (pthread_setspecific(key_, h) != 0) {
            delete h;
            return nullptr;
        }
        std::lock_guard<std::mutex> g(m_);
        all_.push_back(h);
        return &h->value;
    }
    ThreadSpecific(const ThreadSpecific &) = delete;
    ThreadSpecific &operator=(const ThreadSpecific &) = delete;

private:
    struct Holder {
        ThreadSpecific *owner;
        T value;
    };
    static void Free(void *p)
    {
        Holder *h = static_cast<Holder *>(p);
        {
            std::lock_guard<std::mutex> g(h->owner->m_);
            auto &v = h->owner->all_;
            for (size_t i = 0; i < v.size(); ++i)
                if (v[i] == h) {
                    v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
                    break;
                }
        }
        delete h;
    }
    pthread_key_t key_;
    bool ok_;
    std::mutex m_;
    std::vector<Holder *> all_;
};

#endif
