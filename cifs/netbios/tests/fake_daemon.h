// A scripted stand-in for the NetBIOS daemon on 127.0.0.1:1026 (names) and
// 1027 (datagrams): it records every request and answers as the daemon
// would, by its own byte-level reading of the messages (no code of the
// layer under test). Run it only inside a network namespace of the test.
#ifndef NETBIOS_FAKE_DAEMON_H
#define NETBIOS_FAKE_DAEMON_H

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fakend {

using Bytes = std::vector<uint8_t>;

// The 16 name bytes of a first-level encoded name at off (no scope kept);
// empty when it is not one.
inline std::string decodeName(const Bytes &m, size_t off)
{
    if (off + 33 > m.size() || m[off] != 32)
        return {};
    std::string name;
    for (size_t i = 0; i < 16; ++i) {
        uint8_t hi = m[off + 1 + 2 * i] - 'A', lo = m[off + 2 + 2 * i] - 'A';
        if (hi > 15 || lo > 15)
            return {};
        name.push_back(static_cast<char>(hi << 4 | lo));
    }
    return name;
}

// Length of the encoded name (labels up to the zero) at off; 0 when cut.
inline size_t nameLength(const Bytes &m, size_t off)
{
    size_t p = off;
    while (p < m.size() && m[p] != 0) {
        if ((m[p] & 0xC0) == 0xC0)
            return p + 2 - off;
        p += 1 + m[p];
    }
    return p < m.size() ? p + 1 - off : 0;
}

inline Bytes encodeName(const std::string &name16)
{
    Bytes out{32};
    for (unsigned char c : name16) {
        out.push_back(static_cast<uint8_t>('A' + (c >> 4)));
        out.push_back(static_cast<uint8_t>('A' + (c & 15)));
    }
    out.push_back(0);
    return out;
}

inline void put16(Bytes &b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

// The daemon's answer on the name channel: one record under the question's name.
inline Bytes nameAnswer(const Bytes &request, uint16_t flags, const Bytes &rdata)
{
    Bytes a(request.begin(), request.begin() + 2);
    put16(a, flags);
    put16(a, 0);
    put16(a, 1);
    put16(a, 0);
    put16(a, 0);
    size_t n = nameLength(request, 12);
    a.insert(a.end(), request.begin() + 12, request.begin() + 12 + n);
    put16(a, 0x0020);
    put16(a, 0x0001);
    a.insert(a.end(), {0, 0, 0, 0});
    put16(a, static_cast<uint16_t>(rdata.size()));
    a.insert(a.end(), rdata.begin(), rdata.end());
    return a;
}

constexpr char kDistributor[] = "TARQUENIX NBT DD";

// The distributor's answer to a listen request: from its name to the
// requester's, user data {1, 0, status}, little-endian.
inline Bytes listenAnswer(const Bytes &request, uint16_t status)
{
    Bytes a{0x10, 0x02, 0x12, 0x34, 127, 0, 0, 1, 0x04, 0x03, 0, 0, 0, 0};
    Bytes from = encodeName(kDistributor);
    a.insert(a.end(), from.begin(), from.end());
    size_t n = nameLength(request, 14);
    a.insert(a.end(), request.begin() + 14, request.begin() + 14 + n);
    a.insert(a.end(), {1, 0, 0, 0, static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8)});
    uint16_t length = static_cast<uint16_t>(a.size() - 14);
    a[10] = static_cast<uint8_t>(length >> 8);
    a[11] = static_cast<uint8_t>(length);
    return a;
}

class Daemon {
public:
    struct Seen {
        int channel;  // 1026 or 1027
        Bytes bytes;
    };

    // Names the daemon holds (16 bytes) and what queries answer: NB flags and address.
    std::set<std::string> refused;
    std::map<std::string, Bytes> queryAnswers;
    std::atomic<int> holdNames{0};    // name requests left unanswered while > 0
    std::atomic<bool> silent{false};  // no answers at all

    ~Daemon() { stop(); }

    bool start()
    {
        return open(nameSocket_, 1026) && open(datagramSocket_, 1027) &&
               (thread_ = std::thread([this] { run(); }), true);
    }

    void stop()
    {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
        for (int *s : {&nameSocket_, &datagramSocket_})
            if (*s >= 0) {
                close(*s);
                *s = -1;
            }
    }

    std::vector<Seen> seen()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

    std::vector<Seen> seenOn(int channel)
    {
        std::vector<Seen> out;
        for (auto &s : seen())
            if (s.channel == channel)
                out.push_back(s);
        return out;
    }

    // Until count messages have come on channel, or the time is up.
    bool waitFor(int channel, size_t count, int ms = 3000)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            size_t n = 0;
            for (auto &s : seen_)
                n += s.channel == channel;
            return n >= count;
        });
    }

    // Answers the name requests held back so far, oldest first.
    void releaseHeld(size_t count)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < count && !held_.empty(); ++i) {
            auto h = held_.front();
            held_.erase(held_.begin());
            answerName(h.first, h.second);
        }
    }

    // Where the last name request came from.
    sockaddr_in lastNameRequester()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastFrom_;
    }

    bool holds(const std::string &name16)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return names_.count(name16) != 0;
    }

