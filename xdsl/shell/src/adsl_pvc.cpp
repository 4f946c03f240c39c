// The ADSL PVC records: loaded from the configuration manager at start-up,
// changed by the commands of "interface xdsl pvc", shown by "pvc", stored
// as keys and written into the chip's SAR entries.
#include "adsl_pvc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"
#include "lifecycle_hooks.h"

struct adsl_pvc adsl_pvcs[ADSL_PVC_COUNT];
int adsl_default_pvc = 0;

namespace {

constexpr int kPort = 0;  // every PVC write goes to the first port
constexpr size_t kLineSize = 64;
constexpr uint32_t kApplied = CLI_LEVEL_TERMINAL;

struct Range {
    unsigned long low, high;
    const char *message;  // with the two bounds, or none for "0 - 1"
};

// Stored values of keys, read in one run of the configuration manager;
// an empty text for a key without one (or one too long to be a record).
std::vector<std::string> read_keys(const std::vector<std::string> &keys)
{
    std::vector<const char *> names;
    for (const std::string &k : keys)
        names.push_back(k.c_str());
    std::vector<std::string> values(keys.size());
    cfgmgr_read_many(
        names.data(), names.size(), kLineSize - 1,
        [](void *context, size_t index, const char *line) {
            (*static_cast<std::vector<std::string> *>(context))[index] = line;
        },
        &values);
    return values;
}

// A stored record's fields split at '@'; none when it is empty.
std::vector<std::string> split_fields(std::string text)
{
    std::vector<std::string> fields;
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    text = str_trim(buffer.data());
    if (text.empty())
        return fields;
    size_t start = 0;
    for (;;) {
        size_t at = text.find('@', start);
        fields.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            break;
        start = at + 1;
    }
    return fields;
}

std::vector<std::string> numbered_keys(const char *format)
{
    std::vector<std::string> keys;
    for (int p = 0; p < ADSL_PVC_COUNT; p++) {
        char key[32];
        std::snprintf(key, sizeof key, format, p);
        keys.push_back(key);
    }
    return keys;
}

unsigned long field_number(const std::string &text) { return std::strtoul(text.c_str(), nullptr, 10); }

bool in_range(unsigned long value, const Range &r)
{
    if (value >= r.low && value <= r.high)
        return true;
    if (r.message)
        cli_print(CLI_LEVEL_ORDINARY, r.message, static_cast<int>(r.low), static_cast<int>(r.high));
    else
        cli_print(CLI_LEVEL_ORDINARY, "Allowed Activation value is 0 - 1");
    return false;
}

const Range kVci{32, 65535, "Allowed VCI value is %d - %d"};
const Range kVlan{1, 4094, "Allowed VLAN ID is %d - %d"};
const Range kPriority{0, 3, "Allowed Queue Priority value is %d - %d"};
const Range kEncapsulation{0, 6, "Allowed ATM Encapsulation value is %d - %d"};
const Range kCrc{0, 7, "Allowed ATM CRC option is %d - %d"};
const Range kQos{1, 3, "Allowed ATM QoS value is %d - %d"};
const Range kPcr{0, 5500, "Allowed PCR value is %d - %d"};
const Range kScr{0, 5500, "Allowed SCR value is %d - %d"};
const Range kMbs{0, 65535, "Allowed MBS QoS value is %d - %d"};
const Range kActivation{0, 1, nullptr};
const Range kPvc{0, ADSL_PVC_COUNT - 1, "Allowed PVC number is %d - %d"};

// One stored PVC record into pvc p: 1 loaded, 0 made minimum, -1 a field missing.
int load_pvc(int p, const std::vector<std::string> &f)
{
    adsl_pvc &r = adsl_pvcs[p];
    struct Step {
        const Range *range;
        void (*store)(adsl_pvc &, unsigned long);
    } steps[] = {
        {nullptr, [](adsl_pvc &r, unsigned long v) { r.vpi = static_cast<uint8_t>(v % 256); }},
        {&kVci, [](adsl_pvc &r, unsigned long v) { r.vci = static_cast<uint16_t>(v); }},
        {&kVlan, [](adsl_pvc &r, unsigned long v) { r.vlan_id = static_cast<uint16_t>(v); }},
        {&kPriority, [](adsl_pvc &r, unsigned long v) { r.priority = static_cast<uint8_t>(v); }},
        {&kEncapsulation,
         [](adsl_pvc &r, unsigned long v) { r.encapsulation = static_cast<uint8_t>(v == 2 ? 1 : v); }},
        {&kCrc, [](adsl_pvc &r, unsigned long v) { r.crc_option = static_cast<uint8_t>(v); }},
        {&kQos, [](adsl_pvc &r, unsigned long v) { r.atm_qos = static_cast<uint8_t>(v); }},
        {&kPcr, [](adsl_pvc &r, unsigned long v) { r.pcr = static_cast<uint32_t>(v); }},
        {&kScr, [](adsl_pvc &r, unsigned long v) { r.scr = static_cast<uint32_t>(v); }},
        {&kMbs, [](adsl_pvc &r, unsigned long v) { r.mbs = static_cast<uint32_t>(v); }},
        {&kActivation, [](adsl_pvc &r, unsigned long v) { r.activation = static_cast<uint8_t>(v); }},
    };
    size_t i = 0;
    for (const Step &s : steps) {
        if (i >= f.size())
            return -1;
        unsigned long v = field_number(f[i++]);
        s.store(r, v);
        if (s.range && !in_range(v, *s.range)) {
            set_pvc_minimum(p);
            return 0;
        }
    }
    return 1;
}

void load_vlan_ops()
{
    const std::vector<std::string> stored = read_keys(numbered_keys("ADSL_PVC%d_VLAN_OP"));
    for (int p = 0; p < ADSL_PVC_COUNT; p++) {
        const std::vector<std::string> f = split_fields(stored[p]);
        if (f.size() < 4)
            return;  // this and every later PVC keep their operations
        adsl_pvc &r = adsl_pvcs[p];
        unsigned long tx_id = field_number(f[0]), tx_op = field_number(f[1]);
        unsigned long rx_id = field_number(f[2]), rx_op = field_number(f[3]);
        r.tx_vlan_id = static_cast<uint16_t>(tx_id);
        r.tx_vlan_op = static_cast<uint8_t>(tx_op);
        r.rx_vlan_id = static_cast<uint16_t>(rx_id);
        r.rx_vlan_op = static_cast<uint8_t>(rx_op);
        const Range kTxOp{0, 2, "Allowed ATM Tx Vlan Operation is %d - %d"};
        const Range kRxOp{0, 2, "Allowed ATM Rx Vlan Operation is %d - %d"};
        if (!in_range(tx_id, kVlan) || !in_range(tx_op, kTxOp) || !in_range(rx_id, kVlan) ||
            !in_range(rx_op, kRxOp))
            set_pvc_minimum(p);
    }
}

void load_default_pvc()
{
    std::string stored = read_keys({"ADSL_DEFAULT_PVC"})[0];
    std::vector<char> line(stored.begin(), stored.end());
    line.push_back('\0');
    char *value = str_trim(line.data());
    if (!*value)
        return;
    char *end;
    long d = std::strtol(value, &end, 10);
    // The default PVC indexes the table: a stored value outside it is not taken.
    if (*end || d < 0 || d >= ADSL_PVC_COUNT) {
        cli_print(CLI_LEVEL_ORDINARY, "Stored default PVC %s refused (0 - %d): PVC 0 is the default.", value,
                  ADSL_PVC_COUNT - 1);
        adsl_default_pvc = 0;
        return;
    }
    adsl_default_pvc = static_cast<int>(d);
}

int store_pvc(int p)
{
    const adsl_pvc &r = adsl_pvcs[p];
    char key[32], value[128];
    std::snprintf(key, sizeof key, "ADSL_PVC%d", p);
    std::snprintf(value, sizeof value, "%d@%d@%d@%d@%d@%d@%d@%d@%d@%d@%d", r.vpi, r.vci, r.vlan_id,
                  r.priority, r.encapsulation, r.crc_option, r.atm_qos, static_cast<int>(r.pcr),
                  static_cast<int>(r.scr), static_cast<int>(r.mbs), r.activation);
    return cfgmgr_write(key, value);
}

int usage(std::initializer_list<const char *> lines)
{
    bool first = true;
    for (const char *line : lines) {
        if (first)
            cli_print(CLI_LEVEL_ERROR, "%s", line);
        else if (std::strstr(line, "%d"))
            cli_print(CLI_LEVEL_ORDINARY, line, ADSL_PVC_COUNT - 1);
        else
            cli_print(CLI_LEVEL_ORDINARY, "%s", line);
        first = false;
    }
    return CLI_USAGE;
}

bool pvc_refused(unsigned pvc)
{
    if (pvc < ADSL_PVC_COUNT)
        return false;
    cli_print(CLI_LEVEL_ERROR, "Allowed PVC number is %d - %d", 0, ADSL_PVC_COUNT - 1);
    return true;
}

}  // namespace

