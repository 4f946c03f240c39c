// A temporary folder that is removed, with all it holds, when the object goes.
#pragma once

#include <string>

namespace fw_test {

class TempDir {
public:
    // Makes PREFIX-XXXXXX under $TMPDIR (or /tmp); a failure throws.
    explicit TempDir(const std::string &prefix = "fw-test");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path()/name
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace fw_test
