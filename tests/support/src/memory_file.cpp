#include "fw_test/memory_file.h"

#include <cstdlib>

namespace fw_test {

MemoryFile::MemoryFile() : file_(open_memstream(&data_, &size_)) {}

MemoryFile::~MemoryFile()
{
    if (file_)
        std::fclose(file_);
    std::free(data_);
}

std::string MemoryFile::text()
{
    if (!file_)
        return std::string();
    std::fflush(file_);
    return std::string(data_, size_);
}

}  // namespace fw_test
