// Session-setup requests through the logon decision: the 13-word and
// 12-word SMB1 forms and the SMB2 security buffer, each bounded by the
// request's length. Every account has the password "Password" here.
#include "csauth.h"
#include "csdb.h"
#include "csdispatch.h"
#include "udhooks.h"

#include <cstdint>
#include <cstring>
#include <vector>

// Stands in for the users file, so the response checks run.
extern "C" int udGetPassword(const CMWchar *, uint8_t *out, int *isHashed, int32_t *rid)
{
    std::strcpy(reinterpret_cast<char *>(out), "Password");
    *isHashed = 0;
    *rid = 1000;
    return 4;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool started = [] {
        csInitDatabase(nullptr, nullptr);
        csAuthInit();
        static int connection;
        csDispatchSetSocket(&connection);
        return true;
    }();
    (void)started;
    if (size < 2)
        return 0;
    const uint8_t mode = data[0];
    csAuthSetPermissive(mode & 0x10);
    csChangeEncryptionLevel(mode & 0x0F);
    csDispatchSetNtError(1);
    CSSession *session = csGetSessionBySocket();
    if (!session)
        session = csGetNewSession();
    const bool smb1 = mode & 0x20;
    session->dialect = smb1 ? CS_DIALECT_SMB1 : CS_DIALECT_SMB202;
    session->signingActive = (mode & 0x40) != 0;
    // SMB2 keeps the blob's length 10 bytes before it; SMB1 starts at WordCount.
    std::vector<uint8_t> request(data + 1, data + size);
    size_t at = 0;
    if (!smb1) {
        uint16_t n = uint16_t(request.size());
        request.insert(request.begin(), 10, 0);
        request[0] = uint8_t(n);
        request[1] = uint8_t(n >> 8);
        at = 10;
    }
    std::vector<uint8_t> answer(mode & 0x80 ? 16 : 4096);
    CSUser *user = nullptr;
    for (int round = 0; round < 2; ++round) {
        uint32_t length = uint32_t(answer.size());
        const uint8_t *end = nullptr;
        uint32_t status = csAuthenticateUser(request.data() + at, uint32_t(request.size() - at), session,
                                             answer.data(), &length, 1, &user, &end);
        if (length > answer.size() ||
            (end && (end < request.data() || end > request.data() + request.size() + 1)))
            __builtin_trap();
        if (status != 0xC0000016u)
            break;
    }
    csReleaseSessions(csDispatchGetSocket(), 1);
    return 0;
}
