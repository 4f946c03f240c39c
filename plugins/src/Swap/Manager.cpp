// The swap manager's setting, its turning on and off, and its events.
#include "Swap/Manager.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace Swap {

Manager::Manager(FileSystem::Repository &repository, const Core::RandomNumberGenerator &random)
    : repository_(repository), random_(random), mutex_(2)
{
    delegate_ = Event::Delegate::Make(IDENT, this, &Manager::OnTaskDone_, &mutex_);
    queue_.reset(Task::Queue::New("Swap queue", Time::Span(1000), nullptr));
    if (!queue_) {
        Log::Write(SOURCE_, 3, "unable to initialize the swap queue");
        return;
    }
    Mutex::Guard g(mutex_);
    subscribed_ = true;
    if (Failed(Event::Subscribe(Event::Type::Fs,
                                Event::Delegate::Make(IDENT, this, &Manager::OnFs_, &mutex_))) ||
        Failed(Event::Subscribe(Event::Type::TaskDone, delegate_))) {
        Log::Write(SOURCE_, 3, "unable to subscribe");
        return;
    }
    initialized_ = true;
}

Manager::~Manager()
{
    {
        Mutex::Guard g(mutex_);
        if (queue_)
            queue_->Cancel(delegate_);
        initializer_.reset();
        queue_.reset();
        if (flags_ & ON)
            TurnOff_();
    }
    // Last, and without the lock that our handlers take: this also drops the
    // end of a task that the queue reported just now.
    Event::Unsubscribe(IDENT);
}

ReturnT Manager::SetArea(const String &area, const String &size)
{
    Mutex::Guard g(mutex_);
    if (area.empty())
        return StatusLog(0x809c0008u, 2, SOURCE_, "area path is empty");
    char *end = nullptr;
    errno = 0;
    const unsigned long long kb = std::strtoull(size.c_str(), &end, 10);
    if (size.empty() || !std::isdigit(static_cast<unsigned char>(size[0])) || *end || errno == ERANGE)
        return StatusLog(0x809c000du, 2, SOURCE_, "\"%1\" size value should be an integer in range [%2, %3]")
               << size << MIN_KB << MAX_KB;
    if (kb < MIN_KB)
        return StatusLog(0x809c0003u, 2, SOURCE_, "swap file size must be at least %1Kb") << MIN_KB;
    if (kb > MAX_KB)
        return StatusLog(0x809c0004u, 2, SOURCE_, "swap file size must not be greater than %1Kb") << MAX_KB;
    const uint32_t bytes = static_cast<uint32_t>(kb * 1024);  // at most 2 GiB
    if (area == area_ && bytes == size_) {
        if (flags_ & PRESENT)
            return StatusLog(0x009c0007u, 0, SOURCE_, "enabled swap area %1") << area;
        return StatusLog(0x409c0002u, 1, SOURCE_, "pending swap area %1") << area;
    }
    ReturnT r = TurnOff_();
    if (Failed(r))
        return r;
    r = TurnOn_(area, bytes, true);
    if (!Failed(r)) {
        try {
            area_ = area;
        } catch (...) {
            return StatusLog(SOURCE_).SetOom(0x01bb);
        }
        size_ = bytes;
        if (static_cast<uint32_t>(r) != 0x409c0001u)
            flags_ |= PRESENT;
    }
    return r;
}

ReturnT Manager::TurnOn_(const String &area, uint32_t size, bool save)
{
    const long page_size = sysconf(_SC_PAGESIZE);
    if (page_size < 4096)
        return StatusLog(0x809c000cu, 2, SOURCE_, "failed to determine a system page size");
    const uint32_t page = static_cast<uint32_t>(page_size);
    String real;
    ReturnT r = repository_.GetRealName(area, real);
    if (static_cast<uint32_t>(r) == FileSystem::Repository::NOT_FOUND)
        return StatusLog(0x409c0001u, 1, SOURCE_, "pending swap area %1") << area;
    if (Failed(r))
        return StatusLog(0x809c0002u, 2, SOURCE_, "unable to resolve %1") << area;
    Log::Write(SOURCE_, 0, "initializing swap area " + area);

    AutoPtr<Io::File> file(Core::New<Io::File>());
    if (!file)
        return StatusLog(SOURCE_).SetOom(0x028d);
    auto refuse = [&](const String &why) {
        return static_cast<ReturnT>(StatusLog(0x809c0005u, 2, SOURCE_, "unable to initialize %1: %2")
                                    << area << why);
    };
    // Removable media are not ours: never follow a link, never take over a
    // file that is not already a swap file, and keep what we create private.
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK;
    bool created = !Failed(file->Open(real, flags | O_CREAT | O_EXCL, Io::EOL_LF, 16384, 0600));
    if (!created && file->LastErrno() == EEXIST)
        file->Open(real, flags, Io::EOL_LF, 16384);
    if (!file->IsOpen())
        return refuse(file->ErrorText());
    if (!file->IsRegular())
        return refuse("not a regular file");
    if (!created) {
        char sig[SIGNATURE_SIZE];
        if (!file->ReadAt(page - SIGNATURE_SIZE, sig, sizeof sig) ||
            std::memcmp(sig, SIGNATURE, SIGNATURE_SIZE) != 0)
            return refuse("not a swap file");
    }

    const uint64_t rounded = RoundUp_(size, page);
    uint64_t length = 0;
    if (file->GetLength(&length) && length >= rounded) {
        if (length > rounded && !file->SetLength(rounded)) {
            ReturnT t = StatusLog(0x809c000au, 2, SOURCE_, "failed to truncate %1: %2")
                        << area << file->ErrorText();
            file->Close();
            return t;
        }
        r = StartSwap_(area, real, *file, rounded, page, save, random_);
        if (!Failed(r))
            flags_ |= ON;
        return r;
    }

    AutoPtr<Initializer_> init;
    // A file we made and could not hand over goes again.
    auto drop = [&](uint16_t number) {
        init.reset();
        file.reset();
        if (created)
            Io::File::Remove(real);
        return static_cast<ReturnT>(StatusLog(SOURCE_).SetOom(number));
    };
    // The file moves into the task only when the task is made.
    init.reset(Core::New<Initializer_>(status_, std::move(file), area, real, size, save, random_, page));
    if (!init)
        return drop(0x00cd);
    if (!init->Initialized())
        return drop(0x02bf);
    if (!queue_ || Failed(queue_->Enqueue(init.get(), delegate_)))
        return drop(0x02bf);
    initializer_ = std::move(init);
    return StatusLog(0x409c0003u, 1, SOURCE_, "swap is being initialized in background");
}

