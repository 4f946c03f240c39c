// Making a swap file: space first (preallocation, else zero pages with
// progress), then the version-1 header, then swap on.
#ifndef SWAP_INITIALIZER_H
#define SWAP_INITIALIZER_H

#include "zmocore.h"

namespace Swap {

extern const char *const SOURCE_;

// What the kernel's swap code reads at the start of a swap file.
constexpr uint32_t HEADER_OFFSET = 1024;
constexpr size_t HEADER_SIZE = 512;
constexpr const char SIGNATURE[] = "SWAPSPACE2";
constexpr size_t SIGNATURE_SIZE = sizeof(SIGNATURE) - 1;
constexpr const char LABEL[] = "ZMO_SWAP";

// Builds the header block (at HEADER_OFFSET of the file) for a file of
// rounded bytes: version 1, last page, no bad pages, the UUID, the label.
void BuildHeader_(uint8_t (&block)[HEADER_SIZE], uint64_t rounded, uint32_t page, const uint8_t (&uuid)[16]);

// Writes the header and the signature, cuts the file to rounded and closes
// it, then turns swap on; "enabled swap area" is recorded on success.
ReturnT StartSwap_(const String &area, const String &real, Io::File &file, uint64_t rounded, uint32_t page,
                   bool save, const Core::RandomNumberGenerator &random);

uint64_t RoundUp_(uint64_t size, uint32_t page);

class Initializer_ : public Task::Object {
public:
    Initializer_(Status &status, AutoPtr<Io::File> file, const String &area, const String &real,
                 uint32_t size, bool save, const Core::RandomNumberGenerator &random, uint32_t page);
    ~Initializer_() override;
    const char *Ident() const override { return "Swap::Manager"; }
    bool Initialized() const override { return initialized_; }
    ReturnT Run() override;
    virtual ReturnT TuxeraFallocate(uint64_t size);
    virtual ReturnT WriteFallocate(uint64_t size);

private:
    String area_;
    String real_;
    AutoPtr<Io::File> file_;
    uint32_t size_;
    bool save_;
    const Core::RandomNumberGenerator &random_;
    uint8_t *page_ = nullptr;
    size_t page_length_ = 0;
    size_t page_capacity_ = 0;
    bool initialized_ = false;
};

}  // namespace Swap

#endif
