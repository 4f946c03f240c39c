// Text and file helpers shared by the hook files.
#include "udcontext.h"

#include "cmstring.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace ud {

std::string narrow(const CMWchar *text)
{
    if (text == nullptr)
        return std::string();
    std::string out(cmWStrlen(text), '\0');
    cmUnicodeToAnsi(&out[0], text);
    return out;
}

void widen(CMWchar *dest, const std::string &text) { cmAnsiToUnicode(dest, text.c_str()); }

bool isSafeValue(const std::string &text, size_t max, int delim, bool startsLine)
{
    if (text.size() > max)
        return false;
    if (!text.empty()) {
        // The line reader and parseDelimiter skip blanks before a field.
        if (text[0] == ' ' || text[0] == '\t')
            return false;
        if (startsLine && text[0] == '#')
            return false;
    }
    for (unsigned char c : text) {
        if (parseIsControl(static_cast<signed char>(c)) || (delim != 0 && c == delim))
            return false;
    }
    return true;
}

int hexDigit(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool skipBlankOrComment(ParseContext &p)
{
    parseSkipSpaces(&p);
    int c = parseGet(&p);
    if (parseIsControl(c) || c == '#') {
        // A '#' is consumed; a line end goes back for parseSkipLine to eat.
        parseUnget(&p, c == '#' ? 0 : c);
        parseSkipLine(&p);
        return true;
    }
    parseUnget(&p, c);
    return false;
}

bool readField(ParseContext &p, char *buf, uint32_t size, int delim)
{
    parseValue(&p, buf, size, delim);
    if (parseDelimiter(&p, delim))
        return true;
    parseSkipLine(&p);
    return false;
}

Rewrite::~Rewrite() { discard(); }

bool Rewrite::open()
{
    // A scratch file left by an interrupted rewrite must not reach the target.
    unlink(ctx_.tempFile.c_str());
    restore_.clear();
    file_ = std::fopen(ctx_.tempFile.c_str(), "ae");
    failed_ = false;
    return file_ != nullptr;
}

bool Rewrite::openFromRenamed(const std::string &target)
{
    unlink(ctx_.tempFile.c_str());
    struct stat st {};
    if (stat(target.c_str(), &st) != 0 || std::rename(target.c_str(), ctx_.tempFile.c_str()) != 0)
        return false;
    restore_ = target;
    restoreSize_ = static_cast<long>(st.st_size);
    failed_ = false;
    file_ = std::fopen(ctx_.tempFile.c_str(), "a+e");
    if (file_ == nullptr) {
        abandon();
        return false;
    }
    // A last line without its line end must not swallow the next one.
    if (st.st_size > 0 && std::fseek(file_, -1, SEEK_END) == 0 && std::fgetc(file_) != '\n')
        write("\n");
    return true;
}

void Rewrite::write(const std::string &line)
{
    if (file_ != nullptr && std::fwrite(line.data(), 1, line.size(), file_) != line.size())
        failed_ = true;
}

bool Rewrite::commit(const std::string &target)
{
    if (file_ == nullptr)
        return false;
    bool ok = !failed_ && std::fflush(file_) == 0;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    if (ok && std::rename(ctx_.tempFile.c_str(), target.c_str()) == 0) {
        restore_.clear();
        return true;
    }
    abandon();
    return false;
}

void Rewrite::discard()
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    abandon();
}

void Rewrite::abandon()
{
    if (restore_.empty()) {
        unlink(ctx_.tempFile.c_str());
        return;
    }
    if (truncate(ctx_.tempFile.c_str(), restoreSize_) != 0 ||
        std::rename(ctx_.tempFile.c_str(), restore_.c_str()) != 0)
        unlink(ctx_.tempFile.c_str());
    restore_.clear();
}

}  // namespace ud
