// Turns one description of the settings (symbol=code pairs, codes as the
// settings file holds them; every other control at its default) into what each
// host needs, through the port table:
//   port_args FORM [symbol=code ...]
// FORM: ini (the player's settings file), lv2 (ffmpeg's lv2 c= list),
// ladspa (ffmpeg's ladspa c= list), sox (sox's ladspa arguments), lv2apply
// (its -c pairs), liquidsoap (the named settings alone as the arguments of
// ladspa.redozer_stereo: every other port's LADSPA default is its default).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ports/port_table.h"

using namespace ports;

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr,
                "usage: port_args ini|lv2|ladspa|sox|lv2apply|liquidsoap [symbol=code ...]\n");
        return 2;
    }
    int32_t codes[controlCount];
    defaultCodes(codes);
    bool named[controlCount] = {};
    for (int i = 2; i < argc; ++i) {
        const char* eq = strchr(argv[i], '=');
        int k = 0;
        while (k < controlCount &&
               (eq == nullptr || strlen(controls[k].symbol) != static_cast<size_t>(eq - argv[i]) ||
                strncmp(controls[k].symbol, argv[i], eq - argv[i]) != 0))
            ++k;
        if (k == controlCount) {
            fprintf(stderr, "port_args: unknown setting %s\n", argv[i]);
            return 2;
        }
        codes[k] = atoi(eq + 1);
        named[k] = true;
        if (codes[k] < controls[k].codeMin || codes[k] > controls[k].codeMax) {
            fprintf(stderr, "port_args: %s is out of range\n", argv[i]);
            return 2;
        }
    }
    const std::string form = argv[1];
    if (form == "ini") {
        StringFields s;
        formatStrings(codes, s);
        printf("[zobrin dsp]\nenhance=%d\nstereo_width=%d\nhpcutoff=%d\namp_max=%d\namp_up=%d\n"
               "amp_dwn=%d\nthreshold=%d\ntab_sel=0\neq_enable=%d\neq=%.3d,%.3d,%.3d\n"
               "eq_f=%.5d,%.5d,%.5d\nenh_multi1=%s\nenh_multi2=%s\nenh_limiter=%s\n",
               codes[cEnhance], codes[cStereoWidth], codes[cHpCutoff], codes[cAmpMax],
               codes[cAmpUp], codes[cAmpDown], codes[cThreshold], codes[cEqEnable],
               codes[cEqGain1], codes[cEqGain2], codes[cEqGain3], codes[cEqFreq1], codes[cEqFreq2],
               codes[cEqFreq3], s.multi1, s.multi2, s.limiter);
        // The output stage's keys carry the settings file's codes under the ports' symbols.
        for (int k = 0; k < controlCount; ++k)
            if (controls[k].effect == Effect::OutputStage) printf("%s=%d\n", controls[k].symbol, codes[k]);
        return 0;
    }
    std::string out;
    if (form == "liquidsoap") {
        for (int k = 0; k < controlCount; ++k) {
            if (!named[k]) continue;
            const ControlInfo& c = controls[k];
            char value[40];
            if (c.flags & flagToggle)
                snprintf(value, sizeof value, "%s", codes[k] != 0 ? "true" : "false");
            else if (c.flags & flagInteger)
                snprintf(value, sizeof value, "%d", static_cast<int>(valueOfCode(c, codes[k])));
            else {
                snprintf(value, sizeof value, "%.9g", valueOfCode(c, codes[k]));
                if (strpbrk(value, ".e") == nullptr) strcat(value, ".0");
            }
            out += std::string(out.empty() ? "" : ", ") + c.symbol + "=" + value;
        }
        printf("%s\n", out.c_str());
        return 0;
    }
    for (int k = 0; k < controlCount; ++k) {
        char value[40];
        snprintf(value, sizeof value, "%.9g", valueOfCode(controls[k], codes[k]));
        if (form == "lv2")
            out += std::string(k ? "|" : "") + controls[k].symbol + "=" + value;
        else if (form == "ladspa")
            out += std::string(k ? "|" : "") + "c" + std::to_string(k) + "=" + value;
        else if (form == "sox")
            out += std::string(k ? " " : "") + value;
        else if (form == "lv2apply")
            out += std::string(k ? " " : "") + "-c " + controls[k].symbol + " " + value;
        else {
            fprintf(stderr, "port_args: unknown form %s\n", form.c_str());
            return 2;
        }
    }
    printf("%s\n", out.c_str());
    return 0;
}
