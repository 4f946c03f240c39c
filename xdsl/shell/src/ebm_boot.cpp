// The chip's boot loader, spoken to in raw frames on the boot interface:
// start, init, one data frame per image record, finish and stop, each
// acknowledged before the next.
#include "ebm_boot.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cli_command.h"
#include "cli_print.h"
#include "ebm_boot_link.h"
#include "shell_sleep.h"
#include "vdsl_ebm.h"

namespace {

using Mac = std::array<unsigned char, 6>;

constexpr size_t kMinFrame = 60;
constexpr size_t kFrameArea = 252;
constexpr int kStartAttempts = 10;
constexpr unsigned long kStartPause = 500000;
constexpr int kReplyWaitSeconds = 1;
constexpr size_t kReplyRead = 60;

Mac port_mac(Mac mac, int port)
{
    mac[5] = static_cast<unsigned char>(mac[5] + port);
    return mac;
}

bool parse_mac(const char *text, Mac &mac)
{
    char tail;
    return std::sscanf(text, "%2hhx:%2hhx:%2hhx:%2hhx:%2hhx:%2hhx%c", &mac[0], &mac[1], &mac[2], &mac[3],
                       &mac[4], &mac[5], &tail) == 6;
}

void report_errno(const char *what) { cli_print(CLI_LEVEL_ORDINARY, "%s: %s", what, std::strerror(errno)); }

// One boot frame: destination, own address, the 16-bit number, the request.
class Frame {
public:
    Frame(const Mac &to, const Mac &own, uint16_t number)
    {
        std::memcpy(bytes_, to.data(), 6);
        std::memcpy(bytes_ + 6, own.data(), 6);
        bytes_[12] = static_cast<unsigned char>(number >> 8);
        bytes_[13] = static_cast<unsigned char>(number);
    }
    void put(size_t at, unsigned char b)
    {
        bytes_[at] = b;
        if (at + 1 > length_)
            length_ = at + 1;
    }
    void put24(size_t at, uint32_t w)
    {
        put(at, static_cast<unsigned char>(w >> 16));
        put(at + 1, static_cast<unsigned char>(w >> 8));
        put(at + 2, static_cast<unsigned char>(w));
    }
    const unsigned char *data() const { return bytes_; }
    size_t length() const { return length_ < kMinFrame ? kMinFrame : length_; }

private:
    unsigned char bytes_[14 + kFrameArea] = {};
    size_t length_ = 14;
};

class Boot {
public:
    Boot(boot::Link &link, int port, const Mac &own, const Mac *configured)
        : link_(link), own_(own), mgmt_(port_mac(Mac EBM_CHIP_MGMT_MAC, port)),
          boot_mac_(configured ? *configured : port_mac(Mac EBM_CHIP_DEFAULT_BOOT_MAC, port)),
          configured_(configured != nullptr)
    {
    }

    int run(FILE *image, long start, long length);

private:
    bool send(const Frame &f)
    {
        if (link_.send(f.data(), f.length()))
            return true;
        report_errno("sendto");
        return false;
    }
    int wait(int kind, unsigned char seq) { return boot::wait_reply(link_, kind, boot_mac_.data(), seq); }
    int start();
    int data(FILE *image, long length, unsigned char &seq);

