#include "profile_tables.h"

#include <cstring>

namespace profiles {

const ParamRow kLineProfileRows[54] = {
    {"SYS", "System Profile Bandplan", "10.1.1.2", nullptr, "SYS_"},
    {"BND", "Band Profile", "10.1.1.3", nullptr, "BND_"},
    {"VNS", "Virtual Noise PSD", "10.1.1.4", nullptr, "VNS_"},
    {"PSD", "Power Spectral Density", "10.1.1.5", nullptr, "PSD_"},
    {"RFI", "Radio Frequency Interference", "10.1.1.6", nullptr, "RFI_"},
    {"DPB", "Downstream Power Backoff PSD", "10.1.1.7", nullptr, "DPB_"},
    {"profiles", "xDSL Profile", "0.9.35", "ff", nullptr},
    {"targetSnrmDs", "Min Noise Margin the xTU-R receiver shall achieve(0.1dB)", "0.9.16", "3c", nullptr},
    {"targetSnrmUs", "Min Noise Margin the xTU-C receiver shall achieve(0.1dB)", "0.9.17", "3c", nullptr},
    {"maxSnrmDs", "Max Noise Margin the xTU-R receiver shall try to sustain(0.1dB)", "0.9.18", "136",
     nullptr},
    {"maxSnrmUs", "Max Noise Margin the xTU-C receiver shall try to sustain(0.1dB)", "0.9.19", "136",
     nullptr},
    {"minSnrmDs", "Min Noise Margin the xTU-R receiver shall tolerate(0.1dB)", "0.9.20", "1e", nullptr},
    {"minSnrmUs", "Min Noise Margin the xTU-C receiver shall tolerate(0.1dB)", "0.9.21", "1e", nullptr},
    {"led", "On/Off vdsl led slow flash of light at vdsl idle status", "2.1.9", "off", nullptr},
    {"bitSwapUs", "On/Off bit swapping in the upstream", "2.1.9", "on", nullptr},
    {"bitSwapDs", "On/Off bit swapping in the downstream", "2.1.9", "on", nullptr},
    {"us0disable", "Allow/Disable Upstream band number 0", "0.10.12", "allow", nullptr},
    {"handshakeTone", "Handshake tone mode", "1.1.1", "0", nullptr},
    {"upboKLF", "UPBO force mode", "0.9.45", "3", nullptr},
    {"upboPsdA0", "UPBO Parameter A for band 0", "0.11.2", "fa0", nullptr},
    {"upboPsdB0", "UPBO Parameter B for band 0", "0.11.3", "0", nullptr},
    {"upboPsdA1", "UPBO Parameter A for band 1", "0.11.2.2", "fa0", nullptr},
    {"upboPsdB1", "UPBO Parameter B for band 1", "0.11.3.2", "0", nullptr},
    {"upboPsdA2", "UPBO Parameter A for band 2", "0.11.2.3", "fa0", nullptr},
    {"upboPsdB2", "UPBO Parameter B for band 2", "0.11.3.3", "0", nullptr},
    {"upboPsdA3", "UPBO Parameter A for band 3", "0.11.2.4", "fa0", nullptr},
    {"upboPsdB3", "UPBO Parameter B for band 3", "0.11.3.4", "0", nullptr},
    {"dpboEsEL", "The electrical length of exchange to cabinet cable", "0.9.37", "0", nullptr},
    {"dpboEsCableModelA", "E-side cable model parameter A", "0.9.38", "0", nullptr},
    {"dpboEsCableModelB", "E-side cable model parameter B", "0.9.39", "0", nullptr},
    {"dpboEsCableModelC", "E-side cable model parameter C", "0.9.40", "0", nullptr},
    {"dpboMus", "Assumed minimum usable PSD mask of exchange signals at remote site", "0.9.41", "0", nullptr},
    {"dpboFMin", "The lower bound on the DPBO frequency span", "0.9.42", "20", nullptr},
    {"dpboFMax", "The upper bound on the DPBO frequency span", "0.9.43", "200", nullptr},
    {"raModeDs", "The mode of operation of a rate-adaptive xTU-C in the transmit direction", "0.9.6", "2",
     nullptr},
    {"raModeUs", "The mode of operation of a rate-adaptive xTU-R in the transmit direction", "0.9.7", "2",
     nullptr},
    {"raUsNrmDs", "Downstream up-shift Signal/Noise Margin", "0.9.8", "46", nullptr},
    {"raUsNrmUs", "Upstream up-shift Signal/Noise Margin", "0.9.9", "46", nullptr},
    {"raUsTimeDs", "Downstream up-shift time interval", "0.9.10", "e10", nullptr},
    {"raUsTimeUs", "Upstream up-shift  time interval", "0.9.11", "e10", nullptr},
    {"raDsNrmDs", "Downstream down-shift Signal/Noise Margin", "0.9.12", "32", nullptr},
    {"raDsNrmUs", "Upstream down-shift Signal/Noise Margin", "0.9.13", "32", nullptr},
    {"raDsTimeDs", "Downstream down-shift time interval", "0.9.14", "e10", nullptr},
    {"raDsTimeUs", "Upstream down-shift  time interval", "0.9.15", "e10", nullptr},
    {"snrModeDs", "Enable/Disable virtual noise is active on the line in the downstream", "0.9.25", "1",
     nullptr},
    {"snrModeUs", "Enable/Disable virtual noise is active on the line in the upstream", "0.9.26", "1",
     nullptr},
    {"maxNomAtpDs", "Maximum nominal aggregate transmit power in the downstream", "0.10.4", "91", nullptr},
    {"maxNomAtpUs", "Maximum nominal aggregate transmit power in the upstream", "0.10.5", "91", nullptr},
    {"maxNomPsdDs", "Maximum nominal aggregate transmit PSD in the downstream", "0.10.2", "fffe93", nullptr},
    {"maxNomPsdUs", "Maximum nominal aggregate transmit PSD in the upstream", "0.10.3", "fffea7", nullptr},
    {"automodeColdStart", "Automode cold start forced", "0.1.10", "0", nullptr},
    {"automodeLength", "Automode threshold", "1.1.69", "ed8", nullptr},
    {"bandConfig", "All tone on or disable 1100K/2200K below", "0.9.57", "0", nullptr},
    {"IOT", "IOT option", "10.1.1.8", "0", nullptr},
};

namespace {

const ParamRow kChannelRows[] = {
    {"minDataRateDsCh1", "Min Data Rate on Ds direction(kbps) CH1", "0.12.2", "100", nullptr},
    {"minDataRateUsCh1", "Min Data Rate on Us direction(kbps) CH1", "0.12.3", "100", nullptr},
    {"maxDataRateDsCh1", "Max Data Rate on Ds direction(kbps) CH1", "0.12.6", "18ac8", nullptr},
    {"maxDataRateUsCh1", "Max Data Rate on Us direction(kbps) CH1", "0.12.7", "18ac8", nullptr},
    {"maxDelayDsCh1", "Max Interleave Delay on Ds direction(ms) CH1", "0.12.10", "8", nullptr},
    {"maxDelayUsCh1", "Max Interleave Delay on Us direction(ms) CH1", "0.12.11", "8", nullptr},
    {"minInpDsCh1", "Ds min impulse noise protection in 4.3125kHz(symbol) CH1", "0.12.12", "4", nullptr},
    {"minInpUsCh1", "Us min impulse noise protection in 4.3125kHz(symbol) CH1", "0.12.13", "4", nullptr},
    {"minInp8DsCh1", "Ds min impulse noise protection in 8.625kHz(symbol) CH1", "0.12.14", "3", nullptr},
    {"minInp8UsCh1", "Us min impulse noise protection in 8.625kHz(symbol) CH1", "0.12.15", "3", nullptr},
};

const ParamRow kLineAlarmRows[] = {
    {"xtucFecs", "A threshold for the Fecs counter in the current 15M interval on XTUC", "0.14.2", "0",
     nullptr},
    {"xtucEs", "A threshold for the Es counter in the current 15M interval on XTUC", "0.14.3", "0", nullptr},
    {"xtucSes", "A threshold for the Ses counter in the current 15M interval on XTUC", "0.14.4", "0",
     nullptr},
    {"xtucLoss", "A threshold for the Loss counter in the current 15M interval on XTUC", "0.14.5", "0",
     nullptr},
    {"xtucUas", "A threshold for the Uas counter in the current 15M interval on XTUC", "0.14.6", "0",
     nullptr},
    {"xturFecs", "A threshold for the Fecs counter in the current 15M interval on XTUR", "0.14.7", "0",
     nullptr},
    {"xturEs", "A threshold for the Es counter in the current 15M interval on XTUR", "0.14.8", "0", nullptr},
    {"xturSes", "A threshold for the Ses counter in the current 15M interval on XTUR", "0.14.9", "0",
     nullptr},
    {"xturLoss", "A threshold for the Loss counter in the current 15M interval on XTUR", "0.14.10", "0",
     nullptr},
    {"xturUas", "A threshold for the Uas counter in the current 15M interval on XTUR", "0.14.11", "0",
     nullptr},
    {"fullInt", "A threshold for the count of failed full initilizations in the current 15M interval",
     "0.14.12", "0", nullptr},
    {"shrtInt", "A threshold for the count of failed short initilizations in the current 15M interval",
     "0.14.13", "0", nullptr},
};

const ParamRow kChannelAlarmRows[] = {
    {"cvThresXtuc", "A threshold for the coding violation counter in the current 15M interval on XTUC",
     "0.15.2", "0", nullptr},
    {"correctedThresXtuc",
     "A threshold for the corrected code word counter in the current 15M interval on XTUC", "0.15.3", "0",
     nullptr},
    {"cvThresXtur", "A threshold for the coding violation counter in the current 15M interval on XTUR",
     "0.15.4", "0", nullptr},
    {"correctedThresXtur",
     "A threshold for the corrected code word counter in the current 15M interval on XTUR", "0.15.5", "0",
     nullptr},
};

const char *const kVnOids[] = {"0.9.27", "0.9.28"};
const int kVnLengths[] = {192, 96};
const char *const kDpbOids[] = {"0.9.36"};
const int kDpbLengths[] = {192};
const char *const kRfiOids[] = {"0.9.5"};
const int kRfiLengths[] = {192};
const char *const kPsdOids[] = {"0.10.14", "0.10.15"};
const int kPsdLengths[] = {240, 240};

const TypeInfo kTypes[11] = {
    {"", "", 0, nullptr, nullptr, nullptr, ""},
    {"VdslLineTemplates", "LINE_TEMPLATE_INDEX", 2, nullptr, nullptr, nullptr, "xDSL Line Template:"},
    {"VdslLineProfiles", "LINE_PROFILE_INDEX", 54, kLineProfileRows, nullptr, nullptr, "xDSL Line Profile:"},
    {"VdslChanProfiles", "CHAN_PROFILE_INDEX", 10, kChannelRows, nullptr, nullptr, "xDSL Channel Profile:"},
    {"VdslAlarmTemplates", "ALARM_TEMPLATE_INDEX", 2, nullptr, nullptr, nullptr, "xDSL Alarm Template:"},
    {"VdslLineAlarmProfiles", "LINE_ALARM_PROFILE_INDEX", 12, kLineAlarmRows, nullptr, nullptr,
     "xDSL Line Alarm Profile:"},
    {"VdslChanAlarmProfiles", "CHAN_ALARM_PROFILE_INDEX", 4, kChannelAlarmRows, nullptr, nullptr,
     "xDSL Channel Alarm Profile:"},
    {"VdslVitualNoise", "VN_PROFILE_INDEX", 2, nullptr, kVnOids, kVnLengths,
     "User defined Virtual Noise profile:"},
    {"VdslDpboEPsd", "DPB_PROFIE_INDEX", 1, nullptr, kDpbOids, kDpbLengths, "User defined DPBO PSD profile:"},
    {"VdslRfiBands", "RFI_PROFILE_INDEX", 1, nullptr, kRfiOids, kRfiLengths,
     "User defined RFI Band profile:"},
    {"VdslPsdMasks", "PSD_PROFILE_INDEX", 2, nullptr, kPsdOids, kPsdLengths,
     "User defined PSD Masks profile:"},
};

}  // namespace

bool valid_type(int type) { return type >= 1 && type <= 10; }

const TypeInfo &type_info(int type) { return kTypes[valid_type(type) ? type : 0]; }

bool is_template(int type) { return type == 1 || type == 4; }

bool is_breakpoint_type(int type) { return type >= 7 && type <= 10; }

int line_row_index(const char *name)
{
    for (int i = 0; i < 54; i++)
        if (std::strcmp(kLineProfileRows[i].name, name) == 0)
            return i;
    return -1;
}

const ParamRow *line_row(const char *name)
{
    int i = line_row_index(name);
    return i < 0 ? nullptr : &kLineProfileRows[i];
}

}  // namespace profiles