private:
    using Request = std::pair<Bytes, sockaddr_in>;

    bool open(int &s, uint16_t port)
    {
        s = socket(AF_INET, SOCK_DGRAM, 0);
        // Bursts of datagrams from several test threads must not be lost
        // to a small queue on a loaded machine (as root the limit is ours).
        int queue = 4 << 20;
        if (s >= 0 && setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &queue, sizeof queue) != 0)
            setsockopt(s, SOL_SOCKET, SO_RCVBUF, &queue, sizeof queue);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return s >= 0 && bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }

    void run()
    {
        while (running_) {
            pollfd fds[2] = {{nameSocket_, POLLIN, 0}, {datagramSocket_, POLLIN, 0}};
            if (poll(fds, 2, 50) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & POLLIN))
                    continue;
                Bytes b(1500);
                sockaddr_in from{};
                socklen_t len = sizeof from;
                ssize_t n =
                    recvfrom(fds[i].fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
                if (n < 0)
                    continue;
                b.resize(static_cast<size_t>(n));
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back({i == 0 ? 1026 : 1027, b});
                if (i == 0) {
                    lastFrom_ = from;
                    onName(b, from);
                }
                if (i != 0)
                    onDatagram(b, from);
                cv_.notify_all();
            }
        }
    }

    void reply(int s, const Bytes &b, const sockaddr_in &to)
    {
        if (!silent)
            sendto(s, b.data(), b.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }

    void onName(const Bytes &b, const sockaddr_in &from)
    {
        if (holdNames > 0) {
            --holdNames;
            held_.push_back({b, from});
            return;
        }
        answerName(b, from);
    }

    void answerName(const Bytes &b, const sockaddr_in &from)
    {
        if (b.size() < 12)
            return;
        uint16_t flags = static_cast<uint16_t>(b[2] << 8 | b[3]);
        std::string name = decodeName(b, 12);
        const Bytes local{0, 0, 127, 0, 0, 1};
        switch (flags & 0xF800) {
        case 0x2800:  // registration
            if (refused.count(name)) {
                reply(nameSocket_, nameAnswer(b, 0xA803, local), from);
            } else {
                names_.insert(name);
                reply(nameSocket_, nameAnswer(b, 0xA800, local), from);
            }
            break;
        case 0x3000:  // release
            reply(nameSocket_, nameAnswer(b, names_.erase(name) ? 0xB000 : 0xB003, local), from);
            break;
        case 0x0000: {  // query
            auto it = queryAnswers.find(name);
            reply(nameSocket_,
                  it != queryAnswers.end() ? nameAnswer(b, 0x8000, it->second) : nameAnswer(b, 0x8003, {}),
                  from);
            break;
        }
        default:  // set-WINS and the rest: no answer
            break;
        }
    }

    void onDatagram(const Bytes &b, const sockaddr_in &from)
    {
        if (b.size() < 14 || b[0] != 0x10)
            return;
        size_t n = nameLength(b, 14);
        if (n == 0 || decodeName(b, 14 + n) != kDistributor)
            return;
        std::string source = decodeName(b, 14);
        size_t data = 14 + n + nameLength(b, 14 + n);
        // A listen request (1, 17) is granted to names the daemon holds.
        if (data + 4 <= b.size() && b[data] == 1 && b[data + 2] == 17)
            reply(datagramSocket_, listenAnswer(b, names_.count(source) ? 7 : 0xA4), from);
    }

    int nameSocket_ = -1, datagramSocket_ = -1;
    std::atomic<bool> running_{true};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Seen> seen_;
    std::vector<Request> held_;
    std::set<std::string> names_;
    sockaddr_in lastFrom_{};
};

}  // namespace fakend

#endif