extern "C" void set_pvc_minimum(int p)
{
    adsl_pvc &r = adsl_pvcs[p];
    r.vpi = 0;
    r.vci = 32;
    r.vlan_id = 1;
    r.priority = 0;
    r.encapsulation = 0;
    r.crc_option = 0;
    r.atm_qos = 1;
    r.pcr = r.scr = r.mbs = 0;
    r.activation = 0;
    cli_print(CLI_LEVEL_ORDINARY, "set PVC %d minimun and deactivate it", p);
}

extern "C" int load_adsl_pvcs(void)
{
    const std::vector<std::string> stored = read_keys(numbered_keys("ADSL_PVC%d"));
    for (int p = 0; p < ADSL_PVC_COUNT; p++) {
        if (load_pvc(p, split_fields(stored[p])) < 0)
            return CLI_FAILED;  // the rest keep what they held
    }
    return 0;
}

extern "C" int init_adsl_settings(void)
{
    char value[256];
    if (cfgmgr_read("CLI_HOSTNAME", value, sizeof value) == CFGMGR_READ_OK)
        cli_set_hostname(str_trim(value));
    free_vdsl_profiles_fun();
    cli_print(CLI_LEVEL_TRACE, "Initialize ADSL settings");
    load_adsl_pvcs();
    load_vlan_ops();
    load_default_pvc();
    return 0;
}

