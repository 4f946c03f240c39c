// zmocore: the management-core stand-in as a program.
//   zmocore [options] --plugin LIB.so... --script FILE|-
// Loads each plug-in, runs the script, unloads. A forwarder that a plug-in
// registered runs it again as "zmocore --feedback-forward SOCKET PATH ARGS".
#include "zmocore/host.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

namespace Core {
// The library's forwarding mode; exported for this program alone.
ZMOCORE_API int FeedbackForward(const String &socket_path, const String &path, const StringVector &args);
}  // namespace Core

namespace {
void Usage()
{
    std::fprintf(stderr, "usage: zmocore [--root DIR] [--manual-clock] [--seed N] [--wan-mac MAC]\n"
                         "               [--real-swap-label LABEL] [--verbose] [--journal]\n"
                         "               --plugin LIB.so... --script FILE|-\n");
}
}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--feedback-forward") == 0) {
        StringVector args(argv + 4, argv + argc);
        return Core::FeedbackForward(argv[2], argv[3], args);
    }
    Core::HostOptions o;
    StringVector plugins;
    String script;
    bool journal = false;
    for (int i = 1; i < argc; ++i) {
        const String a = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) {
                Usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--plugin") {
            plugins.push_back(value());
            while (i + 1 < argc && argv[i + 1][0] != '-')
                plugins.push_back(argv[++i]);
        } else if (a == "--script") {
            script = value();
        } else if (a == "--root") {
            o.root = value();
        } else if (a == "--manual-clock") {
            o.manual_clock = true;
        } else if (a == "--seed") {
            o.seed = static_cast<uint32_t>(std::strtoul(value(), nullptr, 10));
        } else if (a == "--wan-mac") {
            o.wan_mac = value();
        } else if (a == "--real-swap-label") {
            o.real_swap_label = value();
        } else if (a == "--verbose") {
            o.log_to_stderr = true;
        } else if (a == "--journal") {
            journal = true;
        } else {
            Usage();
            return 2;
        }
    }
    if (script.empty()) {
        Usage();
        return 2;
    }
    int failed = 0;
    {
        Core::Host host(o);
        for (const String &p : plugins)
            if (Failed(host.LoadPlugin(p, std::cout)))
                ++failed;
        if (script == "-") {
            failed += host.RunScript(std::cin, std::cout);
        } else {
            std::ifstream in(script);
            if (!in) {
                std::fprintf(stderr, "zmocore: can't read %s\n", script.c_str());
                return 2;
            }
            failed += host.RunScript(in, std::cout);
        }
        host.UnloadAll();
        if (journal)
            for (const String &l : host.Journal())
                std::cout << "| " << l << "\n";
    }
    std::cout.flush();
    return failed ? 1 : 0;
}
