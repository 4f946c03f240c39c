// The scripted daemon as a program for end-to-end scenarios:
//   nbfaked [--refuse NAME/XX]... [--answer NAME/XX=ADDR[,group]]...
// It prints "ready" once both channels are bound and runs until SIGTERM.
#include "fake_daemon.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gStop = 0;

// NAME/XX to the 16 name bytes: upper case, space-padded, hex suffix.
std::string name16(const std::string &word)
{
    size_t slash = word.find('/');
    std::string text = word.substr(0, slash);
    unsigned suffix = slash == std::string::npos ? 0x20 : std::strtoul(word.c_str() + slash + 1, nullptr, 16);
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    text.resize(15, ' ');
    return text + static_cast<char>(suffix);
}

}  // namespace

int main(int argc, char **argv)
{
    fakend::Daemon daemon;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i], value = argv[i + 1];
        if (option == "--refuse") {
            daemon.refused.insert(name16(value));
        } else if (option == "--answer") {
            size_t eq = value.find('=');
            bool group = value.size() > 6 && value.compare(value.size() - 6, 6, ",group") == 0;
            if (group)
                value.resize(value.size() - 6);
            uint32_t ip = inet_addr(value.substr(eq + 1).c_str());
            fakend::Bytes rdata{static_cast<uint8_t>(group ? 0x80 : 0), 0};
            rdata.insert(rdata.end(), reinterpret_cast<uint8_t *>(&ip), reinterpret_cast<uint8_t *>(&ip) + 4);
            daemon.queryAnswers[name16(value.substr(0, eq))] = rdata;
        } else {
            std::fprintf(stderr, "usage: nbfaked [--refuse NAME/XX]... [--answer NAME/XX=ADDR[,group]]...\n");
            return 2;
        }
    }
    std::signal(SIGTERM, [](int) { gStop = 1; });
    std::signal(SIGINT, [](int) { gStop = 1; });
    if (!daemon.start()) {
        std::perror("nbfaked");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    while (!gStop)
        pause();
    daemon.stop();
    for (const auto &s : daemon.seen())
        std::printf("%d %zu\n", s.channel, s.bytes.size());
    return 0;
}
