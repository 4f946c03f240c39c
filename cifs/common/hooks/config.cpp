// The hooks' context, cm_cfg.txt (WINS, scope, domain role), the domain name,
// identity, credentials, transports and the message buffer area.
#include "udcontext.h"

#include "cmipaddr.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ud::Context *gContext = nullptr;
char gComputerId[UD_COMPUTER_ID_SIZE] = {};

constexpr const char kDnsServer[] = "192.168.19.2";

bool startsWith(const char *text, const char *word)
{
    return std::strncmp(text, word, std::strlen(word)) == 0;
}

// The host's domain name; "(none)" is what Linux reports for an unset one.
std::string hostDomainName()
{
    char name[256] = {};
    if (getdomainname(name, sizeof name - 1) != 0)
        return ud::kDefaultDomain;
    if (name[0] == '\0' || std::strcmp(name, "(none)") == 0)
        return ud::kDefaultDomain;
    return name;
}

std::string upper(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Copies at most max characters and a terminator.
void copyText(char *dest, const std::string &text, size_t max)
{
    size_t n = text.size() < max ? text.size() : max;
    std::memcpy(dest, text.data(), n);
    dest[n] = '\0';
}

}  // namespace

namespace ud {

Context *context() { return gContext; }

Context *files()
{
    Context *ctx = gContext;
    if (ctx == nullptr)
        return nullptr;
    if (!ctx->namesBuilt) {
        std::string dir = UD_CONFIG_DIR;
        if (dir.back() != '/')
            dir.push_back('/');
        ctx->domainFile = dir + "cm_cfg.txt";
        ctx->shareFile = dir + "cs_cfg.txt";
        ctx->mountFile = dir + "cc_cfg.txt";
        ctx->userFile = dir + "pwd_list.txt";
        ctx->shareSdFile = dir + "share_sd.txt";
        ctx->tempFile = dir + "__temp__";
        ctx->namesBuilt = true;
    }
    return ctx;
}

void readDomainSettings(Context &ctx)
{
    if (ctx.cmConfigRead || files() == nullptr)
        return;
    ParseContext p;
    if (!parseInit(&p, ctx.domainFile.c_str()))
        return;
    ud::ParseCloser closer{p};
    while (!parseAtFileEnd(&p)) {
        if (ud::skipBlankOrComment(p))
            continue;
        char key[100];
        char value[100];
        parseName(&p, key, sizeof key);
        if (!parseDelimiter(&p, '=')) {
            parseSkipLine(&p);
            continue;
        }
        parseValue(&p, value, sizeof value, ':');
        if (startsWith(key, "WINS")) {
            uint32_t addr = 0;
            if (cmAsciiToIp(value, &addr) == 0)
                ctx.wins = addr;
        } else if (startsWith(key, "SCOPE_ID")) {
            ctx.scopeId = value;
        }
        if (startsWith(key, "DOMAIN")) {
            ctx.domain = value;
            ctx.isWorkgroup = 1;
            // Only the role letter is taken: a line end read here would make
            // parseSkipLine swallow the next line.
            int c = parseGet(&p);
            if (c == ':') {
                c = parseGet(&p);
                if (c == 'D')
                    ctx.isWorkgroup = 0;
                else
                    parseUnget(&p, c);
            } else {
                parseUnget(&p, c);
            }
        }
        parseSkipLine(&p);
    }
    parseStop(&p);
    ctx.cmConfigRead = true;
}

}  // namespace ud

