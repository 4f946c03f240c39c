// A stdio stream that writes into memory, for code that prints to a FILE *.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace fw_test {

class MemoryFile {
public:
    MemoryFile();
    ~MemoryFile();
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    FILE *get() const { return file_; }
    // Everything written so far (the stream is flushed first).
    std::string text();

private:
    char *data_ = nullptr;
    std::size_t size_ = 0;
    FILE *file_;
};

}  // namespace fw_test