    boot::Link &link_;
    Mac own_, mgmt_, boot_mac_;
    bool configured_;
};

int Boot::start()
{
    for (int attempt = 0; attempt < kStartAttempts; attempt++) {
        cli::sleep_us(kStartPause);
        Frame f(mgmt_, own_, 0x0005);
        f.put(14, 0x00);
        f.put(15, 0x00);
        f.put(16, 0x02);
        f.put(17, 0x03);
        f.put(18, 0x04);
        f.put(19, configured_ ? 0x01 : 0x00);
        if (configured_)
            for (size_t i = 0; i < 6; i++)
                f.put(20 + i, boot_mac_[i]);
        send(f);  // a failed send still waits its turn
        if (wait(EBM_REPLY_START, 0) == 0) {
            cli_print(CLI_LEVEL_ORDINARY, "Sendto Success! : Start");
            return 0;
        }
        cli_print(CLI_LEVEL_ORDINARY, "No start request response, try again(%d)", attempt);
    }
    cli_print(CLI_LEVEL_ORDINARY, "Tried %d times for start request, stop", kStartAttempts);
    return CLI_FAILED;
}

int Boot::data(FILE *image, long length, unsigned char &seq)
{
    long remaining = length;
    int wraps = 0;
    for (;;) {
        uint32_t load = read_word24(image, &remaining);
        uint32_t count = read_word24(image, &remaining);
        if (remaining < 0) {
            cli_print(CLI_LEVEL_ORDINARY, "Boot image ends before its length.");
            return CLI_FAILED;
        }
        const bool end = remaining == 0;
        if (!end && count > EBM_RECORD_WORDS_MAX) {
            cli_print(CLI_LEVEL_ORDINARY, "Boot record of %u words refused (at most %d).", count,
                      EBM_RECORD_WORDS_MAX);
            return CLI_FAILED;
        }
        Frame f(boot_mac_, own_, static_cast<uint16_t>(end ? 9 : 9 + 3 * count));
        f.put(14, 0x04);
        f.put(15, seq);
        f.put(16, 0x01);
        f.put24(17, load);
        f.put24(20, count);
        if (end) {
            cli_print(CLI_LEVEL_ORDINARY, "end of packet");
        } else {
            for (uint32_t i = 0; i < count; i++) {
                uint32_t w = read_word24(image, &remaining);
                // A record must end within the image, before its end mark.
                if (remaining <= 0) {
                    cli_print(CLI_LEVEL_ORDINARY, "Boot record runs past the end of the image.");
                    return CLI_FAILED;
                }
                f.put24(23 + 3 * i, w);
            }
        }
        if (!send(f))
            return CLI_FAILED;
        if (wait(EBM_REPLY_DATA, seq) != 0) {
            cli_print(CLI_LEVEL_ORDINARY, "Got failed on bootrequest_srec_pkt");
            return CLI_FAILED;
        }
        seq = static_cast<unsigned char>(seq + 1);
        if (seq == 0)
            cli_print(CLI_LEVEL_ORDINARY, "Wrap times = %d", ++wraps);
        if (end)
            return 0;
    }
}

int Boot::run(FILE *image, long start_offset, long length)
{
    if (start() != 0)
        return CLI_FAILED;

    Frame init(boot_mac_, own_, 0x0007);
    init.put(14, 0x04);
    init.put(15, 0x01);
    init.put(16, 0x00);
    init.put(17, static_cast<unsigned char>(static_cast<uint32_t>(length) >> 24));
    init.put24(18, static_cast<uint32_t>(length));
    if (!send(init))
        return CLI_FAILED;
    if (wait(EBM_REPLY_INIT, 1) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Got failed on Bootrequest Init");
        return CLI_FAILED;
    }
    cli_print(CLI_LEVEL_ORDINARY, "Sendto Success! : Bootrequest Init");
    if (start_offset != 0 && std::fseek(image, start_offset, SEEK_SET) != 0) {
        report_errno("fseek");
        return CLI_FAILED;
    }

    unsigned char seq = 2;
    if (data(image, length, seq) != 0)
        return CLI_FAILED;

    Frame finish(boot_mac_, own_, 0x0003);
    finish.put(14, 0x04);
    finish.put(15, seq);
    finish.put(16, 0x02);
    if (!send(finish))
        return CLI_FAILED;
    if (wait(EBM_REPLY_FINISH, seq) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Got failed on bootrequest finish");
        return CLI_FAILED;
    }
    cli_print(CLI_LEVEL_ORDINARY, "Sendto Success! : Bootrequest finish");

    Frame stop(boot_mac_, own_, 0x0001);
    stop.put(14, 0x02);
    if (!send(stop))
        return CLI_FAILED;
    if (wait(EBM_REPLY_STOP, 0) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "Got failed on bootrequest finish");
        return CLI_FAILED;
    }
    cli_print(CLI_LEVEL_ORDINARY, "Sendto Success! : Stop");
    return 0;
}

// The boot interface as a packet socket of the boot protocol.
class PacketLink : public boot::Link {
public:
    explicit PacketLink(int fd) : fd_(fd) {}
    bool send(const unsigned char *frame, size_t length) override
    {
        return ::send(fd_, frame, length, 0) == static_cast<ssize_t>(length);
    }
    int receive(unsigned char *buffer, size_t capacity, int timeout_ms) override
    {
        pollfd p{fd_, POLLIN, 0};
        int ready = poll(&p, 1, timeout_ms);
        if (ready < 0)
            return boot::kWaitFailed;
        if (ready == 0)
            return 0;
        ssize_t n = recvfrom(fd_, buffer, capacity, 0, nullptr, nullptr);
        return n < 0 ? boot::kReceiveFailed : static_cast<int>(n);
    }

private:
    int fd_;
};

}  // namespace

