// The command table and the handlers that change the server: each checks
// its own words, then makes one control call and returns its result.
#include "ctl_commands.h"

#include "cmcrypt.h"
#include "csctrl.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <strings.h>

namespace vxctl {

namespace {

// Words the tool refuses itself fail with EINVAL, so that the verdict line
// never shows whatever an earlier library call left in errno.
int refuse()
{
    errno = EINVAL;
    return -1;
}

// "P", "A", "D": an optional last word must be exactly the one letter.
bool expectWord(const char *word, const char *wanted)
{
    if (std::strcmp(word, wanted) == 0)
        return true;
    std::printf("  '%s' expected, %s found\n", wanted, word);
    return false;
}

// A whole decimal word: at least one digit, nothing after it, in range.
bool parseSigned(const char *word, long *value)
{
    char *end = nullptr;
    errno = 0;
    *value = std::strtol(word, &end, 10);
    return end != word && *end == '\0' && errno == 0;
}

bool parseUnsigned(const char *word, unsigned long *value)
{
    char *end = nullptr;
    errno = 0;
    *value = std::strtoul(word, &end, 10);
    return end != word && *end == '\0' && errno == 0;
}

// "1", "yes", "true" and "0", "no", "false", in any case; -1 for any other.
int stateWord(const char *word)
{
    for (const char *yes : {"1", "yes", "true"})
        if (strcasecmp(word, yes) == 0)
            return 1;
    for (const char *no : {"0", "no", "false"})
        if (strcasecmp(word, no) == 0)
            return 0;
    std::printf("unknown state: \"%s\"", word);
    return -1;
}

int stop(int, char **) { return csCtrlStop(); }

int restart(int, char **) { return csCtrlRestart(); }

int addShare(int count, char **words)
{
    bool printer = count == 4;
    if (printer && !expectWord(words[3], "P"))
        return refuse();
    return csCtrlAddShareA(words[0], words[1], "", printer ? 0 : -1, words[2]);
}

int removeShare(int, char **words) { return csCtrlRemoveShareA(words[0]); }

int addFileShare(int count, char **words)
{
    return csCtrlAddShareA(words[0], words[1], "", -1, count > 2 ? words[2] : "");
}

int addPrinterShare(int count, char **words)
{
    unsigned long level = 0;
    if (!parseUnsigned(words[3], &level) || level >= 4) {
        std::printf("\"%s\" debug level is invalid", words[3]);
        return refuse();
    }
    return csCtrlAddShareA(words[0], words[1], words[2], int16_t(level), count > 4 ? words[4] : "");
}

int setPrinterOwner(int, char **words)
{
    int state = stateWord(words[1]);
    if (state < 0)
        return refuse();
    return csCtrlSetPrinterOwnerA(words[0], state);
}

int setPermissive(int, char **words)
{
    int state = stateWord(words[0]);
    if (state < 0)
        return refuse();
    return csCtrlSetPermissive(state);
}

bool isHash(const char *word)
{
    if (std::strlen(word) != 32)
        return false;
    for (const char *c = word; *c; ++c)
        if (!std::isxdigit(static_cast<unsigned char>(*c)))
            return false;
    return true;
}

// UTF-8 to UTF-16LE bytes; false for a malformed sequence or a code point
// UTF-16 cannot carry.
bool toUtf16(const char *text, std::string *out)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    while (*p) {
        uint32_t cp = 0;
        int more = 0;
        if (*p < 0x80)
            cp = *p;
        else if ((*p & 0xE0) == 0xC0)
            cp = *p & 0x1F, more = 1;
        else if ((*p & 0xF0) == 0xE0)
            cp = *p & 0x0F, more = 2;
        else if ((*p & 0xF8) == 0xF0)
            cp = *p & 0x07, more = 3;
        else
            return false;
        ++p;
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (*p & 0x3F);
        }
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        auto unit = [out](uint32_t u) {
            out->push_back(char(u & 0xFF));
            out->push_back(char(u >> 8));
        };
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 | cp >> 10);
            unit(0xDC00 | (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return true;
}

// The server keeps NT hashes only (32 hex digits). A word that already is
// one passes as is, as the plug-in's "nt" password does; anything else is
// a plain password typed at the prompt and is hashed here, so it is never
// stored or sent in the clear.
bool ntCredential(const char *password, char out[33])
{
    if (isHash(password)) {
        std::memcpy(out, password, 33);
        return true;
    }
    std::string units;
    if (!toUtf16(password, &units)) {
        std::printf("the password is not UTF-8 text");
        return false;
    }
    uint8_t hash[16];
    cmMD4(hash, reinterpret_cast<const uint8_t *>(units.data()), uint32_t(units.size()));
    for (int i = 0; i < 16; ++i)
        std::snprintf(out + 2 * i, 3, "%02x", hash[i]);
    return true;
}

int addUser(int count, char **words)
{
    bool administrator = count == 5;
    if (administrator && !expectWord(words[4], "A"))
        return refuse();
    char credential[33];
    if (!ntCredential(words[3], credential))
        return refuse();
    return csCtrlAddUserA(words[0], words[1], words[2], credential, administrator ? 1 : 0);
}

// The plug-in's form: name and password first, every such user an administrator.
int addUserShort(int count, char **words)
{
    char credential[33];
    if (!ntCredential(words[1], credential))
        return refuse();
    return csCtrlAddUserA(words[0], count > 2 ? words[2] : "", count > 3 ? words[3] : "", credential, 1);
}

int removeUser(int, char **words) { return csCtrlRemoveUserA(words[0]); }

int closeConnections(int count, char **words)
{
    bool domain = count == 2;
    if (domain && !expectWord(words[1], "D"))
        return refuse();
    return csCtrlCleanUserConnectionsA(words[0], domain ? 1 : 0);
}

int setEncryptionLevel(int, char **words)
{
    long level = 0;
    if (!parseSigned(words[0], &level) || static_cast<unsigned long>(level) >= 16) {
        std::printf(" \nInvalid Encryption Level");
        return refuse();
    }
    // Bits 0-1 and 2-3 each pick one method; 01 in either leaves signing
    // without its key derivation.
    if ((level & 12) == 4 || (level & 3) == 1) {
        std::printf("\n Illegal Encryption Level when Message Signing is defined");
        return refuse();
    }
    return csCtrlSetEncryptionMethods(uint16_t(level));
}

int setSigningPolicy(int, char **words)
{
    long policy = 0;
    if (!parseSigned(words[0], &policy) || policy >= 3 || policy < INT16_MIN) {
        std::printf(" \nInvalid Message Signing Policy");
        return refuse();
    }
    return csCtrlSetMessageSigningPolicy(uint16_t(policy));
}

const Command kCommands[] = {
    {"Terminating CIFS Server", "S", stop, 0, 0},
    {"Restarting CIFS Server", "R", restart, 0, 0},
    {"Adding share", "+S", addShare, 3, 4},
    {"Removing share", "-S", removeShare, 1, 1},
    {"Enumerating shares", "ES", enumerateShares, 0, 0},
    {"Adding share", "addfileshare", addFileShare, 2, 3},
    {"Adding printer share", "addprintershare", addPrinterShare, 4, 5},
    {"Removing share", "removeshare", removeShare, 1, 1},
    {"Set printer owner", "setprinterowner", setPrinterOwner, 2, 2},
    {"Set permissive", "setpermissive", setPermissive, 1, 1},
    {"Adding user", "+U", addUser, 4, 5},
    {"Adding user", "adduser", addUserShort, 2, 4},
    {"Removing user", "-U", removeUser, 1, 1},
    {"Removing user", "removeuser", removeUser, 1, 1},
    {"Closing user connections to CIFS Server", "C", closeConnections, 1, 2},
    {"Enumerating users", "EU", enumerateUsers, 0, 0},
    {"Enumerating Clients", "EC", enumerateClients, 0, 0},
    {" Changing Encryption Levels", "SEL", setEncryptionLevel, 1, 1},
    {" Changing Message Signing", "MSG", setSigningPolicy, 1, 1},
    {"Enumerating Files", "EF", enumerateFiles, 0, 0},
};

}  // namespace

const Command *findCommand(const char *keyword)
{
    for (const Command &c : kCommands)
        if (std::strcmp(c.keyword, keyword) == 0)
            return &c;
    return nullptr;
}

}  // namespace vxctl