extern "C" int cmd_pvc_basic(char *rest, const cli_dir_row *)
{
    int a[12];
    if (std::sscanf(rest, "%i %i %i %i %i %i %i %i %i %i %i %i", &a[0], &a[1], &a[2], &a[3], &a[4], &a[5],
                    &a[6], &a[7], &a[8], &a[9], &a[10], &a[11]) != 12)
        return usage(
            {"Usage:cmd <pvc> <vpi> <vci> <vlanid> <priority> <encapsulation> <crc_option> <atmqos> <pcr> "
             "<scr> <mbs> <activation>",
             "  pvc: 0 - %d", "  vpi: 0 - 255", "  vci: 32 - 65535", "  vlanid: 1 - 4094",
             "  priority: 0 - 3",
             "  encapsulation: 0: by pass, 1: LLC bridge 8021Q, 2: LLC bridge 8021P, 3: LLC Routed IP, 4: "
             "VC MUX bridge, 5: VC MUX routed IP, 6: generic",
             "  crc_option: bit0: sar LLC bridge preserve fcs, bit1: ream LLC bridge preserve fcs, bit2: "
             "ream VC MUX bridge has crc",
             "  atmqos: 1:CBR 2:VBR 3:UBR", "  pcr: 0 - 5500", "  scr: 0 - 5500", "  mbs: 0 - 65535",
             "  activation: 0: Deactivate, 1: Activate"});
    cli_print(
        CLI_LEVEL_ERROR,
        "pvc=%i,vpi=%i,vci=%i,vlanid=%i,priority=%i,encapsulation=%i,crc_option=%d,atmqos=%i,pcr=%i,scr=%i,"
        "mbs=%i,activation=%i",
        a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11]);
    const Range kVpi{0, 255, "Allowed VPI value is %d - %d"};
    const Range *checks[] = {&kPvc, &kVpi, &kVci, &kVlan, &kPriority, &kEncapsulation,
                             &kCrc, &kQos, &kPcr, &kScr,  &kMbs,      &kActivation};
    for (int i = 0; i < 12; i++) {
        const Range &r = *checks[i];
        if (static_cast<unsigned>(a[i]) < r.low || static_cast<unsigned>(a[i]) > r.high) {
            if (r.message)
                cli_print(CLI_LEVEL_ERROR, r.message, static_cast<int>(r.low), static_cast<int>(r.high));
            else
                cli_print(CLI_LEVEL_ERROR, "Allowed Activation value is 0 - 1");
            return CLI_FAILED;
        }
    }
    const int p = a[0];
    adsl_pvc next = adsl_pvcs[p];
    next.vpi = static_cast<uint8_t>(a[1]);
    next.vci = static_cast<uint16_t>(a[2]);
    next.vlan_id = static_cast<uint16_t>(a[3]);
    next.priority = static_cast<uint8_t>(a[4]);
    next.encapsulation = static_cast<uint8_t>(a[5] == 2 ? 1 : a[5]);
    next.crc_option = static_cast<uint8_t>(a[6]);
    next.atm_qos = static_cast<uint8_t>(a[7]);
    next.pcr = static_cast<uint32_t>(a[8]);
    next.scr = static_cast<uint32_t>(a[9]);
    next.mbs = static_cast<uint32_t>(a[10]);
    next.activation = static_cast<uint8_t>(a[11]);
    if (std::memcmp(&next, &adsl_pvcs[p], sizeof next) == 0) {
        cli_print(CLI_LEVEL_ERROR, "ADSL PVC%d Parameter is the Same with Config!!", p);
        cli_print(kApplied, "ADSL PVC%d Applied!!", p);
        return 0;
    }
    adsl_pvcs[p] = next;
    if (next.activation == 1)
        write_pvc_entries(kPort, p, 0);
    write_qos_fr(kPort);
    write_sar_pvc_select(kPort);
    set_tw_config2(kPort);
    int rc = store_pvc(p);
    cli_print(kApplied, "ADSL PVC%d Applied!!", p);
    return rc;
}

