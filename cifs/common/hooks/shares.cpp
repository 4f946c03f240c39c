// Shares in cs_cfg.txt ("name;path;comment" a line) and mounts in cc_cfg.txt
// ("first;second" a line).
#include "udcontext.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

constexpr const char kDefaultShareName[] = "C$";
constexpr const char kDefaultShareComment[] = "Default share";

// A line belongs to a share when the text before its first ';' is the name.
bool belongsTo(const std::string &line, const std::string &name)
{
    size_t semi = line.find(';');
    return semi != std::string::npos && line.compare(0, semi, name) == 0;
}

// Copies every line of `path` that does not belong to `name`, as read, of
// any length. False when the file cannot be read.
bool copyOtherLines(const std::string &path, const std::string &name, ud::Rewrite &rw)
{
    FILE *in = std::fopen(path.c_str(), "re");
    if (in == nullptr)
        return false;
    char *line = nullptr;
    size_t cap = 0;
    ssize_t n;
    while ((n = getline(&line, &cap, in)) > 0) {
        std::string text(line, static_cast<size_t>(n));
        if (text.back() != '\n')
            text.push_back('\n');  // the next line must not join a last line
        std::string bare = text.substr(0, text.size() - 1);
        if (!belongsTo(bare, name))
            rw.write(text);
    }
    std::free(line);
    std::fclose(in);
    return true;
}

bool fileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

extern "C" {

int udDefGetNextShare(uint16_t *name, uint16_t *path, int *isPrinter, uint16_t *comment)
{
    return ud::guarded<int>(0, [&]() -> int {
        ud::Context *ctx = ud::files();
        if (ctx == nullptr)
            return 0;
        ParseContext &p = ctx->shareParser;
        if (!ctx->shareEnumRunning) {
            if (!parseInit(&p, ctx->shareFile.c_str()))
                return 0;
            ctx->shareEnumRunning = true;
        }
        if (isPrinter != nullptr)
            *isPrinter = 0;
        while (!parseAtFileEnd(&p)) {
            char n[UD_SHARE_NAME_SIZE], dir[UD_SHARE_PATH_SIZE], remark[UD_SHARE_COMMENT_SIZE];
            if (ud::skipBlankOrComment(p) || !ud::readField(p, n, sizeof n, ';') ||
                !ud::readField(p, dir, sizeof dir, ';'))
                continue;
            parseValue(&p, remark, sizeof remark, 0);
            parseSkipLine(&p);
            if (n[0] == '\0')
                continue;
            ud::widen(name, n);
            ud::widen(path, dir);
            ud::widen(comment, remark);
            return 1;
        }
        if (!ctx->defaultShareGiven) {
            ctx->defaultShareGiven = true;
            ud::widen(name, kDefaultShareName);
            ud::widen(path, UD_CONFIG_DIR);
            ud::widen(comment, kDefaultShareComment);
            return 1;
        }
        parseStop(&p);
        ctx->shareEnumRunning = false;
        return 0;
    });
}

int udGetNextShare(uint16_t *name, uint16_t *path, int *isPrinter, uint16_t *comment)
{
    return udDefGetNextShare(name, path, isPrinter, comment);
}

int udDefSaveShareInformation(const uint16_t *oldName, const uint16_t *name, const uint16_t *path,
                              const uint16_t *comment)
{
    return ud::guarded<int>(1, [&]() -> int {
        ud::Context *ctx = ud::files();
        if (ctx == nullptr || ctx->shareEnumRunning || name == nullptr)
            return 0;
        std::string n = ud::narrow(name), dir = ud::narrow(path), remark = ud::narrow(comment);
        // Each field must read back as written: no line ends, no separators
        // inside a field, nothing the reader would cut or skip.
        if (n.empty() || !ud::isSafeValue(n, UD_SHARE_NAME_SIZE - 1, ';', true) ||
            !ud::isSafeValue(dir, UD_SHARE_PATH_SIZE - 1, ';', false) ||
            !ud::isSafeValue(remark, UD_SHARE_COMMENT_SIZE - 1, 0, false))
            return 0;

        ud::Rewrite rw(*ctx);
        if (oldName != nullptr) {
            if (!rw.open())
                return 1;
            if (fileExists(ctx->shareFile) && !copyOtherLines(ctx->shareFile, ud::narrow(oldName), rw))
                return 1;
        } else if (!rw.openFromRenamed(ctx->shareFile)) {
            return 1;
        }
        rw.write(n + ";" + dir + ";" + remark + "\n");
        rw.commit(ctx->shareFile);
        return 1;
    });
}

int udSaveShareInformation(const uint16_t *oldName, const uint16_t *name, const uint16_t *path,
                           const uint16_t *comment)
{
    return udDefSaveShareInformation(oldName, name, path, comment);
}

int udDefRemoveShare(const uint16_t *name)
{
    return ud::guarded<int>(1, [&]() -> int {
        ud::Context *ctx = ud::files();
        if (ctx == nullptr || ctx->shareEnumRunning)
            return 0;
        ud::Rewrite rw(*ctx);
        if (!fileExists(ctx->shareFile))
            return 1;
        if (rw.open() && copyOtherLines(ctx->shareFile, ud::narrow(name), rw))
            rw.commit(ctx->shareFile);
        return 1;
    });
}

int udRemoveShare(const uint16_t *name) { return udDefRemoveShare(name); }

int udDefGetNextMount(uint16_t *first, uint16_t *second)
{
    return ud::guarded<int>(0, [&]() -> int {
        ud::Context *ctx = ud::files();
        if (ctx == nullptr)
            return 0;
        ParseContext &p = ctx->mountParser;
        if (!ctx->mountEnumRunning) {
            if (!parseInit(&p, ctx->mountFile.c_str()))
                return 0;
            ctx->mountEnumRunning = true;
        }
        while (!parseAtFileEnd(&p)) {
            char a[UD_MOUNT_TEXT_SIZE], b[UD_MOUNT_TEXT_SIZE];
            if (ud::skipBlankOrComment(p) || !ud::readField(p, a, sizeof a, ';'))
                continue;
            parseValue(&p, b, sizeof b, ';');
            parseSkipLine(&p);
            ud::widen(first, a);
            ud::widen(second, b);
            return 1;
        }
        parseStop(&p);
        ctx->mountEnumRunning = false;
        return 0;
    });
}

int udGetNextMount(uint16_t *first, uint16_t *second) { return udDefGetNextMount(first, second); }

}  // extern "C"