namespace boot {

int open_socket(const char *ifname, uint16_t protocol, unsigned char own_mac[6])
{
    int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(protocol));
    if (fd < 0) {
        cli_print(CLI_LEVEL_ORDINARY, "socket() failed: Error");
        return -1;
    }
    ifreq ifr{};
    const bool fits = std::strlen(ifname) < sizeof ifr.ifr_name;
    if (fits)
        std::memcpy(ifr.ifr_name, ifname, std::strlen(ifname) + 1);
    if (!fits || ioctl(fd, SIOCGIFINDEX, &ifr) != 0) {
        cli_print(CLI_LEVEL_ORDINARY, "No such interface: %s", ifname);
        close(fd);
        return -1;
    }
    const int index = ifr.ifr_ifindex;
    if (ioctl(fd, SIOCGIFFLAGS, &ifr) != 0 || !(ifr.ifr_flags & IFF_UP)) {
        cli_print(CLI_LEVEL_ORDINARY, "Interface %s is down", ifname);
        close(fd);
        return -1;
    }
    sockaddr_ll ll{};
    ll.sll_family = AF_PACKET;
    ll.sll_protocol = htons(protocol);
    ll.sll_ifindex = index;
    if (bind(fd, reinterpret_cast<sockaddr *>(&ll), sizeof ll) != 0) {
        report_errno("Bind: ");
        cli_print(CLI_LEVEL_ORDINARY, "Bind failed.");
        close(fd);
        return -1;
    }
    if (own_mac) {
        if (ioctl(fd, SIOCGIFHWADDR, &ifr) != 0)
            cli_print(CLI_LEVEL_ORDINARY, "ioctl(SIOCGIFHWADDR)");
        else
            std::memcpy(own_mac, ifr.ifr_hwaddr.sa_data, 6);
    }
    return fd;
}

int wait_reply(Link &link, int kind, const unsigned char *mac, unsigned char seq)
{
    unsigned char frame[kReplyRead];
    int n = link.receive(frame, sizeof frame, kReplyWaitSeconds * 1000);
    if (n == kWaitFailed) {
        report_errno("select()");
        return CLI_FAILED;
    }
    if (n == kReceiveFailed) {
        report_errno("recvfrom: ");
        cli_print(CLI_LEVEL_ORDINARY, "Got failed on recvfrom");
        return CLI_FAILED;
    }
    if (n == 0) {
        cli_print(CLI_LEVEL_ORDINARY, "No data within %d seconds.", kReplyWaitSeconds);
        return CLI_FAILED;
    }
    if (boot_reply_accepted(kind, frame, static_cast<size_t>(n), mac, seq))
        return 0;
    if (kind == EBM_REPLY_STOP && n >= 18)
        cli_print(CLI_LEVEL_ORDINARY, "*buf_ptr = %02X, *(buf_ptr+1)=%02X", frame[16], frame[17]);
    return CLI_FAILED;
}

int run(Link &link, int port, const unsigned char own_mac[6], const char *mac_text, FILE *image, long start,
        long length)
{
    Mac own;
    std::memcpy(own.data(), own_mac, 6);
    Mac configured;
    bool have_mac = mac_text && *mac_text;
    if (have_mac && !parse_mac(mac_text, configured)) {
        cli_print(CLI_LEVEL_ORDINARY, "Boot MAC address \"%s\" refused.", mac_text);
        return CLI_FAILED;
    }
    Boot boot(link, port, own, have_mac ? &configured : nullptr);
    return boot.run(image, start, length);
}

}  // namespace boot

extern "C" int boot_reply_accepted(int kind, const unsigned char *f, size_t length, const unsigned char *mac,
                                   unsigned char seq)
{
    // Without an expected address the start reply must name the default one.
    static const unsigned char kDefaultBootMac[6] = EBM_CHIP_DEFAULT_BOOT_MAC;
    if (!mac)
        mac = kDefaultBootMac;
    // Each kind is judged only on bytes the frame holds.
    switch (kind) {
    case EBM_REPLY_START:
        return length >= 24 && f[16] == 0x80 && (f[17] & 3) == 0 && std::memcmp(f + 18, mac, 6) == 0;
    case EBM_REPLY_INIT:
        return length >= 19 && f[16] == 0x84 && f[17] == 1 && (f[18] & 3) == 0;
    case EBM_REPLY_DATA:
    case EBM_REPLY_FINISH:
        return length >= 19 && f[16] == 0x84 && f[17] == seq && (f[18] & 3) == 0;
    case EBM_REPLY_STOP:
        return length >= 18 && f[16] == 0x82 && (f[17] & 3) == 0;
    default:
        return 0;
    }
}

extern "C" uint32_t read_word24(FILE *image, long *remaining)
{
    uint32_t word = 0;
    for (int i = 0; i < 3; i++) {
        word <<= 8;
        if (*remaining <= 0)
            continue;
        int c = std::getc(image);
        if (c == EOF) {
            *remaining = -1;
            continue;
        }
        // The byte that brings the count to 0 belongs to no word.
        if (--*remaining > 0)
            word |= static_cast<uint32_t>(c);
    }
    return word;
}

extern "C" int wait_boot_reply(int fd, int kind, const unsigned char *mac, unsigned char seq)
{
    PacketLink link(fd);
    return boot::wait_reply(link, kind, mac, seq);
}

extern "C" int ebm_boot(int port, const char *ifname, const char *mac_text, FILE *image, long start,
                        long length)
{
    unsigned char own[6] = {};
    int fd = boot::open_socket(ifname, EBM_ETHERTYPE, own);
    if (fd < 0)
        return CLI_FAILED;
    PacketLink link(fd);
    int rc = boot::run(link, port, own, mac_text, image, start, length);
    close(fd);
    return rc;
}
