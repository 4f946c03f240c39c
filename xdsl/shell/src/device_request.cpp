// Single device requests: fill the block, one open, one request, one close.
#include <cstdio>
#include <cstring>

#include "cli_command.h"
#include "cli_print.h"
#include "device_request.h"
#include "vdsl_device.h"
#include "vdsl_request.h"

namespace {

constexpr uint32_t kEbmAccessWord = 0x6C32;

// The layer's blocks; an answer is copied out before the next request.
unsigned char mib_block[VDSL_BLOCK_SIZE];
unsigned char word_block[VDSL_BLOCK_HEAD];
unsigned char state_block[VDSL_BLOCK_HEAD];

void put_addr24(unsigned char *b, uint32_t addr)
{
    b[1] = static_cast<unsigned char>(addr >> 16);
    b[2] = static_cast<unsigned char>(addr >> 8);
    b[3] = static_cast<unsigned char>(addr);
}

// b0 the port, then the OID and (for writes) the value behind its zero
// byte; false when they do not fit the block with their zero bytes.
bool fill_mib_block(int port, const char *oid, const char *value)
{
    std::memset(mib_block, 0, sizeof mib_block);
    size_t oid_len = std::strlen(oid);
    size_t value_len = value ? std::strlen(value) + 1 : 0;
    if (1 + oid_len + 1 + value_len > sizeof mib_block)
        return false;
    mib_block[0] = static_cast<unsigned char>(port);
    std::memcpy(mib_block + 1, oid, oid_len + 1);
    if (value)
        std::memcpy(mib_block + 2 + oid_len, value, value_len);
    return true;
}

int read_word(int port, unsigned long number, uint32_t addr, int mem, unsigned char *word)
{
    std::memset(word_block, 0, sizeof word_block);
    word_block[0] = static_cast<unsigned char>(port);
    put_addr24(word_block, addr);
    word_block[4] = static_cast<unsigned char>(mem);
    int rc = vdsl_port_request(port, number, word_block, sizeof word_block);
    std::memcpy(word, word_block, 3);
    return rc;
}

}  // namespace

unsigned char vdsl_last_answer[VDSL_BLOCK_SIZE];

int vdsl_request::open_device_or_report()
{
    int fd = vdsl_device::open_device();
    if (fd < 0) {
        static const char kOpenFailed[] = "vdsl device open failed.\n";
        cli_write_raw(kOpenFailed, sizeof kOpenFailed - 1);
    }
    return fd;
}

extern "C" int vdsl_port_refused(int port)
{
    if (port == 0)
        return 0;
    invalid_port(port);
    cli_print(CLI_LEVEL_ERROR_CODE, "Error Code = %i", CLI_INVALID_PORT);
    return CLI_FAILED;
}

extern "C" int vdsl_port_index(int number, int *index)
{
    if (number < 1 || number > MAX_PORTS) {
        // The index is shown as the driver's rule shows it, in a width that cannot overflow.
        cli_print(CLI_LEVEL_PORT, "Invalid portid=%lld\n", static_cast<long long>(number) - 1);
        cli_print(CLI_LEVEL_ERROR_CODE, "Error Code = %i", CLI_INVALID_PORT);
        return CLI_FAILED;
    }
    *index = number - 1;
    return 0;
}

extern "C" int vdsl_port_request(int port, unsigned long request, unsigned char *block, size_t size)
{
    if (vdsl_port_refused(port))
        return CLI_FAILED;
    int fd = vdsl_request::open_device_or_report();
    if (fd < 0)
        return -1;
    int rc = vdsl_device::request(fd, request, block, size);
    vdsl_device::close_device(fd);
    return rc;
}

extern "C" int mib_get_logic(int port, const char *oid, unsigned char *answer)
{
    if (!fill_mib_block(port, oid, nullptr))
        return VDSL_ERR_OID_TOO_LONG;
    int rc = vdsl_port_request(port, VDSL_GET_MIB, mib_block, sizeof mib_block);
    std::memcpy(answer, mib_block, sizeof mib_block);
    // The value text is read as a string: it ends inside the block.
    answer[VDSL_BLOCK_SIZE - 1] = 0;
    return rc;
}

extern "C" int mib_set_logic(int port, const char *oid, const char *value)
{
    if (!fill_mib_block(port, oid, value))
        return VDSL_ERR_OID_TOO_LONG;
    return vdsl_port_request(port, VDSL_SET_DATA_LOGIC, mib_block, sizeof mib_block);
}