extern "C" {

int udDefInit(void)
{
    return ud::guarded<int>(-1, [&]() -> int {
        udDefStop();
        auto *ctx = new (std::nothrow) ud::Context;
        if (ctx == nullptr)
            return -1;
        gContext = ctx;
        ctx->shareParser.fd = -1;
        ctx->mountParser.fd = -1;
        ud::files();

        struct stat st {};
        if (stat(UD_CONFIG_DIR, &st) != 0) {
            if (errno != ENOENT || mkdir(UD_CONFIG_DIR, 0700) != 0)
                return -1;
        }
        // Every start begins without users: the host adds them again.
        unlink(ctx->userFile.c_str());
        return 0;
    });
}

int udInit(void) { return udDefInit(); }

void udDefStop(void)
{
    if (gContext == nullptr)
        return;
    parseStop(&gContext->shareParser);
    parseStop(&gContext->mountParser);
    delete gContext;
    gContext = nullptr;
}

void udStop(void) { udDefStop(); }

uint32_t udDefGetWins(void)
{
    return ud::guarded<uint32_t>(0u, [&]() -> uint32_t {
        ud::Context *ctx = ud::context();
        if (ctx == nullptr)
            return 0;
        ud::readDomainSettings(*ctx);
        return ctx->wins;
    });
}

uint32_t udGetWins(void) { return udDefGetWins(); }

void udDefGetScopeID(uint16_t *dest)
{
    ud::guarded([&] {
        ud::Context *ctx = ud::context();
        if (ctx != nullptr)
            ud::readDomainSettings(*ctx);
        ud::widen(dest, ctx != nullptr ? ctx->scopeId : std::string());
    });
}

void udGetScopeID(uint16_t *dest) { udDefGetScopeID(dest); }

void udDefGetDomain(uint16_t *dest, uint32_t size, int *isWorkgroup)
{
    ud::guarded([&] {
        ud::Context *ctx = ud::context();
        std::string domain = hostDomainName();
        if (ctx != nullptr)
            ctx->domain = domain;
        if (isWorkgroup != nullptr)
            *isWorkgroup = ctx != nullptr ? ctx->isWorkgroup : 1;
        if (dest == nullptr || size < sizeof(uint16_t))
            return;
        std::memset(dest, 0, size);
        size_t room = size / sizeof(uint16_t) - 1;
        domain = upper(domain);
        for (size_t i = 0; i < domain.size() && i < room; ++i)
            dest[i] = static_cast<unsigned char>(domain[i]);
    });
}

void udGetDomain(uint16_t *dest, uint32_t size, int *isWorkgroup) { udDefGetDomain(dest, size, isWorkgroup); }

void udDefGetDnsParams(uint16_t *domain, uint16_t *server)
{
    ud::guarded([&] {
        ud::Context *ctx = ud::context();
        if (ctx != nullptr)
            ud::readDomainSettings(*ctx);
        ud::widen(domain, ctx != nullptr ? ctx->domain : std::string(ud::kDefaultDomain));
        ud::widen(server, kDnsServer);
    });
}

void udGetDnsParams(uint16_t *domain, uint16_t *server) { udDefGetDnsParams(domain, server); }

void syGetDnsParams(char *domain, uint32_t *server)
{
    ud::guarded([&] {
        ud::Context *ctx = ud::context();
        if (ctx != nullptr)
            ud::readDomainSettings(*ctx);
        std::string name = ctx != nullptr ? ctx->domain : std::string(ud::kDefaultDomain);
        std::memcpy(domain, name.c_str(), name.size() + 1);
        cmAsciiToIp(kDnsServer, server);
    });
}

void udSetComputerId(const char *id) { std::memcpy(gComputerId, id, UD_COMPUTER_ID_SIZE); }

void udGetComputerId(char *id) { std::memcpy(id, gComputerId, UD_COMPUTER_ID_SIZE); }

void udDefGetComputerId(char *id) { std::memset(id, 0xA5, UD_COMPUTER_ID_SIZE); }

void udGetServerComment(uint16_t *dest)
{
    ud::guarded([&] { ud::widen(dest, "VXE SMB Server"); });
}

void udGetFileSystemName(const uint16_t *, const uint16_t *, uint16_t *dest)
{
    ud::guarded([&] { ud::widen(dest, "NTFS"); });
}

void udGetDriverName(char *dest) { std::strcpy(dest, "/net"); }

int udGetCredentials(const void *, uint16_t *user, uint16_t *password, uint16_t *domain)
{
    return ud::guarded<int>(0, [&]() -> int {
        ud::Context *ctx = ud::context();
        ud::widen(user, ctx != nullptr ? ctx->credUser : ud::kDefaultUser);
        ud::widen(password, ctx != nullptr ? ctx->credPassword : ud::kDefaultPassword);
        ud::widen(domain, ctx != nullptr ? ctx->credDomain : ud::kDefaultDomain);
        return 1;
    });
}

void udSetCredentials(const char *user, const char *password, const char *domain)
{
    ud::guarded([&] {
        if (user == nullptr && password == nullptr && domain == nullptr) {
            std::printf("/%s\n", std::string(73, '=').c_str());
            std::printf("Call udSetCredentials with three arguments:\n");
            std::printf("  \"user name\", \"password\", \"domain\"\n");
            std::printf("each in double quotes.\n");
            std::printf("Fields left out take the built-in defaults.\n");
            std::printf("%s/\n", std::string(73, '=').c_str());
            return;
        }
        if (user == nullptr) {
            std::printf("You have entered wrong user name. Please try again...\n");
            return;
        }
        if (password == nullptr) {
            std::printf("You have entered wrong password. Please try again...\n");
            return;
        }
        ud::Context *ctx = ud::context();
        if (ctx == nullptr)
            return;
        char text[257];
        if (domain == nullptr) {
            std::printf("Using predefined value (the domain of the client).\n");
            ctx->credDomain = ctx->domain;
        } else {
            copyText(text, domain, 256);
            ctx->credDomain = upper(text);
        }
        copyText(text, user, 256);
        ctx->credUser = text;
        copyText(text, password, 100);
        ctx->credPassword = text;
    });
}

int udGetTaskPriorities(void) { return 1; }

uint16_t udGetPort(uint16_t port) { return port; }

int udGetTransportPriority(uint32_t) { return 1; }

void cmGetTransportPriorities(uint32_t *out)
{
    if (out == nullptr)
        return;
    static const uint32_t kTransports[] = {2, 1};
    size_t n = 0;
    for (int level = 3; level >= 1; --level) {
        for (uint32_t t : kTransports) {
            if (udGetTransportPriority(t) == level)
                out[n++] = t;
        }
    }
}

uint32_t cmGetNumOfAvailableTransports(void) { return 2; }

void *udAllocateBuffer(uint32_t index, uint32_t, uint32_t size)
{
    ud::Context *ctx = ud::context();
    // A buffer must lie wholly inside the area.
    if (ctx == nullptr || size == 0 || (static_cast<uint64_t>(index) + 1) * size > UD_BUFFER_AREA_SIZE)
        return nullptr;
    return ctx->buffers.data() + static_cast<size_t>(index) * size;
}

void udReleaseBuffer(uint32_t, uint32_t, void *, uint32_t) {}

int udGetSecurityDescriptor(int, uint32_t, uint8_t *) { return -1; }

int udSetSecurityDescriptor(int, uint32_t, const uint8_t *, uint32_t) { return -1; }

}  // extern "C"