extern "C" int cmd_pvc_vlanop(char *rest, const cli_dir_row *)
{
    int a[5];
    if (std::sscanf(rest, "%i %i %i %i %i", &a[0], &a[1], &a[2], &a[3], &a[4]) != 5)
        return usage({"Usage:cmd <pvc> <vlanid_tx> <vlanop_tx> <vlanid_rx> <vlanop_rx>", "  pvc: 0 - %d",
                      "  vlanid_tx: 1 - 4094", "  vlanop_tx: 0: pass, 1: replace, 2:remove",
                      "  vlanid_rx: 1 - 4094", "  vlanop_rx: 0: pass, 1: replace, 2:remove"});
    if (pvc_refused(static_cast<unsigned>(a[0])))
        return CLI_FAILED;
    cli_print(CLI_LEVEL_ERROR, "pvc=%i,vlanid_tx=%i,vlanop_tx=%i,vlanid_rx=%i,vlanop_rx=%i", a[0], a[1], a[2],
              a[3], a[4]);
    const struct {
        int value;
        Range range;
    } checks[] = {
        {a[1], {1, 4094, "Allowed VLAN tx ID is %d - %d"}},
        {a[3], {1, 4094, "Allowed VLAN rx ID is %d - %d"}},
        {a[2], {0, 2, "Allowed ATM tx VLAN op option is %d - %d"}},
        {a[4], {0, 2, "Allowed ATM rx VLAN op option is %d - %d"}},
    };
    for (const auto &c : checks) {
        if (static_cast<unsigned>(c.value) < c.range.low || static_cast<unsigned>(c.value) > c.range.high) {
            cli_print(CLI_LEVEL_ERROR, c.range.message, static_cast<int>(c.range.low),
                      static_cast<int>(c.range.high));
            return CLI_FAILED;
        }
    }
    const int p = a[0];
    adsl_pvc &r = adsl_pvcs[p];
    if (r.tx_vlan_id == a[1] && r.tx_vlan_op == a[2] && r.rx_vlan_id == a[3] && r.rx_vlan_op == a[4]) {
        cli_print(kApplied, "ADSL PVC%d VLAN OP Applied!!", p);
        return 0;
    }
    r.tx_vlan_id = static_cast<uint16_t>(a[1]);
    r.tx_vlan_op = static_cast<uint8_t>(a[2]);
    r.rx_vlan_id = static_cast<uint16_t>(a[3]);
    r.rx_vlan_op = static_cast<uint8_t>(a[4]);
    write_sar_seg_proc(kPort, p, r.tx_vlan_id, r.tx_vlan_op);
    write_sar_ream_proc(kPort, p, r.rx_vlan_id, r.rx_vlan_op);
    char key[32], value[64];
    std::snprintf(key, sizeof key, "ADSL_PVC%d_VLAN_OP", p);
    std::snprintf(value, sizeof value, "%d@%d@%d@%d", a[1], a[2], a[3], a[4]);
    int rc = cfgmgr_write(key, value);
    cli_print(kApplied, "ADSL PVC%d VLAN OP Applied!!", p);
    return rc;
}

