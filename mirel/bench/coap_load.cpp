// coap_load: the same plain load on any CoAP server, for side-by-side runs.
//   coap_load ADDR PORT PATH WINDOW SECONDS
// Keeps WINDOW confirmable GETs of PATH outstanding (1: one after the
// other) for SECONDS and prints "answered lost per_second". A request
// unanswered after 1 s counts as lost and its slot is reused. Ids start at
// a random value and each run uses a fresh source port, so no server takes
// a request for a duplicate of an earlier run's.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> get_request(uint16_t id, const std::string &path)
{
    // CON GET, token of 2 bytes (the id), Uri-Path options.
    std::vector<uint8_t> m{0x42,
                           0x01,
                           static_cast<uint8_t>(id >> 8),
                           static_cast<uint8_t>(id),
                           static_cast<uint8_t>(id >> 8),
                           static_cast<uint8_t>(id)};
    unsigned last = 0;
    size_t pos = 1;
    while (pos < path.size()) {
        size_t slash = path.find('/', pos);
        std::string seg = path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        unsigned delta = 11 - last;
        last = 11;
        m.push_back(static_cast<uint8_t>(delta << 4 | seg.size()));
        m.insert(m.end(), seg.begin(), seg.end());
        pos = slash == std::string::npos ? path.size() : slash + 1;
    }
    return m;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: coap_load ADDR PORT PATH WINDOW SECONDS\n");
        return 2;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &to.sin_addr) != 1)
        return 2;
    std::string path = argv[3];
    int window = std::atoi(argv[4]);
    double seconds = std::atof(argv[5]);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        std::perror("coap_load");
        return 1;
    }
    std::random_device rd;
    uint16_t next_id = static_cast<uint16_t>(rd());
    std::unordered_map<uint16_t, Clock::time_point> out;
    uint64_t answered = 0, lost = 0;
    auto send_one = [&]() {
        uint16_t id = next_id++;
        std::vector<uint8_t> m = get_request(id, path);
        send(fd, m.data(), m.size(), 0);
        out[id] = Clock::now();
    };
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::microseconds(static_cast<long>(seconds * 1e6));
    for (int i = 0; i < window; i++)
        send_one();
    uint8_t buf[2048];
    Clock::time_point last_sweep = start;
    while (Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) == 1) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n >= 4 && (buf[0] >> 4 & 3) == 2) {
                uint16_t id = static_cast<uint16_t>(buf[2] << 8 | buf[3]);
                if (out.erase(id)) {
                    answered++;
                    send_one();
                }
            }
        }
        Clock::time_point now = Clock::now();
        if (now - last_sweep > std::chrono::milliseconds(100)) {
            last_sweep = now;
            for (auto it = out.begin(); it != out.end();) {
                if (now - it->second > std::chrono::seconds(1)) {
                    it = out.erase(it);
                    lost++;
                } else {
                    ++it;
                }
            }
            while (static_cast<int>(out.size()) < window)
                send_one();
        }
    }
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%llu %llu %.0f\n", static_cast<unsigned long long>(answered),
                static_cast<unsigned long long>(lost), answered / elapsed);
    return 0;
}
