// The built-in presets as port codes.
#include "ports/builtin_presets.h"

#include <cstdio>
#include <cstring>

#include "dsp/multiband_strings.h"
#include "settings/eq_preset_slots.h"
#include "settings/multiband_presets.h"
#include "settings/plugin_settings.h"

namespace ports {

static_assert(builtinPresetCount ==
              builtinEqPresetCount + 1 + builtinMultibandPresetCount + outputStagePresetCount);

namespace {

// The list name without the brackets and blanks around it.
void trimmedName(const char* text, char* out, int size) {
    while (*text == ' ' || *text == '[') ++text;
    int length = static_cast<int>(strlen(text));
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == ']')) --length;
    if (length > size - 1) length = size - 1;
    memcpy(out, text, static_cast<size_t>(length));
    out[length] = '\0';
}

// Applying an Enhancer preset on the page sets the classic sliders, the
// equalizer and the engine switch.
bool enhancerPreset(int index, BuiltinPreset& out) {
    if (!codesFromEqPreset(builtin_eq_presets[index], out.codes)) return false;
    const int fields[] = {cEnhance,  cStereoWidth, cAmpMax,   cAmpUp,   cAmpDown,
                          cHpCutoff, cThreshold,   cEqEnable, cEqGain1, cEqGain2,
                          cEqGain3,  cEqFreq1,     cEqFreq2,  cEqFreq3};
    for (int f : fields) out.set[f] = true;
    trimmedName(builtin_eq_presets[index] + eqPresetNameOffset, out.name, sizeof out.name);
    out.kind = PresetKind::Enhancer;
    return true;
}

// A multiband preset sets the three strings' fields and leaves the engine
// switch and the solo band alone.
void multibandPreset(const char* m1, const char* m2, const char* lim, const char* name,
                     BuiltinPreset& out) {
    char multi1[50] = {}, multi2[90] = {}, limiter[60] = {};
    snprintf(multi1, sizeof multi1, "%s", m1);
    snprintf(multi2, sizeof multi2, "%s", m2);
    snprintf(limiter, sizeof limiter, "%s", lim);
    codesFromStrings(multi1, multi2, limiter, out.codes);
    for (int k = cSplit; k <= cLimHold; ++k) out.set[k] = k != cSolo;
    trimmedName(name, out.name, sizeof out.name);
    out.kind = PresetKind::Multiband;
}

// An output stage preset: the multiband engine with the preset's strings,
// the loudness target and the true-peak ceiling on, and its clean choices.
void outputPreset(const OutputStagePreset& o, BuiltinPreset& out) {
    multibandPreset(o.multi1, o.multi2, o.limiter, o.name, out);
    out.codes[cEnhance] = 2;
    out.codes[cLoudnessTarget] = 1;
    out.codes[cTargetLufs] = o.targetLufs;
    out.codes[cTpLimit] = 1;
    out.codes[cTpCeiling] = o.tpCeiling;
    out.codes[cBandHold] = o.bandHold;
    out.codes[cLevelMode] = o.levelMode;
    out.codes[cTpMode] = o.tpMode;
    for (int k : {cEnhance, cLoudnessTarget, cTargetLufs, cTpLimit, cTpCeiling, cBandHold,
                  cLevelMode, cTpMode})
        out.set[k] = true;
    out.kind = PresetKind::Output;
}

}  // namespace

bool builtinPreset(int index, BuiltinPreset& out) {
    out = BuiltinPreset{};
    defaultCodes(out.codes);
    if (index < 0 || index >= builtinPresetCount) return false;
    if (index < builtinEqPresetCount) {
        if (!enhancerPreset(index, out)) return false;
    } else if (index == builtinEqPresetCount) {
        multibandPreset(default_enh_multi1, default_enh_multi2, default_enh_limiter, "Standard",
                        out);
    } else if (index <= builtinEqPresetCount + builtinMultibandPresetCount) {
        const BuiltinMultibandPreset& b =
            builtin_multiband_presets[index - builtinEqPresetCount - 1];
        multibandPreset(b.multi1, b.multi2, b.limiter, b.listText, out);
    } else {
        outputPreset(output_stage_presets[index - builtinEqPresetCount - 1 -
                                          builtinMultibandPresetCount],
                     out);
    }
    for (int k = 0; k < controlCount; ++k) {  // as the page clamps what it shows
        if (out.codes[k] < controls[k].codeMin) out.codes[k] = controls[k].codeMin;
        if (out.codes[k] > controls[k].codeMax) out.codes[k] = controls[k].codeMax;
    }
    return true;
}

}  // namespace ports
