// The fake printer driver preloaded into a small client: device paths of the
// control file open as their output, the three requests answer from the file.
#include "usblp_ioctl.h"

#include "fw_test/matchers.h"
#include "fw_test/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <fstream>
#include <sstream>
#include <string>

using fw_test::HasSubstr;

namespace {

// Opens DEVICE, asks for the ID, the IDs and the status, writes "hello" and
// prints what it got; run with the fake preloaded.
const char *kClient = R"(
import fcntl, os, struct, sys
dev, rid, rvp, rst = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
try:
    fd = os.open(dev, os.O_WRONLY)
except OSError as e:
    print("open", e.errno); sys.exit(0)
b = fcntl.ioctl(fd, rid, bytes(511))
n = b[0] << 8 | b[1]
print("id", b[2:n].decode())
print("ids %x %x" % struct.unpack("ii", fcntl.ioctl(fd, rvp, bytes(8))))
print("status %x" % struct.unpack("i", fcntl.ioctl(fd, rst, bytes(4)))[0])
os.write(fd, b"hello")
os.close(fd)
)";

// What a shell command prints.
std::string output(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p))
            out += buffer;
        pclose(p);
    }
    return out;
}

std::string run(const fw_test::TempDir &dir, const std::string &device)
{
    std::ofstream(dir.file("client.py")) << kClient;
    std::string command =
        "USBLP_CONTROL=" + dir.file("control") + " LD_PRELOAD=" USBLP_LIBRARY " /usr/bin/python3 " +
        dir.file("client.py") + " " + device + " " + std::to_string(USBLP_IOC_GET_DEVICE_ID) + " " +
        std::to_string(USBLP_IOC_GET_VID_PID) + " " + std::to_string(USBLP_GET_STATUS) + " 2>&1";
    return output(command);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FakeUsbPrinter, AnswersFromTheControlFileAndWritesToTheOutput)
{
    fw_test::TempDir dir;
    std::ofstream(dir.file("control"))
        << "# test printers\n"
        << "/dev/usb/lp0 " << dir.file("lp0.out") << " 04e8:3242 0x38 MFG:Acme;MDL:Laser 9;CMD:PCL;\n"
        << "/dev/usb/lp1 " << dir.file("lp1.out") << " 1234:5678 absent MFG:X;\n";
    std::string out = run(dir, "/dev/usb/lp0");
    EXPECT_THAT(out, HasSubstr("id MFG:Acme;MDL:Laser 9;CMD:PCL;\n"));
    EXPECT_THAT(out, HasSubstr("ids 4e8 3242\n"));
    EXPECT_THAT(out, HasSubstr("status 38\n"));
    EXPECT_EQ(readFile(dir.file("lp0.out")), "hello");
    run(dir, "/dev/usb/lp0");
    EXPECT_EQ(readFile(dir.file("lp0.out")), "hellohello") << "each job is added";

    EXPECT_THAT(run(dir, "/dev/usb/lp1"), HasSubstr("open 19")) << "ENODEV";
    EXPECT_THAT(run(dir, "/dev/usb/lp9"), HasSubstr("open 2")) << "not a test printer: the real open";
}

// A FIFO printer that nobody reads: an opener that asked not to block gets
// EAGAIN once it is full, as from the driver; a plain opener's device blocks.
TEST(FakeUsbPrinter, AFullFifoPrinterFailsWithEagainForANonBlockingOpener)
{
    fw_test::TempDir dir;
    std::string fifo = dir.file("lp0.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(dir.file("control")) << "/dev/usb/lp0 " << fifo << " 04e8:3242 0x18 MFG:Acme;\n";
    std::ofstream(dir.file("stall.py")) << R"(
import fcntl, os, signal, sys
signal.alarm(10)  # a write that blocks fails the test instead of hanging it
reader = os.open(sys.argv[1], os.O_RDONLY | os.O_NONBLOCK)  # holds the FIFO open, reads nothing
fd = os.open("/dev/usb/lp0", os.O_WRONLY | os.O_NONBLOCK)
taken = 0
try:
    while taken < (1 << 24):
        taken += os.write(fd, bytes(65536))
    print("never full")
except BlockingIOError:
    print("EAGAIN after", taken)
plain = os.open("/dev/usb/lp0", os.O_WRONLY)
print("plain blocks", fcntl.fcntl(plain, fcntl.F_GETFL) & os.O_NONBLOCK == 0)
)";
    std::string command = "USBLP_CONTROL=" + dir.file("control") + " LD_PRELOAD=" USBLP_LIBRARY
                          " /usr/bin/python3 " + dir.file("stall.py") + " " + fifo + " 2>&1";
    std::string out = output(command);
    EXPECT_THAT(out, HasSubstr("EAGAIN after "));
    EXPECT_THAT(out, HasSubstr("plain blocks True"));
}

}  // namespace
