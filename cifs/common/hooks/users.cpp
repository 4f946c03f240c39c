// Local user accounts in pwd_list.txt: "name:password:rid:flags" a line,
// a negative RID marks an administrator, nonzero flags the printer owner.
#include "udcontext.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct UserLine {
    std::string name, password, rid, flags;

    long long ridValue() const { return std::strtoll(rid.c_str(), nullptr, 10); }
    bool flagSet() const { return std::strtoll(flags.c_str(), nullptr, 10) != 0; }
    std::string text() const { return name + ":" + password + ":" + rid + ":" + flags + "\n"; }
};

constexpr uint32_t kNameSize = UD_USER_NAME_MAX + 1;
constexpr uint32_t kPasswordSize = 70;
constexpr uint32_t kAuthPasswordMax = 64;
constexpr uint32_t kRidSize = 11;
constexpr uint32_t kFlagsSize = 31;

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Reads the next user line; false at the end of the file. A field is read
// only when the ':' before it is there.
bool nextUser(ParseContext &p, UserLine &u)
{
    while (!parseAtFileEnd(&p)) {
        if (ud::skipBlankOrComment(p))
            continue;
        char name[kNameSize], password[kPasswordSize], rid[kRidSize], flags[kFlagsSize];
        name[0] = password[0] = rid[0] = flags[0] = '\0';
        parseName(&p, name, sizeof name);
        if (parseDelimiter(&p, ':')) {
            parseValue(&p, password, sizeof password, ':');
            if (parseDelimiter(&p, ':')) {
                parseValue(&p, rid, sizeof rid, ':');
                if (parseDelimiter(&p, ':'))
                    parseValue(&p, flags, sizeof flags, ':');
            }
        }
        parseSkipLine(&p);
        // A line that does not start with a name holds no user.
        if (name[0] == '\0')
            continue;
        u = UserLine{name, password, rid, flags};
        return true;
    }
    return false;
}

// Every user line in file order; false when there is no users file.
bool loadUsers(const ud::Context &ctx, std::vector<UserLine> &users)
{
    ParseContext p;
    if (!parseInit(&p, ctx.userFile.c_str()))
        return false;
    ud::ParseCloser closer{p};
    UserLine u;
    while (nextUser(p, u))
        users.push_back(u);
    return true;
}

// Writes the kept lines, then the changed one, and replaces the users file.
bool saveUsers(const ud::Context &ctx, const std::vector<UserLine> &kept, const std::string &last)
{
    ud::Rewrite rw(ctx);
    if (!rw.open())
        return false;
    for (const auto &u : kept)
        rw.write(u.text());
    rw.write(last);
    return rw.commit(ctx.userFile);
}

// Names are written where the name reader reads them back unchanged.
bool isSafeUserName(const std::string &name)
{
    if (name.empty() || name.size() > UD_USER_NAME_MAX || name[0] == ' ' || name[0] == '#')
        return false;
    for (unsigned char c : name) {
        if (!parseIsNameChar(c))
            return false;
    }
    return true;
}

bool isHashText(const std::string &text)
{
    if (text.size() != 32)
        return false;
    for (unsigned char c : text) {
        if (!std::isxdigit(c))
            return false;
    }
    return true;
}

// Takes the first line for which `match` holds out of users.
template <typename Match> bool takeUser(std::vector<UserLine> &users, UserLine &taken, Match match)
{
    for (auto it = users.begin(); it != users.end(); ++it) {
        if (match(*it)) {
            taken = *it;
            users.erase(it);
            return true;
        }
    }
    return false;
}

// Moves the first line whose RID field equals rid, changed, to the end of the
// file; 1, or 0 without a users file, such a line or a good rewrite.
template <typename Change> int rewriteByRid(const ud::Context &ctx, int32_t rid, Change change)
{
    std::vector<UserLine> users;
    UserLine u;
    if (!loadUsers(ctx, users) ||
        !takeUser(users, u, [rid](const UserLine &l) { return l.ridValue() == rid; }))
        return 0;
    change(u);
    return saveUsers(ctx, users, u.text()) ? 1 : 0;
}

// Finds the first line for which `match` holds without rewriting anything.
template <typename Match> bool findUser(UserLine &found, Match match)
{
    ud::Context *ctx = ud::files();
    if (ctx == nullptr)
        return false;
    ParseContext p;
    if (!parseInit(&p, ctx->userFile.c_str()))
        return false;
    ud::ParseCloser closer{p};
    bool hit = false;
    UserLine u;
    while (!hit && nextUser(p, u))
        hit = match(u);
    if (hit)
        found = u;
    return hit;
}