extern "C" int xdsl_get_opstate(int port, unsigned char *state)
{
    std::memset(state_block, 0, sizeof state_block);
    state_block[0] = static_cast<unsigned char>(port);
    int rc = vdsl_port_request(port, VDSL_PHY_STATUS, state_block, sizeof state_block);
    if (port == 0)
        *state = state_block[0];
    return rc;
}

extern "C" int port_control(int port, int operation)
{
    unsigned long number = operation == VDSL_PORT_DISCONNECT     ? VDSL_DISCONNECT_PORT
                           : operation == VDSL_PORT_LOOPBACK_ON  ? VDSL_LOOPBACK_ON
                           : operation == VDSL_PORT_LOOPBACK_OFF ? VDSL_LOOPBACK_OFF
                                                                 : VDSL_CONNECT_PORT;
    std::memset(word_block, 0, sizeof word_block);
    word_block[0] = static_cast<unsigned char>(port);
    return vdsl_port_request(port, number, word_block, sizeof word_block);
}

extern "C" int dsp_mem_read_word(int port, uint32_t addr, int mem, unsigned char *word)
{
    return read_word(port, VDSL_GET_MEM, addr, mem, word);
}

extern "C" int dsp_mem_read_word_sk(int port, uint32_t addr, int mem, unsigned char *word)
{
    return read_word(port, VDSL_GET_MEM_SK, addr, mem, word);
}

extern "C" int dsp_mem_write_word(int port, uint32_t addr, int mem, const unsigned char *word)
{
    std::memset(word_block, 0, sizeof word_block);
    word_block[0] = static_cast<unsigned char>(port);
    put_addr24(word_block, addr);
    word_block[4] = static_cast<unsigned char>(mem);
    std::memcpy(word_block + 5, word, 3);
    return vdsl_port_request(port, VDSL_SET_MEM, word_block, sizeof word_block);
}

extern "C" int dsp_mem_read_remote(int port, uint32_t addr, unsigned number, unsigned char *word)
{
    std::memset(word_block, 0, sizeof word_block);
    word_block[0] = static_cast<unsigned char>(port);
    put_addr24(word_block, addr);
    word_block[4] = static_cast<unsigned char>(number >> 8);
    word_block[5] = static_cast<unsigned char>(number);
    int rc = vdsl_port_request(port, VDSL_GET_MEM_REMOTE, word_block, sizeof word_block);
    std::memcpy(word, word_block, 3);
    return rc;
}

extern "C" int ebm_access_word(int port, unsigned char *word, int operation)
{
    std::memset(word_block, 0, sizeof word_block);
    word_block[0] = static_cast<unsigned char>(port);
    put_addr24(word_block, kEbmAccessWord);
    word_block[4] = VDSL_MEM_X;
    word_block[5] = static_cast<unsigned char>(operation == 1 ? 1 : 0);
    if (operation == 1)
        std::memcpy(word_block + 6, word, 3);
    int rc = vdsl_port_request(port, VDSL_EBM_ACCESS, word_block, sizeof word_block);
    if (operation != 1)
        std::memcpy(word, word_block, 3);
    return rc;
}

extern "C" int mib32_clear(int port, const char *oid)
{
    if (!fill_mib_block(port, oid, nullptr))
        return VDSL_ERR_OID_TOO_LONG;
    return vdsl_port_request(port, VDSL_CLEAR_MIB32, mib_block, sizeof mib_block);
}

extern "C" int ebm_socket_reopen(void)
{
    return vdsl_port_request(0, VDSL_REOPEN_SOCKET, word_block, sizeof word_block);
}

extern "C" int32_t mib_entry_length(int port, const char *oid)
{
    int group = 0, table = 0, item = 0;
    std::sscanf(oid, "%d.%d.%d", &group, &table, &item);
    unsigned char block[VDSL_BLOCK_SIZE] = {};
    block[0] = static_cast<unsigned char>(group);
    block[1] = static_cast<unsigned char>(table);
    block[2] = static_cast<unsigned char>(port);
    block[3] = static_cast<unsigned char>(item);
    if (vdsl_port_request(port, VDSL_TRANS_MIB_ADDR, block, sizeof block) != 0)
        return -1;
    int32_t length;
    std::memcpy(&length, block, sizeof length);
    return length;
}