extern "C" int cmd_pvc_activation(char *rest, const cli_dir_row *)
{
    int p = 0, activation = 0;
    if (std::sscanf(rest, "%i %i", &p, &activation) != 2)
        return usage(
            {"Usage:cmd <pvc> <activation>", "  pvc: 0 - %d", "  activation: 0: Deactivate, 1: Activate"});
    cli_print(CLI_LEVEL_ERROR, "pvc=%i, activation=%i", p, activation);
    if (static_cast<unsigned>(activation) > 1) {
        cli_print(CLI_LEVEL_ERROR, "Allowed Activation value is 0 - 1");
        return CLI_FAILED;
    }
    if (pvc_refused(static_cast<unsigned>(p)))
        return CLI_FAILED;
    load_adsl_pvcs();
    adsl_pvc &r = adsl_pvcs[p];
    const char *word = activation ? "activate" : "deactivate";
    if (r.activation == activation) {
        cli_print(CLI_LEVEL_ORDINARY, "PVC%d activation already set %s!!", p, word);
        return 0;
    }
    r.activation = static_cast<uint8_t>(activation);
    write_sar_pvc_select(kPort);
    set_tw_config2(kPort);
    cli_print(CLI_LEVEL_ORDINARY, "PVC%d activation set %s.", p, word);
    return store_pvc(p);
}

extern "C" int cmd_pvc_default(char *rest, const cli_dir_row *)
{
    int p = 0;
    if (std::sscanf(rest, "%i", &p) != 1)
        return usage({"Usage:cmd <pvc>", "  pvc: 0 - %d"});
    cli_print(CLI_LEVEL_ERROR, "set default pvc=%i", p);
    if (pvc_refused(static_cast<unsigned>(p)))
        return CLI_FAILED;
    if (adsl_pvcs[p].activation != 1) {
        cli_print(CLI_LEVEL_ERROR, "PVC %d not activated", p);
        return CLI_FAILED;
    }
    if (adsl_default_pvc == p)
        return 0;
    adsl_default_pvc = p;
    write_sar_vlan_fr(kPort);
    char value[16];
    std::snprintf(value, sizeof value, "%d", p);
    return cfgmgr_write("ADSL_DEFAULT_PVC", value);
}

extern "C" int show_pvc(char *, const cli_dir_row *)
{
    static const char *const kEncapsulations[] = {"by pass",       "LLC Bridge 1Q", "LLC Bridge 1P",
                                                  "LLC Routed IP", "VC Mux Bridge", "VC Mux Routed IP",
                                                  "Generic"};
    static const char *const kQosNames[] = {"CBR", "VBR", "UBR"};
    cli_print(CLI_LEVEL_ERROR, "%s %6s %7s %6s %10s %18s %13s %6s %6s %7s %12s", "PVC", "VPI", "VCI", "VLAN",
              "Priority", "Encapsulation", "QoS", "PCR", "SCR", "MBS", "Activation");
    for (int p = 0; p < ADSL_PVC_COUNT; p++) {
        const adsl_pvc &r = adsl_pvcs[p];
        char unknown_encapsulation[16], unknown_qos[16];
        std::snprintf(unknown_encapsulation, sizeof unknown_encapsulation, "Unknown(%2d)", r.encapsulation);
        std::snprintf(unknown_qos, sizeof unknown_qos, "Unknown(%2d)", r.atm_qos);
        const char *encapsulation =
            r.encapsulation <= 6 ? kEncapsulations[r.encapsulation] : unknown_encapsulation;
        const char *qos = r.atm_qos >= 1 && r.atm_qos <= 3 ? kQosNames[r.atm_qos - 1] : unknown_qos;
        char line[256];
        std::snprintf(line, sizeof line, "PVC%d %5d %7d %6d %10d %18s %13s %6d %6d %7d %12s ", p, r.vpi,
                      r.vci, r.vlan_id, r.priority, encapsulation, qos, static_cast<int>(r.pcr),
                      static_cast<int>(r.scr), static_cast<int>(r.mbs), r.activation == 1 ? "Yes" : "No");
        cli_print(CLI_LEVEL_ERROR, "%s", line);
    }
    cli_print(CLI_LEVEL_ERROR, "Default PVC: %d", adsl_default_pvc);
    return 0;
}
