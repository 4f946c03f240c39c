// Numbers from MIB answers: one logic read into the last answer, then its
// value text parsed as hexadecimal.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli_print.h"
#include "vdsl_request.h"

namespace {

// Words that mean "not available".
constexpr uint32_t kNotAvailable1 = 0x7FFFFE;
constexpr uint32_t kNotAvailable2 = 0x7FFFFF;

uint32_t answer_hex()
{
    return static_cast<uint32_t>(
        std::strtoul(reinterpret_cast<const char *>(vdsl_last_answer) + VDSL_ANSWER_TEXT, nullptr, 16));
}

int32_t sign_extend24(uint32_t v) { return static_cast<int32_t>((v & 0x800000) ? v | 0xFF000000u : v); }

std::string indexed(const char *oid, int index) { return std::string(oid) + "." + std::to_string(index); }

}  // namespace

extern "C" int mib_get_hex(int port, const char *oid, uint32_t *value)
{
    int rc = mib_get_logic(port, oid, vdsl_last_answer);
    if (rc == 0)
        *value = answer_hex();
    return rc;
}

extern "C" int mib_get_int24(int port, const char *oid, int32_t *value)
{
    int rc = mib_get_logic(port, oid, vdsl_last_answer);
    uint32_t v = rc == 0 ? answer_hex() : static_cast<uint32_t>(*value);
    *value = sign_extend24(v);
    return rc;
}

extern "C" int mib_get_int24_idx(int port, const char *oid, int32_t *value, int index)
{
    return mib_get_int24(port, indexed(oid, index).c_str(), value);
}

extern "C" int mib_get_chip_version(int port, uint32_t *v1, uint32_t *v2, uint32_t *v3, char mode[3])
{
    mib_get_hex(port, "2.1.1", v1);
    mib_get_hex(port, "2.1.2", v2);
    mib_get_hex(port, "2.1.3", v3);
    uint32_t status = 0;
    if (mib_get_hex(port, "2.1.5", &status) == 0)
        std::snprintf(mode, 3, "%s", (status & 1) ? "RT" : "OT");
    return 0;
}

extern "C" int print_mib_value_idx(int port, const char *format, const char *oid, const char *label,
                                   const char *unit, int index)
{
    int32_t value = 0;
    int rc = mib_get_int24(port, indexed(oid, index).c_str(), &value);
    if (rc != 0)
        return rc;
    uint32_t word = static_cast<uint32_t>(value) & 0xFFFFFF;
    std::string text = word == kNotAvailable1 || word == kNotAvailable2 ? "NA" : std::to_string(value);
    cli_print(CLI_LEVEL_ORDINARY, format, label, text.c_str(), unit);
    cli_print(CLI_LEVEL_RECORD, "%s=%s|", label, text.c_str());
    return 0;
}