ReturnT Manager::TurnOff_()
{
    if (area_.empty())
        return static_cast<ReturnT>(0x009c0006u);
    if (flags_ & ON) {
        String real;
        if (Failed(repository_.GetRealName(area_, real)))
            return StatusLog(SOURCE_).SetFail(0x02d9);
        Log::Write(SOURCE_, 0, "releasing swap area " + area_);
        ReturnT r = FileSystem::Native::SwapOff_(real);
        if (Failed(r))
            return r;
        flags_ &= ~ON;
        return StatusLog(0x009c0004u, 0, SOURCE_, "swap area %1 disabled") << area_;
    }
    const String area = area_;
    CancelInitializer_(true);
    return StatusLog(0x009c0005u, 0, SOURCE_, "swap area %1 disabled") << area;
}

void Manager::CancelInitializer_(bool clear)
{
    if (!initializer_)
        return;
    if (queue_)
        queue_->Cancel(delegate_);
    if (clear || !queue_) {
        area_.clear();
        size_ = 0;
    }
    initializer_.reset();
}

void Manager::StopInitializer()
{
    Mutex::Guard g(mutex_);
    CancelInitializer_(true);
    // Stopped before its first page: it never said so itself.
    if (static_cast<uint32_t>(status_.Code()) == 0x009c000au)
        status_.Set(static_cast<ReturnT>(0x409c0004u), 1, SOURCE_, "swap initialization interrupted");
}

ReturnT Manager::UnsetArea()
{
    Mutex::Guard g(mutex_);
    if (area_.empty())
        return StatusLog(0x009c0008u, 0, SOURCE_, "swap area disabled");
    ReturnT r = TurnOff_();
    if (!Failed(r)) {
        area_.clear();
        size_ = 0;
        flags_ = 0;
    }
    return r;
}

ReturnT Manager::GetArea(String &area, String &size)
{
    Mutex::Guard g(mutex_);
    area.clear();
    size.clear();
    if (area_.empty())
        return static_cast<ReturnT>(0x809c0001u);
    try {
        area = area_;
        size = std::to_string(size_ / 1024);
    } catch (...) {
        return StatusLog(SOURCE_).SetOom(0x0200);
    }
    return static_cast<ReturnT>(0x009c0002u);
}

ReturnT Manager::LoadAreaStatus()
{
    status_.Load();
    return status_.Code();
}

bool Manager::Concerns_(const Event::Fs &e) const
{
    auto prefix = [&](const String &name) {
        return !name.empty() && name.size() <= area_.size() && area_.compare(0, name.size(), name) == 0;
    };
    return !area_.empty() && (prefix(e.name) || prefix(e.label));
}

void Manager::OnFs_(const Event::Fs &e)
{
    if (!Concerns_(e))
        return;
    String real;
    switch (e.action) {
    case 0:
        // A repeated (or prefix-matching) mount must not touch a file that
        // is in use or being made.
        if ((flags_ & ON) || initializer_)
            return;
        flags_ |= PRESENT;
        TurnOn_(area_, size_, false);
        break;
    case 2:
        if (Failed(TurnOff_()))
            StatusLog(0xcffd02d9u, 3, SOURCE_,
                      "unable to turn off swap area %1 in an \"unmount prepare\" event handler")
                << area_;
        break;
    case 1:
        // Another volume whose name the area also begins with went away.
        if (!Failed(repository_.GetRealName(area_, real)))
            return;
        flags_ &= ~(PRESENT | ON);
        break;
    default:
        break;
    }
}

void Manager::OnTaskDone_(const Event::TaskDone &e)
{
    if (!initializer_ || e.task_id != initializer_->Id())
        return;
    if (static_cast<uint32_t>(status_.Code()) == 0x009c0003u)
        flags_ |= ON;
    CancelInitializer_(false);
}

}  // namespace Swap
