// A printer's IEEE 1284 device ID as the device hands it over (a length, then
// text), and the fields read out of it.
#include "spooler.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *const kKeys[] = {"MFG", "MDL", "CMD", "CLS", ""};
    if (size < 1)
        return 0;
    const char *key = kKeys[data[0] % 5];
    ++data;
    --size;
    // The device's buffer, as large as the driver's: its last byte stays zero.
    uint8_t buffer[SY_DEVICE_ID_BYTES] = {};
    std::memcpy(buffer, data, std::min(size, sizeof buffer - 1));
    std::string_view id = sy::print::deviceIdText(buffer, sizeof buffer - 1);
    char out[sy::print::kIdFieldChars + 1];
    if (sy::print::getDeviceIdField(id, key, out) && std::strlen(out) > sy::print::kIdFieldChars)
        __builtin_trap();
    // And over the raw bytes, with no terminator anywhere.
    sy::print::getDeviceIdField(std::string_view(reinterpret_cast<const char *>(data), size), key, out);
    return 0;
}
