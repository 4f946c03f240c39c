// A server session that a real client's NTLMSSP messages reach: each line of
// standard input is "<dialect> <hex blob>" (or "reset"), each answer line is
// "<status hex> <answer hex> <session key hex>". The account comes from the
// command line and is written to pwd_list.txt as the control channel would.
#include "amspnego.h"
#include "cmnetbios.h"
#include "cmsd.h"
#include "csauth.h"
#include "csdb.h"
#include "csdispatch.h"
#include "cssign.h"
#include "udhooks.h"

#include "fw_test/bytes.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// An empty field is "-", so that every answer line keeps its three fields.
std::string toHex(const uint8_t *p, size_t n) { return n ? fw_test::to_hex(p, n) : "-"; }

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s name:password:rid:flags [permissive]\n", argv[0]);
        return 2;
    }
    if (udInit() != 0 || cmNetBiosInit() != 0 || cmSdInit() != 0 || csInitDatabase(nullptr, nullptr) != 0 ||
        csAuthInit() != 1) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    if (FILE *f = std::fopen(UD_CONFIG_DIR "pwd_list.txt", "w")) {
        std::fprintf(f, "%s\n", argv[1]);
        std::fclose(f);
    }
    csAuthSetPermissive(argc > 2);
    static int connection;
    static uint32_t address = 0x0100007F;
    csDispatchSetSocket(&connection);
    csDispatchSetSocketIp(&address);
    csDispatchSetNtError(1);
    CSSession *session = csGetNewSession();
    CSUser *user = nullptr;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string word, blobHex;
        in >> word >> blobHex;
        if (word == "reset") {
            if (user)
                csReleaseUser(user->uid, 0);
            user = nullptr;
            session->mechanism = nullptr;
            std::cout << "ok" << std::endl;
            continue;
        }
        if (word == "sign1") {
            // Signs an SMB1 response with the logged-on user's key as the
            // extended-security MAC key, at the given sequence number.
            std::string sequence;
            in >> sequence;
            std::vector<uint8_t> message = fw_test::hex(blobHex);
            if (!user || message.size() < 32) {
                std::cout << "none" << std::endl;
                continue;
            }
            session->signingActive = 1;
            session->waitingForFirstKey = 0;
            std::memcpy(session->signingKey, user->sessionKey, 16);
            session->responseSequence = uint32_t(std::stoul(sequence));
            csCreateMessageSignatureSMB(session, user, message.data(), uint32_t(message.size()));
            std::cout << toHex(message.data() + 14, 8) << std::endl;
            continue;
        }
        if (word == "sign2" || word == "sign3") {
            // Signs a response of the logged-on user with its key.
            std::vector<uint8_t> message = fw_test::hex(blobHex);
            if (!user || message.size() < 64) {
                std::cout << "none" << std::endl;
                continue;
            }
            user->authenticated = 1;
            session->signingActive = 1;
            std::memcpy(user->smb3SigningKey, user->sessionKey, 16);
            if (word == "sign2")
                csCreateMessageSignatureSMB2(user->uid + CS_SMB2_SESSION_BASE, message.data(),
                                             uint32_t(message.size()));
            else
                csCreateMessageSignatureSMB3(user->uid + CS_SMB2_SESSION_BASE, message.data(),
                                             uint32_t(message.size()));
            std::cout << toHex(message.data() + 48, 16) << std::endl;
            continue;
        }
        session->dialect = uint32_t(std::stoul(word));
        std::vector<uint8_t> blob = fw_test::hex(blobHex);
        std::vector<uint8_t> request(10, 0);
        request[0] = uint8_t(blob.size());
        request[1] = uint8_t(blob.size() >> 8);
        request.insert(request.end(), blob.begin(), blob.end());
        std::vector<uint8_t> answer(65536);
        uint32_t length = uint32_t(answer.size());
        uint32_t status = csAuthenticateUser(request.data() + 10, uint32_t(blob.size()), session,
                                             answer.data(), &length, 1, &user, nullptr);
        std::cout << std::hex << status << std::dec << ' ' << toHex(answer.data(), length) << ' '
                  << (user && status == 0 ? toHex(user->sessionKey, 16) : std::string("-")) << std::endl;
    }
    csAuthShutdown();
    csCloseDatabase();
    cmSdExit();
    cmNetBiosExit();
    udStop();
    return 0;
}
