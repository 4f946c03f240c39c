// The background task that gives a swap file its space, and the header.
#include "Swap/Initializer.h"

#include <linux/ioctl.h>

#include <cstdlib>
#include <cstring>

namespace Swap {

const char *const SOURCE_ = "Swap::Manager";

namespace {

// The NTFS driver's preallocation request: offset, length, flags.
struct __attribute__((packed)) FallocateRequest {
    uint64_t offset;
    uint64_t length;
    uint32_t flags;
};
static_assert(sizeof(FallocateRequest) == 20, "the driver reads 20 bytes");
constexpr unsigned long FALLOCATE_REQUEST = _IOW('N', 0xD5, FallocateRequest);
constexpr uint32_t FALLOCATE_FLAGS = 0x1001;
constexpr uint32_t INTERRUPTED = 0x409c0004u;

void PutU32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }  // native order, as the kernel reads it

}  // namespace

uint64_t RoundUp_(uint64_t size, uint32_t page) { return (size + page - 1) / page * page; }

void BuildHeader_(uint8_t (&block)[HEADER_SIZE], uint64_t rounded, uint32_t page, const uint8_t (&uuid)[16])
{
    std::memset(block, 0, sizeof block);
    PutU32(block + 0, 1);                                                  // version
    PutU32(block + 4, static_cast<uint32_t>(rounded / page - 1));          // last page
    PutU32(block + 8, 0);                                                  // bad pages
    std::memcpy(block + 12, uuid, 16);                                     // volume UUID
    std::snprintf(reinterpret_cast<char *>(block + 28), 16, "%s", LABEL);  // volume label
}

ReturnT StartSwap_(const String &area, const String &real, Io::File &file, uint64_t rounded, uint32_t page,
                   bool save, const Core::RandomNumberGenerator &random)
{
    uint8_t uuid[16];
    for (uint8_t &b : uuid)
        b = static_cast<uint8_t>(random.Get() & 0xff);
    uint8_t block[HEADER_SIZE];
    BuildHeader_(block, rounded, page, uuid);
    bool ok = file.Seek(HEADER_OFFSET) && file.Write(block, sizeof block) &&
              file.Seek(page - SIGNATURE_SIZE) && file.Write(SIGNATURE, SIGNATURE_SIZE) &&
              file.SetLength(rounded);
    ok = file.Close() && ok;
    if (!ok)
        return StatusLog(SOURCE_).SetFail(0x0073);
    ReturnT r = FileSystem::Native::SwapOn_(real, 0);
    if (Failed(r))
        return r;
    ReturnT done = StatusLog(0x009c0003u, 0, SOURCE_, "enabled swap area %1") << area;
    if (save)
        Event::Raise(Event::SaveConfiguration(0, 0));
    return done;
}

Initializer_::Initializer_(Status &status, AutoPtr<Io::File> file, const String &area, const String &real,
                           uint32_t size, bool save, const Core::RandomNumberGenerator &random, uint32_t page)
    : Task::Object(nullptr, &status), file_(std::move(file)), size_(size), save_(save), random_(random)
{
    bool texts = false;
    try {
        area_ = area;
        real_ = real;
        texts = true;
    } catch (...) {
    }
    // One page-aligned zero page, written over and over.
    page_capacity_ = (page + 7) / 8 * 8;
    page_ = Core::AllocationRefused()
                ? nullptr
                : static_cast<uint8_t *>(std::aligned_alloc(16, (page_capacity_ + 15) / 16 * 16));
    if (page_) {
        std::memset(page_, 0, page_capacity_);
        page_length_ = page;
    }
    initialized_ = texts && page_ != nullptr;
    if (initialized_)
        status.Set(static_cast<ReturnT>(0x009c000au), 0, SOURCE_, "swap initialization is in progress");
    else
        status.Set(static_cast<ReturnT>(Code::OOM | 0x00cd), 3, SOURCE_, "");
}

Initializer_::~Initializer_()
{
    if (file_ && file_->IsOpen())
        file_->Close();
    std::free(page_);
}

ReturnT Initializer_::TuxeraFallocate(uint64_t size)
{
    FallocateRequest req{0, size, FALLOCATE_FLAGS};
    if (file_->Ioctl(FALLOCATE_REQUEST, &req) != 0)
        return static_cast<ReturnT>(0x809c000bu);
    if (!file_->Seek(size - 1) || !file_->Write(page_, 1))
        return static_cast<ReturnT>(0x809c000bu);
    return static_cast<ReturnT>(0x009c000bu);
}

ReturnT Initializer_::WriteFallocate(uint64_t size)
{
    ReturnT result = Status::Current().Code();
    // A failed preallocation may have left the offset anywhere: zeros go from
    // the start, or swapon finds holes.
    if (!file_->Seek(0))
        return StatusLog(0x809c0009u, 2, SOURCE_, "unable to initialize %1: %2")
               << area_ << file_->ErrorText();
    uint64_t written = 0;
    int reported = -1;
    while (!Task::IsInterrupted() && !Failed(result) && written < size) {
        const int percent = static_cast<int>(((written / 1024) * 100) / (size / 1024 ? size / 1024 : 1));
        if (percent != reported) {
            Event::Raise(Event::Progress(area_, percent, 0));
            reported = percent;
        }
        written += page_length_;
        if (!file_->Write(page_, page_length_))
            result = StatusLog(0x809c0009u, 2, SOURCE_, "unable to initialize %1: %2")
                     << area_ << file_->ErrorText();
    }
    if (Task::IsInterrupted())
        return StatusLog(INTERRUPTED, 1, SOURCE_, "swap initialization interrupted");
    return result;
}

ReturnT Initializer_::Run()
{
    if (page_length_ == 0)
        return StatusLog(0xc09c0001u, 3, SOURCE_, "allocated page buffer size is zero");
    const uint32_t page = static_cast<uint32_t>(page_length_);
    const uint64_t rounded = RoundUp_(size_, page);
    ReturnT result = TuxeraFallocate(rounded);
    if (Failed(result)) {
        file_->ClearError();
        result = WriteFallocate(rounded);
        // An interrupt is only a warning, but the file is not whole: no header.
        if (Failed(result) || static_cast<uint32_t>(result) == INTERRUPTED)
            return result;
    }
    if (size_ < rounded && !file_->SetLength(rounded))
        return StatusLog(0x809c000au, 2, SOURCE_, "failed to truncate %1: %2") << area_ << file_->ErrorText();
    ReturnT on = StartSwap_(area_, real_, *file_, rounded, page, save_, random_);
    // The command waits for the status to leave "in progress".
    if (Failed(on) && Status::Current().Code() == static_cast<ReturnT>(0x009c000au))
        StatusLog(static_cast<uint32_t>(on), 2, SOURCE_, "unable to turn on swap area %1") << area_;
    return result;
}

}  // namespace Swap
