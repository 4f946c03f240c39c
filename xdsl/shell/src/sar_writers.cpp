// The chip's SAR entries of the ADSL PVCs, and the sequence that writes
// them all again after a chip start. A read-modify-write whose read fails
// writes nothing for that entry: it has no old bits to keep.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adsl_pvc.h"
#include "cli_command.h"
#include "cli_print.h"
#include "vdsl_request.h"

namespace {

// SAR and QoS entries: OID 2.1.n.
enum : int {
    kQosFilter = 40,
    kQosFr = 48,
    kQosVlanFr = 49,
    kTwConfig2 = 118,
    kSegProc = 151,
    kSegMapper = 159,
    kSegTrans = 167,
    kReamMapper = 175,
    kReamProc = 183,
    kSegFr = 200,
    kSegVlanFr = 201,
    kReamFr = 202,
    kReamVlanFr = 203,
    kQosType = 359,
    kQosPcr = 367,
    kQosScr = 375,
    kPvcSelect = 383,
};
constexpr uint32_t kTwBit = 0x800;
constexpr uint32_t kQosFrBits = 0x1e0;

struct Oid {
    char text[16];
    explicit Oid(int item) { std::snprintf(text, sizeof text, "2.1.%d", item); }
};

// The entry's value; false (after saying so) when the read failed.
bool read_entry(int port, int item, uint32_t &value, int &rc)
{
    Oid oid(item);
    rc = mib_get_logic(port, oid.text, vdsl_last_answer);
    if (rc != 0) {
        cli_print(CLI_LEVEL_ERROR, "Error getting MIB value of %s: not written.", oid.text);
        return false;
    }
    value = static_cast<uint32_t>(
        std::strtoul(reinterpret_cast<const char *>(vdsl_last_answer) + VDSL_ANSWER_TEXT, nullptr, 16));
    return true;
}

// Writes value (six hex digits, or plain "%x" when short), reports it and
// confirms with "OID: <oid> - <label>: 0x<value>".
int write_entry(int port, int item, const char *label, uint32_t value, bool plain = false)
{
    Oid oid(item);
    char text[16];
    std::snprintf(text, sizeof text, plain ? "%x" : "%06x", value & 0xFFFFFF);
    int rc = mib_set_logic(port, oid.text, text);
    cli_print(CLI_LEVEL_ERROR, rc == 0 ? "MIB value has set." : "Error setting MIB value.");
    cli_printf_raw("OID: %s - %s: 0x%s\n", oid.text, label, text);
    return rc;
}

// Read-modify-write: the bits of keep stay, bits are set; nothing is
// written when the read fails.
int update_entry(int port, int item, const char *label, uint32_t keep, uint32_t bits)
{
    uint32_t old;
    int rc;
    if (!read_entry(port, item, old, rc))
        return rc;
    return write_entry(port, item, label, (old & keep) | bits);
}

struct Label {
    char text[48];
    Label(const char *format, int pvc) { std::snprintf(text, sizeof text, format, pvc); }
};

unsigned pvc_index(int pvc) { return static_cast<unsigned>(pvc) % ADSL_PVC_COUNT; }

}  // namespace

extern "C" int write_sar_mappers(int port, int pvc, unsigned vpi, unsigned vci)
{
    uint32_t v = (vpi & 0xFF) << 16 | (vci & 0xFFFF);
    write_entry(port, kSegTrans + pvc, Label("CfgSarSegTransP%d", pvc).text, v);
    return write_entry(port, kReamMapper + pvc, Label("CfgSarReamMapperP%d", pvc).text, v);
}

extern "C" int set_mapping_sarvlan(int port, int pvc, unsigned vlan_id, unsigned encapsulation)
{
    uint32_t v = encapsulation == 2 ? 0 : 0xFFF000 | (vlan_id & 0xFFF);
    write_entry(port, kSegMapper + pvc, Label("CfgSarSegMapperP%d", pvc).text, v);
    return write_entry(port, kQosFilter + pvc, Label("CfgM2QosFilter0%d", pvc).text, v);
}

extern "C" int set_seg_proc(int port, int pvc, unsigned encapsulation, unsigned crc_option)
{
    uint32_t bits = encapsulation >= 1 && encapsulation <= 6 ? encapsulation << 14 : 0;
    if (crc_option & 1)
        bits |= 0x800000;
    return update_entry(port, kSegProc + pvc, Label("CfgSarSegProcP%d", pvc).text, 0x7E3FFF, bits);
}