// The first line whose name equals name without regard to case.
bool findByName(const uint16_t *name, UserLine &found)
{
    std::string key = lower(ud::narrow(name));
    return findUser(found, [&key](const UserLine &l) { return lower(l.name) == key; });
}

void putNames(const UserLine &u, uint16_t *name, uint16_t *fullName)
{
    if (name != nullptr)
        ud::widen(name, u.name);
    if (fullName != nullptr)
        ud::widen(fullName, u.name);
}

}  // namespace

extern "C" {

int udDefCreateUser(const uint16_t *name, const uint16_t *, const uint16_t *)
{
    return ud::guarded<int>(0, [&]() -> int {
        ud::Context *ctx = ud::files();
        std::string text = ud::narrow(name);
        if (ctx == nullptr || !isSafeUserName(text))
            return 0;
        std::vector<UserLine> users;
        loadUsers(*ctx, users);
        long long largest = 0;
        for (const auto &u : users) {
            if (u.name == text)
                return 0;
            largest = std::max(largest, std::llabs(u.ridValue()));
        }
        if (largest >= INT32_MAX)
            return 0;
        return saveUsers(*ctx, users, text + "::" + std::to_string(largest + 1) + ":0\n") ? 1 : 0;
    });
}

int udCreateUser(const uint16_t *name, const uint16_t *fullName, const uint16_t *description)
{
    return udDefCreateUser(name, fullName, description);
}

int udDefSetUserInfo(int32_t rid, const uint16_t *name, const uint16_t *, const uint16_t *,
                     const uint16_t *hash)
{
    return ud::guarded<int>(0, [&]() -> int {
        ud::Context *ctx = ud::files();
        std::string hex = ud::narrow(hash);
        if (ctx == nullptr || hash == nullptr || !isHashText(hex))
            return 0;
        std::string newName = ud::narrow(name);
        if (name != nullptr && !isSafeUserName(newName))
            return 0;
        return rewriteByRid(*ctx, rid, [&](UserLine &u) {
            if (name != nullptr)
                u.name = newName;
            u.password = hex + hex;
        });
    });
}

int udSetUserInfo(int32_t rid, const uint16_t *name, const uint16_t *fullName, const uint16_t *description,
                  const uint16_t *hash)
{
    return udDefSetUserInfo(rid, name, fullName, description, hash);
}

int udDefDeleteUserByRid(int32_t rid)
{
    return ud::guarded<int>(0, [&]() -> int {
        ud::Context *ctx = ud::files();
        if (ctx == nullptr)
            return 0;
        std::vector<UserLine> users;
        bool exists = loadUsers(*ctx, users);
        size_t before = users.size();
        users.erase(std::remove_if(users.begin(), users.end(),
                                   [rid](const UserLine &l) { return l.ridValue() == rid; }),
                    users.end());
        // The file is replaced even when nothing matched.
        bool saved = saveUsers(*ctx, users, std::string());
        return exists && saved && users.size() != before ? 1 : 0;
    });
}

int udDeleteUserByRid(int32_t rid) { return udDefDeleteUserByRid(rid); }

int udDefSetUserAsAdministrator(int32_t rid, int isAdmin)
{
    return ud::guarded<int>(0, [&]() -> int {
        if ((rid < 0 && isAdmin != 0) || (rid > 0 && isAdmin == 0))
            return 1;
        ud::Context *ctx = ud::files();
        if (ctx == nullptr)
            return 0;
        return rewriteByRid(*ctx, rid,
                            [rid](UserLine &u) { u.rid = std::to_string(-static_cast<long long>(rid)); });
    });
}

int udSetUserAsAdministrator(int32_t rid, int isAdmin) { return udDefSetUserAsAdministrator(rid, isAdmin); }

int udDefSetUserAsPrinterOwner(int32_t rid, int flag)
{
    return ud::guarded<int>(0, [&]() -> int {
        ud::Context *ctx = ud::files();
        if (ctx == nullptr)
            return 0;
        return rewriteByRid(*ctx, rid, [flag](UserLine &u) { u.flags = flag > 0 ? "1" : "0"; });
    });
}

int udSetUserAsPrinterOwner(int32_t rid, int flag) { return udDefSetUserAsPrinterOwner(rid, flag); }

uint32_t udDefGetUserCount(void)
{
    return ud::guarded<uint32_t>(0u, [&]() -> uint32_t {
        ud::Context *ctx = ud::files();
        std::vector<UserLine> users;
        if (ctx != nullptr)
            loadUsers(*ctx, users);
        return static_cast<uint32_t>(users.size());
    });
}

uint32_t udGetUserCount(void) { return udDefGetUserCount(); }

int udDefGetUserInfo(uint32_t index, int32_t *rid, int *isPrinterOwner, uint16_t *name, uint16_t *fullName,
                     uint16_t *description)
{
    return ud::guarded<int>(0, [&]() -> int {
        uint32_t n = 0;
        UserLine u;
        if (!findUser(u, [&n, index](const UserLine &) { return n++ == index; }))
            return 0;
        if (rid != nullptr)
            *rid = static_cast<int32_t>(u.ridValue());
        if (isPrinterOwner != nullptr)
            *isPrinterOwner = u.flagSet() ? 1 : 0;
        putNames(u, name, fullName);
        if (description != nullptr)
            ud::widen(description, u.ridValue() < 0 ? "Administrator" : "Ordinary user");
        return 1;
    });
}

int udGetUserInfo(uint32_t index, int32_t *rid, int *isPrinterOwner, uint16_t *name, uint16_t *fullName,
                  uint16_t *description)
{
    return udDefGetUserInfo(index, rid, isPrinterOwner, name, fullName, description);
}

int udDefGetUserNameByRid(int32_t rid, uint16_t *name, uint16_t *fullName)
{
    return ud::guarded<int>(0, [&]() -> int {
        UserLine u;
        if (!findUser(u, [rid](const UserLine &l) { return l.ridValue() == rid; }))
            return 0;
        putNames(u, name, fullName);
        return 1;
    });
}

int udGetUserNameByRid(int32_t rid, uint16_t *name, uint16_t *fullName)
{
    return udDefGetUserNameByRid(rid, name, fullName);
}

int udDefGetUserRidByName(const uint16_t *name, int32_t *rid)
{
    return ud::guarded<int>(0, [&]() -> int {
        UserLine u;
        if (!findByName(name, u))
            return 0;
        if (rid != nullptr)
            *rid = static_cast<int32_t>(u.ridValue());
        return 1;
    });
}

int udGetUserRidByName(const uint16_t *name, int32_t *rid) { return udDefGetUserRidByName(name, rid); }

int udDefGetPrinterOwnerFlag(const uint16_t *name, int *flag)
{
    return ud::guarded<int>(0, [&]() -> int {
        UserLine u;
        if (!findByName(name, u))
            return 0;
        if (flag != nullptr)
            *flag = u.flagSet() ? 1 : 0;
        return 1;
    });
}

int udGetPrinterOwnerFlag(const uint16_t *name, int *flag) { return udDefGetPrinterOwnerFlag(name, flag); }

int udDefGetPassword(const uint16_t *name, uint8_t *out, int *isHashed, int32_t *rid)
{
    return ud::guarded<int>(2, [&]() -> int {
        std::string key = lower(ud::narrow(name));
        if (key == "anonymous logon") {
            if (rid != nullptr)
                *rid = 666;
            return 1;
        }
        ud::Context *ctx = ud::files();
        if (ctx == nullptr)
            return 1;
        ParseContext probe;
        if (!parseInit(&probe, ctx->userFile.c_str()))
            return 1;
        parseStop(&probe);
        UserLine u;
        if (!findByName(name, u))
            return 2;
        if (rid != nullptr)
            *rid = static_cast<int32_t>(u.ridValue());
        std::string pw = u.password.substr(0, kAuthPasswordMax);
        bool hashed = pw.size() == 32 || pw.size() == 64;
        if (isHashed != nullptr)
            *isHashed = hashed ? 1 : 0;
        if (!hashed) {
            std::memcpy(out, pw.c_str(), pw.size() + 1);
            return 4;
        }
        size_t bytes = pw.size() / 2;
        for (size_t i = 0; i < bytes; ++i) {
            int hi = ud::hexDigit(static_cast<unsigned char>(pw[2 * i]));
            int lo = ud::hexDigit(static_cast<unsigned char>(pw[2 * i + 1]));
            if (hi < 0 || lo < 0)
                return 2;
            out[i] = static_cast<uint8_t>(hi << 4 | lo);
        }
        out[bytes] = 0;
        return bytes == 32 ? 4 : 3;
    });
}

int udGetPassword(const uint16_t *name, uint8_t *out, int *isHashed, int32_t *rid)
{
    return udDefGetPassword(name, out, isHashed, rid);
}

}  // extern "C"
