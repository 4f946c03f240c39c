// Event hooks of the server loop and the NetBIOS daemon, with their pid files.
#include "udhooks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void writePidFile(const char *path)
{
    FILE *f = std::fopen(path, "w+e");
    if (f == nullptr) {
        std::fprintf(stderr, "Could not open a lock file '%s': %s.\n", path, std::strerror(errno));
        return;
    }
    if (std::fprintf(f, "%u", static_cast<unsigned>(getpid())) < 0 || std::fflush(f) != 0)
        std::fprintf(stderr, "Could not write to a lock file '%s': %s.\n", path, std::strerror(errno));
    std::fclose(f);
}

}  // namespace

extern "C" {

void udCifsServerStarted(void)
{
    syInitPrinters();
    writePidFile(UD_SERVER_PID_FILE);
    std::printf("VXCS: server is ready\n");
    std::fflush(stdout);
}

void udCifsServerClosed(void)
{
    unlink(UD_SERVER_PID_FILE);
    std::printf("\n---- VX Server was shut down ---\n");
    std::fflush(stdout);
}

void udNetBiosDaemonStarted(void)
{
    writePidFile(UD_NETBIOS_PID_FILE);
    std::printf("VXND: server is ready\n");
    std::fflush(stdout);
}

void udNetBiosDaemonClosed(void)
{
    unlink(UD_NETBIOS_PID_FILE);
    std::printf("\n---- NETBIOS Server was shut down ---\n");
    std::fflush(stdout);
}

void udBrowserDaemonStarted(void) {}
void udBrowserDaemonClosed(void) {}
void udServerDataIn(void) {}
void udNetBiosDataIn(void) {}
void udServerShareConnect(const uint16_t *) {}
void udServerShareDisconnect(const uint16_t *) {}
void udNetBiosError(uint32_t, const char *) {}

}  // extern "C"