extern "C" int set_ream_proc(int port, int pvc, unsigned encapsulation, unsigned crc_option)
{
    uint32_t bits = encapsulation >= 1 && encapsulation <= 6 ? encapsulation << 14 : 0;
    if (encapsulation == 4 && (crc_option & 4))
        bits |= 0x400000;
    if (crc_option & 2)
        bits |= 0x800000;
    return update_entry(port, kReamProc + pvc, Label("CfgSarReamProcP%d", pvc).text, 0x3E3FFF, bits);
}

extern "C" int set_sar_qos(int port, int pvc, unsigned qos, unsigned pcr, unsigned scr)
{
    write_entry(port, kQosType + pvc, Label("SV_MIB_CfgSarQosTypeP%d", pvc).text, qos, true);
    write_entry(port, kQosPcr + pvc, Label("SV_MIB_CfgSarQosPcrP%d", pvc).text, pcr, true);
    return write_entry(port, kQosScr + pvc, Label("SV_MIB_CfgSarQosScrP%d", pvc).text, scr, true);
}

extern "C" int write_sar_seg_proc(int port, int pvc, unsigned tx_vlan_id, unsigned tx_vlan_op)
{
    update_entry(port, kSegProc + pvc, Label("CfgSarSegProcP%d", pvc).text, 0xFFC000,
                 (tx_vlan_op & 3) << 12 | (tx_vlan_id & 0xFFF));
    uint32_t tx = adsl_pvcs[pvc_index(adsl_default_pvc)].tx_vlan_id;
    return update_entry(port, kSegVlanFr, "CfgSarSegVlanFr", 0xFFF000, tx & 0xFFF);
}

extern "C" int write_sar_ream_proc(int port, int pvc, unsigned rx_vlan_id, unsigned rx_vlan_op)
{
    update_entry(port, kReamProc + pvc, Label("CfgSarReamProcP%d", pvc).text, 0xFFC000,
                 (rx_vlan_op & 3) << 12 | (rx_vlan_id & 0xFFF));
    return update_entry(port, kReamVlanFr + pvc, Label("CfgSarReamVlanFrP%d", pvc).text, 0xFFF000,
                        rx_vlan_id & 0xFFF);
}

extern "C" int write_sar_vlan_fr(int port)
{
    const uint32_t d = pvc_index(adsl_default_pvc);
    update_entry(port, kQosVlanFr, "CfgM2QosVlanfr", 0xFFFFFF & ~(7u << 20), d << 20);
    update_entry(port, kSegFr, "CfgSarSegFr", 0xFFFFFF & ~0x3FFu, d << 7 | d << 4);
    return update_entry(port, kReamFr, "CfgSarReamFr", 0xFFFFFF & ~0x3FFu, d << 7 | d << 4);
}

extern "C" int write_sar_pvc_select(int port)
{
    uint32_t mask = 0;
    for (int p = 0; p < ADSL_PVC_COUNT; p++)
        if (adsl_pvcs[p].activation == 1)
            mask |= 1u << p;
    return write_entry(port, kPvcSelect, "SV_MIB_SarPvcSelect", mask);
}

extern "C" int set_tw_config2(int port)
{
    uint32_t old;
    int rc;
    if (!read_entry(port, kTwConfig2, old, rc))
        return rc;
    if (old & kTwBit)
        return 0;
    return write_entry(port, kTwConfig2, "SV_MIB_xdslTwConfig2", old | kTwBit);
}

extern "C" int write_qos_fr(int port)
{
    return update_entry(port, kQosFr, "CfgM2Qosfr", 0xFFFFFF, kQosFrBits);
}

extern "C" int write_pvc_entries(int port, int pvc, int with_vlan_ops)
{
    const adsl_pvc &r = adsl_pvcs[pvc_index(pvc)];
    write_sar_mappers(port, pvc, r.vpi, r.vci);
    set_mapping_sarvlan(port, pvc, r.vlan_id, r.encapsulation);
    set_seg_proc(port, pvc, r.encapsulation, r.crc_option);
    set_ream_proc(port, pvc, r.encapsulation, r.crc_option);
    if (with_vlan_ops) {
        write_sar_seg_proc(port, pvc, r.tx_vlan_id, r.tx_vlan_op);
        write_sar_ream_proc(port, pvc, r.rx_vlan_id, r.rx_vlan_op);
    }
    return set_sar_qos(port, pvc, r.atm_qos, r.pcr, r.scr);
}

extern "C" int adsl_reapply_settings(int port)
{
    write_sar_vlan_fr(port);
    for (int p = 0; p < ADSL_PVC_COUNT; p++)
        if (adsl_pvcs[p].activation == 1)
            write_pvc_entries(port, p, 1);
    write_qos_fr(port);
    write_sar_pvc_select(port);
    return set_tw_config2(port);
}
